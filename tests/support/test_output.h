// What tests read back: a file's bytes, a shell command's output and status,
// and the words of a text.
#pragma once

#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vmtest {

// The whole file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ShellResult {
    int status = -1;  // exit status; -1 when it did not run or did not exit normally
    std::string out;  // standard output
};

// Runs a shell command line and reads its standard output (its standard
// error stays the test's unless the command redirects it).
inline ShellResult ShellWithStatus(const std::string& cmd) {
    ShellResult r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// What the command writes on standard output; empty when it cannot be run.
inline std::string Shell(const std::string& cmd) { return ShellWithStatus(cmd).out; }

// A path or argument quoted for the shell.
inline std::string Q(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Lower-case words of three or more letters or digits, in order.
inline std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string w;
    auto flush = [&] {
        if (w.size() >= 3) words.push_back(w);
        w.clear();
    };
    for (unsigned char c : text) {
        if (std::isalnum(c)) w += static_cast<char>(std::tolower(c));
        else flush();
    }
    flush();
    return words;
}

}  // namespace vmtest
