// A browser driven over the DevTools protocol on a pipe: the browser reads
// commands from its descriptor 3 and writes answers and events to its
// descriptor 4, each message a JSON text ended by a NUL byte. No network port
// is opened.
//
// One object owns one browser process (and its process group) and its private
// profile folder; both are gone when the object is. Everything runs on the
// caller's thread: waits poll the pipe and call the wait hook at least every
// 50 ms.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace browser {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

class DevToolsPipe {
public:
    // Starts `program` with `args` (the pipe switch and the profile folder are
    // added here). Null with `error` set when it cannot be started.
    static std::unique_ptr<DevToolsPipe> Launch(const std::string& program, std::vector<std::string> args,
                                                std::string& error);
    ~DevToolsPipe();
    DevToolsPipe(const DevToolsPipe&) = delete;
    DevToolsPipe& operator=(const DevToolsPipe&) = delete;

    // Events (messages without an id) go to this handler as they arrive, also
    // while a call waits for its answer. The handler may Post, never Call.
    void SetEventHandler(std::function<void(const Json&)> handler) { onEvent_ = std::move(handler); }
    // Called while waiting; false gives the wait up.
    void SetWaitHook(std::function<bool()> hook) { hook_ = std::move(hook); }

    // Sends a command and waits for its answer until `deadline`. The answer's
    // "result", or nullopt with `error` set (the browser's error message,
    // "timed out", "abandoned" or "the browser has ended").
    std::optional<Json> Call(const std::string& method, const Json& params, const std::string& session,
                             Clock::time_point deadline, std::string& error);
    // Sends a command whose answer nobody waits for.
    void Post(const std::string& method, const Json& params, const std::string& session);
    // Sends a command whose answer is kept until Await takes it; its number.
    long Send(const std::string& method, const Json& params, const std::string& session);
    // The answer of a command that Send sent, as Call answers.
    std::optional<Json> Await(long id, Clock::time_point deadline, std::string& error);
    // Reads messages until `done` holds or the deadline passes; false on
    // time-out, abandon or the browser's end.
    bool WaitFor(const std::function<bool()>& done, Clock::time_point deadline);

    // Waits again after a wait hook gave one up.
    void Resume() { abandoned_ = false; }
    bool Alive() const { return alive_; }
    bool Abandoned() const { return abandoned_; }
    int Pid() const { return pid_; }

private:
    DevToolsPipe() = default;
    bool Write(const std::string& message);
    // Reads what is there within `waitMs` and dispatches whole messages.
    void ReadSome(int waitMs);
    void Dispatch(std::string_view text);
    void Stop();

    int pid_ = -1;
    int toBrowser_ = -1, fromBrowser_ = -1;
    std::string profile_;
    std::string inbox_;
    bool alive_ = false;
    bool abandoned_ = false;
    long nextId_ = 1;
    // Answers that arrived, by id; only the one a Call waits for is kept.
    long awaited_ = 0;
    std::optional<Json> answer_;
    // Commands sent with Send, and their answers once they came.
    std::map<long, std::optional<Json>> kept_;
    std::function<void(const Json&)> onEvent_;
    std::function<bool()> hook_;
};

}  // namespace browser
