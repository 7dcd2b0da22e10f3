#include "pages/emf_slicer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "emf/reader.h"
#include "emf/writer.h"

namespace tessaline {
namespace {

// A page image of w x h screen pixels, drawn by `draw`.
template <class Draw>
std::vector<std::uint8_t> PageImageOf(int w, int h, Draw draw) {
    emf::RecorderSetup setup;
    setup.hasFrame = true;
    setup.frame = {0, 0, w * 50800 / 1920 + 1, h * 28600 / 1080 + 1};
    emf::Recorder rec(setup);
    draw(rec);
    return rec.Finish();
}

struct SliceRecord {
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
    std::int32_t I32(std::size_t off) const {
        std::int32_t v = 0;
        if (off + 4 <= bytes.size()) std::memcpy(&v, &bytes[off], 4);
        return v;
    }
};

std::vector<SliceRecord> RecordsOf(const std::vector<std::uint8_t>& emfBytes) {
    emf::Metafile mf = emf::Read(emfBytes, {.strict = true});
    EXPECT_EQ(mf.status, emf::ReadStatus::Ok) << (mf.diagnostics.empty() ? "" : mf.diagnostics[0].Text());
    std::vector<SliceRecord> out;
    for (const emf::Record& r : mf.records)
        out.push_back({r.type, {emfBytes.begin() + r.offset, emfBytes.begin() + r.offset + r.size}});
    return out;
}

// The text of the EXTTEXTOUTW records of a slice, with their reference y.
std::vector<std::pair<std::u16string, int>> TextsOf(const std::vector<std::uint8_t>& emfBytes) {
    std::vector<std::pair<std::u16string, int>> texts;
    for (const SliceRecord& r : RecordsOf(emfBytes)) {
        if (r.type != emf::EMR_EXTTEXTOUTW) continue;
        std::uint32_t n = r.I32(44), off = r.I32(48);
        std::u16string s(n, u' ');
        std::memcpy(s.data(), &r.bytes[off], n * 2);
        texts.emplace_back(s, r.I32(40));
    }
    return texts;
}

void Text(emf::Recorder& rec, int x, int y, std::u16string_view s, int height = 20) {
    emf::RectL bounds{x, y, x + 10 * static_cast<int>(s.size()), y + height};
    std::vector<std::int32_t> dx(s.size(), 10);
    rec.ExtTextOutW(x, y, 0, nullptr, s, dx, &bounds);
}

class SlicerTest : public ::testing::Test {
protected:
    EventLog log;
};

TEST_F(SlicerTest, SlicesCoverTheImageAndMoveRecordsUp) {
    auto image = PageImageOf(1000, 1200, [](emf::Recorder& rec) {
        Text(rec, 10, 100, u"first");
        Text(rec, 10, 700, u"second");
        rec.Rectangle({0, 1100, 50, 1150});
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(1000);
    slicer.SetSliceHeight(500);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 3);
    EXPECT_DOUBLE_EQ(slicer.HorizontalScale(), 1.0);
    int top = 0, end = 0;
    ASSERT_TRUE(slicer.SliceRange(1, &top, &end));
    EXPECT_EQ(top, 500);
    EXPECT_EQ(end, 1000);
    EXPECT_FALSE(slicer.SliceRange(3, &top, &end));
    EXPECT_EQ(slicer.GetSlice(3), nullptr);

    auto t0 = TextsOf(*slicer.GetSlice(0));
    auto t1 = TextsOf(*slicer.GetSlice(1));
    // Lines wholly outside a slice are left out of it.
    ASSERT_EQ(t0.size(), 1u);
    EXPECT_EQ(t0[0].first, u"first");
    ASSERT_EQ(t1.size(), 1u);
    EXPECT_EQ(t1[0].first, u"second");
    EXPECT_EQ(t1[0].second, 200);
    // Nothing follows the last slice, so a line crossing its bottom stays there.
    auto tail = PageImageOf(300, 299, [](emf::Recorder& rec) { Text(rec, 0, 290, u"last", 20); });
    CEmfSlicer whole(log);
    whole.SetSliceWidth(300);
    whole.SetSourceImage(tail);
    ASSERT_EQ(whole.SliceCount(), 1);
    EXPECT_EQ(TextsOf(*whole.GetSlice(0))[0].first, u"last");
    // The rectangle lies in the last slice only, moved up by its top.
    int rects = 0;
    for (int i = 0; i < 3; ++i)
        for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(i)))
            if (r.type == emf::EMR_RECTANGLE) {
                ++rects;
                EXPECT_EQ(i, 2);
                EXPECT_EQ(r.I32(12), 100);
            }
    EXPECT_EQ(rects, 1);
    // Each slice's header describes the slice.
    auto header = emf::ReadHeader(*slicer.GetSlice(0));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bounds.bottom, 500);
    EXPECT_EQ(header->bytes, slicer.GetSlice(0)->size());
}

TEST_F(SlicerTest, TextCrossingTheBottomMovesWholeToTheNextSlice) {
    auto image = PageImageOf(500, 1000, [](emf::Recorder& rec) { Text(rec, 0, 490, u"crossing", 30); });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(500);
    slicer.SetSliceHeight(500);
    slicer.SetSourceImage(image);
    ASSERT_GE(slicer.SliceCount(), 2);
    EXPECT_EQ(TextsOf(*slicer.GetSlice(0))[0].first, u"        ");
    int top = 0, end = 0;
    slicer.SliceRange(0, &top, &end);
    EXPECT_EQ(end, 489);  // cut back so the line starts inside the next slice
    auto next = TextsOf(*slicer.GetSlice(1));
    EXPECT_EQ(next[0].first, u"crossing");
    EXPECT_EQ(next[0].second, 1);
}

TEST_F(SlicerTest, TextTallerThanASliceDoesNotStallTheLoop) {
    auto image = PageImageOf(500, 2000, [](emf::Recorder& rec) { Text(rec, 0, 100, u"huge", 900); });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(500);
    slicer.SetSliceHeight(300);
    slicer.SetSourceImage(image);
    EXPECT_GE(slicer.SliceCount(), 7);
    EXPECT_LE(slicer.SliceCount(), 8);
    int seen = 0;
    for (int i = 0; i < slicer.SliceCount(); ++i)
        for (auto& t : TextsOf(*slicer.GetSlice(i))) seen += t.first == u"huge";
    EXPECT_EQ(seen, 1);
}

TEST_F(SlicerTest, ForcedBreakEndsTheSliceAndWideImagesScale) {
    auto image = PageImageOf(1000, 2000, [](emf::Recorder& rec) { rec.RoundRect({10, 20, 100, 80}, {5, 5}); });
    std::vector<std::int32_t> breaks{300};
    CEmfSlicer slicer(log);
    slicer.SetPageBreaks(&breaks);
    slicer.SetSliceHeight(842);
    slicer.SetSliceWidth(595);
    slicer.SetSourceImage(image);
    EXPECT_NEAR(slicer.HorizontalScale(), 595.0 / 999.0, 1e-3);
    int top = 0, end = 0;
    slicer.SliceRange(0, &top, &end);
    EXPECT_EQ(end, 300);
    slicer.SliceRange(1, &top, &end);
    EXPECT_EQ(end - top, static_cast<int>(842 / slicer.HorizontalScale()));
    bool round = false;
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(0))) round |= r.type == emf::EMR_ROUNDRECT;
    EXPECT_TRUE(round);
    EXPECT_EQ(breaks.size(), 1u);  // the caller's list is not consumed
}

TEST_F(SlicerTest, DefaultClipSelectionIsLeftOutAndLinesAreClipped) {
    auto image = PageImageOf(400, 799, [](emf::Recorder& rec) {
        rec.ExtSelectClipRgn({}, emf::RGN_COPY);
        emf::RectL r{0, 0, 100, 100};
        rec.ExtSelectClipRgn(std::span(&r, 1), emf::RGN_COPY);
        rec.MoveToEx(10, 300);
        rec.LineTo(10, 600);
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(400);
    slicer.SetSliceHeight(400);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 2);
    auto first = RecordsOf(*slicer.GetSlice(0));
    int regions = 0;
    std::vector<std::pair<int, int>> path;  // type, y
    for (const SliceRecord& r : first) {
        regions += r.type == emf::EMR_EXTSELECTCLIPRGN;
        if (r.type == emf::EMR_MOVETOEX || r.type == emf::EMR_LINETO) path.emplace_back(r.type, r.I32(12));
    }
    EXPECT_EQ(regions, 1);  // only the one with region data
    // The segment from y 300 to 600 is cut at the slice's bottom (400), and
    // the pen still ends where the line did.
    ASSERT_GE(path.size(), 3u);
    EXPECT_EQ(path[0], std::make_pair(int(emf::EMR_MOVETOEX), 300));
    EXPECT_EQ(path[1], std::make_pair(int(emf::EMR_LINETO), 400));
    EXPECT_EQ(path.back(), std::make_pair(int(emf::EMR_MOVETOEX), 600));
}

TEST_F(SlicerTest, PictureCrossingTheBottomLosesTheRowsBelow) {
    // A 4 x 100 picture drawn 1:1 at y 350: 50 rows in the first slice.
    emf::DibData dib;
    dib.info.assign(40, 0);
    std::int32_t w = 4, h = 100;
    std::uint16_t planes = 1, bpp = 24;
    std::memcpy(&dib.info[0], "\x28\0\0\0", 4);
    std::memcpy(&dib.info[4], &w, 4);
    std::memcpy(&dib.info[8], &h, 4);
    std::memcpy(&dib.info[12], &planes, 2);
    std::memcpy(&dib.info[14], &bpp, 2);
    dib.bits.assign(12 * 100, 0);
    for (int row = 0; row < 100; ++row) dib.bits[static_cast<std::size_t>(row) * 12] = static_cast<std::uint8_t>(row);
    auto image = PageImageOf(400, 799, [&](emf::Recorder& rec) { rec.StretchDIBits({0, 350, 4, 450}, {0, 0, 4, 100}, dib); });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(400);
    slicer.SetSliceHeight(400);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 2);
    bool found = false;
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(0))) {
        if (r.type != emf::EMR_STRETCHDIBITS) continue;
        found = true;
        EXPECT_EQ(r.I32(76), 50);  // destination height
        EXPECT_EQ(r.I32(44), 50);  // source height
        std::uint32_t offBmi = r.I32(48), offBits = r.I32(56);
        EXPECT_EQ(r.I32(offBmi + 8), 50);
        // Bottom-up: the first stored row is the picture's bottom; the 50
        // bottom rows (stored rows 0..49) are gone.
        EXPECT_EQ(r.bytes[offBits], 50);
    }
    EXPECT_TRUE(found);
}

TEST_F(SlicerTest, BrokenSourcesNeverCrash) {
    CEmfSlicer slicer(log);
    std::vector<std::uint8_t> garbage(1000, 0xAB);
    slicer.SetSourceImage(garbage);
    EXPECT_EQ(slicer.SliceCount(), 0);

    // A valid picture whose records are damaged one byte at a time.
    auto image = PageImageOf(300, 900, [](emf::Recorder& rec) {
        Text(rec, 0, 10, u"text");
        std::vector<emf::PointL> pts{{0, 0}, {100, 800}, {200, 10}};
        rec.Polygon(pts);
        rec.Polygon16(pts);
        emf::RectL r{0, 0, 10, 10};
        rec.ExtSelectClipRgn(std::span(&r, 1), emf::RGN_COPY);
    });
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        auto damaged = image;
        for (int i = 0; i < 4; ++i)
            damaged[100 + rng() % (damaged.size() - 100)] = static_cast<std::uint8_t>(rng());
        CEmfSlicer s(log);
        s.SetSliceWidth(300);
        s.SetSliceHeight(100);
        s.SetSourceImage(damaged);
        EXPECT_LE(s.SliceCount(), 20);
    }
}

}  // namespace
}  // namespace tessaline
