#include "platform/qt_ui.h"

#include "platform/msgbox.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <string>

namespace platform {
namespace {

// Whether a local socket accepts a connection (the display server's).
bool SocketAnswers(const std::string& path) {
    sockaddr_un addr{};
    if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

// The toolkit ends the process when it cannot reach its display, so a
// display named but gone (a stale DISPLAY) is found out here first. A remote
// X display is taken on trust.
bool CanShowWindows() {
    if (Env("VELLUMATE_UI") == "none") return false;
    if (!Env("QT_QPA_PLATFORM").empty()) return true;
    const std::string wayland = Env("WAYLAND_DISPLAY");
    if (!wayland.empty() &&
        SocketAnswers(wayland.front() == '/' ? wayland : Env("XDG_RUNTIME_DIR") + "/" + wayland))
        return true;
    const std::string x = Env("DISPLAY");
    if (x.empty()) return false;
    if (x.front() != ':') return true;
    const std::string number = x.substr(1, x.find('.') == std::string::npos ? std::string::npos : x.find('.') - 1);
    return SocketAnswers("/tmp/.X11-unix/X" + number);
}

namespace {

// A toolkit application for message boxes of a run without a window (the
// command line's own boxes); made once, when the first box needs it.
QApplication* BoxApplication() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
    if (QCoreApplication::instance() || !platform::CanShowWindows()) return nullptr;
    static int argc = 1;
    static char name[] = "vellumate";  // the programs share one application name
    static char* argv[] = {name, nullptr};
    static QApplication* made = new QApplication(argc, argv);
    return made;
}

// A box of the caption, text, icon and buttons asked for.
std::unique_ptr<QMessageBox> MakeBox(std::string_view caption, std::string_view text, platform::MsgIcon icon,
                                     platform::MsgButtons buttons) {
    auto box = std::make_unique<QMessageBox>();
    box->setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    box->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    switch (icon) {
    case platform::MsgIcon::Error: box->setIcon(QMessageBox::Critical); break;
    case platform::MsgIcon::Warning: box->setIcon(QMessageBox::Warning); break;
    case platform::MsgIcon::Information: box->setIcon(QMessageBox::Information); break;
    case platform::MsgIcon::Question: box->setIcon(QMessageBox::Question); break;
    case platform::MsgIcon::None: break;
    }
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
    box->setStandardButtons(wanted);
    return box;
}

// The answer of a box that ended with `result` (the standard button pressed).
platform::MsgAnswer AnswerOf(int result, platform::MsgButtons buttons) {
    using platform::MsgAnswer;
    const std::pair<QMessageBox::StandardButton, MsgAnswer> all[] = {
        {QMessageBox::Ok, MsgAnswer::Ok},       {QMessageBox::Yes, MsgAnswer::Yes},
        {QMessageBox::No, MsgAnswer::No},       {QMessageBox::Cancel, MsgAnswer::Cancel},
        {QMessageBox::Abort, MsgAnswer::Abort}, {QMessageBox::Retry, MsgAnswer::Retry},
        {QMessageBox::Ignore, MsgAnswer::Ignore}};
    for (const auto& [button, answer] : all)
        if (result == button) return answer;
    // Closed without a button: the answer Escape gives.
    if (buttons == platform::MsgButtons::YesNo) return MsgAnswer::No;
    if (buttons == platform::MsgButtons::Ok) return MsgAnswer::Ok;
    return buttons == platform::MsgButtons::AbortRetryIgnore ? MsgAnswer::Abort : MsgAnswer::Cancel;
}

std::optional<platform::MsgAnswer> QtMessageBox(std::string_view caption, std::string_view text,
                                                platform::MsgIcon icon, platform::MsgButtons buttons) {
    QApplication* app = BoxApplication();
    if (!app || QThread::currentThread() != app->thread()) return std::nullopt;
    return AnswerOf(MakeBox(caption, text, icon, buttons)->exec(), buttons);
}

// The toolkit on a thread of its own, for a program whose threads have none:
// started by the first box and kept. The first thread to touch the toolkit
// becomes its main thread, so nothing else does before this one has made its
// application.
class ToolkitThread {
public:
    static ToolkitThread& Get() {
        static ToolkitThread* const one = new ToolkitThread;  // outlives every box
        return *one;
    }
    QApplication* Application() const { return app_; }
    // Ends the toolkit's thread before the program's exit tears down the
    // toolkit's own statics under it: registered after each box, whose
    // showing made such statics, so that it runs before them.
    static void EndAtExit() {
        ToolkitThread& t = Get();
        std::lock_guard lock(t.mu_);
        if (!t.thread_.joinable()) return;
        QMetaObject::invokeMethod(t.app_, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
        t.thread_.join();
    }

private:
    ToolkitThread() {
        if (QCoreApplication::instance() || !platform::CanShowWindows()) return;
        std::promise<QApplication*> made;
        std::future<QApplication*> ready = made.get_future();
        thread_ = std::thread([&made] {
            static int argc = 1;
            static char name[] = "vellumate";  // the programs share one application name
            static char* argv[] = {name, nullptr};
            QApplication app(argc, argv);
            app.setQuitOnLastWindowClosed(false);
            made.set_value(&app);
            app.exec();
        });
        app_ = ready.get();
    }
    std::mutex mu_;
    std::thread thread_;
    QApplication* app_ = nullptr;
};

}  // namespace

std::optional<MsgAnswer> QtMessageBoxFromAnyThread(std::string_view caption, std::string_view text, MsgIcon icon,
                                                   MsgButtons buttons) {
    QApplication* app = ToolkitThread::Get().Application();
    if (!app) return std::nullopt;
    // Each box stands on its own, so boxes of several threads are up at once.
    auto answer = std::make_shared<std::promise<MsgAnswer>>();
    std::future<MsgAnswer> got = answer->get_future();
    QMetaObject::invokeMethod(
        app,
        [answer, buttons, caption = std::string(caption), text = std::string(text), icon] {
            QMessageBox* box = MakeBox(caption, text, icon, buttons).release();
            QObject::connect(box, &QDialog::finished, box, [answer, buttons, box](int result) {
                answer->set_value(AnswerOf(result, buttons));
                box->deleteLater();
            });
            box->show();
        },
        Qt::QueuedConnection);
    const MsgAnswer pressed = got.get();
    std::atexit(ToolkitThread::EndAtExit);
    return pressed;
}


void InstallQtMessageBoxes() { SetMessageBoxUi(QtMessageBox); }

}  // namespace platform
