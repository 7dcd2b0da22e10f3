#include "ui.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "main_dialog.h"
#include "platform/msgbox.h"
#include "widgets.h"

namespace vellumate::ui {
namespace {

bool CanShowWindows() {
    const char* ui = std::getenv("VELLUMATE_UI");
    if (ui && std::string(ui) == "none") return false;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

std::optional<platform::MsgAnswer> QtMessageBox(std::string_view caption, std::string_view text,
                                                platform::MsgIcon icon, platform::MsgButtons buttons) {
    using platform::MsgAnswer;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return std::nullopt;
    QMessageBox box;
    box.setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    switch (icon) {
    case platform::MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case platform::MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case platform::MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case platform::MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case platform::MsgIcon::None: break;
    }
    const std::pair<QMessageBox::StandardButton, MsgAnswer> all[] = {
        {QMessageBox::Ok, MsgAnswer::Ok},       {QMessageBox::Yes, MsgAnswer::Yes},
        {QMessageBox::No, MsgAnswer::No},       {QMessageBox::Cancel, MsgAnswer::Cancel},
        {QMessageBox::Abort, MsgAnswer::Abort}, {QMessageBox::Retry, MsgAnswer::Retry},
        {QMessageBox::Ignore, MsgAnswer::Ignore}};
    QMessageBox::StandardButtons wanted;
    switch (buttons) {
    case platform::MsgButtons::Ok: wanted = QMessageBox::Ok; break;
    case platform::MsgButtons::OkCancel: wanted = QMessageBox::Ok | QMessageBox::Cancel; break;
    case platform::MsgButtons::YesNo: wanted = QMessageBox::Yes | QMessageBox::No; break;
    case platform::MsgButtons::YesNoCancel: wanted = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case platform::MsgButtons::RetryCancel: wanted = QMessageBox::Retry | QMessageBox::Cancel; break;
    case platform::MsgButtons::AbortRetryIgnore:
        wanted = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
        break;
    }
    box.setStandardButtons(wanted);
    const int pressed = box.exec();
    for (const auto& [button, answer] : all)
        if (pressed == button) return answer;
    // Closed without a button: the answer Escape gives.
    if (buttons == platform::MsgButtons::YesNo) return MsgAnswer::No;
    if (buttons == platform::MsgButtons::Ok) return MsgAnswer::Ok;
    return buttons == platform::MsgButtons::AbortRetryIgnore ? MsgAnswer::Abort : MsgAnswer::Cancel;
}

}  // namespace

void InstallMessageBoxes() { platform::SetMessageBoxUi(QtMessageBox); }

std::int32_t RunMainDialog(ConversionContext& ctx) {
    if (!CanShowWindows()) {
        std::fputs("vellumate: no display to open the window on (set DISPLAY, or give a command line)\n", stderr);
        return -1;
    }
    int argc = 1;
    char name[] = "vellumate";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(":/vellumate/vellumate.svg"));
    QApplication::setDesktopFileName("vellumate");
    InstallMessageBoxes();
    int result = 0;
    {
        CMainDlg dialog(ctx);
        ctx.mainWindow = &dialog;
        dialog.show();
        result = app.exec();
    }
    platform::SetMessageBoxUi({});
    (void)result;  // the session ends with 0 however the window closed
    return 0;
}

}  // namespace vellumate::ui
