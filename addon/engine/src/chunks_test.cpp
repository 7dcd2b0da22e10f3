#include "chunks.h"

#include <gtest/gtest.h>

#include <string>

namespace htmlengine {
namespace {

std::string Rows(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += "<tr><td>" + std::to_string(i) + "</td><td>some words in a cell</td></tr>";
    return out;
}

// A long table's rows are split, with the table's width added to its own
// style, the ruler after a part's rows (before them, in a body of its own,
// in the last part) and stand-ins that keep each row as many children in
// as in the whole table; a table with a caption stays whole.
TEST(Chunks, LongTableIsSplitIntoRowsThatKnowTheirPlace) {
    const SanitizedHtml doc = SanitizeHtml(
        "<html><body><p>x</p><table style=\"color:red\"><tbody>" + Rows(200) + "</tbody></table></body></html>", 96, 8);
    const ChunkPlan plan = PlanChunks(doc, 1024);
    ASSERT_GE(plan.Parts(), 3u);
    ASSERT_EQ(plan.table, 1);
    EXPECT_EQ(SpanTag(doc, plan.spine.back()), "tbody");
    const TableSetting table{"width:300px", "<tr class=ruler></tr>"};

    const std::string first = ChunkHtml(doc, plan, 0, 2, table);
    EXPECT_NE(first.find("<table style=\"color:red;width:300px\">"), std::string::npos) << first.substr(0, 200);
    EXPECT_NE(first.find("<tr class=ruler></tr></tbody>"), std::string::npos);
    EXPECT_EQ(ChunkPadding(plan, 0), 0u);

    const std::string middle = ChunkHtml(doc, plan, 1, 2, table);
    const std::string stand = "<tr style=\"display:none\"></tr>";
    std::size_t stands = 0;
    for (std::size_t at = middle.find(stand); at != std::string::npos; at = middle.find(stand, at + 1)) ++stands;
    EXPECT_EQ(stands, ChunkPadding(plan, 1));
    EXPECT_EQ(ChunkPadding(plan, 1), plan.firstUnit[1] % 12);
    EXPECT_NE(middle.find("<tr><td>" + std::to_string(plan.firstUnit[1]) + "</td>"), std::string::npos);

    const std::string last = ChunkHtml(doc, plan, plan.Parts() - 1, 2, table);
    EXPECT_NE(last.find("width:300px\"><tbody><tr class=ruler></tr></tbody><tbody>"), std::string::npos);
    EXPECT_NE(last.find("<tr><td>199</td>"), std::string::npos);

    const SanitizedHtml captioned = SanitizeHtml(
        "<html><body><table><caption>c</caption><tbody>" + Rows(200) + "</tbody></table></body></html>", 96, 8);
    EXPECT_EQ(PlanChunks(captioned, 1024).table, -1);
}

}  // namespace
}  // namespace htmlengine
