// The wait window and the message boxes as Qt dialogs.
#include "platform/msgbox.h"
#include "strings.h"
#include "wait_window.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdlib>
#include <mutex>

namespace navlet {

namespace {

// The application object, made on first use on the thread that needs it
// (the host's main thread) when the process has none. The library is never
// unloaded (linked with -z nodelete), so it may live until the process ends.
// Whether we made the application with our own list of platforms (and not
// with one QT_QPA_PLATFORM chose, or the program's own application).
bool g_fallbackList = false;

bool EnsureApplication() {
    static std::mutex mu;
    std::lock_guard lock(mu);
    if (QCoreApplication* app = QCoreApplication::instance())
        return qobject_cast<QApplication*>(app) && app->thread() == QThread::currentThread();
    // A display that cannot be reached must not end the process: fall back
    // to the offscreen platform, where nothing is shown and the caller's
    // headless path takes over.
    static int argc = 3;
    static char arg0[] = "navlet", arg1[] = "-platform";
    static std::string platforms;
    if (const char* set = std::getenv("QT_QPA_PLATFORM"); set && *set) {
        platforms = set;
    } else {
        g_fallbackList = true;
        platforms = std::getenv("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen" : "xcb;offscreen";
    }
    static char* argv[] = {arg0, arg1, platforms.data(), nullptr};
    new QApplication(argc, argv);
    return true;
}

// A window can be shown: the application is ours to use from this thread,
// and it did not end up offscreen for want of a reachable display.
bool Showable() {
    return EnsureApplication() && !(g_fallbackList && QGuiApplication::platformName() == QLatin1String("offscreen"));
}

QString Text(int id) { return QString::fromUtf8(LoadString(id)); }

}  // namespace

bool RunWaitDialog(ConverterRun& run) {
    if (!Showable()) return false;
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("101"));
    dialog.setWindowTitle(Text(IDS_WAIT_CAPTION));
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    auto* text = new QLabel(Text(IDS_PLEASE_WAIT), &dialog);
    text->setObjectName(QStringLiteral("1001"));
    text->setAlignment(Qt::AlignCenter);
    auto* abort = new QPushButton(Text(IDS_ABORT), &dialog);
    abort->setObjectName(QStringLiteral("1000"));
    abort->setDefault(true);
    abort->setFixedWidth(abort->fontMetrics().averageCharWidth() * 50 / 4);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(abort, 0, Qt::AlignHCenter);
    dialog.setMinimumWidth(dialog.fontMetrics().averageCharWidth() * 215 / 4);
    QObject::connect(abort, &QPushButton::clicked, &dialog, &QDialog::reject);
    // Closing the window is an abort as well.
    QObject::connect(&dialog, &QDialog::rejected, [&run] { run.Abort(); });

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &dialog, [&] {
        // A run still starting keeps the window: its process is not stored yet.
        ConverterRun::State s = run.Poll();
        if (s == ConverterRun::State::Ended || s == ConverterRun::State::NotStarted) dialog.accept();
    });
    tick.start(500);
    dialog.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        dialog.move(screen->availableGeometry().center() - dialog.rect().center());
    dialog.exec();
    return true;
}

void InstallDialogMessageBoxes() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::SetMessageBoxUi([](std::string_view caption, std::string_view text, platform::MsgIcon icon,
                                     platform::MsgButtons buttons) -> std::optional<platform::MsgAnswer> {
            // The button shows only Ok boxes; anything else stays on standard error.
            if (buttons != platform::MsgButtons::Ok || !Showable()) return std::nullopt;
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
            box.setStandardButtons(QMessageBox::Ok);
            box.exec();
            return platform::MsgAnswer::Ok;
        });
    });
}

}  // namespace navlet
