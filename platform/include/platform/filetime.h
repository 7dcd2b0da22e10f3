// File times as Windows counts them: 100-nanosecond units since
// 1601-01-01 00:00 UTC.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr std::uint64_t kFileTimeUnitsPerSecond = 10'000'000;

// The current system time (GetSystemTimeAsFileTime).
std::uint64_t FileTimeNow();

// A file's creation time: its birth time (statx) where the file system
// keeps one, else its modification time. VELLUMATE_CREATION_TIME=mtime
// takes the modification time always, so tests can make files of a given
// age (a birth time cannot be set). False when the file cannot be read.
bool FileCreationTime(const std::string& path, std::uint64_t* fileTime);

}  // namespace platform
