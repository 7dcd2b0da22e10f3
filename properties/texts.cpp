#include "texts.h"

#include "printer/shared/language.h"

#include "platform/profile.h"
#include "platform/text.h"

#include <cstdlib>
#include <string_view>

namespace vmprops {

Texts::Texts(std::string file, std::string language)
    : file_(file.empty() ? vmshared::LanguageFilePath() : std::move(file)), language_(std::move(language)) {}

QString Texts::Text(int id, const QString& builtin) const {
    std::string text = platform::ProfileGetString(file_, language_, std::to_string(id));
    if (text.empty()) text = builtin.toStdString();
    return QString::fromStdString(vmshared::ExpandText(text));
}

std::vector<std::string> Texts::Languages() const {
    std::vector<std::string> out{"English"};
    for (std::string& s : platform::ProfileSections(file_))
        if (!platform::EqualsNoCase(s, "English")) out.push_back(std::move(s));
    return out;
}

std::string Texts::LanguageOfId(int langId) const {
    if (langId == 0) return {};
    for (std::string& s : platform::ProfileSections(file_))
        if (platform::ProfileGetInt(file_, s, "LangID", -1) == langId) return s;
    return {};
}

int UserLanguageId() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = std::getenv(name);
        if (value && *value) break;
    }
    if (!value) return 0;
    std::string_view v(value);
    std::string_view lang = v.substr(0, v.find_first_of("_.@"));
    std::string_view region = v.find('_') == std::string_view::npos ? "" : v.substr(v.find('_') + 1, 2);
    struct Entry {
        const char* lang;
        const char* region;  // "" for any
        int id;
    };
    // The countries' own variants first, then the language's main one.
    static constexpr Entry kIds[] = {
        {"en", "GB", 0x0809}, {"en", "", 0x0409}, {"de", "AT", 0x0C07}, {"de", "CH", 0x0807},
        {"de", "", 0x0407},   {"fr", "CA", 0x0C0C}, {"fr", "BE", 0x080C}, {"fr", "CH", 0x100C},
        {"fr", "", 0x040C},   {"es", "", 0x0C0A}, {"it", "", 0x0410},   {"nl", "", 0x0413},
        {"pt", "BR", 0x0416}, {"pt", "", 0x0816}, {"pl", "", 0x0415},   {"ru", "", 0x0419},
        {"ja", "", 0x0411},   {"zh", "", 0x0804}, {"ko", "", 0x0412},   {"sv", "", 0x041D},
        {"da", "", 0x0406},   {"fi", "", 0x040B}, {"nb", "", 0x0414},   {"cs", "", 0x0405},
        {"hu", "", 0x040E},   {"tr", "", 0x041F},
    };
    for (const Entry& e : kIds)
        if (lang == e.lang && (!*e.region || region == e.region)) return e.id;
    return 0;
}

}  // namespace vmprops
