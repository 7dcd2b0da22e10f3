#include "wait_window.h"

#include "platform/msgbox.h"
#include "strings.h"

namespace navlet {

namespace {

void RunHeadless(ConverterRun& run) {
    if (platform::HeadlessWaitBox(LoadString(IDS_WAIT_CAPTION), LoadString(IDS_PLEASE_WAIT))) {
        // Abort acts on the stored process, so wait until there is one (or
        // the start has failed) before pressing it.
        while (run.Poll() == ConverterRun::State::Starting) run.WaitSettled(10);
        run.Abort();
        return;
    }
    for (;;) {
        ConverterRun::State s = run.WaitSettled(500);
        if (s == ConverterRun::State::Ended || s == ConverterRun::State::NotStarted) return;
    }
}

}  // namespace

void RunWaitWindow(ConverterRun& run) {
    run.Launch();
    if (!platform::HasDisplay() || !RunWaitDialog(run)) RunHeadless(run);
    if (run.Poll() == ConverterRun::State::NotStarted)
        platform::MessageBox(LoadString(IDS_ERROR), run.StartError(), platform::MsgIcon::Error);
}

}  // namespace navlet
