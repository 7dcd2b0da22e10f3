// The few platform services the converter core calls, behind one seam so
// that the conversion logic stays free of platform details.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumate::sys {

// ---- Program ------------------------------------------------------------------

// Full path of the running program ("" when it cannot be read).
std::string ProgramPath();
// The command-line text rebuilt from argv: everything after the program's name.
std::string CommandLineText(int argc, char** argv);

// ---- Message boxes ------------------------------------------------------------

enum class Icon { Error, Information, Warning, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };
Answer MessageBox(std::string_view text, std::string_view caption, Icon icon, Buttons buttons = Buttons::Ok);

// ---- Shell and processes ------------------------------------------------------

// Opens a file with the desktop's "open" verb; the shell's value (32 or less is a failure).
std::intptr_t ShellOpen(const std::string& path);
// Starts a command-line text as a new process without waiting. False when it
// cannot be started.
bool StartProcess(const std::string& commandLine);
// Starts a command-line text and waits for its end. False when it cannot be
// started; *exitCode gets its exit status.
bool RunProcessAndWait(const std::string& commandLine, int* exitCode);
// The user's documents folder, created when missing ("" when it cannot be).
std::string DocumentsFolder();

// ---- Registry (HKEY_LOCAL_MACHINE) --------------------------------------------
// Win32 error numbers: 0 success, 2 not found, 5 access denied. Every call
// opens the key, does its one thing and closes it again.

enum class RegAccess { Query, SetValue };
long RegCreateKeyLM(std::string_view path, RegAccess access);
long RegQueryDwordLM(std::string_view path, std::string_view name, std::uint32_t* value);
long RegSetDwordLM(std::string_view path, std::string_view name, std::uint32_t value);
// Reads into a buffer of `bufferChars` characters (the terminating zero included).
long RegQueryStringLM(std::string_view path, std::string_view name, std::string* value, std::size_t bufferChars);
long RegSetStringLM(std::string_view path, std::string_view name, std::string_view value);

// ---- Files ------------------------------------------------------------------------

// A regular file that can be opened for reading (with allowFolder, a readable folder too).
bool CanOpenForReading(const std::string& path, bool allowFolder = false);
bool Exists(const std::string& path);  // any file-system object
bool IsFolder(const std::string& path);
bool DeleteFile(const std::string& path);
// Deletes a folder with everything in it; true when it is gone afterwards.
bool DeleteTree(const std::string& path);
bool CreateFolder(const std::string& path);

// The current local date and time as an automation date.
double NowAsDate();

}  // namespace vellumate::sys
