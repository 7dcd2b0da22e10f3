// The shared log "vp_log.txt": UTF-16LE lines with a UTC time stamp,
// "%d-%02d-%02d %02d:%02d:%02d.%03d:\t%s\r\n", each at most 1024 characters,
// appended by any number of processes and threads at once.
//
// A file that the opening creates starts with the byte-order mark FF FE; a
// file that exists gets none. Every line is one write under an exclusive
// lock of the file, so lines of several writers never tear or interleave.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace vmshared {

class SharedLog {
public:
    SharedLog() = default;
    ~SharedLog();
    SharedLog(const SharedLog&) = delete;
    SharedLog& operator=(const SharedLog&) = delete;

    // Opens the log, creating it when missing; false with the platform's
    // last error when it cannot be opened.
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    // No effect while closed.
    void Append(std::string_view text);
    void Close();

    // One line as it goes into the file (without the byte-order mark).
    static std::u16string FormatLine(std::chrono::system_clock::time_point when, std::string_view text);
    static constexpr std::size_t kMaxLine = 1024;

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace vmshared
