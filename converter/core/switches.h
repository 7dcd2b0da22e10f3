// The PDF option switches of the command line ("/psize a4", "/protect yes", ...).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "pdf_settings.h"

namespace vellumate {

// Applies switch/value pairs from tokens[first] to the end. Switch names are
// compared without regard to case, values exactly (lower case as listed); a
// value wrapped in double quotes loses them. Protection-only switches met
// while ProtectionEnabled is false are skipped with their value. Returns 0, or
// -1 for an unknown switch, a switch without value or a value not listed;
// pairs before the bad one stay applied.
int ParseSwitches(const std::vector<std::string>& tokens, std::size_t first, PdfSettings* settings, bool* makeOne);

}  // namespace vellumate
