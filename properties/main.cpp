// properties [/nogeneral] [/nopaper]: the virtual printer's property sheet,
// one at a time.
#include "show_properties.h"

#include "printer/shared/names.h"

#include "platform/sync.h"
#include "platform/text.h"

#include <string>

int main(int argc, char** argv) {
    bool existed = false;
    auto mutex = platform::NamedMutex::Create(std::string(vmshared::kProduct) + "_properties_mutex", false, &existed);
    if (!mutex || existed) return 0;  // another sheet is open
    bool noGeneral = false, noPaper = false;
    for (int i = 1; i < argc; ++i) {
        noGeneral |= platform::EqualsNoCase(argv[i], "/nogeneral");
        noPaper |= platform::EqualsNoCase(argv[i], "/nopaper");
    }
    return ShowProperties(noGeneral, noPaper);
}
