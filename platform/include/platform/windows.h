// Top-level windows and their messages between processes: the window
// directory of the runtime folder ("windows"), where every window of the
// suite is listed with its class, title and process and receives messages on
// a Unix socket of its own.
//
// What Win32 gives with FindWindow, SendMessage (WM_COPYDATA included, the
// sender waits for the answer), PostMessage, SendNotifyMessage to
// HWND_BROADCAST, RegisterWindowMessage and SetForegroundWindow. Only the
// user's own processes can reach the directory (the runtime folder is 0700).
//
// Ownership: a Window is owned by whoever created it; it leaves the directory
// when destroyed (or when its process ends: a window whose socket no longer
// answers is passed over and removed).
#pragma once

#include "platform/syserror.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using HWND = std::uint64_t;  // 0: no window
using UINT = std::uint32_t;
using WPARAM = std::uint64_t;
using LPARAM = std::int64_t;
using LRESULT = std::int64_t;

constexpr HWND HWND_BROADCAST = 0xFFFF;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_COPYDATA = 0x004A;
constexpr UINT WM_USER = 0x0400;

// One message. For WM_COPYDATA, copyDataId and copyData are COPYDATASTRUCT's
// dwData and its bytes (cbData is copyData.size()).
struct WindowMessage {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::uint64_t copyDataId = 0;
    std::string copyData;
};

// Largest WM_COPYDATA block a window accepts.
constexpr std::size_t kMaxCopyData = 1 << 20;

class Window {
public:
    // Runs on the window's own thread, one message at a time; the answer
    // goes back to a SendMessage caller. WM_ACTIVATE with wParam 1 is a
    // request to come to the front (SetForegroundWindow).
    using Handler = std::function<LRESULT(const WindowMessage&)>;

    // Lists a window; null (GetLastError) when the directory cannot be used.
    static std::unique_ptr<Window> Create(std::string_view cls, std::string_view title, Handler handler);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Handle() const;
    bool SetTitle(std::string_view title);

    struct Members;
    explicit Window(std::unique_ptr<Members> m);

private:
    std::unique_ptr<Members> m_;
};

struct WindowEntry {
    HWND hwnd = 0;
    pid_t pid = 0;
    std::string cls, title;
};

// The listed windows that still answer, oldest first.
std::vector<WindowEntry> EnumWindows();
// The first window whose class and title match (compared without regard to
// case); a null class or title matches any. 0 when none.
HWND FindWindow(const char* cls, const char* title);
bool IsWindow(HWND hwnd);
pid_t WindowProcessId(HWND hwnd);

// Delivers a message and waits for the handler's answer (timeoutMs
// INFINITE: without limit). False with GetLastError when the window is gone
// (ERROR_INVALID_WINDOW_HANDLE) or does not answer in time (ERROR_TIMEOUT).
bool SendMessage(HWND hwnd, const WindowMessage& message, LRESULT* result = nullptr, DWORD timeoutMs = 0xFFFFFFFF);
// Queues a message without waiting for it to be handled.
bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// SendNotifyMessage to HWND_BROADCAST: posts to every listed window.
// Answers how many windows it reached.
int BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam);
// Asks the window to come to the front (best effort: the desktop decides).
bool SetForegroundWindow(HWND hwnd);

// A number in 0xC000..0xFFFF that every process of the user gets for the
// same name (names compared without regard to case); 0 on failure. Shared
// with RegisterClipboardFormat, as on Windows.
UINT RegisterWindowMessage(std::string_view name);

// Waits up to timeoutMs for a window of process `pid` to be listed, without
// polling: true once there is one.
bool WaitForProcessWindow(pid_t pid, DWORD timeoutMs);

}  // namespace platform
