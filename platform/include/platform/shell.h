// The desktop shell: opening a document or address with the user's
// program, and the user's documents folder.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Opens a file, folder or address with xdg-open (or the program named by
// $VELLUMATE_OPEN, for tests). Like the Win32 call it answers a number above
// 32 on success and 32 or less on failure: 2 when the file does not exist or
// the opener reports so, 31 when no opener is there or it fails otherwise.
int ShellOpen(std::string_view target);

// The XDG documents folder ($XDG_DOCUMENTS_DIR, else the user-dirs.dirs
// entry, else ~/Documents), created when missing. "" when there is no home.
std::string DocumentsFolder();

}  // namespace platform
