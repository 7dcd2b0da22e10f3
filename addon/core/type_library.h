// The type library "TessalineAddOn" 1.0 as text: the two dual interfaces with
// their members in slot order and dispatch identifiers, and the two classes.
#pragma once

#include <string>

namespace tessaline {

constexpr char kTypeLibHelpString[] = "Tessaline Add-on for Corvanth library";

std::string TypeLibraryText();

}  // namespace tessaline
