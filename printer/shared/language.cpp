#include "language.h"

#include "names.h"

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace vmshared {

namespace {

constexpr std::size_t kMaxLanguageName = 63;
constexpr std::size_t kMaxText = 1023;

// Cuts UTF-8 text to n characters.
std::string CutCharacters(std::string s, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (count++ == n) {
            s.resize(i);
            break;
        }
    }
    return s;
}

std::string ReadLanguage(platform::HKEY key) {
    std::string value;
    if (platform::RegGetString(key, "", kLanguageValue, &value) != platform::ERROR_SUCCESS) return "English";
    return CutCharacters(value, kMaxLanguageName);
}

}  // namespace

std::string LanguageName() {
    using namespace platform;
    RegKeyHolder user;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, RegistryKey().c_str(), 0, KEY_READ, user.Out()) == ERROR_SUCCESS)
        return ReadLanguage(user.Get());
    RegKeyHolder defaults;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, DefaultsKey().c_str(), 0, KEY_READ, defaults.Out()) == ERROR_SUCCESS)
        return ReadLanguage(defaults.Get());
    return "English";
}

std::string LanguageFilePath() { return platform::ProgramFolder() + "/vmate.lng"; }

std::string ExpandText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.substr(i).starts_with("%PRINTER_NAME%")) {
            out += kPrinterName;
            i += 14;
        } else if (text.substr(i).starts_with("\\n")) {
            out += '\n';
            i += 2;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string LocalText(unsigned code, std::string_view builtin, const std::string& file) {
    std::string path = file.empty() ? LanguageFilePath() : file;
    std::string text = CutCharacters(platform::ProfileGetString(path, LanguageName(), std::to_string(code)), kMaxText);
    return ExpandText(text.empty() ? builtin : text);
}

}  // namespace vmshared
