#include "shared_log.h"

#include "platform/syserror.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace vmshared {

SharedLog::~SharedLog() { Close(); }

bool SharedLog::Open(const std::string& path) {
    Close();
    path_ = path;
    // A new log comes into being with its byte-order mark already in it
    // (written to a private name, then linked under the real one), so no
    // writer ever sees it without.
    if (access(path.c_str(), F_OK) != 0) {
        std::string tmp = path + ".XXXXXX";
        int t = mkstemp(tmp.data());
        if (t >= 0) {
            const unsigned char bom[2] = {0xFF, 0xFE};
            bool ok = write(t, bom, 2) == 2;
            fchmod(t, 0644);
            close(t);
            if (ok) link(tmp.c_str(), path.c_str());  // fails harmlessly when another process was first
            unlink(tmp.c_str());
        }
    }
    fd_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) {
        platform::SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

void SharedLog::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

std::u16string SharedLog::FormatLine(std::chrono::system_clock::time_point when, std::string_view text) {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d.%03d:\t", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    std::u16string line = platform::Utf16FromUtf8(stamp);
    std::u16string body = platform::Utf16FromUtf8(text);
    // The line keeps its CR LF; a long text is cut, never inside a surrogate pair.
    std::size_t room = kMaxLine - 2 - line.size();
    if (body.size() > room) {
        body.resize(room);
        if (!body.empty() && body.back() >= 0xD800 && body.back() <= 0xDBFF) body.pop_back();
    }
    return line + body + u"\r\n";
}

void SharedLog::Append(std::string_view text) {
    if (fd_ < 0) return;
    std::u16string line = FormatLine(std::chrono::system_clock::now(), text);
    std::string bytes;
    bytes.reserve(line.size() * 2);
    for (char16_t c : line) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    // The mutex keeps this process's threads apart (they share one lock
    // holder), the flock the other processes.
    static std::mutex mu;
    std::lock_guard guard(mu);
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
    ssize_t n = write(fd_, bytes.data(), bytes.size());
    (void)n;
    flock(fd_, LOCK_UN);
}

}  // namespace vmshared
