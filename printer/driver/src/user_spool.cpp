#include "user_spool.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace driver {

namespace {

bool OwnFolder(const std::string& path, uid_t uid, std::string& error) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    if (st.st_uid != uid || (st.st_mode & 022)) {
        error = path + " belongs to another user or others may write to it";
        return false;
    }
    return true;
}

}  // namespace

std::string SessionFolderOf(uid_t uid) {
    const char* base = std::getenv("VELLUMATE_USER_RUNTIME_BASE");
    const std::string folder = std::string(base && *base ? base : "/run/user") + "/" + std::to_string(uid);
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid) return folder;
    return {};
}

bool PrepareSpoolFolder(uid_t uid, std::string& folder, std::string& error) {
    const std::string session = SessionFolderOf(uid);
    const std::string runtime = session.empty() ? "/tmp/vellumate-" + std::to_string(uid) : session + "/vellumate";
    if (!OwnFolder(runtime, uid, error)) return false;
    folder = runtime + "/spool";
    return OwnFolder(folder, uid, error);
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
