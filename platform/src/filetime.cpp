#include "platform/filetime.h"

#include "platform/syserror.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDelta = 11'644'473'600;

std::uint64_t FromUnix(std::int64_t sec, std::uint32_t nsec) {
    return static_cast<std::uint64_t>(sec + kEpochDelta) * kFileTimeUnitsPerSecond + nsec / 100;
}

}  // namespace

std::uint64_t FileTimeNow() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
    return FromUnix(ns / 1'000'000'000, static_cast<std::uint32_t>(ns % 1'000'000'000));
}

bool FileCreationTime(const std::string& path, std::uint64_t* fileTime) {
    struct statx sx;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    const char* mode = std::getenv("VELLUMATE_CREATION_TIME");
    bool useMtime = (mode && std::strcmp(mode, "mtime") == 0) || !(sx.stx_mask & STATX_BTIME);
    const statx_timestamp& t = useMtime ? sx.stx_mtime : sx.stx_btime;
    *fileTime = FromUnix(t.tv_sec, t.tv_nsec);
    return true;
}

}  // namespace platform
