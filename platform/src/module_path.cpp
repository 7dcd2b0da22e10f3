// Where a loaded library lives, for the paths servers register.
#include "platform/com_server.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

namespace com::server {

std::string ModulePath(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return {};
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
}

}  // namespace com::server
