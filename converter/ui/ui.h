// vellumate's windows: the entry of an interactive session and the toolkit's
// message boxes.
#pragma once

#include <cstdint>

#include "context.h"

namespace vellumate::ui {

// Runs the main dialog until it closes; 0 then. Without a display (or with
// VELLUMATE_UI=none) no window can open: a line on standard error and -1.
std::int32_t RunMainDialog(ConversionContext& ctx);

// Makes the suite's message boxes real dialogs (platform::MessageBox still
// decides when a dialog may be shown: with a display, no scripted answer).
// A run without a window gets a toolkit application for its first box.
void InstallMessageBoxes();

// Both at once: what the program's entry calls.
void Install();

}  // namespace vellumate::ui
