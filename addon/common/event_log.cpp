#include "common/event_log.h"

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
        if (!name_.empty()) file_ = std::fopen(name_.c_str(), "w");
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
    messages_.push_back(line);
    if (error) errors_.push_back(line);
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
