#include "driver.h"

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
        ctx.pageTable.push_back({"first", "First.html", 1});
        ctx.pageTable.push_back({"second", "second.htm", 3});
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
    ctx.pageTable.push_back({"topic", "topic.htm", 2, true});
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

TEST(ComErrorText, FormatsCodeAndDescription) {
    EXPECT_EQ(ComErrorText("Corvanth", com::ComError(com::E_FAIL, "disk full")),
              "Corvanth has thrown an exception:\n\ncom error: -2147467259 - disk full");
}

}  // namespace
}  // namespace vellumate
