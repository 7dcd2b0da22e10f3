#include "user_spool.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace driver {

std::string SessionFolderOf(uid_t uid) {
    const char* base = std::getenv("VELLUMATE_USER_RUNTIME_BASE");
    const std::string folder = std::string(base && *base ? base : "/run/user") + "/" + std::to_string(uid);
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid) return folder;
    return {};
}

std::string PageFileName(int job, int page) {
    char name[64];
    std::snprintf(name, sizeof name, "~emf%d-%04d.tmp", job, page);
    return name;
}

SpoolLock::SpoolLock(const std::string& folder) {
    fd_ = ::open((folder + "/.printing.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) ::close(fd_), fd_ = -1;
}

SpoolLock::~SpoolLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace driver
