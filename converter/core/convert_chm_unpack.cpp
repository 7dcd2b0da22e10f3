#include "convert_chm_unpack.h"

#include <unistd.h>

#include "paths.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace vellumate {

std::string MakeChmTemporaryFolder() { return platform::MakeTempFolder("", "_CH"); }

std::string ChmUnpackerPath(const std::string& programPath) {
    std::string beside = FolderPart(programPath) + "/hh";
    if (!programPath.empty() && ::access(beside.c_str(), X_OK) == 0) return beside;
    return platform::FindProgram("hh");
}

ChmUnpackStatus UnpackChm(const std::string& programPath, const std::string& folder, const std::string& source) {
    const std::string unpacker = ChmUnpackerPath(programPath);
    if (unpacker.empty()) return ChmUnpackStatus::kNotStarted;
    platform::ChildProcess child;
    if (!child.Start(std::vector<std::string>{unpacker, "-decompile", folder, source})) {
        return ChmUnpackStatus::kNotStarted;
    }
    child.Wait();
    // 0: everything unpacked; 2: unpacked, unsafe or damaged names left out;
    // anything else (1, or ended by a signal): nothing usable.
    const int status = child.ExitStatus();
    return status == 0 || status == 2 ? ChmUnpackStatus::kOk : ChmUnpackStatus::kFailed;
}

}  // namespace vellumate
