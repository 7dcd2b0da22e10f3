#include "pdf_settings.h"

#include <array>

#include "strings.h"
#include "system.h"
#include "platform/sysinfo.h"

namespace vellumate {
namespace {

constexpr std::array<CharsetEntry, 19> kCharsets{{
    {"ansi", 7016, 0},         {"default", 7017, 1},      {"symbol", 7018, 2},      {"mac", 7019, 77},
    {"shiftjis", 7020, 128},   {"hangeul", 7021, 129},    {"johab", 7022, 130},     {"gb2312", 7023, 134},
    {"chinesebig5", 7024, 136}, {"greek", 7025, 161},     {"turkish", 7026, 162},   {"vietnamese", 7027, 163},
    {"hebrew", 7028, 177},     {"arabic", 7029, 178},     {"baltic", 7030, 186},    {"russian", 7031, 204},
    {"thai", 7032, 222},       {"easteurope", 7033, 238}, {"oem", 7034, 255},
}};

// Index 6 is the platform's C-size sheet (24), not the C5 envelope (28).
constexpr std::array<PaperEntry, 20> kPapers{{
    {"userdefined", 7040, 9}, {"letter", 7041, 1},    {"a4", 7042, 9},      {"a3", 7043, 8},
    {"legal", 7044, 5},       {"b5", 7045, 13},       {"c5", 7046, 24},     {"8x11", 7047, 18},
    {"b4", 7048, 12},         {"a5", 7049, 11},       {"folio", 7050, 14},  {"executive", 7051, 7},
    {"envb4", 7052, 33},      {"envb5", 7053, 34},    {"envc6", 7054, 31},  {"envdl", 7055, 27},
    {"envmonarch", 7056, 37}, {"env9", 7057, 19},     {"env10", 7058, 20},  {"env11", 7059, 21},
}};

std::string KeyPath(std::string_view subkey) {
    std::string path = ProductKeyPath();
    if (!subkey.empty()) {
        path += '\\';
        path += subkey;
    }
    return path;
}

constexpr char kSettings[] = "Settings";

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// The words of the kChoice switches.
constexpr SettingChoice kCompressions[] = {{"flate", 1}, {"none", 0}};
constexpr SettingChoice kVersions[] = {{"v13", 0}, {"v14", 1}};
constexpr SettingChoice kOrientations[] = {{"portrait", 0}, {"landscape", 1}};
constexpr SettingChoice kWidthAdjustings[] = {{"page", 0}, {"content", 1}, {"none", 2}};
constexpr SettingChoice kPageLayouts[] = {{"single", 0}, {"column", 1}, {"2columnleft", 2}, {"2columnright", 3}};
constexpr SettingChoice kPageModes[] = {{"none", 0}, {"outlines", 1}, {"thumbs", 2}, {"fullscreen", 3}};
constexpr SettingChoice kKeyLengths[] = {{"40", 0}, {"128", 1}};
constexpr SettingChoice kHtmlEngines[] = {{"auto", 0}, {"light", 1}, {"browser", 2}};
constexpr std::span<const SettingChoice> kNoChoices;

#define VM_PDF_SETTING_ROW(type, field, value, stored, switchName, read, choices, protectionOnly, ...) \
    SettingRow{#field, stored, switchName, read, choices, protectionOnly, &PdfSettings::field},
const SettingRow kRows[] = {VM_PDF_SETTINGS(VM_PDF_SETTING_ROW)};
#undef VM_PDF_SETTING_ROW

}  // namespace

std::span<const SettingRow> SettingRows() { return kRows; }

const SettingRow* SettingRowOfSwitch(std::string_view lowerName) {
    for (const SettingRow& row : kRows)
        if (row.switchName && lowerName == row.switchName) return &row;
    return nullptr;
}

std::span<const CharsetEntry> CharsetTable() { return kCharsets; }

const char* HtmlEngineWord(std::int32_t value) { return value == 1 ? "light" : value == 2 ? "browser" : "auto"; }
std::span<const PaperEntry> PaperTable() { return kPapers; }

int CharsetPositionFromCode(std::int32_t code) {
    for (size_t i = 0; i < kCharsets.size(); ++i)
        if (kCharsets[i].code == code) return static_cast<int>(i);
    return 1;
}

std::int32_t CharsetCodeFromPosition(int position) {
    if (position < 0 || position >= static_cast<int>(kCharsets.size())) return 1;
    return kCharsets[static_cast<size_t>(position)].code;
}

std::int32_t PrinterPaperCode(std::int32_t sizeIndex) {
    if (sizeIndex < 1 || sizeIndex >= static_cast<std::int32_t>(kPapers.size())) return 9;
    return kPapers[static_cast<size_t>(sizeIndex)].printerCode;
}

std::string ProductKeyNameFor(std::optional<std::string_view> versionText) {
    std::string version = "Undefined";
    if (versionText) {
        version.assign(*versionText);
        size_t dot = version.rfind('.');
        if (dot != std::string::npos) version.erase(dot);
    }
    return LoadString(IDS_PRODUCT_KEY_NAME) + " " + version;
}

std::string ProductKeyName() {
    const std::string version = platform::ProductVersionString();
    return ProductKeyNameFor(version.empty() ? std::nullopt : std::optional<std::string_view>(version));
}

std::string ProductKeyPath() { return "Software\\Brindlecote\\" + ProductKeyName(); }
std::string SettingsKeyPath() { return KeyPath(kSettings); }

bool ReadRegInt(std::string_view subkey, std::string_view name, std::int32_t* value) {
    std::uint32_t v = 0;
    if (sys::RegQueryDwordLM(KeyPath(subkey), name, &v) != 0) return false;
    *value = static_cast<std::int32_t>(v);
    return true;
}

bool ReadRegBool(std::string_view subkey, std::string_view name, bool* value) {
    std::int32_t v = 0;
    if (!ReadRegInt(subkey, name, &v)) return false;
    *value = v != 0;
    return true;
}

bool ReadRegString(std::string_view subkey, std::string_view name, std::string* value) {
    return sys::RegQueryStringLM(KeyPath(subkey), name, value, 260) == 0;
}

bool WriteRegInt(std::string_view subkey, std::string_view name, std::int32_t value) {
    return sys::RegSetDwordLM(KeyPath(subkey), name, static_cast<std::uint32_t>(value)) == 0;
}

bool WriteRegBool(std::string_view subkey, std::string_view name, bool value) {
    return WriteRegInt(subkey, name, value ? 1 : 0);
}

bool WriteRegString(std::string_view subkey, std::string_view name, std::string_view value) {
    return sys::RegSetStringLM(KeyPath(subkey), name, value) == 0;
}

bool PdfSettings::Load() {
    if (sys::RegCreateKeyLM(SettingsKeyPath(), sys::RegAccess::Query) != 0) return false;
    for (const SettingRow& row : kRows) {
        if (!row.stored) continue;
        std::visit(Overloaded{
                       [&](std::int32_t PdfSettings::*f) { ReadRegInt(kSettings, row.name, &(this->*f)); },
                       [&](bool PdfSettings::*f) { ReadRegBool(kSettings, row.name, &(this->*f)); },
                       [&](std::string PdfSettings::*f) { ReadRegString(kSettings, row.name, &(this->*f)); },
                   },
                   row.field);
    }
    return true;
}

bool PdfSettings::Save() const {
    if (sys::RegCreateKeyLM(SettingsKeyPath(), sys::RegAccess::SetValue) != 0) return false;
    for (const SettingRow& row : kRows) {
        if (!row.stored) continue;
        std::visit(Overloaded{
                       [&](std::int32_t PdfSettings::*f) { WriteRegInt(kSettings, row.name, this->*f); },
                       [&](bool PdfSettings::*f) { WriteRegBool(kSettings, row.name, this->*f); },
                       [&](std::string PdfSettings::*f) { WriteRegString(kSettings, row.name, this->*f); },
                   },
                   row.field);
    }
    return true;
}

}  // namespace vellumate
