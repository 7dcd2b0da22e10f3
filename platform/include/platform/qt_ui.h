// The toolkit's side of the platform for the programs with windows: whether
// a window can open here, and message boxes as real dialogs.
#pragma once

namespace platform {

// False with VELLUMATE_UI=none, and when no display answers (a named but
// stale one too: the toolkit would end the process on it).
bool CanShowWindows();

// Makes platform::MessageBox show real dialogs when it may (a display, no
// scripted answer). A program without a toolkit application gets one made
// for its first box.
void InstallQtMessageBoxes();

}  // namespace platform
