#include "pdfcore/content.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <vector>

#include "pdfcore/fonts.h"

namespace pdfcore {
namespace {

std::string N(double v) {
    std::string s;
    AppendNumber(s, v);
    return s;
}

TEST(AppendNumber, ShortestFormWithoutExponentOrLocale) {
    EXPECT_EQ(N(0), "0");
    EXPECT_EQ(N(-0.0), "0");
    EXPECT_EQ(N(1.5), "1.5");
    EXPECT_EQ(N(-2.25), "-2.25");
    EXPECT_EQ(N(100), "100");
    EXPECT_EQ(N(1e-7), "0");
    EXPECT_EQ(N(-0.00001), "0");
    EXPECT_EQ(N(1.0 / 3), "0.3333");
    EXPECT_EQ(N(1e20), "1000000000");
    EXPECT_EQ(N(0.0 / 0.0), "0");
    // A locale with a decimal comma must not leak into content streams.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        EXPECT_EQ(N(1.5), "1.5");
        std::setlocale(LC_NUMERIC, "C");
    }
}

TEST(ContentBuilder, PathsColoursAndResources) {
    ContentBuilder c;
    c.Save();
    c.Concat(Matrix::Translate(10, 20));
    c.SetFillColor({1, 0.5, 2});  // out of range clamps
    c.Rectangle(0, 0, 5, 6);
    c.Fill(FillRule::EvenOdd);
    double dash[] = {3, 1};
    c.SetDash(dash, 0);
    c.SetAlpha(0.5, 1);
    c.DrawXObject("Im1");
    c.Restore();
    EXPECT_EQ(c.Data(),
              "q\n1 0 0 1 10 20 cm\n1 0.5 1 rg\n0 0 5 6 re\nf*\n[3 1] 0 d\n/GSa500s1000 gs\n/Im1 Do\nQ\n");
    EXPECT_EQ(c.XObjects().count("Im1"), 1u);
    EXPECT_EQ(c.ExtGStates().count("GSa500s1000"), 1u);
    std::string taken = c.TakeData();
    EXPECT_TRUE(c.Empty());
    EXPECT_EQ(c.XObjects().size(), 1u);  // resource lists survive
}

TEST(ContentBuilder, GlyphPositionsBecomeTjAdjustments) {
    FontCache cache;
    Font* f = cache.Resolve("DejaVu Sans", 400, false);
    auto shaped = f->Shape(u"AV");
    ASSERT_EQ(shaped.size(), 2u);
    // Place the second glyph 1 unit further than the font's advance at size 10.
    std::vector<PlacedGlyph> g{{shaped[0].gid, 0, 0}, {shaped[1].gid, f->GlyphAdvance(shaped[0].gid) * 10 + 1, 0}};
    ContentBuilder c;
    c.ShowGlyphs(*f, 10, Matrix::Translate(5, 7), g, {0, 0, 0});
    // -100 thousandths of an em at size 10 is +1 unit; codes are glyph ids.
    auto code = [](std::uint32_t gid) { return std::string{static_cast<char>(gid >> 8), static_cast<char>(gid & 0xFF)}; };
    std::string tj = "[(" + code(shaped[0].gid) + ")-100(" + code(shaped[1].gid) + ")] TJ";
    EXPECT_NE(c.Data().find(tj), std::string::npos) << c.Data();
    EXPECT_NE(c.Data().find("1 0 0 1 5 7 Tm"), std::string::npos);
    EXPECT_EQ(c.Fonts().count(f->ResourceName()), 1u);
    EXPECT_EQ(f->UseGlyph(shaped[0].gid), shaped[0].gid);
    EXPECT_EQ(f->UseGlyph(f->GlyphCount() + 5), 0);  // no such glyph: .notdef
    // Codes whose bytes are string delimiters are escaped.
    std::vector<PlacedGlyph> many;
    for (std::uint32_t gid = 3; gid < 60; ++gid) many.push_back({gid, 0, 0});
    ContentBuilder esc;
    esc.ShowGlyphs(*f, 10, Matrix{}, many, {0, 0, 0});
    EXPECT_NE(esc.Data().find("\\("), std::string::npos);
    EXPECT_NE(esc.Data().find("\\)"), std::string::npos);
    EXPECT_NE(esc.Data().find("\\r"), std::string::npos);
    EXPECT_NE(esc.Data().find("\\n"), std::string::npos);
}

TEST(ContentBuilder, RoundingSlackKeepsGridTextPlainAndCarriesTheError) {
    FontCache cache;
    Font* f = cache.Resolve("DejaVu Sans", 400, false);
    auto shaped = f->Shape(u"nnnnnnnnnnnnnnnnnnnn");
    ASSERT_EQ(shaped.size(), 20u);
    const double size = 16, adv = f->GlyphAdvance(shaped[0].gid) * size;
    // Every glyph on the whole unit nearest its true place: rounding only.
    std::vector<PlacedGlyph> grid;
    for (std::size_t i = 0; i < shaped.size(); ++i) grid.push_back({shaped[i].gid, std::round(i * adv), 0});
    ContentBuilder plain;
    plain.ShowGlyphs(*f, size, Matrix{}, grid, {0, 0, 0}, 0.5);
    const std::string& d = plain.Data();
    const auto tj = d.find("[(");
    ASSERT_NE(tj, std::string::npos);
    EXPECT_EQ(d.find(")", tj + 2 + 2 * shaped.size()), tj + 2 + 2 * shaped.size()) << "no adjustment expected: " << d;

    // Each glyph one unit further than the font puts it: the drift passes the
    // slack every other glyph and is taken back in whole thousandths, so the
    // last glyph ends within the slack of where the caller wanted it.
    std::vector<PlacedGlyph> wide;
    for (std::size_t i = 0; i < shaped.size(); ++i) wide.push_back({shaped[i].gid, i * (adv + 0.7), 0});
    ContentBuilder spread;
    spread.ShowGlyphs(*f, size, Matrix{}, wide, {0, 0, 0}, 0.5);
    double taken = 0;  // sum of the adjustments, in text units
    const std::string& s = spread.Data();
    for (std::size_t i = s.find(")-"); i != std::string::npos; i = s.find(")-", i + 1))
        taken += std::stod(s.substr(i + 1)) * -size / 1000;
    EXPECT_NEAR(taken, 19 * 0.7, 0.5) << s;
    EXPECT_EQ(s.find('.', s.find("[(")), std::string::npos) << "adjustments are whole numbers: " << s;
}

}  // namespace
}  // namespace pdfcore
