// The ticker thread redraws the line once a second; Set() redraws at once
// unless the last drawing is very recent, so that twenty thousand topics do
// not cost twenty thousand terminal writes.
#include "platform/status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kMinRedraw = std::chrono::milliseconds(100);
constexpr auto kTick = std::chrono::seconds(1);
constexpr char kClear[] = "\r\033[K";

std::mutex g_activeMu;
StatusLine* g_active = nullptr;  // the line of the process, not owned
// The process that made the line: a child forked while the ticker held a
// lock must not touch the line (or wait for that lock) at all.
std::atomic<pid_t> g_owner{0};

void WriteAll(int fd, const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n <= 0) return;  // a closed terminal: nothing to be done about it
        done += static_cast<std::size_t>(n);
    }
}

std::size_t Columns(int fd) {
    winsize ws{};
    if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

}  // namespace

struct StatusLine::Members {
    int fd = 2;
    bool active = false;
    Clock::time_point start = Clock::now();
    std::mutex mu;
    std::condition_variable wake;
    std::string text;
    bool shown = false;
    bool stopping = false;
    Clock::time_point lastDraw{};
    std::thread ticker;

    // Called with mu held.
    void Draw() {
        const long seconds =
            static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
        const std::string elapsed = FormatElapsed(seconds);
        // One column is left free: a line that fills the last column wraps on some terminals.
        const std::size_t width = Columns(fd);
        const std::size_t room = width > elapsed.size() + 3 ? width - elapsed.size() - 3 : 0;
        std::string line = kClear + FitToWidth(text, room) + "  " + elapsed;
        WriteAll(fd, line);
        shown = true;
        lastDraw = Clock::now();
    }
    void Wipe() {
        if (shown) WriteAll(fd, kClear);
        shown = false;
    }
};

StatusLine::StatusLine(int fd) : m_(std::make_unique<Members>()) {
    m_->fd = fd;
    m_->active = isatty(fd) == 1;
    if (!m_->active) return;
    {
        std::lock_guard lock(g_activeMu);
        g_active = this;
        g_owner = getpid();
    }
    m_->ticker = std::thread([m = m_.get()] {
        std::unique_lock lock(m->mu);
        while (!m->stopping) {
            m->wake.wait_for(lock, kTick);
            if (!m->stopping && !m->text.empty()) m->Draw();
        }
    });
}

StatusLine::~StatusLine() {
    if (!m_->active) return;
    {
        std::lock_guard lock(g_activeMu);
        if (g_active == this) g_active = nullptr;
    }
    {
        std::lock_guard lock(m_->mu);
        m_->stopping = true;
        m_->Wipe();
    }
    m_->wake.notify_all();
    m_->ticker.join();
}

bool StatusLine::Active() const { return m_->active; }

void StatusLine::Set(std::string text) {
    if (!m_->active) return;
    std::lock_guard lock(m_->mu);
    m_->text = std::move(text);
    if (Clock::now() - m_->lastDraw >= kMinRedraw) m_->Draw();
}

std::string StatusLine::FormatElapsed(long seconds) {
    if (seconds < 0) seconds = 0;
    char buf[32];
    if (seconds >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", seconds / 60, seconds % 60);
    return buf;
}

std::string StatusLine::FitToWidth(const std::string& text, std::size_t columns) {
    // Control characters (a name with a line feed, an escape) would break the line.
    std::string clean;
    clean.reserve(text.size());
    for (unsigned char c : text) clean += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    std::size_t chars = 0;
    for (unsigned char c : clean) chars += (c & 0xC0) != 0x80;
    if (chars <= columns) return clean;
    if (columns == 0) return {};
    // Keep the last columns-1 characters behind an ellipsis.
    std::size_t skip = chars - (columns - 1), i = 0;
    for (; i < clean.size(); ++i) {
        if ((static_cast<unsigned char>(clean[i]) & 0xC0) != 0x80) {
            if (skip == 0) break;
            --skip;
        }
    }
    return "\xE2\x80\xA6" + clean.substr(i);
}

void ClearStatusLine() {
    if (g_owner.load() != getpid()) return;
    std::lock_guard lock(g_activeMu);
    if (!g_active) return;
    std::lock_guard lineLock(g_active->m_->mu);
    g_active->m_->Wipe();
}

}  // namespace platform
