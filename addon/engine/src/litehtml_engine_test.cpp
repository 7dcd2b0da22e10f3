// The litehtml engine in this process: layout facts and the drawing of small
// documents, checked through the recorded display list.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "htmlengine/engine.h"

namespace htmlengine {
namespace {

RenderResult RenderString(const std::string& html, int width = 800) {
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

// The text of every run in drawing order, runs joined by "|".
// `open` written `n` times after `head`, then `tail`: deeply nested markup.
std::string Nested(const std::string& head, const std::string& open, int n, const std::string& tail) {
    std::string out = head;
    for (int i = 0; i < n; ++i) out += open;
    return out + tail;
}

bool HasWarning(const RenderResult& r, std::string_view part) {
    return std::any_of(r.warnings.begin(), r.warnings.end(),
                       [part](const std::string& w) { return w.find(part) != std::string::npos; });
}

std::string Runs(const RenderResult& r) {
    std::string out;
    for (const auto* t : r.drawing.TextRuns()) out += (out.empty() ? "" : "|") + Narrow(t->text);
    return out;
}

const ElementFacts* First(const RenderResult& r, const std::string& tag) {
    for (const auto& e : r.elements)
        if (e.tag == tag) return &e;
    return nullptr;
}

struct Fills : emf::Device {
    std::vector<emf::Color> colors;
    int images = 0, clips = 0, strokes = 0;
    void FillPath(const emf::Path&, emf::FillRule, const emf::Paint& p, const emf::Matrix&) override { colors.push_back(p.color); }
    void StrokePath(const emf::Path&, const emf::StrokeStyle&, const emf::Color&, const emf::Matrix&) override { ++strokes; }
    void DrawImage(const emf::Image&, const emf::Matrix&) override { ++images; }
    void PushClip(const emf::Path&, emf::FillRule, const emf::Matrix&) override { ++clips; }
};

TEST(LitehtmlEngine, TextInReadingOrderWithAdvancesAndFaces) {
    auto r = RenderString("<html><body><h1>Title</h1><p>First <b>bold</b> words.</p><pre>a  b\nc</pre></body></html>");
    ASSERT_TRUE(r.documentAvailable);
    // Words of one font on one line form one run; <pre> keeps its spaces.
    EXPECT_EQ(Runs(r), "Title|First|bold|words.|a  b|c");
    for (const auto* t : r.drawing.TextRuns()) {
        EXPECT_EQ(t->advances.size(), t->text.size());
        EXPECT_FALSE(t->face.empty());
    }
    auto runs = r.drawing.TextRuns();
    EXPECT_GT(runs[0]->emHeight, runs[1]->emHeight);  // h1 is larger
    EXPECT_GE(runs[2]->weight, 700);                   // <b>
    EXPECT_EQ(r.compatMode, "BackCompat");
    EXPECT_EQ(RenderString("<!DOCTYPE html><p>x").compatMode, "CSS1Compat");
}

TEST(LitehtmlEngine, HiddenElementsDrawNothing) {
    auto r = RenderString("<head><title>T</title><style>.x{color:red}</style><script>var a='<p>no</p>';</script></head>"
                          "<body><p>shown</p><input type=hidden value=secret><div hidden>gone</div></body>");
    EXPECT_EQ(Runs(r), "shown");
}

TEST(LitehtmlEngine, BodyIsShownEvenWhenStyledHidden) {
    EXPECT_EQ(Runs(RenderString("<style>body{visibility:hidden}</style><body><p>seen</p></body>")), "seen");
    EXPECT_EQ(Runs(RenderString("<body style='visibility:hidden;color:red'><p>seen</p></body>")), "seen");
}

TEST(LitehtmlEngine, FormFieldsShowTheirText) {
    auto r = RenderString("<form><input value='typed'> <input type=password value='abc'> <input type=submit>"
                          "<input type=hidden value='secret'><textarea>area text</textarea></form>");
    std::string runs = Runs(r);
    EXPECT_NE(runs.find("typed"), std::string::npos);
    EXPECT_NE(runs.find("???"), std::string::npos);  // three bullets
    EXPECT_NE(runs.find("Submit"), std::string::npos);
    EXPECT_NE(runs.find("area"), std::string::npos);
    EXPECT_EQ(runs.find("secret"), std::string::npos);
    // A list shows its chosen entry, else its first.
    EXPECT_EQ(Runs(RenderString("<select><option>one<option selected>two</select>")), "two");
    EXPECT_EQ(Runs(RenderString("<select><optgroup label=g><option>first<option>second</optgroup></select>")), "first");
}

TEST(LitehtmlEngine, MinimalWidthAndWiderContent) {
    auto narrow = RenderString("<p>short</p>", 800);
    EXPECT_EQ(narrow.layoutWidth, 800);
    auto wide = RenderString("<div style='width:1500px'>wide</div>", 800);
    EXPECT_GE(wide.layoutWidth, 1500);
}

TEST(LitehtmlEngine, AnchorsWithResolvedAddressesAndRectangles) {
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.baseUrl = "http://docs.test/dir/index.html";
    req.html = "<p>See <a href='other.html#part'>the other page</a> and <a name='here'>a target</a>.</p>"
               "<p><a href='mailto:x@y.test'>mail</a></p>";
    auto r = CreateLitehtmlEngine()->Render(req);
    ASSERT_EQ(r.anchors.size(), 3u);
    const auto& a = r.anchors[0];
    EXPECT_EQ(a.href, "http://docs.test/dir/other.html#part");
    EXPECT_EQ(a.hrefAttr, "other.html#part");
    EXPECT_EQ(a.protocol, "http:");
    ASSERT_FALSE(a.rects.empty());
    EXPECT_GT(a.rects[0].right - a.rects[0].left, 40);
    EXPECT_GT(a.rects[0].bottom, a.rects[0].top);
    EXPECT_EQ(r.anchors[1].name, "here");
    EXPECT_TRUE(r.anchors[1].href.empty());
    EXPECT_EQ(r.anchors[2].protocol, "mailto:");
    EXPECT_GT(r.anchors[2].rects[0].top, a.rects[0].bottom - 1);
}

const AnchorFacts* Named(const RenderResult& r, const std::string& name) {
    for (const auto& a : r.anchors)
        if (a.name == name) return &a;
    return nullptr;
}

TEST(LitehtmlEngine, EmptyAnchorsAndIdsAreTargetsWhereTheirElementSits) {
    auto r = RenderString("<body style='margin:0'><p>intro</p>" + std::string(40, ' ') +
                          "<a name='before'></a>\n<h2 id='head'>Heading</h2>"
                          "<p>text</p><h3><a name='inside'></a>Inside</h3>"
                          "<div id='sec'><p>Section <span id='word'>word</span></p></div>"
                          "<p>x<span id='empty'></span></p><a id='both' name='both'>both</a>"
                          "<div style='display:none'><a name='hidden'></a></div><p>end</p></body>");
    const ElementFacts* h2 = First(r, "H2");
    const ElementFacts* h3 = First(r, "H3");
    ASSERT_TRUE(h2 && h3);
    auto top = [&](const std::string& name) {
        const AnchorFacts* a = Named(r, name);
        EXPECT_TRUE(a) << name;
        EXPECT_TRUE(a && a->rects.size() == 1u) << name;
        return a && !a->rects.empty() ? a->rects[0].top : -1000;
    };
    // Boxless anchors sit at what follows them: the heading, the heading's text.
    EXPECT_EQ(top("before"), h2->rects[0].top);
    EXPECT_NEAR(top("inside"), h3->rects[0].top, 4);
    EXPECT_GT(top("inside"), top("before") + 20);
    // Ids name their element's top-left, as a zero-size rectangle.
    EXPECT_EQ(top("head"), h2->rects[0].top);
    const AnchorFacts* sec = Named(r, "sec");
    ASSERT_TRUE(sec);
    EXPECT_EQ(sec->rects[0].left, sec->rects[0].right);
    EXPECT_EQ(sec->rects[0].top, sec->rects[0].bottom);
    EXPECT_GT(top("word"), top("sec") - 1);
    EXPECT_GT(top("empty"), top("word"));
    // One anchor for an element whose id is its name; none placed for a hidden one.
    EXPECT_EQ(std::count_if(r.anchors.begin(), r.anchors.end(), [](const AnchorFacts& a) { return a.name == "both"; }), 1);
    ASSERT_TRUE(Named(r, "hidden"));
    EXPECT_TRUE(Named(r, "hidden")->rects.empty());
}

TEST(LitehtmlEngine, PageBreakStylesAndContainedCells) {
    auto r = RenderString("<style>.b{page-break-before:always} .a{page-break-after:ALWAYS} .l{page-break-before:left}</style>"
                          "<p>one</p><h2 class=b>two</h2><div class=a>three</div><p class=l>four</p>"
                          "<table><tr><td>cell</td></tr></table>");
    const ElementFacts* h2 = First(r, "H2");
    ASSERT_TRUE(h2);
    EXPECT_TRUE(h2->breakBefore);
    EXPECT_FALSE(h2->breakAfter);
    ASSERT_EQ(h2->rects.size(), 1u);
    EXPECT_GT(h2->rects[0].top, 0);
    const ElementFacts* div = First(r, "DIV");
    EXPECT_TRUE(div->breakAfter);
    int paragraphsBreaking = 0;
    for (const auto& e : r.elements)
        if (e.tag == "P" && (e.breakBefore || e.breakAfter)) ++paragraphsBreaking;
    EXPECT_EQ(paragraphsBreaking, 0);
    EXPECT_TRUE(First(r, "TABLE")->containsTd);
    EXPECT_FALSE(First(r, "TD")->containsTd);
}

TEST(LitehtmlEngine, NonLatinTextFallsBackToFontsThatHaveIt) {
    auto r = RenderString("<p style='font-family: \"No Such Font\", serif'>Latin Ελληνικά Кириллица 中文字 ✓</p>");
    std::string cjkFace;
    for (const auto* t : r.drawing.TextRuns()) {
        if (!t->text.empty() && t->text[0] == u'中') cjkFace = t->face;
        // Every run's face has its characters: no run mixes a CJK character into a Latin face.
    }
    ASSERT_FALSE(cjkFace.empty());
    auto latinFace = r.drawing.TextRuns().front()->face;
    EXPECT_NE(cjkFace, latinFace);
    // CJK text breaks between any two characters: a narrow box wraps it.
    auto wrapped = RenderString("<div style='width:60px'>中文字中文字中文字中文字</div>");
    double y0 = wrapped.drawing.TextRuns().front()->origin.y, y1 = wrapped.drawing.TextRuns().back()->origin.y;
    EXPECT_GT(y1, y0);
}

TEST(LitehtmlEngine, GenericFamiliesMapToDifferentFonts) {
    auto r = RenderString("<p style='font-family:monospace'>mono</p><p style='font-family:sans-serif'>sans</p>"
                          "<p style='font-family:serif'>serif</p>");
    auto runs = r.drawing.TextRuns();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_NE(runs[0]->face, runs[1]->face);
    EXPECT_NE(runs[1]->face, runs[2]->face);
}

TEST(LitehtmlEngine, GradientsArePaintedAsColourBandsNotBlack) {
    auto r = RenderString("<style>.g{background-image:linear-gradient(to right, rgb(255,0,0), #0000ff)}</style>"
                          "<div class=g style='height:20px'></div>"
                          "<div style='background: radial-gradient(circle, yellow, green); height:20px'></div>");
    Fills f;
    r.drawing.Replay(f);
    ASSERT_GT(f.colors.size(), 10u);
    bool red = false, blue = false, black = false, yellow = false;
    for (auto c : f.colors) {
        red |= c.r > 240 && c.b < 20;
        blue |= c.b > 240 && c.r < 20;
        yellow |= c.r > 240 && c.g > 240 && c.b < 20;
        black |= c.r == 0 && c.g == 0 && c.b == 0;
    }
    EXPECT_TRUE(red && blue && yellow);
    EXPECT_FALSE(black);
}

TEST(LitehtmlEngine, MissingPictureShowsItsAlternativeText) {
    auto r = RenderString("<p><img src='nowhere.png' alt='A chart'></p>");
    EXPECT_EQ(Runs(r), "A chart");
    ASSERT_FALSE(r.warnings.empty());
}

TEST(LitehtmlEngine, BordersListsAndClips) {
    auto r = RenderString("<div style='border:3px dotted blue'>d</div><div style='border:4px double red'>e</div>"
                          "<div style='border:2px solid #0f0;border-radius:6px'>r</div>"
                          "<ol type=1><li>one</li><li>two</li></ol><ul><li>dot</li></ul>"
                          "<div style='overflow:hidden;height:10px'>clipped<br>more</div>");
    Fills f;
    r.drawing.Replay(f);
    EXPECT_EQ(f.strokes, 4);  // the dotted border's four sides
    EXPECT_GE(f.clips, 1);
    std::string runs = Runs(r);
    EXPECT_NE(runs.find("1.|2."), std::string::npos);
}

TEST(LitehtmlEngine, DeepNestingIsCutAndDeepTablesAreFlattened) {
    auto r = RenderString(Nested("", "<div>", 3000, "bottom"));
    EXPECT_TRUE(r.documentAvailable);
    EXPECT_FALSE(r.warnings.empty());
    EXPECT_EQ(Runs(r).find("bottom"), std::string::npos);

    auto t = RenderString(Nested("", "<table><tr><td>", 15, "inner"));
    EXPECT_NE(Runs(t).find("inner"), std::string::npos);
    EXPECT_TRUE(HasWarning(t, "tables nested"));
}

TEST(LitehtmlEngine, MarkupLaidOutAsWrittenKeepsTheCaps) {
    // These pass the markup scan; the parsed tree is what is too deep.
    auto r = RenderString(Nested("<!DOCTYPE html><body>", "<span>", 200, "bottom"));
    EXPECT_TRUE(r.documentAvailable);
    EXPECT_EQ(Runs(r).find("bottom"), std::string::npos);
    EXPECT_TRUE(HasWarning(r, "nested deeper"));

    auto t = RenderString(Nested("<body>", "<table><tr><td>", 12, "inner"));
    EXPECT_NE(Runs(t).find("inner"), std::string::npos);
    EXPECT_TRUE(HasWarning(t, "tables nested"));

    auto s = RenderString(Nested("<!DOCTYPE html><body>", "<table><tr><td>", 8, "<div onclick='go()'>inner</div>"));
    EXPECT_EQ(Runs(s), "inner");
    EXPECT_TRUE(s.warnings.empty()) << s.warnings[0];
    EXPECT_EQ(s.compatMode, "CSS1Compat");
}

TEST(LitehtmlEngine, FramesetLaysOutItsFramesSideBySide) {
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = "<frameset cols='30%,*'><frame src='data:text/html,<p>left</p>'><frame src='data:text/html,<p>right</p>'></frameset>";
    auto r = CreateLitehtmlEngine()->Render(req);
    EXPECT_TRUE(r.frameset);
    EXPECT_EQ(Runs(r), "left|right");
    auto runs = r.drawing.TextRuns();
    EXPECT_GT(runs[1]->origin.x, runs[0]->origin.x + 200);
    EXPECT_EQ(r.events.size(), 3u);  // the frameset and its two frames
}

}  // namespace
}  // namespace htmlengine

namespace htmlengine {
namespace {

// A layout process frees its documents after answering; what it reports
// must be what a render that takes them apart at once reports.
TEST(LitehtmlEngine, RenderDeferringTeardownReportsTheSame) {
    const std::string pages[] = {
        "<h1>Title</h1><p>text <a href='x.html'>link</a></p><table><tr><td>a<td>b</table>",
        "<frameset cols='50%,50%'><frame src='data:text/html,<p>left'><frame src='data:text/html,<p>right'></frameset>",
    };
    for (const std::string& html : pages) {
        RenderRequest req;
        req.kind = RenderRequest::Kind::String;
        req.html = html;
        std::string kept, left;
        SerializeResult(CreateLitehtmlEngine()->Render(req), kept);
        req.deferTeardown = true;
        auto engine = CreateLitehtmlEngine();
        SerializeResult(engine->Render(req), left);
        engine->ReleaseDeferred();
        EXPECT_EQ(kept, left) << html;
        EXPECT_GT(kept.size(), 100u);
    }
}

}  // namespace
}  // namespace htmlengine
