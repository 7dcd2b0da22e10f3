// The entry of the message-box module (libvm_qt_boxes.so), for programs that
// load the toolkit only when a box is shown (see UseMessageBoxModule).
#pragma once

#include "platform/msgbox.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

inline constexpr std::uint32_t kMessageBoxModuleAbi = 1;
inline constexpr char kMessageBoxModule[] = "libvm_qt_boxes.so";
inline constexpr char kMessageBoxEntry[] = "VmMessageBox";

extern "C" {
// Shows the box on the toolkit's own thread and waits for its answer; may be
// called from any thread. nullopt when no window can be shown.
using MessageBoxModuleFn = std::optional<MsgAnswer>(std::string_view caption, std::string_view text, MsgIcon icon,
                                                    MsgButtons buttons);
}

}  // namespace platform
