// The sheet's own settings in the registry: the proof that the printer was
// installed, the hidden pages, the keep-metafiles switch, the language and
// the page shown last.
#pragma once

#include <string>

namespace vmprops {

class Texts;

struct Prefs {
    int lastViewedPage = 0;
    bool hideLanguage = false, hideEmf = false;
    bool emfEnabled = false;
    std::string language = "English";
};

// Reads the settings for a sheet with language file `languageFile` ("" for
// the one beside the program). False, after the message box that says why,
// when HKLM "Software\Vellumate" is missing or a key cannot be opened.
bool ReadPrefs(const std::string& languageFile, Prefs* prefs);

// Writes one value of HKCU "Software\Vellumate", creating the key; false
// after the error box when it cannot.
bool WriteUserDword(const char* name, unsigned value);
bool WriteUserString(const char* name, const std::string& value);
// The page index, without a box (the sheet is closing).
void WriteLastViewedPage(int index);

inline constexpr char kLastViewedPageValue[] = "Last Viewed Page";
inline constexpr char kHideLanguageValue[] = "LANGUAGE: Hide page";
inline constexpr char kHideEmfValue[] = "EMF: Hide page";

}  // namespace vmprops
