// progress TICKET PATH
//
// The agent's progress indicator: a small window of class "Vellumate
// progress indicator" that shows the job's name and page count while the
// job is converted, and closes when it receives WM_CLOSE (the agent posts it
// through the window directory). Without a display the window is only
// listed in the directory, and the program waits for WM_CLOSE all the same;
// the toolkit is loaded (libvm_progress_window.so) only for a display.
#include "progress_window.h"

#include "printer/shared/names.h"
#include "printer/shared/ticket.h"

#include "platform/cmdline.h"
#include "platform/modules.h"
#include "platform/msgbox.h"
#include "platform/profile.h"
#include "platform/windows.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

using namespace platform;
namespace tk = vmshared::ticket;

namespace {

struct JobText {
    std::string name;
    int pages = 0;
};

JobText ReadJob(const std::string& ticket) {
    JobText job;
    job.name = ProfileGetString(ticket, tk::kDocument, tk::kName);
    job.pages = ProfileGetInt(ticket, tk::kDocument, tk::kPages, 0);
    return job;
}

// Waits for WM_CLOSE with nothing on screen.
int RunHeadless(const std::string& title) {
    std::mutex mu;
    std::condition_variable cv;
    bool closed = false;
    auto window = Window::Create(vmshared::ProgressClassName(), title, [&](const WindowMessage& m) -> LRESULT {
        if (m.msg == WM_CLOSE) {
            std::lock_guard lock(mu);
            closed = true;
            cv.notify_all();
        }
        return 0;
    });
    if (!window) return 1;
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return closed; });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // An agent that ends while a job is shown takes its indicator with it.
    pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) return 0;
    std::string ticket = CommandLineTail(argc, argv);
    JobText job = ReadJob(ticket);
    std::string title = std::string(vmshared::kProduct) + " - printing " + job.name;
    if (HasDisplay()) {
        std::string why;
        if (auto* show = reinterpret_cast<ProgressWindowFn*>(
                OpenModuleEntry({}, kProgressWindowModule, "VmProgressWindow", kProgressWindowAbi, &why)))
            return show(argc, argv, title, job.name, job.pages);
        std::fprintf(stderr, "progress: %s; the window is not shown\n", why.c_str());
    }
    return RunHeadless(title);
}
