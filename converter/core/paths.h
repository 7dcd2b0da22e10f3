// Path text rules of the converter. Paths use "/" as the separator; a path
// that begins with "/" is absolute.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace vellumate {

// Resolves `path` against the folder of `base` (the folder part up to the last
// "/" of base). An absolute path is returned unchanged. A leading "./" is
// dropped; each leading "../" takes the base one folder up; climbing above
// the root gives the empty text. An empty base stands for `programPath`.
std::string ResolvePath(std::string_view path, std::string_view base, std::string_view programPath);

// Text after the last "/" (the whole text when there is none).
std::string FileNamePart(std::string_view path);
// Folder part of a path without its trailing "/" ("" when there is no "/"; "/" for a file in the root).
std::string FolderPart(std::string_view path);
// File name without folder and without its last extension (a name that starts
// with its only "." keeps it).
std::string DisplayName(std::string_view path);
// Lower-cased extension after the last "." of the file-name part; nullopt
// when the name has no "." or only at its first character.
std::optional<std::string> LowerExtension(std::string_view path);

// The suite's ASCII lower case (platform/text.h), under the name the converters use.
using platform::ToLowerAscii;

}  // namespace vellumate
