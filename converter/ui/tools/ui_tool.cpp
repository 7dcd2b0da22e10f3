// Screenshots of the dialogs and the measurements of the main window.
//
//   vellumate_ui_tool screenshots FOLDER
//       writes main_dialog.png, settings_simple.png, settings_advanced.png
//       and progress.png into FOLDER.
//   vellumate_ui_tool startup
//       starts like vellumate without arguments and prints the milliseconds
//       from VM_BENCH_T0 (nanoseconds of the real-time clock, set by the
//       caller just before the start) to the main window's first paint.
//   vellumate_ui_tool responsive FILE...
//       converts the files from the main dialog into a temporary folder and
//       prints the longest stretch during which the window's event loop did
//       not run, and the run's length.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app.h"
#include "frame.h"
#include "main_dialog.h"
#include "platform/com.h"
#include "progress_dialog.h"
#include "settings_dialog.h"
#include "system.h"
#include "ui.h"
#include "widgets.h"

namespace {

using namespace vellumate;

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* w, const std::string& folder, const char* name) {
    Settle(300);
    const std::string path = folder + "/" + name;
    const bool ok = w->grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", ok ? "wrote" : "failed", path.c_str());
    return ok;
}

int Screenshots(ConversionContext& ctx, const std::string& folder) {
    int argc = 1;
    char name[] = "vellumate";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ui::Choosers choosers = ui::Choosers::Real();
    ui::CMainDlg main(ctx, choosers);
    main.AddFiles({"/usr/share/doc/example/report.html", "/usr/share/doc/example/notes.txt",
                   "/usr/share/doc/example/manual.chm", "/usr/share/doc/example/diagram.png"});
    main.show();
    int failed = !Save(&main, folder, "main_dialog.png");

    ui::CAdvSettingsDlg& settings = main.SettingsDialog();
    settings.settings = ctx.settings;
    settings.settings.Author = "Ann Example";
    settings.settings.Title = "Quarterly report";
    settings.simpleMode = true;
    settings.ToControls();
    settings.ApplyLayout();
    settings.show();
    failed += !Save(&settings, folder, "settings_simple.png");
    settings.simpleMode = false;
    settings.ApplyLayout();
    failed += !Save(&settings, folder, "settings_advanced.png");
    settings.hide();

    ui::CProgressDlg progress(&main, 20);
    progress.setWindowModality(Qt::NonModal);
    progress.SetLines(ui::Text(2010) + "report.html...", "Generating pages...\nPage 3 of 12");
    progress.Advance(7);
    progress.show();
    failed += !Save(&progress, folder, "progress.png");
    return failed ? 1 : 0;
}

// Watches the main window's first paint.
class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint && o->objectName() == "129" && !done_) {
            done_ = true;
            const char* t0 = std::getenv("VM_BENCH_T0");
            const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
            if (t0) std::printf("%.1f\n", (now - std::atoll(t0)) / 1e6);
            std::fflush(stdout);
            QTimer::singleShot(0, [] {
                for (QWidget* w : QApplication::topLevelWidgets()) w->close();
            });
        }
        return false;
    }

private:
    bool done_ = false;
};

void WatchFirstPaint() {
    if (std::getenv("VM_BENCH_T0")) QCoreApplication::instance()->installEventFilter(new FirstPaint);
}
Q_COREAPP_STARTUP_FUNCTION(WatchFirstPaint)

int Responsive(ConversionContext& ctx, int argc, char** argv) {
    int qargc = 1;
    char name[] = "vellumate";
    char* qargv[] = {name, nullptr};
    QApplication app(qargc, qargv);
    ui::Choosers choosers = ui::Choosers::Real();
    ui::CMainDlg main(ctx, choosers);
    QStringList files;
    for (int i = 0; i < argc; ++i) files << QString::fromLocal8Bit(argv[i]);
    main.AddFiles(files);
    main.findChild<QLineEdit*>("1012")->setText(QString::fromLocal8Bit(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp"));
    main.show();
    Settle(200);
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (std::getenv("VM_BENCH_GAPS") && now - last > 50)
            std::fprintf(stderr, "gap %lld ms ending at %lld ms (%s)\n", static_cast<long long>(now - last),
                         static_cast<long long>(now),
                         main.Progress() ? main.Progress()->SecondLine().toUtf8().constData() : "-");
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    tick.start();
    main.Convert();
    const qint64 total = clock.elapsed();
    longest = std::max(longest, total - last);
    std::printf("run %lld ms, longest stretch without the event loop %lld ms, result %d, outputs %lld\n",
                static_cast<long long>(total), static_cast<long long>(longest), main.LastResult(),
                static_cast<long long>(main.Outputs().size()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vellumate_ui_tool screenshots FOLDER | startup | responsive FILE...\n", stderr);
        return 2;
    }
    com::CoInitialize();
    int result = 0;
    {
        ConversionContext ctx;
        ctx.programPath = sys::ProgramPath();
        if (!std::strcmp(argv[1], "screenshots") && argc == 3) result = Screenshots(ctx, argv[2]);
        else if (!std::strcmp(argv[1], "startup")) {
            SetDialogRunner(ui::RunMainDialog);
            result = RunProgram(ctx, ctx.programPath, "");
        }
        else if (!std::strcmp(argv[1], "responsive")) result = Responsive(ctx, argc - 2, argv + 2);
        else result = 2;
        ReleaseComObjects(ctx);
    }
    com::CoUninitialize();
    return result;
}
