// Message boxes: one call for the whole suite.
//
// With a display and VELLUMATE_UI not "none", the box goes to the dialog
// installed with SetMessageBoxUi (the toolkit's, when a program has one).
// Otherwise it is written to standard error as "caption: text" and answers
// its default: Ok, No for Yes/No, Cancel where there is one, Abort for
// Abort/Retry/Ignore.
//
// VELLUMATE_MSGBOX_ANSWER picks the answer ("yes", "no", "ok", "cancel",
// "abort", "retry", "ignore"; a comma-separated list answers successive
// boxes, its last entry the rest). An answer the box has no button for gives
// the default. VELLUMATE_MSGBOX_LOG=FILE appends every box as one JSON line:
// {"caption":...,"text":...,"icon":...,"buttons":...,"answer":...}.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class MsgIcon { None, Error, Warning, Information, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
// The Win32 answer numbers (IDOK ... IDNO).
enum class MsgAnswer { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

MsgAnswer MessageBox(std::string_view caption, std::string_view text, MsgIcon icon = MsgIcon::None,
                     MsgButtons buttons = MsgButtons::Ok);

// The seam for a real dialog: it answers, or gives nullopt to fall back to
// standard error. Installed once by a program with a toolkit.
using MessageBoxUi = std::function<std::optional<MsgAnswer>(std::string_view caption, std::string_view text,
                                                            MsgIcon icon, MsgButtons buttons)>;
void SetMessageBoxUi(MessageBoxUi ui);

// For a program that must stay without the toolkit until it shows a box (the
// print agent): installs a dialog that opens the message-box module
// (msgbox_module.h) at the first box shown on a display. The module runs the
// toolkit on a thread of its own, so boxes may come from any thread, several
// at once. Without the module, boxes go to standard error.
void UseMessageBoxModule();

// The form a wait window (a box with one Abort button that stays up while
// work goes on) takes without a display: written to standard error and
// logged like a box ("buttons":"abort"). Answers true, logged as "abort",
// when the scripted answer for it is "abort"; otherwise false, logged as
// "none": the caller waits for its work without a way to abort.
bool HeadlessWaitBox(std::string_view caption, std::string_view text);

// MessageBeep(0xFFFFFFFF): the default beep, a BEL on standard error; with
// VELLUMATE_MSGBOX_LOG set it is logged as the line {"beep":true}.
void MessageBeep();
// True when boxes and other windows may be shown on screen: a display is
// named ($DISPLAY or $WAYLAND_DISPLAY) and VELLUMATE_UI is not "none".
bool HasDisplay();

// Names used in the log and the scripted answers.
const char* MsgIconName(MsgIcon icon);
const char* MsgButtonsName(MsgButtons buttons);
const char* MsgAnswerName(MsgAnswer answer);

// A string as a JSON string literal (quotes included); bytes that are not
// valid UTF-8 become U+FFFD.
std::string JsonQuote(std::string_view s);

}  // namespace platform
