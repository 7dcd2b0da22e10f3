// Input and output list files: one path per line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellumate {

// Splits list text into its entries: lines end at LF (a CR before it is
// dropped), each line is trimmed of white space, empty lines are skipped and
// the last line needs no line end.
std::vector<std::string> SplitListText(std::string_view text);

// Reads a list file whole. False when it cannot be read or is empty (zero
// bytes); both count as unreadable. A file of blank lines only is readable and
// gives no entries. `lines` is filled on success.
bool ReadListFile(const std::string& path, std::vector<std::string>* lines);

}  // namespace vellumate
