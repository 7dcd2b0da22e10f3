// The add-on's text log. One EventLog belongs to each add-on object; the
// objects that object creates (loader, page converter) borrow it and write
// under their own source names. Nothing is written, and nothing is kept in the
// message lists, while no log file is open.
//
// Line format: local time ("%c", at most 127 characters), a blank, "ERROR: "
// for an error line, the source name, " - ", the message (line breaks in it
// become blanks). Every line is flushed at once. The message lists keep the
// recent lines (at least the last 500). All members are safe to call from
// several threads.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

// printf into a std::string (classic formatting, no size limit).
std::string StrFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

class EventLog {
public:
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Opens name for writing, truncating it, unless name equals the current
    // name byte for byte (then nothing changes, not even a failed open is
    // retried). Only a regular file or a character device is opened. Returns
    // whether a log file is open afterwards.
    bool SetLogFile(const std::string& name);
    bool IsOpen() const;
    std::string FileName() const;
    // Flushes and closes the file; the name is kept.
    void Close();

    void Write(std::string_view source, std::string_view message) { Add(false, source, message); }
    void WriteError(std::string_view source, std::string_view message) { Add(true, source, message); }

    // Whole lines as written (time stamp included); "" when there is none.
    std::string LastMessage() const;
    std::string LastError() const;
    std::vector<std::string> Messages() const;
    std::vector<std::string> Errors() const;

private:
    void Add(bool error, std::string_view source, std::string_view message);

    mutable std::mutex lock_;
    std::string name_;
    std::FILE* file_ = nullptr;
    std::vector<std::string> messages_;
    std::vector<std::string> errors_;
};

// A writer bound to one source name over a borrowed log (the log outlives it).
class LogSource {
public:
    LogSource(EventLog& log, std::string name) : log_(&log), name_(std::move(name)) {}
    void Info(std::string_view message) const { log_->Write(name_, message); }
    void Error(std::string_view message) const { log_->WriteError(name_, message); }
    EventLog& log() const { return *log_; }
    const std::string& name() const { return name_; }

private:
    EventLog* log_;
    std::string name_;
};

}  // namespace tessaline
