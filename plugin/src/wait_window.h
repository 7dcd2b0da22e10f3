// The wait window: shown while the converter of one press runs, with the
// text "Please wait while page is being converted..." and an Abort button.
// On a display it is a dialog; without one (or with VELLUMATE_UI=none) it is
// a headless wait box (platform::HeadlessWaitBox) that a test script can
// answer with "abort".
#pragma once

#include "converter_run.h"

namespace navlet {

// Launches the run and shows the window until the converter has ended, the
// user has aborted it, or it could not be started (the error box is then
// shown from this thread). Returns when the window is gone.
void RunWaitWindow(ConverterRun& run);

// The dialog form; false when no dialog can be shown from this thread (no
// usable display, or the toolkit belongs to another thread).
bool RunWaitDialog(ConverterRun& run);

// Makes message boxes of this library real dialogs while a display is there.
void InstallDialogMessageBoxes();

}  // namespace navlet
