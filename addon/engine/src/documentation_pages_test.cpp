// What documentation pages rely on and litehtml alone gets wrong: table
// header rows, presentational attributes of HTML 4, media queries, fixed
// page furniture, generated pictures, long preformatted lines and inline
// SVG. Each fixture is laid out and its drawing checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "htmlengine/engine.h"

namespace htmlengine {
namespace {

RenderResult Render(const std::string& html, int width = 800) {
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = html;
    req.minimalWidth = width;
    return CreateLitehtmlEngine()->Render(req);
}

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Where a word was drawn: the origin of its first character.
struct Word {
    double x = -1, y = -1;
    bool found = false;
};

Word Find(const RenderResult& r, const std::string& word) {
    for (const auto* t : r.drawing.TextRuns()) {
        const std::string text = Narrow(t->text);
        const std::size_t at = text.find(word);
        if (at == std::string::npos) continue;
        double x = t->origin.x;
        for (std::size_t k = 0; k < at && k < t->advances.size(); ++k) x += t->advances[k];
        return {x, t->origin.y, true};
    }
    return {};
}

struct Paints : emf::Device {
    std::vector<std::pair<emf::Rect, emf::Color>> fills;
    std::vector<emf::Rect> strokes;
    std::vector<std::pair<emf::Color, std::string>> texts;
    std::vector<emf::Matrix> images;
    static emf::Rect Bounds(const emf::Path& p) {
        emf::Rect b{1e9, 1e9, -1e9, -1e9};
        for (const auto& q : p.Points())
            b = {std::min(b.left, q.x), std::min(b.top, q.y), std::max(b.right, q.x), std::max(b.bottom, q.y)};
        return b;
    }
    void FillPath(const emf::Path& p, emf::FillRule, const emf::Paint& paint, const emf::Matrix&) override {
        fills.push_back({Bounds(p), paint.color});
    }
    void StrokePath(const emf::Path& p, const emf::StrokeStyle&, const emf::Color&, const emf::Matrix&) override {
        strokes.push_back(Bounds(p));
    }
    void DrawText(const emf::TextRun& t, const emf::Matrix&) override { texts.push_back({t.color, Narrow(t.text)}); }
    void DrawImage(const emf::Image&, const emf::Matrix& m) override { images.push_back(m); }
};

Paints PaintsOf(const RenderResult& r) {
    Paints p;
    r.drawing.Replay(p);
    return p;
}

bool Filled(const Paints& p, emf::Color c) {
    return std::any_of(p.fills.begin(), p.fills.end(), [&](const auto& f) { return f.second == c; });
}

TEST(DocumentationPages, HeaderAndFooterRowsAreRowsInTheirPlace) {
    for (const char* doctype : {"", "<!DOCTYPE html>"}) {
        SCOPED_TRACE(doctype);
        auto r = Render(std::string(doctype) +
                        "<table><tfoot><tr><td>Foot</td><td>Sum</td></tr></tfoot>"
                        "<thead><tr><th>Alpha</th><th>Beta</th><th>Gamma</th></tr></thead>"
                        "<tbody><tr><td>one</td><td>two</td><td>three</td></tr></tbody></table>");
        const Word alpha = Find(r, "Alpha"), beta = Find(r, "Beta"), gamma = Find(r, "Gamma");
        const Word one = Find(r, "one"), foot = Find(r, "Foot");
        ASSERT_TRUE(alpha.found && beta.found && gamma.found && one.found && foot.found);
        // One row: the same baseline, side by side.
        EXPECT_EQ(alpha.y, beta.y);
        EXPECT_EQ(beta.y, gamma.y);
        EXPECT_LT(alpha.x + 30, beta.x);
        EXPECT_LT(beta.x + 30, gamma.x);
        // Header first, body below it, footer last whatever the markup's order.
        EXPECT_LT(alpha.y, one.y);
        EXPECT_LT(one.y, foot.y);
    }
    // A page's own rule for header groups does not stack them again.
    auto r = Render("<style>thead { display: table-header-group }</style><table><thead><tr><th>Alpha</th>"
                    "<th>Beta</th></tr></thead><tr><td>one</td><td>two</td></tr></table>");
    EXPECT_EQ(Find(r, "Alpha").y, Find(r, "Beta").y);
    EXPECT_LT(Find(r, "Alpha").y, Find(r, "one").y);
}

TEST(DocumentationPages, PresentationalAttributesOfHtml4) {
    const std::string page =
        "<html><body bgcolor=\"#ffff00\" text=\"#0000ff\"><h1 align=\"center\">Centered</h1>"
        "<table border=\"0\" cellpadding=\"10\"><tr valign=top><td bgcolor=\"#ff0000\" width=\"100\" height=\"60\">cell</td>"
        "<td align=right width=200>right</td></tr></table>"
        "<table border=\"1\"><tr><td>framed</td></tr></table></body></html>";
    auto r = Render(page);
    const Paints p = PaintsOf(r);
    EXPECT_TRUE(Filled(p, {255, 255, 0, 255}));  // the body's colour
    const Word title = Find(r, "Centered");
    ASSERT_TRUE(title.found);
    EXPECT_GT(title.x, 250);  // centred, not at the left margin
    // The red cell: 100 wide, 60 high, its text 10 pixels in.
    const auto red = std::find_if(p.fills.begin(), p.fills.end(), [](const auto& f) { return f.second == emf::Color{255, 0, 0, 255}; });
    ASSERT_NE(red, p.fills.end());
    EXPECT_NEAR(red->first.Width(), 100, 1);
    EXPECT_GE(red->first.Height(), 60);
    const Word cell = Find(r, "cell");
    EXPECT_NEAR(cell.x - red->first.left, 10, 1);
    EXPECT_LT(cell.y, red->first.top + 35);  // valign=top
    EXPECT_GT(Find(r, "right").x, red->first.right + 100);  // align=right in a 200-pixel cell
    // The text colour of the body.
    const auto text = std::find_if(p.texts.begin(), p.texts.end(), [](const auto& t) { return t.second == "cell"; });
    ASSERT_NE(text, p.texts.end());
    EXPECT_EQ(text->first, (emf::Color{0, 0, 255, 255}));
    // border="0" draws no cell borders; border="1" does. Borders are thin fills.
    const Word framed = Find(r, "framed");
    int thin = 0;
    for (const auto& [rect, colour] : p.fills)
        if ((rect.Width() <= 1.5 || rect.Height() <= 1.5) && rect.top < framed.y - 20) ++thin;
    EXPECT_EQ(thin, 0);
    int framedBorders = 0;
    for (const auto& [rect, colour] : p.fills)
        if ((rect.Width() <= 1.5 || rect.Height() <= 1.5) && rect.top >= framed.y - 30) ++framedBorders;
    EXPECT_GE(framedBorders, 8);  // the table's four sides and the cell's
}

TEST(DocumentationPages, MediaQueriesForALightScreenOfTheAddOnsWidth) {
    const std::string css =
        "body { background: #ffffff; color: #000000 }"
        "@media (prefers-color-scheme: dark) { body { background: #000000; color: #eeeeee } }"
        "@media screen and (prefers-color-scheme: light) { h1 { color: #00aa00 } }"
        "@media (prefers-reduced-motion: reduce), (hover: none) { h1 { color: #ff0000 } }"
        "@media (min-width: 1200px) { .toc { display: none } }"
        "@media (max-width: 600px) { .wide { display: none } }";
    auto r = Render("<!DOCTYPE html><style>" + css + "</style><h1>Head</h1><p class=toc>Contents</p><p class=wide>Wide</p>");
    const Paints p = PaintsOf(r);
    EXPECT_FALSE(Filled(p, {0, 0, 0, 255}));
    const auto head = std::find_if(p.texts.begin(), p.texts.end(), [](const auto& t) { return t.second == "Head"; });
    ASSERT_NE(head, p.texts.end());
    EXPECT_EQ(head->first, (emf::Color{0, 170, 0, 255}));
    EXPECT_TRUE(Find(r, "Contents").found);  // 800 pixels wide: not 1200
    EXPECT_TRUE(Find(r, "Wide").found);
    // The same rules from a style attribute's neighbour, the cleaned-up markup (a form field forces it).
    auto cleaned = Render("<!DOCTYPE html><style>" + css + "</style><h1>Head</h1><input value=x>");
    EXPECT_FALSE(Filled(PaintsOf(cleaned), {0, 0, 0, 255}));
    // A sheet whose media attribute asks for a dark scheme is left out.
    auto sheets = Render("<!DOCTYPE html><style media=\"(prefers-color-scheme: dark)\">body { background: #000000 }</style>"
                         "<style media=\"screen and (prefers-color-scheme: light)\">h1 { color: #00aa00 }</style><h1>Head</h1>");
    const Paints s = PaintsOf(sheets);
    EXPECT_FALSE(Filled(s, {0, 0, 0, 255}));
    ASSERT_FALSE(s.texts.empty());
    EXPECT_EQ(s.texts[0].first, (emf::Color{0, 170, 0, 255}));
}

TEST(DocumentationPages, FixedFurnitureStandsInTheFlowOnce) {
    auto r = Render("<!DOCTYPE html><style>.nav { position: fixed; top: 0; left: 0; right: 0; height: 40px;"
                    " background: #cccccc } .pn { position: absolute; top: 4px; right: 4px }</style>"
                    "<div class=nav>Navigation<span class=pn>Next</span></div><h1>Title</h1>"
                    "<p style=\"position: fixed; bottom: 0\">Footer</p>");
    const Paints p = PaintsOf(r);
    const auto bar = std::find_if(p.fills.begin(), p.fills.end(), [](const auto& f) { return f.second == emf::Color{204, 204, 204, 255}; });
    ASSERT_NE(bar, p.fills.end());
    const Word title = Find(r, "Title"), next = Find(r, "Next"), footer = Find(r, "Footer");
    ASSERT_TRUE(title.found && next.found && footer.found);
    EXPECT_GT(title.y - 25, bar->first.bottom);  // the title below the bar, not under it
    // The absolutely placed link stays inside the bar it belongs to.
    EXPECT_GE(next.y, bar->first.top);
    EXPECT_LE(next.y, bar->first.bottom);
    EXPECT_GT(footer.y, title.y);  // after the title, where it was written
}

}  // namespace
}  // namespace htmlengine

namespace htmlengine {
namespace {

TEST(DocumentationPages, OneLongPreformattedLineDoesNotWidenTheDocument) {
    const std::string line(900, 'x');
    for (const char* style : {"", "<style>pre { overflow: auto; background: #eeeeee }</style>",
                              "<style>div.box { overflow: hidden; width: 700px }</style>"}) {
        SCOPED_TRACE(style);
        auto r = Render(std::string("<!DOCTYPE html>") + style + "<p>Text before</p><div class=box><pre>" + line +
                        "</pre></div><p>after</p>");
        EXPECT_EQ(r.layoutWidth, 800);
        EXPECT_EQ(r.scrollWidth, 800);
        EXPECT_EQ(r.bodyScrollWidth, 800);
        EXPECT_TRUE(Find(r, "xxxxxxxx").found);  // drawn, clipped at the page's edge later
    }
    // Preformatted text the page lets wrap is wrapped.
    std::string words;
    for (int i = 0; i < 150; ++i) words += "word ";
    auto wrapped = Render("<!DOCTYPE html><style>pre { white-space: pre-wrap }</style><pre>" + words + "</pre>");
    EXPECT_EQ(wrapped.layoutWidth, 800);
    EXPECT_GT(wrapped.drawing.TextRuns().size(), 5u);
    // A document whose real layout is wide still gets its width: a wide
    // table, a wide picture box, a block of a given width.
    for (const char* wide : {"<table><tr><td style=\"width: 1500px\">wide</td></tr></table>",
                             "<div style=\"width: 1500px\">wide</div>", "<p>a <span style=\"display: inline-block; width: 1500px\">wide</span>"}) {
        SCOPED_TRACE(wide);
        auto r = Render(std::string("<!DOCTYPE html><pre>") + line + "</pre>" + wide);
        EXPECT_GE(r.layoutWidth, 1500);
        EXPECT_LT(r.layoutWidth, 1600);
        EXPECT_EQ(r.scrollWidth, r.layoutWidth);
    }
}

TEST(DocumentationPages, LongPreformattedLinesInALongDocument) {
    // Laid out in parts: no part widens the document for its long lines.
    std::string html = "<!DOCTYPE html><body>";
    for (int i = 0; i < 3000; ++i)
        html += "<p>Paragraph " + std::to_string(i) + " of the manual, with some words.</p>" +
                (i % 500 == 0 ? "<pre>" + std::string(900, 'y') + "</pre>" : "");
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = html;
    req.layoutPartBytes = 32u << 10;
    auto r = CreateLitehtmlEngine()->Render(req);
    EXPECT_EQ(r.layoutWidth, 800);
    EXPECT_EQ(r.scrollWidth, 800);
}

}  // namespace
}  // namespace htmlengine

#include <fstream>

namespace htmlengine {
namespace {

#ifdef VM_HAVE_RSVG
TEST(DocumentationPages, GeneratedPicturesTakeTheirCssSize) {
    const std::string dir = ::testing::TempDir();
    std::ofstream(dir + "vm_icon.svg") << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">"
                                          "<rect width=\"200\" height=\"100\" fill=\"#204080\"/></svg>";
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.baseUrl = "file://" + dir + "page.html";
    req.html = "<!DOCTYPE html><style>a.ext::after { content: url(vm_icon.svg); width: 12px; height: 12px }"
               "a.em::after { content: url(vm_icon.svg); height: 1em } a.own::after { content: url(vm_icon.svg) }</style>"
               "<p><a class=ext href=x>sized</a> after</p><p><a class=em href=y>em</a></p><p><a class=own href=z>own</a></p>";
    auto r = CreateLitehtmlEngine()->Render(req);
    const Paints p = PaintsOf(r);
    ASSERT_EQ(p.images.size(), 3u);
    EXPECT_EQ(p.images[0].a, 12);  // both sides given
    EXPECT_EQ(p.images[0].d, 12);
    EXPECT_EQ(p.images[1].d, 16);  // one side: the picture's proportions
    EXPECT_EQ(p.images[1].a, 32);
    EXPECT_EQ(p.images[2].a, 200);  // none: its own size
    // The icon sits in the line: the text after it is on the same baseline.
    EXPECT_EQ(Find(r, "sized").y, Find(r, "after").y);
    EXPECT_LT(Find(r, "after").x, 120);
}

TEST(DocumentationPages, InlineSvgIsAPictureWithItsTextAsText) {
    auto r = Render("<!DOCTYPE html><p>before</p><svg width=\"200\" height=\"50\"><rect x=\"1\" y=\"1\" width=\"100\""
                    " height=\"30\" fill=\"none\" stroke=\"black\"/><g transform=\"translate(100 0)\"><text x=\"20\" y=\"20\""
                    " font-size=\"14\" fill=\"#aa0000\">expr</text></g><text x=\"10\" y=\"20\">stmt</text></svg><p>after</p>");
    const Paints p = PaintsOf(r);
    ASSERT_EQ(p.images.size(), 1u);
    EXPECT_EQ(p.images[0].a, 200);
    EXPECT_EQ(p.images[0].d, 50);
    const double left = p.images[0].e, top = p.images[0].f;
    // Each text on its own, where the SVG places it, not one run-on line.
    const Word stmt = Find(r, "stmt"), expr = Find(r, "expr");
    ASSERT_TRUE(stmt.found && expr.found);
    EXPECT_NEAR(stmt.x, left + 10, 2);
    EXPECT_NEAR(stmt.y, top + 20, 2);
    EXPECT_NEAR(expr.x, left + 120, 2);  // moved by its group
    EXPECT_NEAR(expr.y, top + 20, 2);
    const auto red = std::find_if(p.texts.begin(), p.texts.end(), [](const auto& t) { return t.second == "expr"; });
    ASSERT_NE(red, p.texts.end());
    EXPECT_EQ(red->first, (emf::Color{170, 0, 0, 255}));
    EXPECT_GT(Find(r, "after").y, top + 50);
    EXPECT_LT(Find(r, "before").y, top);

    // Text the library cannot place as a whole stays in the picture; a view
    // box gives the size of an SVG that names none.
    auto kept = Render("<!DOCTYPE html><svg viewBox=\"0 0 120 40\"><text x=\"1\" y=\"20\">a<tspan x=\"50\">b</tspan>"
                       "</text></svg><p>after</p>");
    const Paints k = PaintsOf(kept);
    ASSERT_EQ(k.images.size(), 1u);
    EXPECT_EQ(k.images[0].a, 120);
    EXPECT_EQ(k.images[0].d, 40);
    EXPECT_EQ(k.texts.size(), 1u);  // "after" only

    // Damaged or oversized SVG: the page is still laid out, without the picture.
    for (const char* bad : {"<svg width=\"900000\" height=\"900000\"><rect width=\"9\" height=\"9\"/></svg>",
                            "<svg><text x=\"a\" y=\"&quot;\">\xff\xfe</text><foo:bar/></svg>", "<svg><svg><svg>"}) {
        SCOPED_TRACE(bad);
        auto b = Render(std::string("<!DOCTYPE html><p>text</p>") + bad + "<p>tail</p>");
        EXPECT_TRUE(b.documentAvailable);
        EXPECT_TRUE(Find(b, "tail").found);
    }
}
#endif

}  // namespace
}  // namespace htmlengine
