// The sheet's message boxes: captioned "Vellumate properties", an OK button
// and no icon.
#pragma once

#include <string>

namespace vmprops {

// "Vellumate properties".
std::string Caption();
// "<message>\nError # <code>: <the system's text>" with `code`, else the
// thread's last error; no box at all when that is 0 too.
void ErrorBox(const std::string& message, unsigned long code = 0);

}  // namespace vmprops
