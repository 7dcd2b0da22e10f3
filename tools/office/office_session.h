// One headless office process of ours and its UNO connection. It runs with a
// private profile (a temporary folder, deleted at the end) and listens on a
// pipe of its own. One session serves a whole run: it is started when the
// first application object needs it, stays while documents come and go
// (an application's Quit lets go of it, but the session stays), and ends
// with EndRun (the component runtime's end, DllShutdown) once no
// application holds it any more. The office is tied to the thread that
// started it: when that thread ends or the process is killed, the kernel
// ends the office too, so none is left behind whatever happens to us.
//
// Calls into the process run under a guard with a time bound: a process that
// does not answer within it is killed, the call fails with the bridge's
// error, and the session counts as broken, so that the next application
// object gets a new process. Calls may come from two threads at once (a
// document loaded ahead while another is closed): each has its own bound.
//
// $VELLUMATE_OFFICE_LOG names a file that gets one line when an office
// starts ("office started PID") and one when it ends ("office ended PID"),
// and the documents' lines (office_document.h, lookahead.h).
#pragma once

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <sys/types.h>

#include "platform/process.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace vmoffice {

namespace css = com::sun::star;

// An error of the office side, with a text for the COM error it becomes.
struct OfficeError {
    std::string text;
};

class OfficeSession {
public:
    // The run's session, or a new one when there is none or it broke.
    // Throws OfficeError when the office program cannot be started or
    // does not answer.
    static std::shared_ptr<OfficeSession> Acquire();
    // The run ends: the session ends as soon as no application holds it.
    static void EndRun();
    // A session is kept for the run (possibly a broken one, not yet replaced).
    static bool Kept();

    ~OfficeSession();
    OfficeSession(const OfficeSession&) = delete;
    OfficeSession& operator=(const OfficeSession&) = delete;

    css::uno::Reference<css::frame::XDesktop2> Desktop() const { return desktop_; }
    css::uno::Reference<css::uno::XComponentContext> Context() const { return remote_; }
    // Killed, crashed or disconnected.
    bool Broken();
    // The connection is lost: the process is ended, the session is broken.
    void Abandon() { Kill(); }
    pid_t ProcessGroup() const { return group_; }

    // Arms the watchdog for one call: the process is killed when the call
    // has not returned within the bound ($VELLUMATE_OFFICE_TIMEOUT seconds,
    // 300 by default). One guard per call; calls of several threads each
    // have their own.
    class Guard {
    public:
        explicit Guard(OfficeSession& s);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        OfficeSession& s_;
        std::multiset<std::chrono::steady_clock::time_point>::iterator deadline_;
    };

private:
    OfficeSession() = default;
    void Start();
    bool Connect();  // false: the office asked to be started again
    void End();
    void Watch();
    void Kill();

    std::string profile_;  // the private profile folder
    std::string pipe_;
    std::mutex processMutex_;  // process_ between the callers' threads
    platform::ChildProcess process_;
    pid_t group_ = -1;     // the started program leads its own process group
    std::atomic<bool> killed_{false};
    css::uno::Reference<css::uno::XComponentContext> remote_;
    css::uno::Reference<css::frame::XDesktop2> desktop_;

    std::mutex mutex_;  // the watchdog's state
    std::condition_variable wake_;
    bool stop_ = false;
    std::multiset<std::chrono::steady_clock::time_point> deadlines_;  // of the calls under way
    std::thread watchdog_;
};

// The bound of one call, from $VELLUMATE_OFFICE_TIMEOUT (seconds).
std::chrono::seconds CallBound();

// One line to $VELLUMATE_OFFICE_LOG, when it is set.
void OfficeLog(const std::string& line);

}  // namespace vmoffice
