#include "ui.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app.h"
#include "main_dialog.h"
#include "platform/msgbox.h"
#include "platform/qt_ui.h"
#include "widgets.h"

// The icon lives in the library's resources, which a static library has to
// register by hand (outside any namespace).
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace vellumate::ui {

void InstallMessageBoxes() { platform::InstallQtMessageBoxes(); }

void Install() {
    SetDialogRunner(RunMainDialog);
    InstallMessageBoxes();
}

std::int32_t RunMainDialog(ConversionContext& ctx) {
    if (!platform::CanShowWindows()) {
        std::fputs("vellumate: no display to open the window on (set DISPLAY, or give a command line)\n", stderr);
        return -1;
    }
    int argc = 1;
    char name[] = "vellumate";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    InitResources();
    QApplication::setWindowIcon(QIcon(":/vellumate/vellumate.svg"));
    QApplication::setDesktopFileName("vellumate");
    InstallMessageBoxes();
    int result = 0;
    {
        CMainDlg dialog(ctx);
        ctx.mainWindow = &dialog;
        ctx.mainWindowTitle = dialog.windowTitle().toStdString();
        dialog.show();
        result = app.exec();
    }
    platform::SetMessageBoxUi({});
    (void)result;  // the session ends with 0 however the window closed
    return 0;
}

}  // namespace vellumate::ui
