// The command-line text of vellumate: run flags, tokens and their quotes.
// Pure text functions; nothing here touches the file system.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellumate {

struct RunFlags {
    bool addLog = false;     // "/addlog"
    bool invertAll = false;  // "/invertall"
    bool autoLaunch = false; // "/autolaunch"
};

// Looks for "/addlog", "/invertall" and "/autolaunch" (case-sensitive, anywhere,
// even glued to other text), sets the flag of each one found and deletes every
// occurrence of it from the text.
RunFlags RemoveRunFlags(std::string* text);

// Splits the text into tokens. A token that starts with a double quote runs to
// the next double quote and keeps both quotes; any other token runs to the next
// blank. The character that ends a token is skipped; empty tokens are dropped.
// There is no escape character. Multi-byte UTF-8 sequences never hold a quote
// or a blank byte, so walking bytes is safe.
std::vector<std::string> Tokenize(std::string_view text);

// Blanks and double quotes removed from both ends (as many as there are).
std::string StripBlanksAndQuotes(std::string_view s);
// Only double quotes removed from both ends; blanks stay.
std::string StripQuotes(std::string_view s);

}  // namespace vellumate
