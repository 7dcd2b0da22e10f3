#include "htmlengine/display_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>

#include "emf/trace_device.h"
#include "htmlengine/engine.h"

namespace htmlengine {
namespace {

DisplayList Sample() {
    DisplayList dl;
    emf::Path p;
    p.AddRect({1, 2, 30, 40});
    p.CubicTo({1, 1}, {2, 2}, {3, 3});
    emf::Paint paint;
    paint.color = {10, 20, 30, 255};
    dl.PushClip(p, emf::FillRule::EvenOdd, {});
    dl.FillPath(p, emf::FillRule::NonZero, paint, emf::Matrix::Translate(5, 6));
    emf::StrokeStyle st;
    st.width = 2;
    st.dashes = {3, 1};
    dl.StrokePath(p, st, {1, 2, 3, 4}, {});
    emf::TextRun t;
    t.text = u"Héllo 中";
    t.advances = {1, 2, 3, 4, 5, 6, 7};
    t.face = "DejaVu Sans";
    t.origin = {10, 20};
    t.weight = 700;
    dl.DrawText(t, {});
    emf::Image im;
    im.format = emf::Image::Format::Rgba8;
    im.width = 2, im.height = 1, im.components = 4;
    im.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    dl.DrawImage(im, emf::Matrix::Scale(2, 1));
    dl.PopClip();
    return dl;
}

std::string Trace(const DisplayList& dl) {
    emf::TraceDevice t;
    dl.Replay(t);
    return t.Text();
}

TEST(DisplayList, SerializedListReplaysTheSameCalls) {
    DisplayList dl = Sample();
    std::string bytes;
    dl.Serialize(bytes);
    auto back = DisplayList::Deserialize(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->CallCount(), dl.CallCount());
    EXPECT_EQ(Trace(*back), Trace(dl));
}

// A page printed by another program carries its own fonts: they travel and
// replay in their place among the drawing calls.
TEST(DisplayList, FontProgramsTravelWithTheCalls) {
    DisplayList dl;
    dl.DefineFont({u"PrintedFace", emf::FontProgram::Format::Sfnt, {0, 1, 0, 0, 42}});
    emf::TextRun t;
    t.text = u"x";
    t.face = "PrintedFace";
    dl.DrawText(t, {});
    std::string bytes;
    dl.Serialize(bytes);
    auto back = DisplayList::Deserialize(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(Trace(*back), Trace(dl));
    EXPECT_NE(Trace(dl).find("PrintedFace"), std::string::npos);
    bytes.resize(bytes.size() - 3);
    EXPECT_FALSE(DisplayList::Deserialize(bytes));
}

// A replay in chunks draws the same, with the caller's turn between chunks.
TEST(DisplayList, ChunkedReplayCallsBetweenChunks) {
    const DisplayList dl = Sample();  // six calls
    emf::TraceDevice t;
    int turns = 0;
    dl.Replay(t, [&] { ++turns; }, 2);
    EXPECT_EQ(t.Text(), Trace(dl));
    EXPECT_EQ(turns, 3);
}

// A long drawing goes to its spill file in segments as it grows and plays
// back the same; a list read from the wire needs that file handed over.
TEST(DisplayList, SpilledListReplaysTheSameCallsFromItsFile) {
    DisplayList whole, spilled;
    spilled.SetSpillThreshold(4);  // Sample's clip stays open over six calls: spilled at its end
    for (int i = 0; i < 5; ++i) Sample().Replay(whole), Sample().Replay(spilled);
    emf::TextRun last;
    last.text = u"the end";
    whole.DrawText(last, {}), spilled.DrawText(last, {});
    ASSERT_GE(spilled.SpillFd(), 0);
    EXPECT_EQ(whole.SpillFd(), -1);
    EXPECT_EQ(spilled.CallCount(), whole.CallCount());
    EXPECT_EQ(spilled.TextRunCount(), 6u);
    ASSERT_EQ(spilled.TextRuns().size(), 1u);  // only what came after the last segment is held
    EXPECT_EQ(spilled.TextRuns()[0]->text, u"the end");
    EXPECT_EQ(Trace(spilled), Trace(whole));

    std::string bytes;
    spilled.Serialize(bytes);
    auto back = DisplayList::Deserialize(bytes);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->AwaitsSpill());
    EXPECT_EQ(back->CallCount(), whole.CallCount());
    emf::TraceDevice t;
    EXPECT_THROW(back->Replay(t), std::runtime_error);
    // Another file is not the one announced.
    auto other = DisplayList::Deserialize(bytes);
    DisplayList small;
    small.SetSpillThreshold(1);
    Sample().Replay(small);
    EXPECT_FALSE(other->AdoptSpill(::dup(small.SpillFd())));
    ASSERT_TRUE(back->AdoptSpill(::dup(spilled.SpillFd())));
    EXPECT_FALSE(back->AwaitsSpill());
    EXPECT_EQ(Trace(*back), Trace(whole));
    // Segments are read in chunks like the rest.
    int turns = 0;
    emf::TraceDevice chunked;
    back->Replay(chunked, [&] { ++turns; }, 5);
    EXPECT_EQ(turns, static_cast<int>(whole.CallCount() / 5));
}

TEST(DisplayList, DamagedBytesAreRefused) {
    std::string bytes;
    Sample().Serialize(bytes);
    for (std::size_t cut : {std::size_t(0), std::size_t(3), bytes.size() / 2, bytes.size() - 1})
        EXPECT_FALSE(DisplayList::Deserialize(std::string_view(bytes).substr(0, cut))) << cut;
    std::string huge = bytes;
    huge[16] = '\xFF', huge[17] = '\xFF', huge[18] = '\xFF', huge[19] = '\x7F';  // a call count beyond the data
    EXPECT_FALSE(DisplayList::Deserialize(huge));
    EXPECT_FALSE(DisplayList::Deserialize(bytes + "x"));
}

TEST(DisplayList, UnbalancedClipsStayBalanced) {
    DisplayList dl;
    dl.PopClip();  // nothing to pop
    emf::Path p;
    p.AddRect({0, 0, 1, 1});
    dl.PushClip(p, emf::FillRule::NonZero, {});
    struct Count : emf::Device {
        int depth = 0, minDepth = 0;
        void PushClip(const emf::Path&, emf::FillRule, const emf::Matrix&) override { ++depth; }
        void PopClip() override { minDepth = std::min(minDepth, --depth); }
    } c;
    dl.Replay(c);
    EXPECT_EQ(c.depth, 0);
    EXPECT_EQ(c.minDepth, 0);
}

TEST(RenderResultWire, RoundTripAndTruncation) {
    RenderResult r;
    r.documentAvailable = true;
    r.events.push_back({false, true, "file:///x.html", 200});
    r.elements.push_back({"IMG", false, true, false, {{1, 2, 3, 4}}});
    r.anchors.push_back({"http://a/b", "b", "http:", "n", {{5, 6, 7, 8}}});
    r.warnings.push_back("w");
    r.drawing = Sample();
    std::string bytes;
    SerializeResult(r, bytes);
    RenderResult back;
    ASSERT_TRUE(DeserializeResult(bytes, back));
    EXPECT_EQ(back.elements[0].rects[0], (IntRect{1, 2, 3, 4}));
    EXPECT_EQ(back.anchors[0].protocol, "http:");
    EXPECT_EQ(back.events[0].url, "file:///x.html");
    for (std::size_t cut = 0; cut < bytes.size(); cut += 7) EXPECT_FALSE(DeserializeResult(bytes.substr(0, cut), back));
}

}  // namespace
}  // namespace htmlengine
