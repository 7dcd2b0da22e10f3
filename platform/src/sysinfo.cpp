// Version numbers from the build, the fixed virtual screen, freed memory.
#include "platform/sysinfo.h"

#include <dlfcn.h>
#include <malloc.h>

#include "vellumate_version.h"

#include <cstdio>

namespace platform {

void ReturnFreedMemory() {
    using Mallctl = int (*)(const char*, void*, std::size_t*, void*, std::size_t);
    if (auto mallctl = reinterpret_cast<Mallctl>(::dlsym(RTLD_DEFAULT, "mallctl"))) {
        mallctl("arena.4096.purge", nullptr, nullptr, nullptr, 0);  // 4096: every arena
        return;
    }
    malloc_trim(0);
}

VersionNumbers ProductVersion() {
    return {VELLUMATE_VERSION_MAJOR + 0, VELLUMATE_VERSION_MINOR + 0, VELLUMATE_VERSION_PATCH + 0,
            VELLUMATE_VERSION_TWEAK + 0};
}

std::string ProductVersionString() {
    VersionNumbers v = ProductVersion();
    char buf[48];
    std::snprintf(buf, sizeof buf, "%d.%d.%d", v.major, v.minor, v.patch);
    return buf;
}

int ScreenDeviceCaps(int index) {
    switch (index) {
    case HORZSIZE: return screen::kWidthMm;
    case VERTSIZE: return screen::kHeightMm;
    case HORZRES: return screen::kWidth;
    case VERTRES: return screen::kHeight;
    case BITSPIXEL: return screen::kBitsPerPixel;
    case PLANES: return 1;
    case LOGPIXELSX:
    case LOGPIXELSY: return screen::kDpi;
    default: return 0;
    }
}

}  // namespace platform
