// fake_client [ARGUMENTS...]
//
// A client application for the agent's tests and benchmark: it records what
// it receives, one line per event, in the file VM_FAKE_LOG:
//
//   args <ns> <arg1> <arg2> ...           at start, its arguments
//   copydata <ns> <dwData> <cbData> <text> WM_COPYDATA (text up to the first zero)
//   posted <ns> <msg> <wParam> <lParam> <clipboard text or "-">
//   front <ns>                             asked to come to the front
//
// fields separated by tabs, <ns> the CLOCK_REALTIME time in nanoseconds.
// With "--window CLASS TITLE" (or VM_FAKE_WINDOW="CLASS<tab>TITLE") it lists
// a window, after "--late MS" milliseconds, and stays until WM_CLOSE, one
// second after a delivery (with "--stay": never), or 30 seconds; the clipboard is read under the
// format named VM_FAKE_FORMAT. Without a window it records its arguments and
// ends.
#include "platform/clipboard.h"
#include "platform/windows.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

using namespace platform;

namespace {

std::string Now() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::to_string(static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
}

void Record(const std::string& kind, const std::string& fields) {
    const char* path = std::getenv("VM_FAKE_LOG");
    if (!path) return;
    std::string line = kind + "\t" + Now() + (fields.empty() ? "" : "\t" + fields) + "\n";
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t n = write(fd, line.data(), line.size());
    (void)n;
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    std::string args;
    for (int i = 1; i < argc; ++i) args += (i > 1 ? "\t" : "") + std::string(argv[i]);
    Record("args", args);
    std::string cls, title;
    int lateMs = 0;
    bool window = false, stay = false;
    if (const char* spec = std::getenv("VM_FAKE_WINDOW")) {
        std::string s = spec;
        cls = s.substr(0, s.find('\t'));
        title = s.find('\t') == std::string::npos ? "" : s.substr(s.find('\t') + 1);
        window = true;
    }
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--window" && i + 2 < argc) {
            cls = argv[++i];
            title = argv[++i];
            window = true;
        } else if (a == "--stay") {
            stay = true;
        } else if (a == "--late" && i + 1 < argc) {
            lateMs = std::atoi(argv[++i]);
        }
    }
    if (!window) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(lateMs));
    const char* formatName = std::getenv("VM_FAKE_FORMAT");
    UINT format = formatName ? RegisterClipboardFormat(formatName) : 0;

    std::mutex mu;
    std::condition_variable cv;
    bool closed = false, delivered = false;
    auto listed = Window::Create(cls, title, [&](const WindowMessage& m) -> LRESULT {
        std::lock_guard lock(mu);
        if (m.msg == WM_COPYDATA) {
            Record("copydata", std::to_string(m.copyDataId) + "\t" + std::to_string(m.copyData.size()) + "\t" +
                                   m.copyData.substr(0, m.copyData.find('\0')));
            delivered = true;
        } else if (m.msg == WM_ACTIVATE) {
            Record("front", "");
        } else if (m.msg == WM_CLOSE) {
            closed = true;
        } else {
            std::string text = "-";
            if (format) {
                if (auto clip = Clipboard::Open())
                    if (auto data = clip->GetData(format))
                        text = std::to_string(data->size()) + "\t" + data->substr(0, data->find('\0'));
            }
            Record("posted", std::to_string(m.msg) + "\t" + std::to_string(m.wParam) + "\t" +
                                 std::to_string(m.lParam) + "\t" + text);
            delivered = true;
        }
        cv.notify_all();
        return 1;
    });
    if (!listed) return 1;
    std::unique_lock lock(mu);
    if (stay) cv.wait(lock, [&] { return closed; });
    cv.wait_for(lock, std::chrono::seconds(30), [&] { return closed || delivered; });
    if (!closed) cv.wait_for(lock, std::chrono::seconds(1), [&] { return closed; });
    return 0;
}
