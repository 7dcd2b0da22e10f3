// Waiting for a change of the registry: a value written by another process
// shows as a change of a file in the registry folder.
#pragma once

#include <chrono>

namespace platform {

// Watches the registry folder from construction on, so that a change made
// between a read and the next Wait() is not missed. Uses the calling thread's
// inotify instance (closing one of its own would hold the caller for the
// kernel's grace period on the way out); one thread at a time.
class RegistryWatch {
public:
    RegistryWatch();
    ~RegistryWatch();
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

    // Returns after a change or `timeout`, whichever comes first (after
    // `timeout` when the folder cannot be watched).
    void Wait(std::chrono::milliseconds timeout);

private:
    int watch_ = -1;
};

}  // namespace platform
