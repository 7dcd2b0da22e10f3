// What tests read back: a file's bytes and a shell command's output.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace vmtest {

// The whole file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// What the command writes on standard output (its standard error stays the
// test's unless the command redirects it); empty when it cannot be run.
inline std::string Shell(const std::string& cmd) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

}  // namespace vmtest
