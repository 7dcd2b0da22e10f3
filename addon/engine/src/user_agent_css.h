#pragma once

namespace htmlengine {
// The default style sheet every document starts from.
const char* UserAgentStyleSheet();
}  // namespace htmlengine
