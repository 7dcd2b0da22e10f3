// A login session of the test's own for the programs under test: a private
// registry, runtime folder (mode 0700) and message-box log under one folder,
// with boxes written to standard error instead of shown.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace vmtest {

// Under `dir`: reg/ (the registry), run/ (XDG_RUNTIME_DIR) and boxes.jsonl.
inline void UsePrivateSession(const std::string& dir) {
    std::filesystem::create_directories(dir + "/run");
    ::chmod((dir + "/run").c_str(), 0700);
    ::setenv("VELLUMATE_REGISTRY", (dir + "/reg").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    ::setenv("VELLUMATE_MSGBOX_LOG", (dir + "/boxes.jsonl").c_str(), 1);
    ::setenv("VELLUMATE_UI", "none", 1);
}

}  // namespace vmtest
