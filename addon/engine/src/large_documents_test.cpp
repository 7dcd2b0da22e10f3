// Long generated documents go through layout processes whose memory limit
// is far below what laying them out whole took (about 150 MB a megabyte of
// markup: 3 GB for the largest here). Laid out in parts, with the drawing
// kept on disk, every size and shape stays within it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "htmlengine/engine.h"

namespace htmlengine {
namespace {

constexpr const char* kWords[] = {"lorem", "ipsum", "dolor", "sit", "amet", "consectetur", "adipiscing", "elit",
                                  "sed", "do", "eiusmod", "tempor", "incididunt", "ut", "labore", "et"};

std::string Words(int from, int n) {
    std::string out;
    for (int k = 0; k < n; ++k) out += std::string(k ? " " : "") + kWords[(from + k) % 16];
    return out;
}

// A document of about `megabytes` of one shape, written to a file.
std::string Generate(const std::string& kind, int megabytes) {
    std::string html = "<!DOCTYPE html><html><head><title>" + kind + "</title></head><body>";
    html += kind == "pre" ? "<pre>" : kind == "lists" ? "<ul>" : kind == "table" ? "<table border=1>" : "";
    const std::size_t target = static_cast<std::size_t>(megabytes) << 20;
    for (int i = 0; html.size() < target; ++i) {
        if (kind == "paragraphs") html += "<p>" + std::to_string(i) + " " + Words(i, 80) + "</p>\n";
        else if (kind == "pre") html += std::to_string(i) + " " + Words(i, 10) + "\n";
        else if (kind == "table") html += "<tr><td>" + std::to_string(i) + "</td><td>" + Words(i, 8) + "</td></tr>\n";
        else html += "<li>" + std::to_string(i) + " " + Words(i, 8) + "<ul><li>" + Words(i + 4, 8) + "<ul><li>" +
                     Words(i + 8, 4) + "</li></ul></li></ul></li>\n";
    }
    html += kind == "pre" ? "</pre>" : kind == "lists" ? "</ul>" : kind == "table" ? "</table>" : "";
    html += "<p>the end</p></body></html>";
    const std::string path = ::testing::TempDir() + kind + std::to_string(megabytes) + ".html";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(html.data(), 1, html.size(), f);
    std::fclose(f);
    return path;
}

TEST(LargeDocuments, LayOutWithinTheLayoutProcessLimit) {
    auto engine = CreateDefaultEngine();
    const std::pair<const char*, int> docs[] = {{"paragraphs", 1}, {"paragraphs", 5}, {"paragraphs", 10},
                                                {"paragraphs", 20}, {"pre", 5},         {"lists", 5},
                                                {"table", 2}};
    for (const auto& [kind, megabytes] : docs) {
        const std::string path = Generate(kind, megabytes);
        RenderRequest req;
        req.address = "file://" + path;
        req.timeoutMs = 600000;
        req.layoutGraceMs = 600000;
        req.memoryLimitBytes = 384u << 20;
        const RenderResult r = engine->Render(req);
        std::remove(path.c_str());
        ASSERT_FALSE(r.crashed) << kind << " " << megabytes << " MB: " << (r.warnings.empty() ? "" : r.warnings.back());
        ASSERT_TRUE(r.documentAvailable) << kind << " " << megabytes;
        // Most of the drawing is on disk: the last text is read back from there.
        struct LastText : emf::Device {
            std::u16string text;
            void DrawText(const emf::TextRun& t, const emf::Matrix&) override { text = t.text; }
        } last;
        r.drawing.Replay(last);
        EXPECT_EQ(last.text, u"the end") << kind << " " << megabytes;
        // About a line of 16 pixels a 70 bytes of text or more.
        EXPECT_GT(r.scrollHeight, static_cast<int>((static_cast<std::size_t>(megabytes) << 20) / 70 * 16 / 8))
            << kind << " " << megabytes;
    }
}

}  // namespace
}  // namespace htmlengine
