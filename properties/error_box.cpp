#include "error_box.h"

#include "printer/shared/names.h"

#include "platform/msgbox.h"
#include "platform/syserror.h"

namespace vmprops {

std::string Caption() { return std::string(vmshared::kProduct) + " properties"; }

void ErrorBox(const std::string& message, unsigned long code) {
    if (code == 0) code = platform::GetLastError();
    if (code == 0) return;
    platform::MessageBox(Caption(), message + "\nError # " + std::to_string(code) + ": " +
                                        platform::FormatSystemMessage(static_cast<platform::DWORD>(code)));
}

}  // namespace vmprops
