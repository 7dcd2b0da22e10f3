#include "switches.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "paths.h"

namespace vellumate {
namespace {

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

// Reads `value` into the row's field as the row says; false when the value
// is not one the switch takes.
bool Read(const SettingRow& row, const std::string& value, PdfSettings& s) {
    switch (row.value) {
    case kText: s.*std::get<std::string PdfSettings::*>(row.field) = value; return true;
    case kYesNo: {
        const std::optional<bool> v = YesNo(value);
        if (v) s.*std::get<bool PdfSettings::*>(row.field) = *v;
        return v.has_value();
    }
    case kChoice:
        for (const SettingChoice& c : row.choices)
            if (value == c.word) {
                s.*std::get<std::int32_t PdfSettings::*>(row.field) = c.code;
                return true;
            }
        return false;
    case kMargin: s.*std::get<std::int32_t PdfSettings::*>(row.field) = Margin(value); return true;
    case kCharset:
        for (const CharsetEntry& e : CharsetTable())
            if (value == e.keyword) {
                s.*std::get<std::int32_t PdfSettings::*>(row.field) = e.code;
                return true;
            }
        return false;
    case kPaper: {
        std::int32_t index = 0;
        for (const PaperEntry& e : PaperTable()) {
            if (value == e.keyword) {
                s.*std::get<std::int32_t PdfSettings::*>(row.field) = index;
                return true;
            }
            ++index;
        }
        return false;
    }
    case kNoSwitch: break;
    }
    return false;
}

}  // namespace

int ParseSwitches(const std::vector<std::string>& tokens, std::size_t first, PdfSettings* settings, bool* makeOne) {
    PdfSettings& s = *settings;
    for (std::size_t i = first; i < tokens.size(); i += 2) {
        const std::string name = ToLowerAscii(tokens[i]);
        if (i + 1 >= tokens.size()) return -1;
        std::string value = tokens[i + 1];
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);

        // Not a document setting: the run's mode.
        if (name == "/all2one") {
            const std::optional<bool> v = YesNo(value);
            if (!v) return -1;
            *makeOne = *v;
            continue;
        }
        const SettingRow* row = SettingRowOfSwitch(name);
        if (!row) return -1;
        if (row->protectionOnly && !s.ProtectionEnabled) continue;
        if (!Read(*row, value, s)) return -1;
    }
    return 0;
}

}  // namespace vellumate
