#include "chm_fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace chmtest {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    std::string name = base + "/vm-chm-test-XXXXXX";
    if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a temporary folder");
    path_ = name;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::string ChmCompiler() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        std::string candidate = dirs.substr(start, colon - start) + "/chmcmd";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = colon + 1;
    }
    return {};
}

std::string CompileChm(const std::string& folder, const std::string& name,
                       const std::map<std::string, std::string>& files, const std::string& contents) {
    std::string project = "[OPTIONS]\nCompiled file=" + name + ".chm\nTitle=" + name + "\n";
    if (!contents.empty()) {
        project += "Contents file=" + name + ".hhc\n";
        WriteFile(folder + "/" + name + ".hhc", contents);
    }
    project += "\n[FILES]\n";
    for (const auto& [rel, bytes] : files) {
        WriteFile(folder + "/" + rel, bytes);
        project += rel + "\n";
    }
    WriteFile(folder + "/" + name + ".hhp", project);
    std::string compiler = ChmCompiler();
    if (compiler.empty()) return {};
    // chmcmd works in the current folder; run it in a child that changes there.
    std::string script = "cd \"$1\" && exec \"$2\" --no-html-scan \"$3\" >/dev/null 2>&1";
    int rc = RunArgv({"/bin/sh", "-c", script, "sh", folder, compiler, name + ".hhp"});
    std::string out = folder + "/" + name + ".chm";
    return rc == 0 && Exists(out) ? out : std::string();
}

std::string Page(const std::string& title) {
    return "<html><head><title>" + title + "</title></head><body><h1>" + title +
           "</h1><p>text</p><a name=\"x\"></a><p>more</p></body></html>\n";
}

std::string Item(const std::string& name, const std::string& local) {
    std::string s = "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"" + name + "\">";
    if (!local.empty()) s += "<param name=\"Local\" value=\"" + local + "\">";
    return s + "</OBJECT>\n";
}

int PatchBytes(const std::string& path, const std::string& from, const std::string& to) {
    if (from.size() != to.size()) return -1;
    std::string bytes = ReadFile(path);
    int n = 0;
    for (std::size_t pos = bytes.find(from); pos != std::string::npos; pos = bytes.find(from, pos + to.size())) {
        bytes.replace(pos, from.size(), to);
        ++n;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return n;
}

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) out.push_back(fs::relative(it->path(), folder).generic_string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace chmtest
