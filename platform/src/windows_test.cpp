// The window directory, window messages, the clipboard store and
// wait-for-idle, between threads and processes.
#include "platform/clipboard.h"
#include "platform/process.h"
#include "platform/windows.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace platform;
using platform::testing::ScopedEnv;
using platform::testing::TempDir;

namespace {

class WindowsTest : public ::testing::Test {
protected:
    WindowsTest() : run_(dir_ / "run") {
        std::filesystem::create_directory(run_);
        chmod(run_.c_str(), 0700);
    }
    TempDir dir_;
    std::string run_;
    ScopedEnv xdg_{"XDG_RUNTIME_DIR", run_};
};

// Collects what a window receives.
struct Inbox {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<WindowMessage> got;
    Window::Handler Handler(LRESULT answer = 0) {
        return [this, answer](const WindowMessage& m) {
            std::lock_guard l(mu);
            got.push_back(m);
            cv.notify_all();
            return answer;
        };
    }
    bool WaitFor(std::size_t n) {
        std::unique_lock l(mu);
        return cv.wait_for(l, std::chrono::seconds(10), [&] { return got.size() >= n; });
    }
};

}  // namespace

TEST_F(WindowsTest, RegisteredMessagesAreTheSameForEveryProcess) {
    UINT a = RegisterWindowMessage("Vellumate_notify_message");
    EXPECT_GE(a, 0xC000u);
    EXPECT_LE(a, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessage("VELLUMATE_NOTIFY_MESSAGE"), a);
    UINT b = RegisterWindowMessage("Other");
    EXPECT_NE(b, a);
    EXPECT_EQ(RegisterClipboardFormat("Other"), b);
    EXPECT_EQ(RegisterWindowMessage(""), 0u);
    pid_t pid = fork();
    if (pid == 0) _exit(RegisterWindowMessage("Vellumate_notify_message") == a ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(WindowsTest, FindSendPostBroadcastAndForeground) {
    Inbox client, other;
    auto w = Window::Create("VellumateMain", "Vellumate", client.Handler(42));
    auto o = Window::Create("Vellumate progress indicator", "", other.Handler());
    ASSERT_TRUE(w && o);
    EXPECT_EQ(FindWindow("vellumatemain", nullptr), w->Handle());  // any case
    EXPECT_EQ(FindWindow(nullptr, "Vellumate"), w->Handle());
    EXPECT_EQ(FindWindow("Vellumate progress indicator", nullptr), o->Handle());
    EXPECT_EQ(FindWindow("VellumateMain", "Other title"), 0u);
    EXPECT_EQ(EnumWindows().size(), 2u);
    EXPECT_EQ(WindowProcessId(w->Handle()), getpid());
    ASSERT_TRUE(w->SetTitle("Renamed"));
    EXPECT_EQ(FindWindow(nullptr, "Renamed"), w->Handle());

    WindowMessage copy;
    copy.msg = WM_COPYDATA;
    copy.copyDataId = 0x7FFF;
    copy.copyData = std::string("/run/spool/0000abcd.INI") + std::string(237, '\0');
    LRESULT answer = 0;
    ASSERT_TRUE(SendMessage(w->Handle(), copy, &answer));
    EXPECT_EQ(answer, 42);
    ASSERT_TRUE(PostMessage(o->Handle(), WM_CLOSE, 0, 0));
    ASSERT_TRUE(SetForegroundWindow(w->Handle()));
    EXPECT_EQ(BroadcastMessage(0xC123, 0xF007, 5), 2);
    ASSERT_TRUE(client.WaitFor(3));
    ASSERT_TRUE(other.WaitFor(2));
    EXPECT_EQ(client.got[0].copyDataId, 0x7FFFu);
    EXPECT_EQ(client.got[0].copyData.size(), 260u);
    EXPECT_EQ(client.got[1].msg, WM_ACTIVATE);
    EXPECT_EQ(client.got[1].wParam, 1u);
    EXPECT_EQ(client.got[2].msg, 0xC123u);
    EXPECT_EQ(client.got[2].wParam, 0xF007u);
    EXPECT_EQ(client.got[2].lParam, 5);
    EXPECT_EQ(other.got[0].msg, WM_CLOSE);

    // Too much data is refused before it is sent; a gone window answers the error.
    copy.copyData.assign(kMaxCopyData + 1, 'x');
    EXPECT_FALSE(SendMessage(w->Handle(), copy));
    HWND gone = o->Handle();
    o.reset();
    EXPECT_EQ(FindWindow("Vellumate progress indicator", nullptr), 0u);
    EXPECT_FALSE(PostMessage(gone, WM_CLOSE, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(IsWindow(gone));
}

TEST_F(WindowsTest, WindowsOfOtherProcessesAndBrokenSenders) {
    Inbox inbox;
    auto w = Window::Create("Receiver", "r", inbox.Handler(7));
    ASSERT_TRUE(w);
    // Garbage and a sender that stops mid-frame do not stop the window.
    std::string sock = run_ + "/vellumate/windows/";
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(w->Handle()));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s%s.sock", sock.c_str(), hex);
    for (int i = 0; i < 2; ++i) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(write(fd, "garbage that is not a frame at all, longer than a header", 56), 56);
        close(fd);
    }
    // A window in another process answers a message sent from here.
    pid_t pid = fork();
    if (pid == 0) {
        std::atomic<bool> done{false};
        auto child = Window::Create("ChildClass", "child", [&](const WindowMessage& m) {
            done = m.msg == WM_COPYDATA && m.copyData == "hello";
            return LRESULT(99);
        });
        for (int i = 0; i < 1000 && !done; ++i) usleep(10000);
        _exit(done ? 0 : 1);
    }
    ASSERT_TRUE(WaitForProcessWindow(pid, 10000));
    HWND h = FindWindow("ChildClass", nullptr);
    ASSERT_NE(h, 0u);
    WindowMessage m;
    m.msg = WM_COPYDATA;
    m.copyData = "hello";
    LRESULT r = 0;
    EXPECT_TRUE(SendMessage(h, m, &r));
    EXPECT_EQ(r, 99);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Its entry went with the process (it never destroyed its window).
    EXPECT_EQ(FindWindow("ChildClass", nullptr), 0u);
    EXPECT_TRUE(SendMessage(w->Handle(), m, &r));
    EXPECT_EQ(r, 7);
}

TEST_F(WindowsTest, ClipboardIsOpenedByOneAtATime) {
    UINT fmt = RegisterClipboardFormat("Vellumate ticket path");
    {
        auto cb = Clipboard::Open();
        ASSERT_TRUE(cb);
        EXPECT_FALSE(Clipboard::Open());
        pid_t pid = fork();
        if (pid == 0) _exit(Clipboard::Open() ? 1 : 0);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        ASSERT_TRUE(cb->Empty());
        ASSERT_TRUE(cb->SetData(fmt, std::string("/spool/x.INI\0\0\0", 15)));
        ASSERT_TRUE(cb->SetData(fmt + 1, "other"));
        EXPECT_FALSE(cb->SetData(0, "no format"));
    }
    pid_t pid = fork();
    if (pid == 0) {
        auto cb = Clipboard::Open();
        _exit(cb && cb->GetData(fmt) == std::string("/spool/x.INI\0\0\0", 15) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    auto cb = Clipboard::Open();
    ASSERT_TRUE(cb);
    ASSERT_TRUE(cb->Empty());
    EXPECT_FALSE(cb->IsFormatAvailable(fmt));
    EXPECT_FALSE(cb->GetData(fmt + 1));
}

TEST_F(WindowsTest, WaitForInputIdle) {
    ChildProcess noWindow;
    ASSERT_TRUE(noWindow.Start(std::vector<std::string>{"sleep", "10"}));
    EXPECT_EQ(noWindow.WaitForInputIdle(10), 258u);       // before the start delay
    EXPECT_EQ(noWindow.WaitForInputIdle(20000), 0u);      // after it
    noWindow.Terminate(true);
    noWindow.Wait();
    ChildProcess none;
    EXPECT_EQ(none.WaitForInputIdle(0), 0xFFFFFFFFu);
}
