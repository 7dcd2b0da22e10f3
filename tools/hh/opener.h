// Hands a file or URL to the desktop's opener: $VELLUMATE_OPEN when set (tests
// use it), else xdg-open.
#pragma once

#include <string>

namespace hh {

// Starts the opener with `target` as its one argument and waits for it; true
// when it ran and exited with status 0.
bool OpenWithDesktop(const std::string& target, std::string* error);

}  // namespace hh
