#include "switches.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

#include "paths.h"

namespace vellumate {
namespace {

using Choices = std::initializer_list<std::pair<std::string_view, std::int32_t>>;

std::optional<std::int32_t> Pick(std::string_view value, Choices choices) {
    for (const auto& [word, code] : choices)
        if (value == word) return code;
    return std::nullopt;
}

std::optional<bool> YesNo(std::string_view value) {
    if (value == "yes") return true;
    if (value == "no") return false;
    return std::nullopt;
}

// Leading digits as atoi reads them (sign and leading white space allowed);
// out of 0..999, or no digits at all, gives 0. Values that overflow an int
// are out of range as well, so they end as 0 too.
std::int32_t Margin(const std::string& value) {
    errno = 0;
    long long v = std::strtoll(value.c_str(), nullptr, 10);
    if (errno == ERANGE || v < 0 || v > 999) return 0;
    return static_cast<std::int32_t>(v);
}

}  // namespace

int ParseSwitches(const std::vector<std::string>& tokens, std::size_t first, PdfSettings* settings, bool* makeOne) {
    PdfSettings& s = *settings;
    for (std::size_t i = first; i < tokens.size(); i += 2) {
        const std::string name = ToLowerAscii(tokens[i]);
        if (i + 1 >= tokens.size()) return -1;
        std::string value = tokens[i + 1];
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);

        auto setBool = [&](bool& field) {
            auto v = YesNo(value);
            if (!v) return false;
            field = *v;
            return true;
        };
        auto setInt = [&](std::int32_t& field, Choices choices) {
            auto v = Pick(value, choices);
            if (!v) return false;
            field = *v;
            return true;
        };
        const bool protectionOnly = name == "/allowcpy" || name == "/allowmodif" || name == "/allowprn" ||
                                    name == "/ownerpass" || name == "/userpass" || name == "/keylen";
        if (protectionOnly && !s.ProtectionEnabled) continue;

        bool ok = true;
        if (name == "/all2one") ok = setBool(*makeOne);
        else if (name == "/author") s.Author = value;
        else if (name == "/subj") s.Subject = value;
        else if (name == "/title") s.Title = value;
        else if (name == "/keywords") s.Keywords = value;
        else if (name == "/compress") ok = setInt(s.Compression, {{"flate", 1}, {"none", 0}});
        else if (name == "/ver") ok = setInt(s.Version, {{"v13", 0}, {"v14", 1}});
        else if (name == "/charset") {
            ok = false;
            for (const CharsetEntry& e : CharsetTable())
                if (value == e.keyword) {
                    s.Charset = e.code;
                    ok = true;
                }
        } else if (name == "/psize") {
            ok = false;
            std::int32_t index = 0;
            for (const PaperEntry& e : PaperTable()) {
                if (value == e.keyword) {
                    s.Size = index;
                    ok = true;
                }
                ++index;
            }
        } else if (name == "/porient") ok = setInt(s.Orientation, {{"portrait", 0}, {"landscape", 1}});
        else if (name == "/margin-left") s.MarginLeft = Margin(value);
        else if (name == "/margin-right") s.MarginRight = Margin(value);
        else if (name == "/margin-top") s.MarginTop = Margin(value);
        else if (name == "/margin-bottom") s.MarginBottom = Margin(value);
        else if (name == "/widthadj") ok = setInt(s.PageWidthAdjusting, {{"page", 0}, {"content", 1}, {"none", 2}});
        else if (name == "/pagenumbers") ok = setBool(s.PageNumbers);
        else if (name == "/engine") ok = setInt(s.HtmlEngine, {{"auto", 0}, {"light", 1}, {"browser", 2}});
        else if (name == "/forcesizes") ok = setBool(s.ForceSizes);
        else if (name == "/excludeorphanpages") ok = setBool(s.ExcludeOrphanPages);
        else if (name == "/preservelinks") ok = setBool(s.PreserveLinks);
        else if (name == "/centerwnd") ok = setBool(s.CenterWindow);
        else if (name == "/fitwnd") ok = setBool(s.FitWindow);
        else if (name == "/hidemenu") ok = setBool(s.HideMenuBar);
        else if (name == "/hidetoolbar") ok = setBool(s.HideToolBar);
        else if (name == "/hidewui") ok = setBool(s.HideWindowUI);
        else if (name == "/playout")
            ok = setInt(s.PageLayout, {{"single", 0}, {"column", 1}, {"2columnleft", 2}, {"2columnright", 3}});
        else if (name == "/pmode")
            ok = setInt(s.PageMode, {{"none", 0}, {"outlines", 1}, {"thumbs", 2}, {"fullscreen", 3}});
        else if (name == "/protect") ok = setBool(s.ProtectionEnabled);
        else if (name == "/allowcpy") ok = setBool(s.AllowCopy);
        else if (name == "/allowmodif") ok = setBool(s.AllowModify);
        else if (name == "/allowprn") ok = setBool(s.AllowPrint);
        else if (name == "/ownerpass") s.OwnerPassword = value;
        else if (name == "/userpass") s.UserPassword = value;
        else if (name == "/keylen") ok = setInt(s.ProtectionKeyLength, {{"40", 0}, {"128", 1}});
        else if (name == "/embedfonts") ok = setBool(s.EmbedFonts);
        else return -1;
        if (!ok) return -1;
    }
    return 0;
}

}  // namespace vellumate
