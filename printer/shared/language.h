// The language file "vmate.lng" beside the programs: a profile file whose
// sections are language names and whose keys are message codes in decimal.
#pragma once

#include <string>
#include <string_view>

namespace vmshared {

// HKCU "Software\Vellumate" "Language" when that key opens (a missing
// value gives "English"), else HKLM "Software\Vellumate\Defaults"
// "Language", else "English".
std::string LanguageName();

// "<program folder>/vmate.lng".
std::string LanguageFilePath();

// The text for a code in the chosen language (at most 1023 characters), or
// `builtin` when the file, section or key is missing or the text is empty;
// then every "%PRINTER_NAME%" becomes "Vellumate" and every backslash-n a
// line break. `file` "" means LanguageFilePath().
std::string LocalText(unsigned code, std::string_view builtin, const std::string& file = {});

std::string ExpandText(std::string_view text);

}  // namespace vmshared
