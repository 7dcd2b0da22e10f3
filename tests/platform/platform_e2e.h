// Helpers for the end-to-end tests of the platform programs: where the built
// programs are, running one with captured output, and a private registry.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

inline std::string Bin(const std::string& name) { return std::string(VM_BIN_DIR) + "/" + name; }
inline std::string Lib(const std::string& name) { return std::string(VM_LIB_DIR) + "/" + name; }

struct Result {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out, err;
};

// Runs argv[0] with the given arguments and optional standard input.
inline Result Run(const std::vector<std::string>& argv, const std::string& input = {}) {
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    close(in[1]);
    Result r;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// A fresh registry folder for the length of a test.
class RegistryTest : public ::testing::Test {
public:
    struct Folder {
        Folder() {
            std::string tmpl = std::filesystem::temp_directory_path().string() + "/vmreg-XXXXXX";
            if (!mkdtemp(tmpl.data())) abort();
            path = tmpl;
            if (const char* o = getenv("VELLUMATE_REGISTRY")) old = o;
            setenv("VELLUMATE_REGISTRY", path.c_str(), 1);
        }
        ~Folder() {
            if (old)
                setenv("VELLUMATE_REGISTRY", old->c_str(), 1);
            else
                unsetenv("VELLUMATE_REGISTRY");
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
        std::string path;
        std::optional<std::string> old;
    };

protected:
    Folder folder;
};

}  // namespace e2e
