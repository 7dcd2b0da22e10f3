// Command-line text. Programs receive argv; the text a Windows program would
// see is rebuilt from it, and a text is split back into argv when one of our
// programs starts another.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Joins arguments with single blanks; an argument that is empty or holds a
// blank (space or tab) is wrapped in double quotes. Nothing else is escaped.
std::string JoinCommandLine(const std::vector<std::string>& args);

// "Everything after the program's name": argv[1..] joined as above.
std::string CommandLineTail(int argc, const char* const* argv);
// The whole text, program name included.
std::string CommandLineText(int argc, const char* const* argv);

// Splits a text by the Windows rules: blanks (spaces, tabs) separate
// arguments; a double quote starts and ends a quoted run, in which blanks are
// kept; the quotes themselves are removed; a quoted run makes an argument even
// when it is empty (""). Backslashes are ordinary characters, since our paths
// use "/" and registry keys keep their "\".
std::vector<std::string> SplitCommandLine(std::string_view text);

}  // namespace platform
