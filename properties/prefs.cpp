#include "prefs.h"

#include "error_box.h"
#include "texts.h"

#include "printer/shared/language.h"
#include "printer/shared/names.h"

#include "platform/msgbox.h"
#include "platform/registry.h"

namespace vmprops {

namespace {

using namespace platform;

// Opens `path` under `root` for reading: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND
// or another error.
LSTATUS OpenForReading(HKEY root, const std::string& path, RegKeyHolder* key) {
    return RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, key->Out());
}

bool ReadDword(const RegKeyHolder& key, const char* name, DWORD* out) {
    return key.Get() && RegGetDword(key.Get(), "", name, out) == ERROR_SUCCESS;
}

bool ReadString(const RegKeyHolder& key, const char* name, std::string* out) {
    return key.Get() && RegGetString(key.Get(), "", name, out) == ERROR_SUCCESS && !out->empty();
}

}  // namespace

bool ReadPrefs(const std::string& languageFile, Prefs* prefs) {
    const std::string product = vmshared::kProduct;
    RegKeyHolder machine, defaults, user;
    LSTATUS st = OpenForReading(HKEY_LOCAL_MACHINE, vmshared::RegistryKey(), &machine);
    if (st == ERROR_FILE_NOT_FOUND) {
        platform::MessageBox(Caption(), vmshared::LocalText(111,
                                 "The %PRINTER_NAME% printer has not been properly configured. Please re-install "
                                 "the %PRINTER_NAME% software.",
                                 languageFile));
        return false;
    }
    if (st != ERROR_SUCCESS) {
        ErrorBox("Failed to open registry key\nHKLM\\Software\\" + product, st);
        return false;
    }
    st = OpenForReading(HKEY_LOCAL_MACHINE, vmshared::DefaultsKey(), &defaults);
    if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) {
        ErrorBox("Failed to open registry key\nHKLM\\Software\\" + product + "\\Defaults", st);
        return false;
    }
    st = OpenForReading(HKEY_CURRENT_USER, vmshared::RegistryKey(), &user);
    if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) {
        ErrorBox("Failed to open registry key\nHKCU\\Software\\" + product, st);
        return false;
    }

    DWORD v = 0;
    prefs->lastViewedPage = ReadDword(user, kLastViewedPageValue, &v) ? static_cast<int>(v) : 0;
    prefs->hideLanguage = ReadDword(machine, kHideLanguageValue, &v) && v != 0;

    Texts texts(languageFile, "");
    std::string language;
    if (!ReadString(user, vmshared::kLanguageValue, &language) &&
        !ReadString(defaults, vmshared::kLanguageValue, &language))
        language = texts.LanguageOfId(UserLanguageId());
    prefs->language = language.empty() ? "English" : language.substr(0, 260);

    prefs->hideEmf = ReadDword(machine, kHideEmfValue, &v) && v != 0;
    prefs->emfEnabled = (ReadDword(user, vmshared::kEmfEnabledValue, &v) ||
                         ReadDword(defaults, vmshared::kEmfEnabledValue, &v)) &&
                        v != 0;
    return true;
}

namespace {

bool WriteUser(const char* name, DWORD type, const void* data, std::size_t size) {
    RegKeyHolder key;
    LSTATUS st = RegCreateKeyEx(HKEY_CURRENT_USER, vmshared::RegistryKey().c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, key.Out(), nullptr);
    if (st == ERROR_SUCCESS)
        st = RegSetValueEx(key.Get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    if (st == ERROR_SUCCESS) return true;
    ErrorBox(std::string("Failed to create/open registry key\nHKCU\\Software\\") + vmshared::kProduct, st);
    return false;
}

}  // namespace

bool WriteUserDword(const char* name, unsigned value) {
    DWORD v = value;
    return WriteUser(name, REG_DWORD, &v, sizeof v);
}

bool WriteUserString(const char* name, const std::string& value) {
    // with its terminating zero
    return WriteUser(name, REG_SZ, value.c_str(), value.size() + 1);
}

void WriteLastViewedPage(int index) {
    RegSetDword(HKEY_CURRENT_USER, vmshared::RegistryKey(), kLastViewedPageValue, static_cast<DWORD>(index));
}

}  // namespace vmprops
