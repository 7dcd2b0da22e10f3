// printagent
//
// Runs once per login session and waits for print jobs of the virtual
// printer. Each signal of the print event (or the shared event) starts a
// processing thread that takes the job's ticket from the registry, runs the
// preprocessor, the progress indicator and vmrelay, and hands the ticket to
// the configured client. Setting the kill event ends the agent. A second
// agent for the same print event beeps and ends. The exit status is 0.
#include "job.h"

#include "printer/shared/language.h"
#include "printer/shared/names.h"
#include "printer/shared/report.h"
#include "printer/shared/shared_log.h"

#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "platform/windows.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// One processing thread and whether it has returned.
struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

// Joins the threads that have ended, from the last to the first.
void Reap(std::vector<Worker>& workers) {
    for (std::size_t i = workers.size(); i-- > 0;) {
        if (!workers[i].done->load()) continue;
        workers[i].thread.join();
        workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void StartWorker(std::vector<Worker>& workers, const agent::AgentContext& context, bool sharedEvent) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
        std::thread t([&context, sharedEvent, done] {
            agent::ProcessJob(context, sharedEvent);
            done->store(true);
        });
        workers.push_back({std::move(t), done});
    } catch (const std::system_error& e) {
        context.report->System("CreateThread() failed.", vmshared::kMsgCreateThread,
                               static_cast<DWORD>(e.code().value()));
    }
}

int Run() {
    // Boxes are the toolkit's dialogs on a display; the toolkit is loaded by
    // the first box, so an idle agent stays without it.
    UseMessageBoxModule();
    agent::AgentContext context;
    context.majorVersion = vmshared::PlatformMajorVersion();
    context.programFolder = ProgramFolder();
    std::string user = vmshared::UserName();
    vmshared::ReportSettings settings = vmshared::ReadReportSettings();
    UINT notify = RegisterWindowMessage(vmshared::NotifyMessageName());
    vmshared::SharedLog log;
    vmshared::Reporter report(vmshared::AgentCaption(), &log, settings.messageMode == 1, notify);
    context.log = &log;
    context.report = &report;

    if (settings.log) {
        std::string path = vmshared::LogPath();
        if (!log.Open(path)) {
            std::string text = vmshared::LocalText(vmshared::kMsgLogOpen, "Failed to open the log file:\n%s");
            if (auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, path);
            report.Plain(text, vmshared::kMsgLogOpen);
            return 0;
        }
        log.Append("Agent started.");
    }

    vmshared::AgentEventNames names =
        vmshared::EventNames(context.majorVersion, user, vmshared::SessionNumber());
    bool existed = false;
    auto print = NamedEvent::Create(names.print, true, false, &existed);
    if (!print) {
        report.System("Failed to create event object [0].", vmshared::kMsgEvent0);
        return 0;
    }
    if (existed) {
        // Another agent serves this user and session.
        MessageBeep();
        return 0;
    }
    auto shared = NamedEvent::Create(names.shared, true, false);
    if (!shared) {
        report.System("Failed to create event object [1].", vmshared::kMsgEvent1);
        return 0;
    }
    auto kill = NamedEvent::Create(names.kill, true, false);
    if (!kill) kill = NamedEvent::Open(names.kill);
    std::vector<NamedEvent*> events{print.get(), shared.get()};
    if (kill) events.push_back(kill.get());

    std::vector<Worker> workers;
    log.Append("Waiting for events.");
    for (;;) {
        DWORD r = WaitForMultipleEvents(events, false, INFINITE);
        if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1) {
            bool sharedEvent = r == WAIT_OBJECT_0 + 1;
            log.Append(sharedEvent ? "Shared print job received. Start processing thread."
                                   : "New print job received. Start processing thread.");
            Reap(workers);
            StartWorker(workers, context, sharedEvent);
            (sharedEvent ? shared : print)->Reset();
        } else if (r == WAIT_OBJECT_0 + 2) {
            break;
        } else {
            // The wait itself failed: pause, then wait again.
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    }

    log.Append("Suicide.");
    log.Append("Agent exits.");
    Reap(workers);
    if (!workers.empty()) {
        // Jobs still running end with the process; their tickets stay where
        // they are.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    log.Close();
    return 0;
}

}  // namespace

int main() { return Run(); }
