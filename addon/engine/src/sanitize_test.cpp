#include "sanitize.h"

#include <gtest/gtest.h>

namespace htmlengine {
namespace {

TEST(Sanitizer, DropsEventHandlersAndKeepsWhatTheLayoutReads) {
    SanitizedHtml sane = SanitizeHtml(
        "<body onload='go()'><a href='x.html' OnClick=\"opener.location.href = 'x.html'; return false;\" "
        "onmouseover=h() title=t>x</a><p on=1 style='color:red'>a &amp; b</p></body>",
        96, 8);
    EXPECT_EQ(sane.html.find("onload"), std::string::npos) << sane.html;
    EXPECT_EQ(sane.html.find("nclick"), std::string::npos) << sane.html;
    EXPECT_EQ(sane.html.find("onmouseover"), std::string::npos) << sane.html;
    EXPECT_NE(sane.html.find("<a href=\"x.html\" title=\"t\">x</a>"), std::string::npos) << sane.html;
    // A two-letter "on" is no handler; the body is still made visible.
    EXPECT_NE(sane.html.find("<p on=\"1\" style=\"color:red\">a &amp; b</p>"), std::string::npos) << sane.html;
    EXPECT_NE(sane.html.find("<body style=\"visibility: visible\">"), std::string::npos) << sane.html;
}

TEST(Sanitizer, PlainMarkupPassesThroughAsWritten) {
    const std::string doc =
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" \"http://www.w3.org/TR/html4/loose.dtd\">\n"
        "<html><head><title>a <b> title</title><style>p > b { color: red }</style>"
        "<script>var s = \"<img src=x></div>\";</script></head>\n"
        "<BODY class=main><!-- <input> --><div title=\"<img>\" onclick='x()'><P>x &amp; <b>y</b></P></div>"
        "<table><tr><td>c</td></tr></table></body></html>";
    auto out = PassThroughHtml(doc, 96);
    ASSERT_TRUE(out);
    EXPECT_FALSE(out->quirks);  // limited quirks lays out as standards
    // The standards doctype, the body made visible, the event handler gone.
    std::string expected = doc;
    expected.replace(0, expected.find('>') + 1, "<!DOCTYPE html>");
    expected.replace(expected.find("<BODY") + 5, 0, " style=\"visibility: visible\"");
    expected.replace(expected.find("onclick"), std::string("onclick='x()'").size(), "");
    EXPECT_EQ(out->html, expected);
    // Tags of elements only: none from the title, the script, the comment or an attribute value.
    EXPECT_EQ(out->tags, (std::vector<std::string>{"b", "body", "div", "head", "html", "p", "script", "style", "table",
                                                   "td", "title", "tr"}));
    auto noDoctype = PassThroughHtml("<html><body><p>x</p></body></html>", 96);
    ASSERT_TRUE(noDoctype);
    EXPECT_TRUE(noDoctype->quirks);
    auto quirks = PassThroughHtml("<!DOCTYPE foo><body><p>no table</p></body>", 96);
    ASSERT_TRUE(quirks);
    EXPECT_TRUE(quirks->quirks);
    EXPECT_EQ(quirks->quirks, SanitizeHtml("<!DOCTYPE foo><body><p>no table</p></body>", 96, 8).quirks);
}

TEST(Sanitizer, MarkupThatNeedsRewritingDoesNotPassThrough) {
    const char* docs[] = {
        "<body><input value=x></body>",
        "<body><select><option>a</select></body>",
        "<body><img src=a.png alt=b></body>",
        "<body><svg><rect/></svg></body>",
        "<frameset><frame src=a></frameset><body></body>",
        "<body><template><p>t</template></body>",
        "<body><p style='background: linear-gradient(red, blue)'>g</p></body>",
        "<body style='color:red'><p>styled body</p></body>",
        "<body><p>one</p></body><body><p>two</p></body>",
        "<p>no body tag</p>",
        "text before any tag<body></body>",
        "\xEF\xBB\xBF<body>byte-order mark</body>",
        "<body><script><!--<script></script>--></script><p>x</p></body>",
        "<body><!-- never closed <p>x</p></body>",
        "<body><p>x</p><div title='never closed></body>",
        "<body><x$y>odd name</x$y></body>",
        "<!DOCTYPE foo><body><p><table></table></body>",  // quirks, and a table
        "<body><style>p { color: red }</body>",
    };
    for (const char* html : docs) EXPECT_FALSE(PassThroughHtml(html, 96)) << html;
    std::string runaway = "<body>";
    for (int i = 0; i < 200; ++i) runaway += "<span>";
    EXPECT_FALSE(PassThroughHtml(runaway, 8));
    EXPECT_TRUE(PassThroughHtml(runaway, 96));  // the engine checks the tree itself
}

TEST(Sanitizer, ScanOfCutOffMarkupStaysInsideIt) {
    // Cut at every byte: inside comments, doctypes, tags, quoted values and
    // raw text alike.
    const std::string doc =
        "<!DOCTYPE html><!-- c --><html><head><title>t</title><script>a=\"</scrip\"</script>"
        "<style>p{}</style></head><body id='a>b' class=c><p title=\"x\">y</p><!x><?y></z><div/></body></html>";
    ASSERT_TRUE(PassThroughHtml(doc, 96));
    for (std::size_t n = 0; n <= doc.size(); ++n) {
        auto out = PassThroughHtml(std::string_view(doc).substr(0, n), 96);
        if (out) {
            EXPECT_NE(out->html.find("<body style=\"visibility: visible\""), std::string::npos) << n;
        }
    }
}


// Start tags beyond the nesting the parser can take are left out with their
// end tags; everything else, the text above all, stays as written.
TEST(Sanitizer, RunawayNestingIsFlattenedNotCut) {
    std::string deep = "<body>";
    for (int i = 0; i < 5000; ++i) deep += i % 2 ? "<div class='a>b'>" : "<span>";
    deep += "word";
    for (int i = 0; i < 5000; ++i) deep += i % 2 ? "</span>" : "</div>";
    deep += "<p>after</p></body>";
    SanitizedHtml sane = SanitizeHtml(deep, 96, 8);
    EXPECT_TRUE(sane.depthFlattened);
    EXPECT_TRUE(sane.hasText);
    EXPECT_NE(sane.html.find("word"), std::string::npos);
    EXPECT_NE(sane.html.find("<p>after</p>"), std::string::npos);
    EXPECT_EQ(sane.html.find("b'"), std::string::npos);  // no tag left half
    EXPECT_FALSE(PassThroughHtml(deep, 96));
    // Spans nest as the elements do and cover their end tags.
    for (const ElementSpan& e : sane.spans) {
        ASSERT_LT(e.open, e.openEnd);
        ASSERT_LE(e.openEnd, e.close);
        ASSERT_LE(e.close, e.closeEnd);
        if (e.parent >= 0) {
            const ElementSpan& p = sane.spans[static_cast<std::size_t>(e.parent)];
            ASSERT_GE(e.open, p.openEnd);
            ASSERT_LE(e.closeEnd, p.close);
        }
    }
    EXPECT_FALSE(SanitizeHtml("<head><title>t</title></head><body> <script>x</script><select><option>o</select></body>", 96, 8).hasText);
}

}  // namespace
}  // namespace htmlengine
