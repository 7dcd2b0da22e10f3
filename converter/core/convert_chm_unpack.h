// Unpacking a compiled help file for conversion: the temporary "_CH" folder
// and the unpacker ("hh -decompile"), run and waited for.
#pragma once

#include <string>

namespace vellumate {

// Creates a new, empty folder "_CH" + six characters in the temporary folder
// ($TMPDIR, else /tmp); empty when it cannot be made.
std::string MakeChmTemporaryFolder();

// The unpacker: "hh" beside the program when it is there, else "hh" from PATH.
std::string ChmUnpackerPath(const std::string& programPath);

// The command-line text that unpacks `source` into `folder`.
std::string ChmUnpackCommand(const std::string& unpacker, const std::string& folder, const std::string& source);

enum class ChmUnpackStatus {
    kOk,         // unpacked (some names may have been refused as unsafe)
    kNotStarted, // the unpacker could not be started
    kFailed,     // it ran, but the file could not be unpacked at all
};

// Runs the unpacker and waits for its end. A source path with characters
// that a command-line text cannot carry safely (quotes, "$", "`", "\",
// line ends) is handed over through a link with a plain name beside the
// folder, deleted afterwards.
ChmUnpackStatus UnpackChm(const std::string& programPath, const std::string& folder, const std::string& source);

}  // namespace vellumate
