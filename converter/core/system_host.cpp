// Program, message-box, shell and process services.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/cmdline.h"
#include "system.h"

extern char** environ;

namespace vellumate::sys {

std::string ProgramPath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string CommandLineText(int argc, char** argv) { return platform::CommandLineTail(argc, argv); }

Answer MessageBox(std::string_view text, std::string_view caption, Icon, Buttons buttons) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

namespace {
bool Spawn(const std::vector<std::string>& args, pid_t* pid) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return ::posix_spawnp(pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
}
}  // namespace

std::intptr_t ShellOpen(const std::string& path) {
    const char* opener = std::getenv("VELLUMATE_OPEN");
    pid_t pid;
    if (!Spawn({opener && *opener ? opener : "xdg-open", path}, &pid)) return 2;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 42 : 2;
}

bool StartProcess(const std::string& commandLine) {
    pid_t pid;
    return Spawn({"/bin/sh", "-c", commandLine + " &"}, &pid);
}

bool RunProcessAndWait(const std::string& commandLine, int* exitCode) {
    pid_t pid;
    if (!Spawn({"/bin/sh", "-c", commandLine}, &pid)) return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

std::string DocumentsFolder() {
    const char* home = std::getenv("HOME");
    std::string folder = std::string(home ? home : "/tmp") + "/Documents";
    return CreateFolder(folder) ? folder : std::string();
}

}  // namespace vellumate::sys
