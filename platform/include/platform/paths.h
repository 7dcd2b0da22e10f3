// The program's own place and temporary file and folder names.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The running program's absolute path (/proc/self/exe) and its folder.
std::string ProgramPath();
std::string ProgramFolder();

// $TMPDIR when it names a folder, else /tmp.
std::string TempFolder();

// As GetTempFileName: creates a new empty file "<folder>/<prefix><unique><suffix>"
// and answers its path ("" on failure). folder "" means TempFolder().
std::string MakeTempFile(std::string_view folder, std::string_view prefix, std::string_view suffix = ".tmp");
// Creates a new folder "<folder>/<prefix><unique>" and answers its path ("" on failure).
std::string MakeTempFolder(std::string_view folder, std::string_view prefix);

// The folder part of a path ("" for a bare name), and the last part.
std::string FolderOf(std::string_view path);
std::string FileNameOf(std::string_view path);

}  // namespace platform
