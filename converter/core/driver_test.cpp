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

TEST(ComErrorText, FormatsCodeAndDescription) {
    EXPECT_EQ(ComErrorText("Corvanth", com::ComError(com::E_FAIL, "disk full")),
              "Corvanth has thrown an exception:\n\ncom error: -2147467259 - disk full");
}

}  // namespace
}  // namespace vellumate
