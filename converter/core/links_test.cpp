#include "com_checks.h"
#include "links.h"

#include <gtest/gtest.h>

namespace vellumate {
namespace {

PageSource Addon(int n) {
    PageSource s;
    s.pageCount = n;
    s.addonSource = true;
    return s;
}
PageSource Picture(int n) {
    PageSource s;
    s.pageCount = n;
    s.pictureSource = true;
    return s;
}

TEST(AddonToPdfPage, SkipsPagesOfOtherSourcesBefore) {
    std::vector<PageSource> q{Picture(2), Addon(3), Picture(1), Addon(2)};
    EXPECT_EQ(AddonToPdfPage(q, 0), 2);
    EXPECT_EQ(AddonToPdfPage(q, 2), 4);
    EXPECT_EQ(AddonToPdfPage(q, 3), 6);  // first page of the second add-on source
    EXPECT_EQ(AddonToPdfPage(q, 4), 7);
    EXPECT_EQ(AddonToPdfPage({Addon(2)}, 1), 1);
}

class LinkTargets : public ::testing::Test {
protected:
    void SetUp() override {
        ctx.queue = {Picture(1), Addon(2), Addon(3)};
        ctx.pageTable.push_back({"first", "First.html", 1, false, ""});
        ctx.pageTable.push_back({"second", "second.htm", 3, false, ""});
    }
    LinkEntry Resolve(const std::string& target) {
        LinkEntry l;
        ResolveLinkTarget(ctx, target, &l);
        return l;
    }
    ConversionContext ctx;
};

TEST_F(LinkTargets, ExternalAddressesKeepTheirCase) {
    auto l = Resolve("http://Example.com/Path.html");
    EXPECT_EQ(l.targetPage, -1);
    EXPECT_EQ(l.url, "http://Example.com/Path.html");
}

TEST_F(LinkTargets, FilesOfTheRunByName) {
    EXPECT_EQ(Resolve("file:///data/SECOND.HTM#part").targetPage, 3);
    EXPECT_EQ(Resolve("../../first.html").targetPage, 1);
    EXPECT_EQ(Resolve("sub\\first.html").targetPage, 1);
    EXPECT_TRUE(Resolve("first.html").url.empty());
}

TEST_F(LinkTargets, UnknownTargetsStayAddresses) {
    auto l = Resolve("https://x.org/first.html.other");
    EXPECT_EQ(l.targetPage, -1);
    EXPECT_EQ(l.url, "https://x.org/first.html.other");
    EXPECT_EQ(Resolve("#top").targetPage, -1);  // an anchor of the same page names no file
}

TEST_F(LinkTargets, AddonIndexedEntriesAreMapped) {
    ctx.pageTable.push_back({"topic", "topic.htm", 2, true, ""});
    EXPECT_EQ(Resolve("topic.htm").targetPage, 3);  // add-on page 2 stands behind one picture page
}

TEST_F(LinkTargets, AnchorsOfConvertedDocumentsArePagesAndPositions) {
    // Second document: PDF pages 3 to 5; both documents have an anchor "top".
    ctx.anchors = {{"top", 1, 10}, {"Top", 4, 40}, {"deep", 5, 70}};
    auto resolved = [&](const std::string& target, std::int32_t from) {
        LinkEntry l;
        ResolveLinkTarget(ctx, target, &l, from);
        ResolveAnchor(ctx, &l);
        return l;
    };
    // "#name" stays inside the document the link is on, in any case.
    LinkEntry same = resolved("#TOP", 5);
    EXPECT_EQ(same.targetPage, 4);
    EXPECT_EQ(same.targetTop, 40);
    EXPECT_TRUE(same.url.empty());
    EXPECT_EQ(resolved("#top", 1).targetPage, 1);
    // Another file of the run: its anchor, or its first page without one.
    EXPECT_EQ(resolved("second.htm#deep", 1).targetPage, 5);
    EXPECT_EQ(resolved("second.htm#deep", 1).targetTop, 70);
    EXPECT_EQ(resolved("first.html#deep", 4).targetPage, 1);  // not in that file
    EXPECT_EQ(resolved("first.html#deep", 4).targetTop, 0);
    // Without a document to stand in, "#name" looks through the whole run,
    // and an unknown one stays as it was reported.
    ctx.pageTable.clear();
    EXPECT_EQ(resolved("#deep", 5).targetPage, 5);
    EXPECT_EQ(resolved("#Nowhere", 5).url, "#Nowhere");
}

TEST_F(LinkTargets, WebAddressesAreOutsideUnlessAPageCameFromThere) {
    // The file name of another site's page is no file of the run.
    EXPECT_EQ(Resolve("https://x.org/first.html").url, "https://x.org/first.html");
    EXPECT_EQ(Resolve("mailto:First.html@x.org").targetPage, -1);
    ctx.pageTable.push_back({"", "", 6, false, "http://127.0.0.1:8080/Docs/page.html"});
    LinkEntry l;
    ResolveLinkTarget(ctx, "HTTP://127.0.0.1:8080/Docs/page.html#Part", &l, 6);
    EXPECT_EQ(l.targetPage, 6);
    EXPECT_EQ(l.anchor, "Part");
    EXPECT_EQ(Resolve("http://127.0.0.1:8080/docs/page.html").url, "http://127.0.0.1:8080/docs/page.html");
}

TEST(PageTableIndex, MapsAddonPagesAsTheQueueWalkDoes) {
    // Sources of no pages, pictures between and after, pages past the end.
    std::vector<PageSource> q{Picture(2), Addon(3), Addon(0), Picture(1), Addon(2), Picture(4), Addon(0)};
    ConversionContext ctx;
    ctx.queue = q;
    const PageTableIndex index(ctx);
    for (std::int32_t page = 0; page < 9; ++page) EXPECT_EQ(index.PdfPage(page), AddonToPdfPage(q, page)) << page;
}

TEST_F(LinkTargets, FileNamesRepeatedOrInAnotherCaseFindTheFirstEntry) {
    ctx.pageTable.push_back({"FIRST", "FIRST.HTML", 4, false, ""});
    ctx.pageTable.push_back({"", "", 6, false, "http://127.0.0.1/"});  // no file name: matches nothing
    EXPECT_EQ(Resolve("First.HTML").targetPage, 1);
    EXPECT_EQ(Resolve("..\\..\\sub\\FIRST.html#x").targetPage, 1);
    EXPECT_EQ(Resolve("sub/../second.htm").targetPage, 3);
    EXPECT_EQ(Resolve("folder/").url, "folder/");
    EXPECT_EQ(Resolve("").targetPage, -1);
}

TEST_F(LinkTargets, SamePageAnchorsStayInTheDocumentTheLinkIsOn) {
    // Many topics of one name and anchor, as a large help file has them;
    // two entries share a first page (the later one holds it).
    ctx.queue.clear();
    ctx.pageTable.clear();
    for (int i = 0; i < 300; ++i) {
        ctx.queue.push_back(Addon(2));
        ctx.pageTable.push_back({"index", "index.htm", 2 * i, true, ""});
        ctx.anchors.push_back({i % 2 ? "TOP" : "top", 2 * i + 1, i});
    }
    ctx.pageTable.push_back({"extra", "extra.htm", 10, true, ""});
    const PageTableIndex index(ctx);
    const AnchorIndex anchors(ctx.anchors);
    for (int page : {0, 1, 11, 250, 599}) {
        LinkEntry l;
        ResolveLinkTarget(index, "#Top", &l, page);
        ResolveAnchor(index, anchors, &l);
        const int document = page / 2;
        EXPECT_EQ(l.anchorDocument, page == 11 ? 300 : document) << page;
        EXPECT_EQ(l.targetPage, 2 * document + 1) << page;  // its own page's anchor, not another's
        EXPECT_EQ(l.targetTop, document) << page;
    }
    LinkEntry l;
    ResolveLinkTarget(index, "INDEX.htm#top", &l, 400);
    ResolveAnchor(index, anchors, &l);
    EXPECT_EQ(l.targetPage, 1);  // the first entry of the name
}

TEST(AnchorIndex, FirstFoundWinsWhenPagesComeOutOfOrder) {
    const std::vector<AnchorEntry> found{{"a", 7, 1}, {"A", 3, 2}, {"a", 5, 3}, {"b", 4, 4}};
    const AnchorIndex index(found);
    EXPECT_EQ(index.Find("a", 0, 10)->top, 1);
    EXPECT_EQ(index.Find("a", 0, 7)->top, 2);
    EXPECT_EQ(index.Find("a", 4, 7)->top, 3);
    EXPECT_EQ(index.Find("a", 8, 10), nullptr);
    EXPECT_EQ(index.Find("b", 4, 5)->top, 4);
    EXPECT_EQ(index.Find("b", 5, 9), nullptr);
    EXPECT_EQ(index.Find("c", 0, 10), nullptr);
}

TEST(ComErrorText, FormatsCodeAndDescription) {
    EXPECT_EQ(ComErrorText("Corvanth", com::ComError(com::E_FAIL, "disk full")),
              "Corvanth has thrown an exception:\n\ncom error: -2147467259 - disk full");
}

}  // namespace
}  // namespace vellumate
