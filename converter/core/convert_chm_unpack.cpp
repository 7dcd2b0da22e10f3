#include "convert_chm_unpack.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "paths.h"
#include "system.h"

namespace vellumate {
namespace {

bool PlainForCommandLine(const std::string& path) {
    return path.find_first_of("\"$`\\\n\r") == std::string::npos;
}

}  // namespace

std::string MakeChmTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string name = base + "/_CHXXXXXX";
    if (!::mkdtemp(name.data())) return {};
    return name;
}

std::string ChmUnpackerPath(const std::string& programPath) {
    std::string beside = FolderPart(programPath) + "/hh";
    if (!programPath.empty() && ::access(beside.c_str(), X_OK) == 0) return beside;
    return "hh";
}

std::string ChmUnpackCommand(const std::string& unpacker, const std::string& folder, const std::string& source) {
    return "\"" + unpacker + "\" -decompile \"" + folder + "\" \"" + source + "\"";
}

ChmUnpackStatus UnpackChm(const std::string& programPath, const std::string& folder, const std::string& source) {
    std::string handed = source;
    std::string link;
    if (!PlainForCommandLine(source)) {
        std::error_code ec;
        link = folder + ".chm";
        std::filesystem::create_symlink(std::filesystem::absolute(source, ec), link, ec);
        if (ec) return ChmUnpackStatus::kFailed;
        handed = link;
    }
    int exitCode = 0;
    bool started = sys::RunProcessAndWait(ChmUnpackCommand(ChmUnpackerPath(programPath), folder, handed), &exitCode);
    if (!link.empty()) ::unlink(link.c_str());
    if (!started) return ChmUnpackStatus::kNotStarted;
    // 0: everything unpacked; 2: unpacked, unsafe or damaged names left out;
    // anything else (1, a signal, or 127 from a missing program): nothing.
    if (exitCode == 0 || exitCode == 2) return ChmUnpackStatus::kOk;
    return exitCode == 127 ? ChmUnpackStatus::kNotStarted : ChmUnpackStatus::kFailed;
}

}  // namespace vellumate
