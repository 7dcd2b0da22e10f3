// Fixtures for the compiled-help tests: private temporary folders, help files
// compiled at test time with chmcmd, and the programs run as a user would.
#pragma once

#include "run_program.h"

#include <map>
#include <string>
#include <vector>

namespace chmtest {

// A fresh folder below $TMPDIR (or /tmp), deleted with its contents at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);  // makes the folders
std::string ReadFile(const std::string& path);                      // "" when missing
bool Exists(const std::string& path);

// Full path of chmcmd, or "" when it is not installed.
std::string ChmCompiler();

// Writes `files` (relative path -> bytes) into `folder`, adds a project that
// lists them, with `contents` as the contents file when it is not empty, and
// compiles "<folder>/<name>.chm". Returns its path, or "" when compiling failed.
std::string CompileChm(const std::string& folder, const std::string& name,
                       const std::map<std::string, std::string>& files, const std::string& contents);

// A topic page with a title, a heading and one named anchor.
std::string Page(const std::string& title);
// One contents item ("<LI><OBJECT ...>") with a name and an optional reference.
std::string Item(const std::string& name, const std::string& local);

// Runs a program with arguments (no shell): the shared runner.
using vmtest::RunArgv;

// Replaces every occurrence of `from` with `to` (same length) in a file; the
// number of replacements.
int PatchBytes(const std::string& path, const std::string& from, const std::string& to);

// Regular files below a folder, as sorted relative paths.
std::vector<std::string> FilesBelow(const std::string& folder);

// Real help files: a fixed list from packages scripts/packages.txt installs
// (lazarus-doc-2.2).
inline const std::vector<std::string>& RealHelpFiles() {
    static const std::vector<std::string> files = {"/usr/share/doc/lazarus/2.2.6/lcl.chm"};
    return files;
}

}  // namespace chmtest
