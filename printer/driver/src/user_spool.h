// What the backend needs to leave a user's pages where the dispatcher finds
// them: the user's login-session folder (the dispatcher, started as that
// user with it as XDG_RUNTIME_DIR, finds its spool folder below it), the page
// files' names, and a lock for one job at a time.
#pragma once

#include <string>
#include <sys/types.h>

namespace driver {

// The user's login-session folder ("/run/user/<uid>", or below
// $VELLUMATE_USER_RUNTIME_BASE for tests), empty when the user has none.
std::string SessionFolderOf(uid_t uid);

// The name of page `page` (from 1) of job `job`: "~emf<job>-<page>.tmp",
// the page number in four digits at least, so that names sort in page order.
std::string PageFileName(int job, int page);

// An exclusive lock on the spool folder for one job's pages and dispatch
// (the dispatcher gathers every page file it finds there). Released on destruction.
class SpoolLock {
public:
    explicit SpoolLock(const std::string& folder);
    ~SpoolLock();
    SpoolLock(const SpoolLock&) = delete;
    SpoolLock& operator=(const SpoolLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace driver
