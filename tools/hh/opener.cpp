#include "opener.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace hh {

bool OpenWithDesktop(const std::string& target, std::string* error) {
    const char* custom = std::getenv("VELLUMATE_OPEN");
    std::string opener = custom && *custom ? custom : "xdg-open";
    char* argv[] = {opener.data(), const_cast<char*>(target.c_str()), nullptr};
    pid_t pid = 0;
    int rc = ::posix_spawnp(&pid, opener.c_str(), nullptr, nullptr, argv, environ);
    if (rc != 0) {
        *error = "cannot start " + opener + ": " + std::strerror(rc);
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            *error = "lost the opener " + opener;
            return false;
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = opener + " failed on " + target;
        return false;
    }
    return true;
}

}  // namespace hh
