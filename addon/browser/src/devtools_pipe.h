// A browser driven over the DevTools protocol on a pipe: the browser reads
// commands from its descriptor 3 and writes answers and events to its
// descriptor 4, each message a JSON text ended by a NUL byte. No network port
// is opened.
//
// One object owns one browser process (and its process group) and its private
// profile folder; both are gone when the object is. A thread of the object's
// own reads the pipe: it hands answers to the commands waiting for them and
// events to the event handler. Commands may be sent and waited for from any
// number of threads at once (the tabs of a browser are independent); a wait
// asks its waiter's keep-going test at least every 50 ms.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace browser {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

// One caller's waits: its keep-going test and whether it gave up. Used by
// one thread at a time.
struct Waiter {
    std::function<bool()> keepGoing;
    bool abandoned = false;
    Clock::time_point lastAsked{};
};

class DevToolsPipe {
public:
    // Starts `program` with `args` (the pipe switch and the profile folder are
    // added here). Null with `error` set when it cannot be started.
    static std::unique_ptr<DevToolsPipe> Launch(const std::string& program, std::vector<std::string> args,
                                                std::string& error);
    ~DevToolsPipe();
    DevToolsPipe(const DevToolsPipe&) = delete;
    DevToolsPipe& operator=(const DevToolsPipe&) = delete;

    // Events (messages without an id) go to this handler on the reading
    // thread as they arrive; every wait looks at its condition again after
    // each. The handler may Post, never wait.
    void SetEventHandler(std::function<void(const Json&)> handler);

    // Sends a command and waits for its answer until `deadline`. The answer's
    // "result", or nullopt with `error` set (the browser's error message,
    // "timed out", "abandoned" or "the browser has ended").
    std::optional<Json> Call(const std::string& method, const Json& params, const std::string& session,
                             Clock::time_point deadline, std::string& error, Waiter* waiter = nullptr);
    // Sends a command whose answer nobody waits for.
    void Post(const std::string& method, const Json& params, const std::string& session);
    // Sends a command whose answer is kept until Await takes it; its number.
    long Send(const std::string& method, const Json& params, const std::string& session);
    // The answer of a command that Send sent, as Call answers.
    std::optional<Json> Await(long id, Clock::time_point deadline, std::string& error, Waiter* waiter = nullptr);
    // Waits until `done` holds or the deadline passes; false on time-out,
    // abandon or the browser's end. `done` is asked with the pipe's lock held.
    bool WaitFor(const std::function<bool()>& done, Clock::time_point deadline, Waiter* waiter = nullptr);

    bool Alive() const { return alive_; }
    int Pid() const { return pid_; }

private:
    DevToolsPipe() = default;
    bool Write(const std::string& message);
    void Read();  // the reading thread
    void Dispatch(std::string_view text);
    void Stop();

    int pid_ = -1;
    int toBrowser_ = -1, fromBrowser_ = -1;
    int wake_[2] = {-1, -1};  // ends the reading thread
    std::string profile_;
    std::atomic<bool> alive_{false};
    std::atomic<long> nextId_{1};
    std::mutex writing_;
    std::thread reader_;

    std::mutex mutex_;  // guards what follows
    std::condition_variable changed_;
    // Commands sent with Send, and their answers once they came.
    std::map<long, std::optional<Json>> kept_;
    std::shared_ptr<const std::function<void(const Json&)>> onEvent_;
};

}  // namespace browser
