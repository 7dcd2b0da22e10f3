#include "addon/common/pdf_target.h"

#include <gtest/gtest.h>

#include "addon/common/testing/fake_pdf_document.h"

namespace tessaline {
namespace {

using testing::FakePdfDocument;

TEST(PdfTargetTest, PrefersMainInterfaceFallsBackToOlderOneAndHoldsOneReference) {
    FakePdfDocument both(true, true), older(false, true), neither(false, false);
    PdfTarget t;
    ASSERT_TRUE(t.Connect(both.Unknown()));
    EXPECT_NE(t.Primary(), nullptr);
    EXPECT_EQ(t.Secondary(), nullptr);
    EXPECT_EQ(both.refs, 1);

    ASSERT_TRUE(t.Connect(older.Unknown()));  // releases the first
    EXPECT_EQ(both.refs, 0);
    EXPECT_EQ(t.Primary(), nullptr);
    EXPECT_NE(t.Secondary(), nullptr);
    EXPECT_EQ(older.refs, 1);

    EXPECT_FALSE(t.Connect(neither.Unknown()));
    EXPECT_FALSE(t.IsConnected());
    EXPECT_EQ(older.refs, 0);
    EXPECT_EQ(neither.refs, 0);
    EXPECT_FALSE(t.Connect(nullptr));
}

TEST(PdfTargetTest, WithoutDocumentValuesReadZeroAndCallsFail) {
    PdfTarget t;
    EXPECT_EQ(t.Resolution(), 0);
    EXPECT_EQ(t.PageWidth(), 0);
    EXPECT_EQ(t.PageHeight(), 0);
    EXPECT_EQ(t.SafeNewPage(), com::E_NOINTERFACE);
    EXPECT_EQ(t.SetPageWidth(10), com::E_NOINTERFACE);
}

class PdfTargetBothFaces : public ::testing::TestWithParam<bool> {};

TEST_P(PdfTargetBothFaces, SafeNewPageKeepsRotationAndSizeAndPagesCountFromZero) {
    bool primary = GetParam();
    FakePdfDocument doc(primary, !primary);
    doc.Current() = {700, 500, 90};
    PdfTarget t;
    ASSERT_TRUE(t.Connect(doc.Unknown()));
    ASSERT_EQ(t.SafeNewPage(), com::S_OK);
    ASSERT_EQ(doc.pages.size(), 2u);
    EXPECT_EQ(doc.current, 1);
    EXPECT_EQ(doc.pages[1].width, 700);
    EXPECT_EQ(doc.pages[1].height, 500);
    EXPECT_EQ(doc.pages[1].rotation, 90);

    ASSERT_EQ(t.SelectPage(0), com::S_OK);
    EXPECT_EQ(doc.current, 0);
    std::int32_t dest = 0;
    ASSERT_EQ(t.AddDestination(1, 20, &dest), com::S_OK);
    EXPECT_EQ(doc.calls.back(), "AddDestination p1 20");
    EXPECT_EQ(t.SelectPage(2), com::E_INVALIDARG);
}

INSTANTIATE_TEST_SUITE_P(Faces, PdfTargetBothFaces, ::testing::Values(true, false));

}  // namespace
}  // namespace tessaline
