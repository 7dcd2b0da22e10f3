// regsvr [/u] [/s] LIBRARY: loads an in-process server and calls its
// DllRegisterServer (or, with /u, DllUnregisterServer). Exit status 0 on
// success, 1 with a message on standard error otherwise; /s keeps quiet on
// success.
#include "platform/com.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: regsvr [/u] [/s] LIBRARY\n");
    return 1;
}

bool IsSwitch(const char* arg, const char* name) {
    return (arg[0] == '/' || arg[0] == '-') && strcasecmp(arg + 1, name) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false, silent = false;
    const char* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (IsSwitch(argv[i], "u"))
            unregister = true;
        else if (IsSwitch(argv[i], "s"))
            silent = true;
        else if (IsSwitch(argv[i], "?") || IsSwitch(argv[i], "h") || IsSwitch(argv[i], "-help"))
            return Usage(), 0;
        else if (argv[i][0] == '/' && argv[i][1] && !std::strchr(argv[i] + 1, '/'))
            return std::fprintf(stderr, "regsvr: unknown switch %s\n", argv[i]), Usage();
        else if (library)
            return std::fprintf(stderr, "regsvr: only one library at a time\n"), Usage();
        else
            library = argv[i];
    }
    if (!library) return Usage();

    // A path given without a folder is meant in the current folder, not in the library search path.
    std::string path = library;
    char resolved[PATH_MAX];
    if (realpath(library, resolved)) path = resolved;

    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* why = dlerror();
        std::fprintf(stderr, "regsvr: the library \"%s\" could not be loaded: %s\n", library, why ? why : "unknown error");
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<com::DllRegisterServerFn>(dlsym(h, entry));
    if (!fn) {
        std::fprintf(stderr, "regsvr: \"%s\" was loaded, but the entry point %s was not found.\n", library, entry);
        dlclose(h);
        return 1;
    }
    com::HRESULT hr = fn();
    dlclose(h);
    if (com::FAILED(hr)) {
        std::fprintf(stderr, "regsvr: %s in \"%s\" failed. Return code was: 0x%08X\n", entry, library,
                     static_cast<unsigned>(hr));
        return 1;
    }
    if (!silent) std::printf("%s in \"%s\" succeeded.\n", entry, library);
    return 0;
}
