// Font runs name their face as fontconfig's own query of the file does, for
// the matched font and for per-character fallbacks alike.
#include "fonts.h"

#include <fontconfig/fontconfig.h>
#include <fontconfig/fcfreetype.h>
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace htmlengine
