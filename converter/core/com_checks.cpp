#include "com_checks.h"

#include "strings.h"
#include "system.h"

namespace vellumate {

void ShowError(const RunSetup& setup, const std::string& text) {
    if (setup.interactive) sys::MessageBox(text, LoadString(IDS_ERROR_CAPTION), sys::Icon::Error);
}

std::string ComErrorText(const char* who, const com::ComError& e) {
    return FormatString("%s has thrown an exception:\n\ncom error: %d - %s", who, static_cast<int>(e.Error()),
                        e.Description().c_str());
}

}  // namespace vellumate
