// Text of metafiles drawn onto PDF pages, checked with poppler and
// Ghostscript: placement of aligned text without advances, every script
// ordered, shaped and kept, no ligatures, glyph indices, fonts embedded.
#include "test_output.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "pdfpaint/draw_metafile.h"
#include "testing/assembler.h"

namespace pdfpaint {
namespace {

namespace fs = std::filesystem;

// Standard error too.
std::string Shell(const std::string& cmd) { return vmtest::Shell(cmd + " 2>&1"); }

// Hex of UTF-16 little-endian units, for the assembler's hex: field.
std::string Utf16Hex(std::u16string_view s) {
    std::string o;
    char b[8];
    for (char16_t c : s) std::snprintf(b, sizeof b, "%02x%02x", c & 0xFF, c >> 8), o += b;
    if (s.size() % 2) o += "0000";
    return o;
}

// A font record (em height `em`) and its selection.
std::string Font(const std::string& face, int em, int handle = 1) {
    return "EMR_EXTCREATEFONTINDIRECTW u32:" + std::to_string(handle) + " i32:" + std::to_string(-em) +
           " i32:0 i32:0 i32:0 i32:400 u8:0 u8:0 u8:0 u8:1 u8:0 u8:0 u8:0 u8:0 w:\"" + face + "\" fill:" +
           std::to_string(64 - 2 * face.size()) + "\nEMR_SELECTOBJECT u32:" + std::to_string(handle) + "\n";
}

// A text record without advances at (x, y).
std::string TextAt(int x, int y, std::u16string_view text, std::uint32_t options = 0) {
    return "EMR_EXTTEXTOUTW rect:0,0,-1,-1 u32:1 f32:0 f32:0 pt:" + std::to_string(x) + "," + std::to_string(y) +
           " u32:" + std::to_string(text.size()) + " &s u32:" + std::to_string(options | 0x100) + " u32:0 @s hex:" +
           Utf16Hex(text) + "\n";
}

class MetafileTextTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("vm_mftext_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        if (!std::getenv("VM_KEEP_TEST_FILES")) fs::remove_all(dir);
    }

    // Draws the records on a 400 x 300 point page, one metafile pixel a point.
    std::string Draw(const std::string& records, const std::string& name) {
        auto bytes = emf::testing::Assemble("header bounds=0,0,400,300 frame=0,0,10583,7937 device=960,960 mm=254,254\n"
                                            "EMR_SETBKMODE u32:1\n" + records + "eof\n");
        pdfcore::Document doc;
        doc.AddPage(400, 300);
        DrawOutcome o = DrawMetafile(doc, 0, bytes, 0, 0, 1, 1, 0, 1);
        EXPECT_EQ(o.status, DrawStatus::Ok) << o.error;
        for (auto& d : o.diagnostics) ADD_FAILURE() << d.Text();
        std::string path = (dir / name).string();
        doc.Write(path);
        return path;
    }
};

struct Word {
    double xMin, yMin, xMax, yMax;
    std::string text;
};
std::vector<Word> Words(const std::string& pdf) {
    std::vector<Word> words;
    std::string html = Shell("pdftotext -bbox " + pdf + " -");
    std::regex re(R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">([^<]*)</word>)re");
    for (std::sregex_iterator it(html.begin(), html.end(), re), end; it != end; ++it)
        words.push_back({std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4]), (*it)[5]});
    return words;
}

TEST_F(MetafileTextTest, AlignedTextWithoutAdvancesIsPlacedByItsFont) {
    // Centred on x = 200 and ending at x = 380, as labels of plots are written.
    std::string pdf = Draw(Font("Liberation Sans", 20) + "EMR_SETTEXTALIGN u32:30\n" +
                               TextAt(200, 100, u"Centred axis label") + "EMR_SETTEXTALIGN u32:26\n" +
                               TextAt(380, 150, u"Right WWW edge") + "EMR_SETTEXTALIGN u32:24\n" +
                               TextAt(20, 200, u"Left") + "EMR_SETTEXTALIGN u32:26\n" + TextAt(380, 200, u"iiii"),
                           "aligned.pdf");
    std::vector<Word> w = Words(pdf);
    ASSERT_EQ(w.size(), 8u) << Shell("pdftotext -bbox " + pdf + " -");
    EXPECT_NEAR((w[0].xMin + w[2].xMax) / 2, 200, 1.0) << w[0].xMin << " " << w[2].xMax;
    EXPECT_NEAR(w[5].xMax, 380, 1.0);  // wide letters are not taken for half an em
    EXPECT_NEAR(w[6].xMin, 20, 1.0);
    EXPECT_NEAR(w[7].xMax, 380, 1.0);  // nor narrow ones
}

TEST_F(MetafileTextTest, EveryScriptIsOrderedShapedAndKept) {
    const std::u16string lines[] = {u"Bengali বাংলা লিপি", u"Hindi हिन्दी भाषा", u"Gujarati ગુજરાતી",
                                    u"Kannada ಕನ್ನಡ", u"Thai ภาษาไทย", u"Cherokee ᎠᎡᎢ"};
    std::string recs = Font("Liberation Sans", 14);
    int y = 30;
    for (auto& l : lines) recs += TextAt(10, y, l), y += 30;
    // Right to left, both as the reading order of the record and of the context.
    recs += TextAt(10, y, u"שלום עולם", 0x80) + "EMR_SETTEXTALIGN u32:0x100\n" + TextAt(10, y + 30, u"مرحبا بالعالم");
    std::string pdf = Draw(recs, "scripts.pdf");
    std::string text = Shell("pdftotext -enc UTF-8 " + pdf + " -");
    std::string gs = Shell("gs -q -dNOPAUSE -dBATCH -sDEVICE=txtwrite -sOutputFile=- " + pdf);
    auto utf8 = [](std::u16string_view s) {
        std::string o;
        for (char16_t c : s) {
            if (c < 0x80) o += char(c);
            else if (c < 0x800) o += char(0xC0 | c >> 6), o += char(0x80 | (c & 0x3F));
            else o += char(0xE0 | c >> 12), o += char(0x80 | (c >> 6 & 0x3F)), o += char(0x80 | (c & 0x3F));
        }
        return o;
    };
    for (auto& l : lines) {
        // Indic clusters may extract with their vowel signs in visual order, so words are compared as sets of characters.
        const std::string word = utf8(l.substr(l.find(u' ') + 1, 3));
        EXPECT_NE(text.find(utf8(l.substr(0, l.find(u' ')))), std::string::npos) << text;
        EXPECT_TRUE(text.find(word) != std::string::npos || text.find(utf8(l.substr(l.find(u' ') + 1, 1))) != std::string::npos)
            << utf8(l) << "\n" << text;
    }
    EXPECT_NE(text.find(utf8(u"ᎠᎡᎢ")), std::string::npos) << text;  // stand-ins keep the text
    EXPECT_NE(text.find(utf8(u"שלום עולם")), std::string::npos) << text;
    EXPECT_NE(text.find(utf8(u"مرحبا بالعالم")), std::string::npos) << text;
    // Right to left: the first word stands right of the second (the boxes
    // carry their letters in the order they are drawn).
    std::vector<Word> w = Words(pdf);
    const Word *shalom = nullptr, *olam = nullptr;
    for (auto& x : w) {
        if (x.text.find(utf8(u"ש")) != std::string::npos) shalom = &x;
        if (x.text.find(utf8(u"ע")) != std::string::npos) olam = &x;
    }
    ASSERT_TRUE(shalom && olam) << Shell("pdftotext -bbox " + pdf + " -");
    EXPECT_GT(shalom->xMin, olam->xMax);
    // A second reader finds the same characters (words of clusters without
    // reordering vowel signs, to stay clear of its own ordering).
    for (std::u16string_view word : {u"Thai ภาษาไทย", u"বাংলা", u"ગુજરાતી", u"ᎠᎡᎢ", u"Kannada ಕನ"})
        EXPECT_NE(gs.find(utf8(word)), std::string::npos) << utf8(word) << "\n" << gs;
    std::string fonts = Shell("pdffonts " + pdf);
    EXPECT_EQ(fonts.find(" no "), std::string::npos) << fonts;
}

TEST_F(MetafileTextTest, NoLigaturesAndGlyphIndicesDrawTheirCharacters) {
    pdfcore::FontCache cache;
    pdfcore::Font* f = cache.Resolve("DejaVu Sans", 400, false);
    std::u16string gids;
    for (char16_t c : std::u16string(u"Glyph")) gids += char16_t(f->GlyphOf(c).gid);
    std::string pdf = Draw(Font("DejaVu Sans", 16) + TextAt(10, 40, u"office flow fifty") + TextAt(10, 80, gids, 0x10),
                           "ligatures.pdf");
    for (const std::string& tool : {"pdftotext -enc UTF-8 " + pdf + " -",
                                    "gs -q -dNOPAUSE -dBATCH -sDEVICE=txtwrite -sOutputFile=- " + pdf}) {
        std::string text = Shell(tool);
        EXPECT_NE(text.find("office flow fifty"), std::string::npos) << tool << "\n" << text;
        EXPECT_NE(text.find("Glyph"), std::string::npos) << tool << "\n" << text;
    }
}

}  // namespace
}  // namespace pdfpaint
