#include "pdfcore/fonts.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>
#include <stdlib.h>

#include "pdfcore/pdf_writer.h"

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

    // One character alone: the same glyph from the table as from shaping,
    // at either end of the table and past it.
    for (char16_t c : {u'A', u'V', u' ', u'\u00e9', u'\u058f', u'\u05d0', u'\u20ac'}) {
        for (int twice = 0; twice < 2; ++twice) {
            ShapedGlyph one = f->GlyphOf(c);
            auto shaped = f->Shape(std::u16string(1, c));
            ASSERT_EQ(shaped.size(), 1u);
            EXPECT_EQ(one.gid, shaped[0].gid) << int(c);
            EXPECT_EQ(one.advance, shaped[0].advance) << int(c);
            EXPECT_EQ(one.cluster, 0u);
        }
    }
}

// Writes the font as object 1 of a small file and reads it back with qpdf.
// The readers own what the handle refers to; the test keeps them (readers
// left for the program's exit outlive the library's own state).
QPDFObjectHandle WriteFontAlone(Font* f, bool embed, const std::string& path,
                                std::vector<std::unique_ptr<QPDF>>& readers) {
    FILE* out = std::fopen(path.c_str(), "wb");
    EXPECT_NE(out, nullptr);
    {
        ObjectWriter w(out, true);
        w.Header("1.4");
        int font = w.NewObject(), page = w.NewObject(), pages = w.NewObject(), catalog = w.NewObject();
        f->WriteTo(w, font, embed, true);
        w.Begin(page);
        w.Raw("<</Type/Page/Parent " + std::to_string(pages) + " 0 R/MediaBox[0 0 10 10]/Resources<</Font<<" +
              "/F1 " + std::to_string(font) + " 0 R>>>>>>");
        w.End();
        w.Begin(pages);
        w.Raw("<</Type/Pages/Count 1/Kids[" + std::to_string(page) + " 0 R]>>");
        w.End();
        w.Begin(catalog);
        w.Raw("<</Type/Catalog/Pages " + std::to_string(pages) + " 0 R>>");
        w.End();
        w.Finish("/Root " + std::to_string(catalog) + " 0 R");
    }
    std::fclose(out);
    readers.push_back(std::make_unique<QPDF>());
    readers.back()->processFile(path.c_str());
    QPDFObjectHandle page = readers.back()->getAllPages().at(0);
    return page.getKey("/Resources").getKey("/Font").getKey("/F1");
}

std::string StreamText(QPDFObjectHandle stream) {
    auto data = stream.getStreamData(qpdf_dl_all);
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

TEST(Font, SubsetCarriesOnlyUsedGlyphsAndMapsText) {
    char dir[] = "/tmp/pdfcore_font.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::vector<std::unique_ptr<QPDF>> readers;
    FontCache cache;
    Font* f = cache.Resolve("DejaVu Sans", 400, false);
    for (const auto& g : f->Shape(u"Жёлтый ﬁ€")) f->UseGlyph(g.gid);
    QPDFObjectHandle type0 = WriteFontAlone(f, true, std::string(dir) + "/a.pdf", readers);
    std::string base = type0.getKey("/BaseFont").getName();
    EXPECT_EQ(base[7], '+') << base;
    QPDFObjectHandle cid = type0.getKey("/DescendantFonts").getArrayItem(0);
    QPDFObjectHandle file = cid.getKey("/FontDescriptor").getKey("/FontFile2");
    ASSERT_TRUE(file.isStream());
    auto program = file.getStreamData(qpdf_dl_all);
    EXPECT_LT(program->getSize(), 20000u);  // the whole face is over 700 KB
    std::string text = StreamText(type0.getKey("/ToUnicode"));
    EXPECT_NE(text.find("<0416>"), std::string::npos);  // Ж
    EXPECT_NE(text.find("<20AC>"), std::string::npos);  // €
    EXPECT_NE(text.find("<FB01>"), std::string::npos);  // the ligature character as written

    // Glyphs and characters that both run in order collapse into ranges;
    // the range never carries the last byte of a code or text past FF.
    Font* plain = cache.Resolve("Liberation Serif", 400, false);
    for (const auto& g : plain->Shape(u"abcdefxyz")) plain->UseGlyph(g.gid);
    QPDFObjectHandle noEmbed = WriteFontAlone(plain, false, std::string(dir) + "/b.pdf", readers);
    QPDFObjectHandle desc = noEmbed.getKey("/DescendantFonts").getArrayItem(0).getKey("/FontDescriptor");
    EXPECT_FALSE(desc.hasKey("/FontFile2"));
    EXPECT_EQ(noEmbed.getKey("/BaseFont").getName().find('+'), std::string::npos);
    std::string cmap = StreamText(noEmbed.getKey("/ToUnicode"));
    std::uint16_t a = plain->Shape(u"a")[0].gid, f6 = plain->Shape(u"f")[0].gid;
    char range[40];
    std::snprintf(range, sizeof range, "<%04X><%04X><0061>", a, f6);
    if (f6 == a + 5 && (a & 0xFF) + 5 <= 0xFF) {
        EXPECT_NE(cmap.find(range), std::string::npos) << cmap;
    }
    EXPECT_NE(cmap.find("beginbfrange"), std::string::npos) << cmap;

    // Prepared ahead (as the document does on several threads) or made as it
    // is written: the same bytes; a preparation for the other embedding is
    // not taken.
    auto fileBytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    for (bool embed : {true, false}) {
        WriteFontAlone(f, embed, std::string(dir) + "/inline.pdf", readers);
        f->PrepareWrite(embed, true);
        WriteFontAlone(f, embed, std::string(dir) + "/ahead.pdf", readers);
        f->PrepareWrite(!embed, true);
        WriteFontAlone(f, embed, std::string(dir) + "/other.pdf", readers);
        EXPECT_EQ(fileBytes(std::string(dir) + "/inline.pdf"), fileBytes(std::string(dir) + "/ahead.pdf")) << embed;
        EXPECT_EQ(fileBytes(std::string(dir) + "/inline.pdf"), fileBytes(std::string(dir) + "/other.pdf")) << embed;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace pdfcore
