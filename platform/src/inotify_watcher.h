// The calling thread's inotify instance, kept for the thread's life:
// closing an inotify descriptor waits for the kernel's grace period
// (10-20 ms), far longer than a wake-up should take. Callers add their
// watches, poll Fd(), and remove their watches again.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

namespace platform::detail {

class InotifyWatcher {
public:
    ~InotifyWatcher() {
        if (fd_ >= 0) close(fd_);
    }
    // A child made by fork gets an instance of its own: one shared with the
    // parent would hand each the other's events and watches.
    int Fd() {
        if (fd_ >= 0 && owner_ != getpid()) {
            close(fd_);
            fd_ = -1;
        }
        if (fd_ < 0) {
            fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
            owner_ = getpid();
        }
        return fd_;
    }
    // Reads away what is queued (the caller looks at the files again anyway).
    void Drain() {
        char buf[4096];
        while (fd_ >= 0 && read(fd_, buf, sizeof buf) > 0) {
        }
    }
    static InotifyWatcher& ForThread() {
        thread_local InotifyWatcher w;
        return w;
    }

private:
    int fd_ = -1;
    pid_t owner_ = 0;
};

}  // namespace platform::detail
