// The printed pages waiting in the spool folder: files named "~emf*.tmp"
// (letters in any case) whose creation time lies less than one hour before
// now, in page order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dispatcher {

// One hour in file-time units.
constexpr std::uint64_t kMaxPageAge = 36'000'000'000ULL;

bool IsPageFileName(std::string_view name);

// Page order: names compared without regard to case, runs of digits by
// their value, so "~emf7-2.tmp" comes before "~emf7-10.tmp".
bool PageNameLess(std::string_view a, std::string_view b);

// Whether a file created at `created` is taken at `now`: the unsigned
// difference is below one hour (a time in the future gives a huge one).
inline bool IsRecent(std::uint64_t now, std::uint64_t created) { return now - created < kMaxPageAge; }

// Names (not paths) of the regular files in `folder` that are page files
// created less than an hour before `now`, in page order.
std::vector<std::string> RecentPageFiles(const std::string& folder, std::uint64_t now);

// The copy's path: everything after the last "." of the name replaced by
// "emf"; a name without "." gives the path unchanged.
std::string CopyPathOf(const std::string& path);

}  // namespace dispatcher
