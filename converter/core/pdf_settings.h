// PdfSettings: everything that shapes an output PDF document, with its
// built-in defaults, its keyword tables and its place in the registry.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vellumate {

struct PdfSettings {
    std::int32_t Compression = 0;  // 0 none, 1 Flate
    std::int32_t JPEGQuality = 79;
    std::int32_t Version = 1;      // 0 PDF 1.3, 1 PDF 1.4
    std::int32_t Charset = 1;      // character-set code (CharsetTable)
    std::string Author;
    std::string Subject;
    std::string Title;
    std::string Keywords;
    std::int32_t PageLayout = 1;   // 0 single, 1 one column, 2 two columns left, 3 right
    std::int32_t PageMode = 0;     // 0 none, 1 outlines, 2 thumbnails, 3 full screen
    std::int32_t Orientation = 0;  // 0 portrait, 1 landscape
    std::int32_t Size = 2;         // paper-size index (PaperTable), 2 = A4
    std::int32_t PageWidthAdjusting = 1;  // 0 page to content, 1 content to page, 2 none
    std::int32_t HtmlEngine = 0;          // 0 auto, 1 light, 2 browser (HtmlEngineWord)
    bool EmbedFonts = true;
    bool ProtectionEnabled = false;
    std::int32_t ProtectionKeyLength = 0;  // 0 40-bit, 1 128-bit
    std::string UserPassword;
    std::string OwnerPassword;
    bool AllowCopy = true;
    bool AllowModify = true;
    bool AllowPrint = true;
    bool CenterWindow = false;
    bool FitWindow = false;
    bool HideMenuBar = false;
    bool HideToolBar = false;
    bool HideWindowUI = false;
    bool PreserveLinks = true;
    bool ExcludeOrphanPages = false;
    bool ForceSizes = false;
    bool PageNumbers = false;
    std::int32_t MarginLeft = 10;
    std::int32_t MarginRight = 10;
    std::int32_t MarginTop = 10;
    std::int32_t MarginBottom = 10;

    // Back to the built-in defaults (text fields empty).
    void SetDefaults() { *this = PdfSettings{}; }

    // Reads every stored field from the Settings key. False, with nothing
    // changed, when the key cannot be opened; a value that cannot be read
    // keeps its field. Values are taken as stored (no range checks).
    bool Load();
    // Writes every stored field (booleans as 0/1). False when the key cannot
    // be opened for writing; nothing is written then.
    bool Save() const;
};

// The add-on's word for an HtmlEngine value ("auto" for unknown values).
const char* HtmlEngineWord(std::int32_t value);

// ---- Keyword tables ---------------------------------------------------------

struct CharsetEntry {
    const char* keyword;  // of "/charset"
    int labelId;          // string id of the dialog's label
    std::int32_t code;    // font character-set code
};
struct PaperEntry {
    const char* keyword;  // of "/psize"
    int labelId;
    std::int32_t printerCode;  // DEVMODE paper code for printing with ForceSizes
};

std::span<const CharsetEntry> CharsetTable();  // 19 entries, list order
std::span<const PaperEntry> PaperTable();      // 20 entries, by size index

// List position <-> character-set code. Unknown codes show as position 1
// ("Default"); position 1 or an unknown position gives code 1.
int CharsetPositionFromCode(std::int32_t code);
std::int32_t CharsetCodeFromPosition(int position);
// Printer paper code of a size index; indexes outside 1..19 give 9.
std::int32_t PrinterPaperCode(std::int32_t sizeIndex);

// ---- Registry layout --------------------------------------------------------

// The product key name: string 128, a blank and the program's version as
// major.minor. `versionText` is the "%d.%d.%d" form of the file version, or
// nullopt when it cannot be read ("Undefined" is used whole then).
std::string ProductKeyNameFor(std::optional<std::string_view> versionText);
std::string ProductKeyName();  // of this build
// "Software\Brindlecote\<product key name>" and its "Settings" subkey (HKLM).
std::string ProductKeyPath();
std::string SettingsKeyPath();

// One value of the product key (subkey empty) or of one of its subkeys
// ("Settings" for the fields); each opens and closes the key around the value.
bool ReadRegInt(std::string_view subkey, std::string_view name, std::int32_t* value);
bool ReadRegBool(std::string_view subkey, std::string_view name, bool* value);
bool ReadRegString(std::string_view subkey, std::string_view name, std::string* value);  // up to 259 chars
bool WriteRegInt(std::string_view subkey, std::string_view name, std::int32_t value);
bool WriteRegBool(std::string_view subkey, std::string_view name, bool value);
bool WriteRegString(std::string_view subkey, std::string_view name, std::string_view value);

}  // namespace vellumate
