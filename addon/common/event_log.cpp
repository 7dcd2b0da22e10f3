#include "addon/common/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <ctime>

namespace tessaline {

std::string StrFormat(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(ap2);
    return out;
}

namespace {

// Opens a log file for writing, truncating it. Only regular files and
// character devices (a terminal, /dev/null) qualify: opening a FIFO with no
// reader would block the caller for good. The descriptor is not inherited by
// the programs the add-on starts.
std::FILE* OpenLogFile(const std::string& name) {
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        return nullptr;
    }
    if (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd, "w");
    if (!f) ::close(fd);
    return f;
}

// Only the recent part of the history is kept; readers want the last lines.
constexpr std::size_t kKeptLines = 1000;

void Keep(std::vector<std::string>& list, const std::string& line) {
    if (list.size() >= kKeptLines) list.erase(list.begin(), list.begin() + kKeptLines / 2);
    list.push_back(line);
}

}  // namespace

EventLog::EventLog() = default;

EventLog::~EventLog() { Close(); }

bool EventLog::SetLogFile(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock_);
    if (name != name_) {
        if (file_) {
            std::fflush(file_);
            std::fclose(file_);
            file_ = nullptr;
        }
        name_ = name;
        if (!name_.empty()) file_ = OpenLogFile(name_);
    }
    return file_ != nullptr;
}

bool EventLog::IsOpen() const {
    std::lock_guard<std::mutex> guard(lock_);
    return file_ != nullptr;
}

std::string EventLog::FileName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return name_;
}

void EventLog::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    if (file_) {
        std::fflush(file_);
        std::fclose(file_);
        file_ = nullptr;
    }
}

void EventLog::Add(bool error, std::string_view source, std::string_view message) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!file_) return;
    char stamp[128];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local) || std::strftime(stamp, sizeof stamp, "%c", &local) == 0) stamp[0] = '\0';
    std::string line = stamp;
    line += ' ';
    if (error) line += "ERROR: ";
    line.append(source);
    line += " - ";
    line.append(message);
    // One event, one line: a line break inside a message (a URL, a file name)
    // must not start a line of its own.
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    Keep(messages_, line);
    if (error) Keep(errors_, line);
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);
}

std::string EventLog::LastMessage() const {
    std::lock_guard<std::mutex> guard(lock_);
    return messages_.empty() ? std::string() : messages_.back();
}

std::string EventLog::LastError() const {
    std::lock_guard<std::mutex> guard(lock_);
    return errors_.empty() ? std::string() : errors_.back();
}

std::vector<std::string> EventLog::Messages() const {
    std::lock_guard<std::mutex> guard(lock_);
    return messages_;
}

std::vector<std::string> EventLog::Errors() const {
    std::lock_guard<std::mutex> guard(lock_);
    return errors_;
}

}  // namespace tessaline
