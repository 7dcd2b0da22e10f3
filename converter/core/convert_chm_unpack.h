// Unpacking a compiled help file for conversion: the temporary "_CH" folder
// and the unpacker ("hh -decompile"), run and waited for.
#pragma once

#include <string>

namespace vellumate {

// Creates a new, empty folder "_CH" + a unique part in the temporary folder
// ($TMPDIR, else /tmp); empty when it cannot be made.
std::string MakeChmTemporaryFolder();

// The unpacker: "hh" beside the program when it is there, else "hh" found in
// PATH; empty when there is none.
std::string ChmUnpackerPath(const std::string& programPath);

enum class ChmUnpackStatus {
    kOk,         // unpacked (names refused as unsafe or unreadable may be missing)
    kNotStarted, // the unpacker could not be started
    kFailed,     // it ran, but the file could not be unpacked at all
};

// Runs "hh -decompile FOLDER SOURCE" and waits for its end. The paths are
// handed over as arguments of their own, so no character of a file name can
// split or change the command.
ChmUnpackStatus UnpackChm(const std::string& programPath, const std::string& folder, const std::string& source);

}  // namespace vellumate
