// The per-user runtime folder, home of the named kernel objects, the window
// directory, the clipboard store, the pipeline's spool folder and its log.
//
// It is $XDG_RUNTIME_DIR/vellumate, else /run/user/<uid>/vellumate when that
// user folder exists, else /tmp/vellumate-<uid>. It is created with mode 0700
// and refused when it is not a folder of its own (a symbolic link, another
// user's folder, or one that group or others can write): everything in it is
// trusted by the programs of this user.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The folder, created when missing; "" with a reason in *error when it
// cannot be made or is refused.
std::string RuntimeFolder(std::string* error = nullptr);

// A folder inside the runtime folder (created 0700 and checked the same way).
std::string RuntimeSubfolder(std::string_view name, std::string* error = nullptr);

// The folder of objects named "Global\...", shared by every user:
// $VELLUMATE_GLOBAL_DIR, else /tmp/vellumate-global. It is created with
// mode 1777 (as /tmp: everyone may add, only owners remove) and refused when
// it is no folder or is writable by all without the sticky bit.
std::string GlobalObjectFolder(std::string* error = nullptr);

// Checks an existing folder as RuntimeFolder does (owner, mode, no link).
bool IsPrivateFolder(const std::string& path, std::string* error = nullptr);

}  // namespace platform
