// hh: unpacks compiled help files and shows their topics.
//
//   hh -decompile FOLDER FILE   unpack every file of FILE into FOLDER
//   hh FILE                     show the file's default topic
//   hh FILE::/FOLDER/TOPIC      show one topic (an "#anchor" may follow)
//
// Exit status: 0 success; 1 the file or folder could not be used, or the
// topic could not be shown; 2 unpacked, but some files were refused as unsafe
// or could not be read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "chm_archive.h"
#include "platform/shell.h"

namespace {

// On standard output when asked for (--help, exit 0), else on standard error (exit 1).
int Usage(bool asked = false) {
    std::fprintf(asked ? stdout : stderr,
                 "usage: hh -decompile FOLDER FILE\n"
                 "       hh FILE[::/FOLDER/TOPIC]\n");
    return asked ? 0 : 1;
}

int Decompile(const std::string& folder, const std::string& file) {
    std::string error;
    auto archive = hh::ChmArchive::Open(file, &error);
    if (!archive) {
        std::fprintf(stderr, "hh: %s\n", error.c_str());
        return 1;
    }
    for (const auto& w : archive->Listing().warnings) std::fprintf(stderr, "hh: %s: %s\n", file.c_str(), w.c_str());
    hh::UnpackResult result;
    if (!hh::Unpack(*archive, folder, &result, &error)) {
        std::fprintf(stderr, "hh: %s\n", error.c_str());
        return 1;
    }
    for (const auto& name : result.refused) std::fprintf(stderr, "hh: refused unsafe name %s\n", name.c_str());
    for (const auto& what : result.failed) std::fprintf(stderr, "hh: not unpacked: %s\n", what.c_str());
    return result.refused.empty() && result.failed.empty() ? 0 : 2;
}

// A folder per help file under the user's cache, named by the file's path,
// size and time so that a changed file is unpacked afresh.
std::string CacheFolderFor(const std::string& file) {
    std::string base;
    if (const char* c = std::getenv("XDG_CACHE_HOME"); c && *c == '/') {
        base = c;
    } else if (const char* h = std::getenv("HOME"); h && *h) {
        base = std::string(h) + "/.cache";
    } else {
        base = "/tmp/vellumate-cache-" + std::to_string(::getuid());
    }
    char* real = ::realpath(file.c_str(), nullptr);
    std::string key = real ? real : file;
    std::free(real);
    struct stat st{};
    if (::stat(file.c_str(), &st) == 0)
        key += "|" + std::to_string(st.st_size) + "|" + std::to_string(st.st_mtim.tv_sec) + "." +
               std::to_string(st.st_mtim.tv_nsec);
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char ch : key) hash = (hash ^ ch) * 1099511628211ull;
    std::string name = file.substr(file.find_last_of('/') + 1);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return base + "/vellumate/hh/" + name + "-" + hex;
}

std::string FileUrl(const std::string& path, const std::string& anchor) {
    static const char* kHex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char ch : path) {
        if (std::isalnum(ch) || std::string_view("/-._~").find(char(ch)) != std::string_view::npos) {
            url += char(ch);
        } else {
            url += '%';
            url += kHex[ch >> 4];
            url += kHex[ch & 15];
        }
    }
    return url + anchor;
}

int ShowHelp(const std::string& argument) {
    std::string file = argument, topic;
    if (auto sep = argument.rfind("::"); sep != std::string::npos) {
        file = argument.substr(0, sep);
        topic = argument.substr(sep + 2);
    }
    std::string error;
    auto archive = hh::ChmArchive::Open(file, &error);
    if (!archive) {
        std::fprintf(stderr, "hh: %s\n", error.c_str());
        return 1;
    }
    std::string anchor;
    if (auto hash = topic.find('#'); hash != std::string::npos) {
        anchor = topic.substr(hash);
        topic.erase(hash);
    }
    const hh::ChmEntry* entry = nullptr;
    if (!topic.empty()) {
        if (topic[0] != '/') topic.insert(0, "/");
        entry = archive->Find(topic);
        if (!entry) {
            std::fprintf(stderr, "hh: %s: no topic %s\n", file.c_str(), topic.c_str());
            return 1;
        }
    } else {
        std::vector<std::string> candidates{archive->DefaultTopic(), "/index.htm", "/index.html", "/default.htm",
                                            "/default.html"};
        for (const auto& c : candidates)
            if (!c.empty() && (entry = archive->Find(c))) break;
        for (const auto& e : archive->Listing().entries) {
            if (entry) break;
            if (hh::IsContentFile(e.name) && (e.name.ends_with(".htm") || e.name.ends_with(".html"))) entry = &e;
        }
        if (!entry) {
            std::fprintf(stderr, "hh: %s: no topic to show\n", file.c_str());
            return 1;
        }
    }
    auto rel = hh::SafeRelativePath(entry->name);
    if (!rel) {
        std::fprintf(stderr, "hh: refused unsafe name %s\n", entry->name.c_str());
        return 1;
    }
    std::string folder = CacheFolderFor(file);
    std::string marker = folder + "/.unpacked";
    if (::access(marker.c_str(), F_OK) != 0) {
        hh::UnpackResult result;
        if (!hh::Unpack(*archive, folder, &result, &error)) {
            std::fprintf(stderr, "hh: %s\n", error.c_str());
            return 1;
        }
        for (const auto& name : result.refused) std::fprintf(stderr, "hh: refused unsafe name %s\n", name.c_str());
        int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
    }
    std::string path = folder + "/" + *rel;
    if (::access(path.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "hh: %s: topic %s could not be unpacked\n", file.c_str(), entry->name.c_str());
        return 1;
    }
    std::string target = anchor.empty() ? path : FileUrl(path, anchor);
    if (platform::ShellOpen(target) <= 32) {
        std::fprintf(stderr, "hh: cannot open %s with the desktop's opener\n", target.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && (args[0] == "-decompile" || args[0] == "/decompile")) {
            if (args.size() != 3) return Usage();
            return Decompile(args[1], args[2]);
        }
        if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return Usage(true);
        if (args.size() != 1 || args[0].empty()) return Usage();
        return ShowHelp(args[0]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "hh: %s\n", e.what());
        return 1;
    }
}
