// The folder where a user's printed pages wait for the dispatcher: the spool
// folder in that user's runtime folder, as the pipeline's programs find it
// when they run as that user (see platform's runtime folder).
#pragma once

#include <string>
#include <sys/types.h>

namespace driver {

// The user's login-session folder ("/run/user/<uid>", or below
// $VELLUMATE_USER_RUNTIME_BASE for tests), empty when the user has none.
std::string SessionFolderOf(uid_t uid);

// "<session folder>/vellumate/spool", else "/tmp/vellumate-<uid>/spool".
// Creates what is missing (mode 0700) when running as that user; refuses
// (false with `error`) a folder owned by another user or writable by others.
bool PrepareSpoolFolder(uid_t uid, std::string& folder, std::string& error);

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
