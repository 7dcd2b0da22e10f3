// One headless office process of ours and its UNO connection. It runs with a
// private profile (a temporary folder, deleted at the end) and listens on a
// pipe of its own; it is started when the first application object needs it
// and ended when the last one lets go of it.
//
// Calls into the process run under a guard with a time bound: a process that
// does not answer within it is killed, the call fails with the bridge's
// error, and the session counts as broken, so that the next application
// object gets a new process.
#pragma once

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
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
    // The running session, or a new one when there is none or it broke.
    // Throws OfficeError when the office program cannot be started or
    // does not answer.
    static std::shared_ptr<OfficeSession> Acquire();

    ~OfficeSession();
    OfficeSession(const OfficeSession&) = delete;
    OfficeSession& operator=(const OfficeSession&) = delete;

    css::uno::Reference<css::frame::XDesktop2> Desktop() const { return desktop_; }
    css::uno::Reference<css::uno::XComponentContext> Context() const { return remote_; }
    // Killed, crashed or disconnected.
    bool Broken() const;
    pid_t ProcessGroup() const { return group_; }

    // Arms the watchdog for one call: the process is killed when the call
    // has not returned within the bound ($VELLUMATE_OFFICE_TIMEOUT seconds,
    // 300 by default). Not nested.
    class Guard {
    public:
        explicit Guard(OfficeSession& s);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        OfficeSession& s_;
    };

private:
    OfficeSession() = default;
    void Start();
    void Connect();
    void End();
    void Watch();
    void Kill();

    std::string profile_;  // the private profile folder
    std::string pipe_;
    pid_t group_ = -1;     // the started program leads its own process group
    std::atomic<bool> killed_{false};
    css::uno::Reference<css::uno::XComponentContext> remote_;
    css::uno::Reference<css::frame::XDesktop2> desktop_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
    std::thread watchdog_;
};

// The bound of one call, from $VELLUMATE_OFFICE_TIMEOUT (seconds).
std::chrono::seconds CallBound();

}  // namespace vmoffice
