// PdfSettings: everything that shapes an output PDF document, with its
// built-in defaults, its keyword tables and its place in the registry.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace vellumate {

// ---- The settings table ---------------------------------------------------------------
// One row a setting, and the only list of them: the fields of PdfSettings,
// the registry values of the Settings key (Load and Save visit the stored
// rows in this order, which is the order of the values in the key), the
// command-line switches (ParseSwitches) and the calls that hand a setting to
// the PDF document or the add-on (ApplySettings, frame.cpp, in this order).
// A new setting is one row.
//
//   X(type, field, default, stored, "/switch" or nullptr, how the switch's
//     value is read (SwitchValue), its words (for kChoice, pdf_settings.cpp),
//     protection only (the switch is skipped while ProtectionEnabled is false),
//     the call that applies it (statements over `s`, `pdf` and `addon`;
//     an empty statement when page generation or the printer reads it))
#define VM_PDF_SETTINGS(X)                                                                                        \
    /* 0 none, 1 Flate */                                                                                         \
    X(std::int32_t, Compression, 0, true, "/compress", kChoice, kCompressions, false,                            \
      PdfCheck(pdf->put_Compression(s.Compression)))                                                              \
    X(std::int32_t, JPEGQuality, 79, true, nullptr, kNoSwitch, kNoChoices, false,                                 \
      PdfCheck(pdf->put_JpegQuality(s.JPEGQuality)))                                                               \
    /* 0 PDF 1.3, 1 PDF 1.4 */                                                                                    \
    X(std::int32_t, Version, 1, true, "/ver", kChoice, kVersions, false, PdfCheck(pdf->put_PdfVersion(s.Version))) \
    /* character-set code (CharsetTable) */                                                                       \
    X(std::int32_t, Charset, 1, true, "/charset", kCharset, kNoChoices, false, )                                   \
    X(std::string, Author, "", false, "/author", kText, kNoChoices, false,                                        \
      PdfCheck(pdf->put_Author(Bstr(s.Author).Get())))                                                             \
    X(std::string, Subject, "", false, "/subj", kText, kNoChoices, false,                                         \
      PdfCheck(pdf->put_Subject(Bstr(s.Subject).Get())))                                                           \
    X(std::string, Title, "", false, "/title", kText, kNoChoices, false,                                          \
      PdfCheck(pdf->put_Title(Bstr(s.Title).Get())))                                                               \
    X(std::string, Keywords, "", false, "/keywords", kText, kNoChoices, false,                                    \
      PdfCheck(pdf->put_Keywords(Bstr(s.Keywords).Get())))                                                         \
    /* 0 single, 1 one column, 2 two columns left, 3 right */                                                     \
    X(std::int32_t, PageLayout, 1, true, "/playout", kChoice, kPageLayouts, false,                                \
      PdfCheck(pdf->put_PageLayout(s.PageLayout)))                                                                 \
    /* 0 none, 1 outlines, 2 thumbnails, 3 full screen */                                                         \
    X(std::int32_t, PageMode, 0, true, "/pmode", kChoice, kPageModes, false, PdfCheck(pdf->put_PageMode(s.PageMode))) \
    /* 0 portrait, 1 landscape */                                                                                 \
    X(std::int32_t, Orientation, 0, true, "/porient", kChoice, kOrientations, false,                              \
      PdfCheck(pdf->put_Orientation(s.Orientation)))                                                               \
    /* paper-size index (PaperTable), 2 = A4 */                                                                   \
    X(std::int32_t, Size, 2, true, "/psize", kPaper, kNoChoices, false, PdfCheck(pdf->put_PaperSize(s.Size)))      \
    /* 0 page to content, 1 content to page, 2 none */                                                            \
    X(std::int32_t, PageWidthAdjusting, 1, true, "/widthadj", kChoice, kWidthAdjustings, false,                   \
      AddonCheck(addon->put_AutoAdjustPageWidth(VBool(s.PageWidthAdjusting == 0)));                                \
      AddonCheck(addon->put_AutoAdjustContentWidth(VBool(s.PageWidthAdjusting == 1))))                             \
    X(bool, ProtectionEnabled, false, true, "/protect", kYesNo, kNoChoices, false,                                \
      if (s.ProtectionEnabled) PdfCheck(pdf->put_Encrypt(com::VARIANT_TRUE)))                                      \
    X(std::string, UserPassword, "", false, "/userpass", kText, kNoChoices, true,                                 \
      if (s.ProtectionEnabled) PdfCheck(pdf->put_UserPassword(Bstr(s.UserPassword).Get())))                        \
    X(std::string, OwnerPassword, "", false, "/ownerpass", kText, kNoChoices, true,                               \
      if (s.ProtectionEnabled) PdfCheck(pdf->put_OwnerPassword(Bstr(s.OwnerPassword).Get())))                      \
    /* 0 40-bit, 1 128-bit */                                                                                     \
    X(std::int32_t, ProtectionKeyLength, 0, true, "/keylen", kChoice, kKeyLengths, true,                          \
      if (s.ProtectionEnabled) PdfCheck(pdf->put_KeyLength(s.ProtectionKeyLength)))                                \
    /* in page units; the add-on's bottom margin also holds the page number */                                    \
    X(std::int32_t, MarginLeft, 10, true, "/margin-left", kMargin, kNoChoices, false,                             \
      AddonCheck(addon->put_MarginLeft(s.MarginLeft)))                                                             \
    X(std::int32_t, MarginRight, 10, true, "/margin-right", kMargin, kNoChoices, false,                           \
      AddonCheck(addon->put_MarginRight(s.MarginRight)))                                                           \
    X(std::int32_t, MarginTop, 10, true, "/margin-top", kMargin, kNoChoices, false,                               \
      AddonCheck(addon->put_MarginTop(s.MarginTop)))                                                               \
    X(std::int32_t, MarginBottom, 10, true, "/margin-bottom", kMargin, kNoChoices, false,                         \
      AddonCheck(addon->put_MarginBottom(s.MarginBottom + (s.PageNumbers ? kPageNumberBand : 0))))                 \
    X(bool, AllowCopy, true, true, "/allowcpy", kYesNo, kNoChoices, true,                                         \
      if (s.ProtectionEnabled) PdfCheck(pdf->put_AllowCopy(VBool(s.AllowCopy))))                                   \
    X(bool, AllowModify, true, true, "/allowmodif", kYesNo, kNoChoices, true,                                     \
      if (s.ProtectionEnabled) PdfCheck(pdf->put_AllowModify(VBool(s.AllowModify))))                               \
    X(bool, AllowPrint, true, true, "/allowprn", kYesNo, kNoChoices, true,                                        \
      if (s.ProtectionEnabled) PdfCheck(pdf->put_AllowPrint(VBool(s.AllowPrint))))                                 \
    X(bool, CenterWindow, false, true, "/centerwnd", kYesNo, kNoChoices, false,                                   \
      PdfCheck(pdf->put_CenterWindow(VBool(s.CenterWindow))))                                                      \
    X(bool, FitWindow, false, true, "/fitwnd", kYesNo, kNoChoices, false,                                         \
      PdfCheck(pdf->put_FitWindow(VBool(s.FitWindow))))                                                            \
    X(bool, HideMenuBar, false, true, "/hidemenu", kYesNo, kNoChoices, false,                                     \
      PdfCheck(pdf->put_HideMenuBar(VBool(s.HideMenuBar))))                                                        \
    X(bool, HideToolBar, false, true, "/hidetoolbar", kYesNo, kNoChoices, false,                                  \
      PdfCheck(pdf->put_HideToolBar(VBool(s.HideToolBar))))                                                        \
    X(bool, HideWindowUI, false, true, "/hidewui", kYesNo, kNoChoices, false,                                     \
      PdfCheck(pdf->put_HideWindowUI(VBool(s.HideWindowUI))))                                                      \
    /* page generation collects the links itself; the add-on is told not to */                                    \
    X(bool, PreserveLinks, true, true, "/preservelinks", kYesNo, kNoChoices, false,                               \
      AddonCheck(addon->put_PreserveLinks(com::VARIANT_FALSE)))                                                    \
    X(bool, ExcludeOrphanPages, false, true, "/excludeorphanpages", kYesNo, kNoChoices, false, )                   \
    X(bool, ForceSizes, false, true, "/forcesizes", kYesNo, kNoChoices, false, )                                   \
    X(bool, PageNumbers, false, true, "/pagenumbers", kYesNo, kNoChoices, false, )                                 \
    X(bool, EmbedFonts, true, true, "/embedfonts", kYesNo, kNoChoices, false,                                     \
      PdfCheck(pdf->put_FontEmbedding(s.EmbedFonts ? 2 : 3)))                                                      \
    /* 0 auto, 1 light, 2 browser: the word StartHTMLEngine gets (HtmlEngineWord) */                             \
    X(std::int32_t, HtmlEngine, 0, true, "/engine", kChoice, kHtmlEngines, false, )

// How a switch's value is read into its field.
enum SwitchValue {
    kNoSwitch,
    kText,     // as given
    kYesNo,    // "yes" or "no"
    kChoice,   // one of the row's words
    kMargin,   // a number 0..999 read as atoi reads it; anything else is 0
    kCharset,  // a keyword of CharsetTable
    kPaper,    // a keyword of PaperTable, stored as its index
};

struct PdfSettings {
#define VM_PDF_SETTING_FIELD(type, field, value, ...) type field = value;
    VM_PDF_SETTINGS(VM_PDF_SETTING_FIELD)
#undef VM_PDF_SETTING_FIELD

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

// A row of the settings table as data, for the code that walks every setting.
struct SettingChoice {
    const char* word;
    std::int32_t code;
};
struct SettingRow {
    const char* name;        // the field's and the registry value's name
    bool stored;             // kept in the Settings key
    const char* switchName;  // nullptr: no switch
    SwitchValue value;
    std::span<const SettingChoice> choices;
    bool protectionOnly;
    std::variant<std::int32_t PdfSettings::*, bool PdfSettings::*, std::string PdfSettings::*> field;
};
// Every row, in the table's order.
std::span<const SettingRow> SettingRows();
// The row of a switch name in lower case; nullptr when none has it.
const SettingRow* SettingRowOfSwitch(std::string_view lowerName);

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

// The add-on's word for an HtmlEngine value ("auto" for unknown values).
const char* HtmlEngineWord(std::int32_t value);
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
