// Runs a built program in a private environment for end-to-end tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "test_output.h"

namespace vmtest {

// A scratch folder with its own registry, home, message-box log and opener
// log; removed when the sandbox goes.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& dir() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // Writes a file (folders created) and returns its path.
    std::string Write(const std::string& name, const std::string& content) const;
    // Runs `program` with `args` (argv[1..]); returns the exit status (-1 when
    // it did not exit normally). Standard error is kept in lastStderr.
    int Run(const std::string& program, const std::vector<std::string>& args);
    // The sandbox's environment as the start of a shell command ("env ... "),
    // for runs that need a shell (a terminal through script(1), a signal).
    std::string ShellEnv() const;
    // Message boxes shown by the last runs (one JSON text per box).
    std::vector<std::string> Boxes() const;
    // Paths the opener was asked to open.
    std::vector<std::string> Opened() const;
    // Extra or changed environment variables for the next runs.
    std::map<std::string, std::string> env;
    std::string lastStderr;

private:
    std::string dir_;
};

// Runs argv[0] (looked up in PATH when it has no "/") with argv[1..], this
// process's environment and standard streams (standard error to /dev/null
// with `quiet`). The exit status; -1 when it could not start or did not exit
// normally.
int RunArgv(const std::vector<std::string>& argv, bool quiet = false);

// Standard output of a shell command, with its standard error behind it
// unless told to drop it.
std::string Capture(const std::string& command, bool withStderr = true);
// A copy of a program in a folder of its own (its "program folder").
std::string CopyProgram(const std::string& program, const std::string& folder);

// One document's line of scripts/measure_links.py --tsv: its in-document
// links, how many land on their target, words lost and doubled at page
// boundaries, and the error that stopped it ("" when it converted).
struct LinkRow {
    std::string document;
    int links = 0, landed = 0, lost = 0, doubled = 0;
    std::string error;
};
// Runs the link measure over `docs` with the built `vellumate` and the
// sandbox's registry, its PDFs and temporary files in the folder `work` of
// the sandbox (the n-th document's PDF is work/<n>.pdf, from 0).
std::vector<LinkRow> MeasureLinks(const Sandbox& box, const std::string& work, const std::vector<std::string>& docs,
                                  const std::string& script, const std::string& vellumate);

// The text of each page of a PDF (pdftotext -layout), page by page.
std::vector<std::string> PdfPageTexts(const std::string& pdf);
// One line per outline of a PDF, indented two spaces per level, with its
// target page from 1 ("None" without one).
std::string PdfOutlineTree(const std::string& pdf);

}  // namespace vmtest
