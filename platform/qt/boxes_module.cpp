// The message-box module (libvm_qt_boxes.so): real dialogs for a program that
// loads the toolkit only when it shows its first box.
#include "platform/msgbox_module.h"
#include "platform/qt_ui.h"

extern "C" __attribute__((visibility("default"))) std::uint32_t VmModuleAbiVersion() {
    return platform::kMessageBoxModuleAbi;
}

// Found by name with dlsym and called from C++ only (the ABI version above
// guards the signature), so a C++ return type is fine here.
#ifdef __clang__
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" __attribute__((visibility("default"))) std::optional<platform::MsgAnswer> VmMessageBox(
    std::string_view caption, std::string_view text, platform::MsgIcon icon, platform::MsgButtons buttons) {
    return platform::QtMessageBoxFromAnyThread(caption, text, icon, buttons);
}
