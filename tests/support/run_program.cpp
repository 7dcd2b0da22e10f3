#include "run_program.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vmtest {
namespace fs = std::filesystem;

namespace {
std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}
}  // namespace

Sandbox::Sandbox() {
    char tmpl[] = "/tmp/vm_e2e_XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    fs::create_directories(dir_ + "/registry");
    fs::create_directories(dir_ + "/home");
    Write("opener.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + dir_ + "/opened.log\"\nexit 0\n");
    fs::permissions(dir_ + "/opener.sh", fs::perms::owner_all);
    env["VELLUMATE_REGISTRY"] = dir_ + "/registry";
    env["VELLUMATE_UI"] = "none";
    env["VELLUMATE_MSGBOX_LOG"] = dir_ + "/boxes.log";
    env["VELLUMATE_OPEN"] = dir_ + "/opener.sh";
    env["HOME"] = dir_ + "/home";
    env["XDG_CONFIG_HOME"] = dir_ + "/home/.config";
    env["XDG_RUNTIME_DIR"] = dir_;
    env["TMPDIR"] = dir_;
    env["VELLUMATE_QUIET"] = "0";  // a failed run's line on standard error, whatever the caller's setting
    env.erase("DISPLAY");
}

Sandbox::~Sandbox() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string Sandbox::Write(const std::string& name, const std::string& content) const {
    const std::string path = Path(name);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

int Sandbox::Run(const std::string& program, const std::vector<std::string>& args) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        size_t eq = kv.find('=');
        if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    all.erase("DISPLAY");
    all.erase("WAYLAND_DISPLAY");
    for (const auto& [k, v] : env) all[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : all) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    const std::string errPath = dir_ + "/stderr.txt";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addchdir_np(&fa, dir_.c_str());
    pid_t pid;
    int rc = ::posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    lastStderr = ReadFile(errPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunArgv(const std::vector<std::string>& args, bool quiet) {
    if (args.empty()) return -1;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (quiet) posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Sandbox::ShellEnv() const {
    std::string s = "env -u DISPLAY -u WAYLAND_DISPLAY";
    for (const auto& [k, v] : env) s += " " + k + "=" + Q(v);
    return s + " ";
}

std::vector<std::string> Sandbox::Boxes() const { return Lines(dir_ + "/boxes.log"); }
std::vector<std::string> Sandbox::Opened() const { return Lines(dir_ + "/opened.log"); }

std::string CopyProgram(const std::string& program, const std::string& folder) {
    fs::create_directories(folder);
    const std::string copy = folder + "/" + fs::path(program).filename().string();
    fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
    return copy;
}

std::string Capture(const std::string& command, bool withStderr) {
    return Shell(command + (withStderr ? " 2>&1" : " 2>/dev/null"));
}

std::vector<std::string> PdfPageTexts(const std::string& pdf) {
    const std::string all = Capture("pdftotext -layout " + Q(pdf) + " -", false);
    std::vector<std::string> pages;
    std::size_t start = 0, ff;
    while ((ff = all.find('\f', start)) != std::string::npos) {
        pages.push_back(all.substr(start, ff - start));
        start = ff + 1;
    }
    return pages;
}

std::string PdfOutlineTree(const std::string& pdf) {
    return Capture("qpdf --json --json-key=outlines " + Q(pdf) +
                       " | python3 -c 'import json,sys\n"
                       "def walk(items, depth):\n"
                       "    for o in items:\n"
                       "        print(\"  \" * depth + o[\"title\"], o.get(\"destpageposfrom1\"))\n"
                       "        walk(o[\"kids\"], depth + 1)\n"
                       "walk(json.load(sys.stdin)[\"outlines\"], 0)'",
                   false);
}

std::vector<LinkRow> MeasureLinks(const Sandbox& box, const std::string& work, const std::vector<std::string>& docs,
                                  const std::string& script, const std::string& vellumate) {
    const std::string folder = box.Path(work);
    std::filesystem::create_directories(folder);
    std::string command = "VELLUMATE_REGISTRY=" + Q(box.env.at("VELLUMATE_REGISTRY")) +
                          " VELLUMATE_UI=none TMPDIR=" + Q(folder) + " python3 " + Q(script) + " --tsv --vellumate " +
                          Q(vellumate) + " --work " + Q(folder);
    for (const auto& d : docs) command += " " + Q(d);
    std::vector<LinkRow> rows;
    std::istringstream out(Capture(command));
    for (std::string line; std::getline(out, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        f.resize(6);
        rows.push_back({f[0], std::atoi(f[1].c_str()), std::atoi(f[2].c_str()), std::atoi(f[3].c_str()),
                        std::atoi(f[4].c_str()), f[5]});
    }
    return rows;
}

}  // namespace vmtest
