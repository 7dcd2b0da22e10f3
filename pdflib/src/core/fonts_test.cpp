#include "core/fonts.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

namespace pdfcore {
namespace {

TEST(FontCache, MissingFaceFallsBackAndRequestsShareFiles) {
    FontCache cache;
    Font* verdana = cache.Resolve("Verdana", 400, false);
    ASSERT_NE(verdana, nullptr);
    EXPECT_FALSE(verdana->FilePath().empty());
    EXPECT_GT(verdana->Ascent(), 0);
    EXPECT_LT(verdana->Descent(), 0);
    EXPECT_EQ(cache.Resolve("Verdana", 400, false), verdana);
    Font* bold = cache.Resolve("DejaVu Sans", 700, false);
    EXPECT_NE(bold->PostScriptName().find("Bold"), std::string::npos) << bold->PostScriptName();
    EXPECT_FALSE(bold->SyntheticBold());
    // A face without a bold file gets emboldened when drawn.
    Font* cjkBold = cache.Resolve("WenQuanYi Micro Hei", 700, false);
    EXPECT_TRUE(cjkBold->SyntheticBold() || cjkBold->PostScriptName().find("Bold") != std::string::npos);
    Font* nothing = cache.Resolve("", 400, false);
    EXPECT_NE(nothing, nullptr);
}

TEST(Font, ShapingKeepsKerningAndClusters) {
    FontCache cache;
    Font* f = cache.Resolve("DejaVu Sans", 400, false);
    auto g = f->Shape(u"AVA");
    ASSERT_EQ(g.size(), 3u);
    EXPECT_EQ(g[1].cluster, 1u);
    // DejaVu kerns "AV": the shaped advance is shorter than the glyph's own.
    EXPECT_LT(g[0].advance, f->GlyphAdvance(g[0].gid));
    EXPECT_NEAR(f->Measure(u"AVA"), g[0].advance + g[1].advance + g[2].advance, 1e-9);
    EXPECT_EQ(f->Measure(u""), 0);
}

TEST(Font, SubsetCarriesOnlyUsedGlyphsAndMapsText) {
    FontCache cache;
    Font* f = cache.Resolve("DejaVu Sans", 400, false);
    for (const auto& g : f->Shape(u"Жёлтый ﬁ€")) f->UseGlyph(g.gid);
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle type0 = f->WriteTo(pdf, true, true);
    std::string base = type0.getKey("/BaseFont").getName();
    EXPECT_EQ(base[7], '+') << base;
    QPDFObjectHandle cid = type0.getKey("/DescendantFonts").getArrayItem(0);
    QPDFObjectHandle file = cid.getKey("/FontDescriptor").getKey("/FontFile2");
    ASSERT_TRUE(file.isStream());
    auto program = file.getStreamData(qpdf_dl_all);
    EXPECT_LT(program->getSize(), 20000u);  // the whole face is over 700 KB
    auto cmap = type0.getKey("/ToUnicode").getStreamData(qpdf_dl_all);
    std::string text(reinterpret_cast<const char*>(cmap->getBuffer()), cmap->getSize());
    EXPECT_NE(text.find("<0416>"), std::string::npos);  // Ж
    EXPECT_NE(text.find("<20AC>"), std::string::npos);  // €
    EXPECT_NE(text.find("<FB01>"), std::string::npos);  // the ligature character as written

    Font* plain = cache.Resolve("Liberation Serif", 400, false);
    for (const auto& g : plain->Shape(u"abc")) plain->UseGlyph(g.gid);
    QPDFObjectHandle noEmbed = plain->WriteTo(pdf, false, true);
    QPDFObjectHandle desc = noEmbed.getKey("/DescendantFonts").getArrayItem(0).getKey("/FontDescriptor");
    EXPECT_FALSE(desc.hasKey("/FontFile2"));
    EXPECT_EQ(noEmbed.getKey("/BaseFont").getName().find('+'), std::string::npos);
}

}  // namespace
}  // namespace pdfcore
