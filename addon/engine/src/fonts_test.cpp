// Font runs name their face as fontconfig's own query of the file does, for
// the matched font and for per-character fallbacks alike.
#include "fonts.h"

#include <fontconfig/fontconfig.h>
#include <fontconfig/fcfreetype.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace htmlengine {
namespace {

// What fontconfig answers for one character: the font file that has it and
// that file's first family name as a query of the file gives it.
std::string QueriedFamilyFor(const char* family, char32_t c) {
    FcPattern* p = FcPatternCreate();
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcCharSet* cs = FcCharSetCreate();
    FcCharSetAddChar(cs, c);
    FcPatternAddCharSet(p, FC_CHARSET, cs);
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult res;
    FcPattern* m = FcFontMatch(nullptr, p, &res);
    std::string out;
    FcChar8* file = nullptr;
    int index = 0;
    if (m && FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(m, FC_INDEX, 0, &index);
        int count = 0;
        if (FcPattern* q = FcFreeTypeQuery(file, index, nullptr, &count)) {
            FcChar8* fam = nullptr;
            if (FcPatternGetString(q, FC_FAMILY, 0, &fam) == FcResultMatch) out = reinterpret_cast<char*>(fam);
            FcPatternDestroy(q);
        }
    }
    if (m) FcPatternDestroy(m);
    FcCharSetDestroy(cs);
    FcPatternDestroy(p);
    return out;
}

TEST(Fonts, RunsNameTheirFaceAsAQueryOfTheFileDoes) {
    FontManager fonts;
    Font* font = fonts.Create("sans-serif", 16, 400, false, 0);
    auto latin = fonts.Shape(*font, "Abc");
    ASSERT_EQ(latin.size(), 1u);
    EXPECT_EQ(latin[0].family, QueriedFamilyFor("sans-serif", U'A'));

    auto runs = fonts.Shape(*font, "a\xE4\xB8\xAD");  // a, then a CJK character from a fallback
    ASSERT_FALSE(runs.empty());
    const std::string cjk = QueriedFamilyFor("sans-serif", U'\u4E2D');
    if (runs.size() < 2 || cjk.empty()) GTEST_SKIP() << "no font with CJK characters installed";
    EXPECT_EQ(runs.back().family, cjk);
    fonts.Release(font);
}

std::string Describe(const std::vector<ShapedRun>& runs) {
    std::string out;
    for (const auto& r : runs) {
        out += r.family + (r.syntheticBold ? " b" : "") + (r.syntheticItalic ? " i" : "") + ":";
        for (char16_t c : r.text) out += std::to_string(c) + ",";
        for (double a : r.advances) out += std::to_string(a) + ",";
        out += std::to_string(r.width) + ";";
    }
    return out;
}

// Shaped text is kept across the fonts of a manager: what a font gets must be
// what a new manager shapes for the same request, size and text, whatever
// other fonts and texts came before (fallback faces opened, other sizes).
TEST(Fonts, ShapingDependsOnlyOnRequestSizeAndText) {
    const char* texts[] = {"Hello", "a\xE4\xB8\xAD b", "\xCE\xA9mega", "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85",
                           "x\xF0\x9F\x98\x80y", "Hello ", " ", "fi fl"};
    struct Req {
        const char* family;
        int size, weight;
        bool italic;
    } reqs[] = {{"sans-serif", 16, 400, false}, {"sans-serif", 32, 400, false}, {"serif", 16, 700, false},
                {"monospace", 16, 400, true}, {"Verdana, sans-serif", 16, 400, false}};
    FontManager shared;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& q : reqs) {
            Font* font = shared.Create(q.family, q.size, q.weight, q.italic, 0);
            for (std::size_t k = 0; k < std::size(texts); ++k) {
                const char* text = texts[pass == 0 ? k : std::size(texts) - 1 - k];
                FontManager fresh;
                Font* alone = fresh.Create(q.family, q.size, q.weight, q.italic, 0);
                EXPECT_EQ(Describe(shared.Shape(*font, text)), Describe(fresh.Shape(*alone, text)))
                    << q.family << " " << q.size << " " << text;
                fresh.Release(alone);
            }
            shared.Release(font);
        }
    }
}

}  // namespace
}  // namespace htmlengine
