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

// Nesting beyond the caps is laid out flat: the text inside is drawn at
// every depth, whether the markup scan, the parsed tree or the clean-up
// finds the depth, and the tables beyond their cap become blocks.
TEST(LitehtmlEngine, TextNestedAtAnyDepthIsDrawn) {
    for (const char* open : {"<div>", "<span>", "<ul><li>", "<blockquote>"}) {
        // Every depth for blocks, every few for the others.
        const int step = open[1] == 'd' ? 1 : 7;
        for (int depth = 1; depth <= 300; depth += step) {
            for (const char* head : {"", "<!DOCTYPE html><body>"}) {
                auto r = RenderString(Nested(head, open, depth, "word"));
                ASSERT_EQ(Runs(r), "word") << open << " " << depth << " " << head;
                ASSERT_EQ(HasWarning(r, "nested deeper"), depth * (open[1] == 'u' ? 2 : 1) > 94) << open << depth;
            }
        }
    }
    for (int depth : {1000, 3000, 100000}) {
        auto r = RenderString(Nested("", "<div>", depth, "bottom") + "<p>after</p>");
        EXPECT_NE(Runs(r).find("bottom"), std::string::npos) << depth;
        EXPECT_NE(Runs(r).find("after"), std::string::npos) << depth;
        EXPECT_TRUE(HasWarning(r, "nested deeper"));
    }
    // Inside a script or a style beyond the cap nothing turns into text.
    auto s = RenderString(Nested("<body>", "<div>", 120, "<script>var x = 1;</script><style>p{}</style>word"));
    EXPECT_EQ(Runs(s), "word");

    for (int tables = 1; tables <= 30; ++tables) {
        for (const char* head : {"", "<!DOCTYPE html><body>"}) {
            auto t = RenderString(Nested(head, "<table><tr><td>", tables, "inner"));
            ASSERT_EQ(Runs(t), "inner") << tables << " " << head;
            ASSERT_EQ(HasWarning(t, "tables nested"), tables > 8) << tables;
        }
    }
    auto s2 = RenderString(Nested("<!DOCTYPE html><body>", "<table><tr><td>", 8, "<div onclick='go()'>inner</div>"));
    EXPECT_EQ(Runs(s2), "inner");
    EXPECT_TRUE(s2.warnings.empty()) << s2.warnings[0];
    EXPECT_EQ(s2.compatMode, "CSS1Compat");
}

// A page is never handed on blank while its source has text to show: a
// layout that draws none of it fails, and says so; a page without text
// (or whose markup hides all of it) is drawn as it is.
TEST(LitehtmlEngine, LayoutWithoutTheDocumentsTextFails) {
    for (const char* html : {"<style>p { display: none }</style><p>text</p>",
                             "<!DOCTYPE html><body><style>div { visibility: hidden }</style><div>text</div></body>"}) {
        auto r = RenderString(html);
        EXPECT_FALSE(r.documentAvailable) << html;
        EXPECT_TRUE(HasWarning(r, "drew none of the document's text")) << html;
    }
    for (const char* html : {"", "<body> </body>", "<p hidden>secret</p>", "<div style='DISPLAY : none'>x</div>",
                             "<title>only a title</title><script>var t = 'x';</script>"}) {
        auto r = RenderString(html);
        EXPECT_TRUE(r.documentAvailable) << html;
        EXPECT_EQ(Runs(r), "") << html;
    }
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

namespace htmlengine {
namespace {

RenderResult RenderInParts(const std::string& html, std::size_t partBytes) {
    RenderRequest req;
    req.kind = RenderRequest::Kind::String;
    req.html = html;
    req.layoutPartBytes = partBytes;
    return CreateLitehtmlEngine()->Render(req);
}

// Text runs with where they are drawn, one a line, by place (a part
// paints its floats before its lines, as a whole document paints all of
// its floats before all of its lines).
std::string PlacedRuns(const RenderResult& r) {
    std::vector<std::string> lines;
    for (const auto* t : r.drawing.TextRuns()) {
        char at[64];
        std::snprintf(at, sizeof at, "%08.1f %08.1f ", t->origin.y, t->origin.x);
        lines.push_back(at + Narrow(t->text));
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

// Element facts, one a line. Long preformatted text is laid out in pieces
// that join without a seam: pieces that meet count as one element here.
std::string Facts(const RenderResult& r) {
    std::string out;
    std::vector<ElementFacts> elements;
    for (const auto& e : r.elements) {
        if (e.tag == "PRE" && !elements.empty() && elements.back().tag == "PRE" && e.rects.size() == 1 &&
            elements.back().rects.size() == 1 && elements.back().rects[0].bottom == e.rects[0].top) {
            elements.back().rects[0].bottom = e.rects[0].bottom;
            continue;
        }
        elements.push_back(e);
    }
    for (const auto& e : elements) {
        out += e.tag + (e.breakBefore ? " before" : "") + (e.breakAfter ? " after" : "") + (e.containsTd ? " td" : "");
        for (const auto& x : e.rects)
            out += " " + std::to_string(x.left) + "," + std::to_string(x.top) + "," + std::to_string(x.right) + "," +
                   std::to_string(x.bottom);
        out += "\n";
    }
    for (const auto& a : r.anchors) out += "A " + a.href + " " + a.name + " " + std::to_string(a.rects.size()) + "\n";
    return out;
}

// A document laid out in parts reads as the same document laid out whole:
// the same text in the same places, the same element boxes, anchors and
// breaks, whatever the seams fall on (margins that collapse across them,
// floats that hang over them, rows, list items, backgrounds).
TEST(LitehtmlEngine, DocumentLaidOutInPartsStacksExactly) {
    const std::string head =
        "<!DOCTYPE html><html><head><style>body{background:#eef} .m{margin:30px 0 10px} .f{float:left;width:90px;"
        "height:170px} h2{page-break-before:always} tr:nth-child(2n){background:#ddd}</style></head><body>";
    auto repeat = [](int n, auto&& item) {
        std::string out;
        for (int i = 0; i < n; ++i) out += item(i);
        return out;
    };
    const std::string docs[] = {
        head + "<h1>Title</h1>" + repeat(120, [](int i) {
            return std::string(i % 3 ? "<p>" : "<p class=m>") + "paragraph " + std::to_string(i) +
                   " with <a href='#p" + std::to_string(i) + "' name='p" + std::to_string(i) + "'>a link</a> and words " +
                   "enough to wrap a line or two at this width, more words, more words, more words.</p>" +
                   (i % 17 == 5 ? "<div class=f>float</div>" : "") + (i % 29 == 7 ? "<h2>Chapter</h2>" : "");
        }) + "<p>the end</p></body></html>",
        head + "<div id=main style='border:2px solid red;padding:5px'>" + repeat(200, [](int i) {
            return "<table border=1><tr><td>" + std::to_string(i) + "</td><td>cell text</td></tr><tr><td>" +
                   std::to_string(i * 7) + "</td><td>more text</td></tr></table>";
        }) + "</div><p>after the tables</p></body></html>",
        head + "<ul>" + repeat(200, [](int i) {
            return "<li>item " + std::to_string(i) + "<ol><li>inner one</li><li>inner two</li></ol></li>";
        }) + "</ul></body></html>",
        head + "<p>before</p><pre id=code style='border: 3px solid blue; padding: 4px; background: #ffe'>" +
            repeat(3000, [](int i) { return "line " + std::to_string(i) + " of a long &lt;listing&gt;\n" + (i % 9 ? "" : "\n"); }) +
            "</pre><p>after</p></body></html>",
        head + repeat(300, [](int i) { return "<pre>line " + std::to_string(i) + "\n  indented\n\nafter a gap</pre>"; }) +
            "</body></html>",
        // One long table, its rows split: numbers that grow longer further
        // down widen the first column for every part, striped rows stay
        // striped, links in cells keep their places.
        head + "<p>before</p><table border=1 style='border-spacing:3px'><thead><tr><th>n</th>"
               "<th>cube</th><th>text</th></tr></thead>" + repeat(400, [](int i) {
            return "<tr><td>" + std::to_string(i) + "</td><td>" + std::to_string(static_cast<long long>(i) * i * i * i) +
                   "</td><td><a href='#t" + std::to_string(i) + "' id='t" + std::to_string(i) + "'>row</a> with " +
                   (i % 7 ? "words" : "more words to wrap the cell onto a second line at this width") + "</td></tr>";
        }) + "</table><p>after the table</p></body></html>",
    };
    for (const std::string& html : docs) {
        auto whole = RenderInParts(html, 0);
        auto parts = RenderInParts(html, 2048);
        ASSERT_GT(html.size(), 5 * 2048u);
        EXPECT_EQ(PlacedRuns(parts), PlacedRuns(whole));
        EXPECT_EQ(Facts(parts), Facts(whole));
        EXPECT_EQ(parts.scrollHeight, whole.scrollHeight);
        EXPECT_EQ(parts.layoutWidth, whole.layoutWidth);
        // Laid out in parts indeed: each is drawn within a band of its own.
        Fills a, b;
        whole.drawing.Replay(a);
        parts.drawing.Replay(b);
        EXPECT_GE(b.clips, a.clips + 3);
    }
}

}  // namespace
}  // namespace htmlengine

namespace htmlengine {
namespace {

RenderResult RenderTextFile(const std::string& text, const std::string& name) {
    const std::string path = ::testing::TempDir() + name;
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    RenderRequest req;
    req.address = "file://" + path;
    req.layoutPartBytes = 32u << 10;  // laid out in parts as a long text is
    auto r = CreateLitehtmlEngine()->Render(req);
    std::remove(path.c_str());
    return r;
}

// Plain text keeps its lines (empty ones too) one under the other however
// long it is, and a line without an end, however long, wraps at the width
// (each laid out in parts, as long texts are).
TEST(LitehtmlEngine, PlainTextKeepsItsLinesAndWrapsLongOnes) {
    std::string text;
    int lines = 0;
    while (text.size() < (160u << 10)) {
        text += lines % 5 == 3 ? "" : "line " + std::to_string(lines) + " <&> text";
        text += lines % 7 == 0 ? "\r\n" : "\n";
        ++lines;
    }
    auto r = RenderTextFile(text, "lines.txt");
    auto runs = r.drawing.TextRuns();
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(Narrow(runs.front()->text), "line 0 <&> text");
    // Every line one line height below the one before, empty lines counted.
    const double step = runs[1]->origin.y - runs[0]->origin.y;
    ASSERT_GT(step, 5);
    std::size_t shown = 0;
    for (int n = 0; n < lines; ++n) {
        if (n % 5 == 3) continue;
        ASSERT_LT(shown, runs.size());
        ASSERT_EQ(Narrow(runs[shown]->text), "line " + std::to_string(n) + " <&> text");
        ASSERT_NEAR(runs[shown]->origin.y, runs[0]->origin.y + step * n, 0.01) << n;
        ++shown;
    }

    std::string word(400u << 10, 'x');
    for (std::size_t i = 0; i < word.size(); i += 997) word[i] = 'y';
    auto w = RenderTextFile(word, "word.txt");
    std::size_t chars = 0;
    for (const auto* t : w.drawing.TextRuns()) {
        chars += t->text.size();
        EXPECT_LE(t->origin.x, 800);
    }
    EXPECT_EQ(chars, word.size());
    EXPECT_LE(w.layoutWidth, 800);
    EXPECT_GT(w.drawing.TextRuns().size(), word.size() / 200);
}

}  // namespace
}  // namespace htmlengine
