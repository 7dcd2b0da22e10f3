// The runtime folder and its checks.
#include "platform/runtime_folder.h"

#include "platform/syserror.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

std::string Base() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg == '/') return std::string(xdg) + "/vellumate";
    std::string run = "/run/user/" + std::to_string(getuid());
    struct stat sb;
    if (stat(run.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode) && sb.st_uid == getuid()) return run + "/vellumate";
    return "/tmp/vellumate-" + std::to_string(getuid());
}

bool Fail(std::string* error, const std::string& text, int e) {
    SetLastErrorFromErrno(e);
    if (error) *error = text;
    return false;
}

// Makes the folder (mode `mode`) when missing and answers whether the one
// that is there now may be trusted.
bool MakePrivate(const std::string& path, std::string* error) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return Fail(error, "cannot create the runtime folder " + path + ": " + std::strerror(errno), errno);
    return IsPrivateFolder(path, error);
}

}  // namespace

bool IsPrivateFolder(const std::string& path, std::string* error) {
    struct stat sb;
    if (lstat(path.c_str(), &sb) != 0)
        return Fail(error, "cannot read the runtime folder " + path + ": " + std::strerror(errno), errno);
    if (!S_ISDIR(sb.st_mode)) return Fail(error, "the runtime folder " + path + " is not a folder", ENOTDIR);
    if (sb.st_uid != getuid())
        return Fail(error,
                    "the runtime folder " + path + " belongs to another user (uid " + std::to_string(sb.st_uid) + ")",
                    EACCES);
    if (sb.st_mode & (S_IWGRP | S_IWOTH))
        return Fail(error, "the runtime folder " + path + " can be written by other users", EACCES);
    return true;
}

std::string RuntimeFolder(std::string* error) {
    std::string path = Base();
    return MakePrivate(path, error) ? path : std::string();
}

std::string RuntimeSubfolder(std::string_view name, std::string* error) {
    std::string base = RuntimeFolder(error);
    if (base.empty()) return {};
    std::string path = base + "/" + std::string(name);
    return MakePrivate(path, error) ? path : std::string();
}

std::string GlobalObjectFolder(std::string* error) {
    const char* env = std::getenv("VELLUMATE_GLOBAL_DIR");
    std::string path = env && *env == '/' ? env : "/tmp/vellumate-global";
    if (mkdir(path.c_str(), 0700) == 0) {
        // chmod, since the umask would take the bits away.
        if (chmod(path.c_str(), 01777) != 0) {
            Fail(error, "cannot open the folder " + path + " to all users: " + std::strerror(errno), errno);
            return {};
        }
    } else if (errno != EEXIST) {
        Fail(error, "cannot create the folder " + path + ": " + std::strerror(errno), errno);
        return {};
    }
    struct stat sb;
    if (lstat(path.c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode)) {
        Fail(error, "the folder " + path + " is not a folder", ENOTDIR);
        return {};
    }
    if ((sb.st_mode & S_IWOTH) && !(sb.st_mode & S_ISVTX)) {
        Fail(error, "the folder " + path + " can be written by all users but is not sticky", EACCES);
        return {};
    }
    return path;
}

}  // namespace platform
