// An Office run of the main window waits for its printed job on the window's
// own event loop: the job's path, sent by another process as WM_COPYDATA,
// ends the wait; Cancel of the progress window ends it too.
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include "platform/windows.h"
#include "print_handoff.h"
#include "progress_dialog.h"
#include "ui_fixture.h"

namespace {

class OfficeWait : public uitest::UiTest {};

TEST_F(OfficeWait, TheJobArrivesOnTheWindowsEventLoopOrCancelEndsTheWait) {
    auto d = MakeDialog();
    ctx.mainWindow = d.get();
    ctx.interactive = true;
    vellumate::ui::CProgressDlg progress(d.get(), 10);
    ctx.progress = &progress;
    ctx.printJobId = 32768;
    const std::string title = d->windowTitle().toStdString();
    const std::string ticket = sandbox->Path("spool/0000abcd.INI");
    pid_t pid = ::fork();
    if (pid == 0) {
        ::usleep(300 * 1000);
        const platform::HWND hwnd = platform::FindWindow(nullptr, title.c_str());
        platform::WindowMessage job;
        job.msg = platform::WM_COPYDATA;
        job.copyDataId = 32768;
        job.copyData = ticket;
        job.copyData.resize(260, '\0');
        platform::LRESULT r = 0;
        ::_exit(hwnd && platform::SendMessage(hwnd, job, &r) && r == 1 ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    EXPECT_EQ(vellumate::WaitForPrintJob(ctx, std::chrono::milliseconds::max()), vellumate::JobWait::Arrived);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ctx.receivedPrintJob, ticket);

    // Cancel, pressed while the wait runs, ends it without a job.
    ctx.receivedPrintJob.clear();
    QTimer::singleShot(200, &progress, [&] {
        for (QPushButton* b : progress.findChildren<QPushButton*>()) b->click();
    });
    progress.show();
    EXPECT_EQ(vellumate::WaitForPrintJob(ctx, std::chrono::milliseconds::max()), vellumate::JobWait::Cancelled);
    EXPECT_TRUE(ctx.receivedPrintJob.empty());
    ctx.progress = nullptr;
    ctx.mainWindow = nullptr;
}

}  // namespace
