// pathprobe TICKET PATH
//
// A client for the agent that only publishes: stores everything after the
// program's name, unchanged, as HKLM "SOFTWARE\Vellumate" "tmpIniPath",
// where the converter picks it up. Exit status 0, or 255 (-1) when the key
// cannot be created or the value set.
#include "printer/shared/names.h"

#include "platform/cmdline.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/step_times.h"

using namespace platform;

int main(int argc, char** argv) {
    std::string path = CommandLineTail(argc, argv);
    HKEY key = nullptr;
    std::string name = "SOFTWARE\\" + std::string(vmshared::kProduct);
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                       &key, nullptr) != ERROR_SUCCESS)
        return ExitStatusOf(-1);
    RegKeyHolder holder(key);
    if (RegSetValueEx(key, vmshared::kTmpIniPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                      static_cast<DWORD>(path.size() + 1)) != ERROR_SUCCESS)
        return ExitStatusOf(-1);
    MarkHop("value set");
    return 0;
}
