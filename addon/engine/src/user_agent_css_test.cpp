// The default style sheet cut down to what a document can use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "htmlengine/engine.h"
#include "sanitize.h"
#include "user_agent_css.h"

namespace htmlengine {
namespace {

TEST(DefaultSheetPruning, SubjectTagIsTheTagOfTheRightmostCompound) {
    struct Case {
        const char* selector;
        const char* tag;
    } cases[] = {
        {"td", "td"},
        {"  TD  ", "td"},
        {"table[border] td", "td"},
        {"table > tr", "tr"},
        {"ul>li", "li"},
        {"h1 + p", "p"},
        {"h1~p", "p"},
        {"details > summary.open:hover", "summary"},
        {"q:before", "q"},
        {"q::after", "q"},
        {"select option[selected]", "option"},
        {"a[title='x > y'] span", "span"},        // a combinator inside a string
        {"div[data-x=\"a b\"]", "div"},           // a space inside a string
        {"p:not(.a > b) em", "em"},
        {"p:not(.a b)", "p"},                      // a space inside parentheses
        {"my-widget", "my-widget"},
        // No tag in the subject: such selectors apply to any element.
        {"[hidden]", ""},
        {"*", ""},
        {"div *", ""},
        {".note", ""},
        {"#top", ""},
        {":link", ""},
        {"a :first-child", ""},
        {"table >", ""},
        {"", ""},
        // Not sure what the tag is: kept as if it had none.
        {"ns|p", ""},
        {"*|p", ""},
        {"d\\69 v", ""},
        {"\xC3\xA9l", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SelectorSubjectTag(c.selector), c.tag) << c.selector;
}

TEST(DefaultSheetPruning, KeepsOnlyRulesThatCanMatchInTheirOrder) {
    PrunableStyleSheet sheet(R"css(
/* a comment { with braces } */
h1, h2, .x { font-weight: bold; }
table td { padding: 1px; }
q:before { content: "}{"; }
[hidden] { display: none; }
p { margin: 1em; }
a[href] > b, i { color: red; }
)css");
    EXPECT_EQ(sheet.Prune({"p", "td"}),
              ".x { font-weight: bold; }\n"
              "table td { padding: 1px; }\n"
              "[hidden] { display: none; }\n"
              "p { margin: 1em; }\n");
    // A brace inside a string does not end the block.
    EXPECT_EQ(sheet.Prune({"b", "q"}),
              ".x { font-weight: bold; }\n"
              "q:before { content: \"}{\"; }\n"
              "[hidden] { display: none; }\n"
              "a[href] > b { color: red; }\n");
}

TEST(DefaultSheetPruning, AtRulesAndUnreadableTextStayWhole) {
    PrunableStyleSheet sheet(R"css(@import url("x.css");
@media print { h1 { color: red } td { color: blue } }
h1 { color: green }
@page { margin: 1cm }
} p { color: red }
div { color: gray
)css");
    std::string pruned = sheet.Prune({"p"});
    // The @media block keeps rules for tags the document does not have: a
    // rule never leaves its block.
    EXPECT_NE(pruned.find("@import url(\"x.css\");"), std::string::npos) << pruned;
    EXPECT_NE(pruned.find("@media print { h1 { color: red } td { color: blue } }"), std::string::npos) << pruned;
    EXPECT_NE(pruned.find("@page { margin: 1cm }"), std::string::npos) << pruned;
    EXPECT_EQ(pruned.find("h1 { color: green }"), std::string::npos) << pruned;
    // A stray '}' before a selector is not taken apart.
    EXPECT_NE(pruned.find("} p { color: red }"), std::string::npos) << pruned;
    // A block left open at the end is a rule like the others.
    EXPECT_EQ(pruned.find("gray"), std::string::npos) << pruned;
    EXPECT_NE(sheet.Prune({"div"}).find("div { color: gray"), std::string::npos);
}

// Every element the layout engine ends up with has a tag the pruned sheet was
// made for, also where the parser repairs the markup.
TEST(DefaultSheetPruning, TagsOfTheCleanedUpMarkupCoverEveryElement) {
    const char* docs[] = {
        "plain text, no markup at all",
        "<td>a cell without a table</td><tr><th>and a row</th></tr>",
        "<table><col width=10><tr><td>1</td></tr>text in a table<caption>c</caption></table>",
        "<p><table><tr><td>in a paragraph</td></tr></table></p>",  // no doctype: quirks
        "<!DOCTYPE html><p><table><tr><td>standards</td></tr></table></p>",
        "<b><p>misnested</b> formatting</p><i><div>x</i></div>",
        "a</br>b</p>c<li>d<dd>e<option>f<optgroup>g",
        "<ul><li>one<li>two<ol><li>three</ul>",
        "<select><option>a<option selected>b</select><input type=checkbox><input type=hidden>",
        "<image src=x.png><isindex prompt=q><frameset><frame src=a></frameset>",
        "<svg><foreignObject><p>svg</p></foreignObject></svg><math><mi>x</mi></math>",
        "<template><tr><td>t</td></tr></template><noscript><p>n</p></noscript>",
    };
    for (const char* html : docs) {
        SanitizedHtml sane = SanitizeHtml(html, 96, 8);
        std::vector<std::string> tags;
        std::set_union(sane.tags.begin(), sane.tags.end(), ImpliedTags().begin(), ImpliedTags().end(),
                       std::back_inserter(tags));
        RenderRequest req;
        req.kind = RenderRequest::Kind::String;
        req.html = html;
        RenderResult res = CreateLitehtmlEngine()->Render(req);
        EXPECT_FALSE(res.elements.empty()) << html;
        for (const auto& e : res.elements) {
            if (e.tag.empty() || e.tag[0] == ':') continue;  // anonymous boxes and pseudo-elements
            std::string tag;
            for (char c : e.tag) tag += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_TRUE(std::binary_search(tags.begin(), tags.end(), tag)) << tag << " in " << html;
        }
    }
}

TEST(DefaultSheetPruning, SanitizerListsTheTagsItWrites) {
    // Fields become spans, deep tables blocks, and cut elements are not there.
    SanitizedHtml sane = SanitizeHtml(
        "<input value=x><table><tr><td><table><tr><td>deep</td></tr></table></td></tr></table>"
        "<div><div><div><div><div><div><em>too deep</em></div></div></div></div></div></div>",
        7, 1);
    EXPECT_EQ(sane.tags, (std::vector<std::string>{"body", "div", "head", "html", "span", "table", "tbody", "td", "tr"}));
}

}  // namespace
}  // namespace htmlengine
