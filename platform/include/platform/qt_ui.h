// The toolkit's side of the platform for the programs with windows: whether
// a window can open here, and message boxes as real dialogs.
#pragma once

#include "platform/msgbox.h"

#include <optional>
#include <string_view>

namespace platform {

// False with VELLUMATE_UI=none, and when no display answers (a named but
// stale one too: the toolkit would end the process on it).
bool CanShowWindows();

// Makes platform::MessageBox show real dialogs when it may (a display, no
// scripted answer). A program without a toolkit application gets one made
// for its first box.
void InstallQtMessageBoxes();

// A real dialog from any thread of a program that runs no toolkit of its own:
// the first call starts the toolkit on a thread of its own, where every box
// is shown (several at once when several threads ask) while the caller waits
// for its answer. nullopt when no window can be shown or the program has a
// toolkit application already.
std::optional<MsgAnswer> QtMessageBoxFromAnyThread(std::string_view caption, std::string_view text, MsgIcon icon,
                                                   MsgButtons buttons);

}  // namespace platform
