#include "platform/registry_watch.h"

#include <poll.h>
#include <sys/inotify.h>

#include <algorithm>
#include <climits>
#include <thread>

#include "inotify_watcher.h"
#include "platform/registry.h"

namespace platform {

RegistryWatch::RegistryWatch() {
    const int fd = detail::InotifyWatcher::ForThread().Fd();
    if (fd >= 0)
        watch_ = inotify_add_watch(fd, RegistryFolder().c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO);
}

RegistryWatch::~RegistryWatch() {
    auto& watcher = detail::InotifyWatcher::ForThread();
    if (watch_ >= 0) inotify_rm_watch(watcher.Fd(), watch_);
    watcher.Drain();
}

void RegistryWatch::Wait(std::chrono::milliseconds timeout) {
    auto& watcher = detail::InotifyWatcher::ForThread();
    if (watch_ < 0) {
        std::this_thread::sleep_for(timeout);
        return;
    }
    pollfd p{watcher.Fd(), POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::clamp<long long>(timeout.count(), 0, INT_MAX))) > 0) watcher.Drain();
}

}  // namespace platform
