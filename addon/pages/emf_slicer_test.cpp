#include "addon/pages/emf_slicer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
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
    // Lines are kept for the test only while a log file is open.
    void SetUp() override { log.SetLogFile(LogPath()); }
    void TearDown() override {
        log.Close();
        std::remove(LogPath().c_str());
    }
    static std::string LogPath() { return ::testing::TempDir() + "slicer_test_" + std::to_string(::getpid()) + ".log"; }
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
    int calls = 0;  // the client gets its turn before every slice
    slicer.SetBetweenSlices([&] { ++calls; });
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 3);
    EXPECT_EQ(calls, 3);
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

// A raw record under construction: 32-bit fields at byte offsets.
struct RawRecord {
    std::vector<std::uint8_t> b;
    RawRecord(std::uint32_t type, std::size_t size) : b(size, 0) {
        Put(0, type);
        Put(4, static_cast<std::uint32_t>(size));
    }
    RawRecord& Put(std::size_t off, std::int64_t v) {
        auto u = static_cast<std::uint32_t>(v);
        std::memcpy(&b[off], &u, 4);
        return *this;
    }
    RawRecord& Box(std::size_t off, int l, int t, int r, int bottom) {
        return Put(off, l).Put(off + 4, t).Put(off + 8, r).Put(off + 12, bottom);
    }
};

// A picture of `rows` rows at `bpp` bits whose stored row k starts with the
// byte `picture row of k` (bottom-up unless topDown), behind a record header
// of `headerSize` bytes with the bitmap's offsets at offBmi.
std::vector<std::uint8_t> WithBitmap(RawRecord rec, std::size_t headerSize, std::size_t offBmi, int bpp, int rows,
                                     bool topDown) {
    const int width = bpp == 1 ? 8 : bpp == 4 ? 2 : 1;
    const std::size_t palette = bpp <= 8 ? (std::size_t{1} << bpp) * 4 : 0;
    const std::size_t stride = 4;
    const std::size_t bmi = 40 + palette, bits = stride * static_cast<std::size_t>(rows);
    rec.b.resize(headerSize + bmi + bits, 0);
    rec.Put(4, static_cast<std::uint32_t>(rec.b.size()));
    rec.Put(offBmi, headerSize).Put(offBmi + 4, bmi).Put(offBmi + 8, headerSize + bmi).Put(offBmi + 12, bits);
    rec.Put(headerSize, 40).Put(headerSize + 4, width).Put(headerSize + 8, topDown ? -rows : rows);
    std::uint16_t planes = 1, depth = static_cast<std::uint16_t>(bpp);
    std::memcpy(&rec.b[headerSize + 12], &planes, 2);
    std::memcpy(&rec.b[headerSize + 14], &depth, 2);
    rec.Put(headerSize + 20, bits);
    for (int k = 0; k < rows; ++k)
        rec.b[headerSize + bmi + stride * static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(topDown ? k : rows - 1 - k);
    return rec.b;
}

// The picture rows a STRETCHBLT of a slice still holds, in picture order, and
// its destination and source heights.
struct KeptPicture {
    std::vector<int> rows;
    int cyDest = -1, cySrc = -1, yDest = -1;
};
KeptPicture PictureOf(const std::vector<std::uint8_t>& slice) {
    KeptPicture k;
    for (const SliceRecord& r : RecordsOf(slice)) {
        if (r.type != emf::EMR_STRETCHBLT) continue;
        const std::uint32_t offBmi = r.I32(84), offBits = r.I32(92);
        const int height = r.I32(offBmi + 8);
        const int n = std::abs(height);
        for (int i = 0; i < n; ++i) k.rows.push_back(r.bytes[offBits + 4 * static_cast<std::size_t>(i)]);
        if (height > 0) std::reverse(k.rows.begin(), k.rows.end());
        k.cyDest = r.I32(36), k.cySrc = r.I32(104), k.yDest = r.I32(28);
    }
    return k;
}

TEST_F(SlicerTest, PicturesLoseTheRowsOutsideTheSliceAtEveryDepth) {
    for (int bpp : {1, 4, 8, 24}) {
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(::testing::Message() << bpp << " bpp" << (topDown ? " top-down" : " bottom-up"));
            // 20 rows drawn 1:1 at y 290 (bounds inclusive: 290..309), slices of 300.
            RawRecord rec(emf::EMR_STRETCHBLT, 108);
            rec.Box(8, 0, 290, 7, 309).Put(24, 0).Put(28, 290).Put(32, 8).Put(36, 20).Put(40, 0xCC0020);
            rec.Put(100, 8).Put(104, 20);
            auto bytes = WithBitmap(rec, 108, 84, bpp, 20, topDown);
            auto image = PageImageOf(400, 599, [&](emf::Recorder& r) { r.AppendRaw(bytes); });
            CEmfSlicer slicer(log);
            slicer.SetSliceWidth(400);
            slicer.SetSliceHeight(300);
            slicer.SetSourceImage(image);
            ASSERT_EQ(slicer.SliceCount(), 2);
            KeptPicture first = PictureOf(*slicer.GetSlice(0));
            std::vector<int> upper{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
            EXPECT_EQ(first.rows, upper);
            EXPECT_EQ(first.cyDest, 10);
            EXPECT_EQ(first.cySrc, 10);
            // The next slice starts at 300: its bounds top is -10, and 1 - top
            // rows go.
            KeptPicture second = PictureOf(*slicer.GetSlice(1));
            std::vector<int> lower{11, 12, 13, 14, 15, 16, 17, 18, 19};
            EXPECT_EQ(second.rows, lower);
            EXPECT_EQ(second.cyDest, 9);
            EXPECT_EQ(second.yDest, 0);
        }
    }
}

TEST_F(SlicerTest, EveryRewrittenRecordTypeMovesWithTheSlice) {
    // Each record sits at y 450..470 (second slice of 400) unless said.
    std::vector<std::vector<std::uint8_t>> raw;
    raw.push_back(RawRecord(emf::EMR_BITBLT, 100).Box(8, 0, 450, 9, 470).Put(28, 450).Put(36, 21).b);
    raw.push_back(RawRecord(emf::EMR_EXTFLOODFILL, 24).Put(8, 3).Put(12, 460).b);
    raw.push_back(RawRecord(emf::EMR_INTERSECTCLIPRECT, 24).Box(8, 1, 470, 9, 450).b);  // corners swapped
    raw.push_back(RawRecord(emf::EMR_FILLPATH, 24).Box(8, 0, 450, 9, 470).b);
    {  // FILLRGN with one rectangle
        RawRecord r(emf::EMR_FILLRGN, 32 + 48);
        r.Box(8, 0, 450, 9, 470).Put(24, 48).Put(28, 1);
        r.Put(32, 32).Put(36, 1).Put(40, 1).Put(44, 16).Box(48, 0, 450, 9, 470).Box(64, 0, 455, 9, 465);
        raw.push_back(r.b);
    }
    {  // SETDIBITSTODEVICE crossing the slice bottom at 800: 10 of 20 scans go.
        RawRecord r(emf::EMR_SETDIBITSTODEVICE, 76);
        r.Box(8, 0, 790, 7, 809).Put(28, 790).Put(44, 20).Put(68, 0).Put(72, 20);
        raw.push_back(WithBitmap(r, 76, 48, 8, 20, false));
    }
    {  // POLYGON16 reaching below the slice: its points stop at the bottom.
        RawRecord r(emf::EMR_POLYGON16, 28 + 12);
        r.Box(8, 0, 450, 100, 900).Put(24, 3);
        std::int16_t pts[6] = {0, 450, 100, 900, 50, 460};
        std::memcpy(&r.b[28], pts, sizeof pts);
        raw.push_back(r.b);
    }
    auto image = PageImageOf(400, 1199, [&](emf::Recorder& rec) {
        for (auto& r : raw) rec.AppendRaw(r);
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(400);
    slicer.SetSliceHeight(400);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 3);
    std::map<std::uint32_t, SliceRecord> second;
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(1))) second.emplace(r.type, r);
    EXPECT_EQ(second.at(emf::EMR_BITBLT).I32(28), 50);
    EXPECT_EQ(second.at(emf::EMR_EXTFLOODFILL).I32(12), 60);
    EXPECT_EQ(second.at(emf::EMR_INTERSECTCLIPRECT).I32(12), 50);
    EXPECT_EQ(second.at(emf::EMR_INTERSECTCLIPRECT).I32(20), 70);
    EXPECT_EQ(second.at(emf::EMR_FILLPATH).I32(12), 50);
    EXPECT_EQ(second.at(emf::EMR_FILLRGN).I32(52), 50);  // region bounds
    EXPECT_EQ(second.at(emf::EMR_FILLRGN).I32(68), 55);  // its rectangle
    const SliceRecord& poly = second.at(emf::EMR_POLYGON16);
    std::int16_t y1;
    std::memcpy(&y1, &poly.bytes[28 + 6], 2);
    EXPECT_EQ(y1, 400);
    const SliceRecord& scans = second.at(emf::EMR_SETDIBITSTODEVICE);
    EXPECT_EQ(scans.I32(20), 400);  // bounds bottom
    EXPECT_EQ(scans.I32(44), 10);   // source height
    EXPECT_EQ(scans.I32(72), 10);   // scan count
    // In the third slice (top 800) the same bitmap lost its first 11 rows.
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(2))) {
        if (r.type != emf::EMR_SETDIBITSTODEVICE) continue;
        EXPECT_EQ(r.I32(28), 0);
        EXPECT_EQ(r.I32(68), 11);  // start scan
        EXPECT_EQ(r.I32(44), 9);
    }
    // Records of the second slice appear in no other slice.
    for (int i : {0, 2})
        for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(i)))
            EXPECT_NE(r.type, std::uint32_t(emf::EMR_BITBLT)) << i;
}

TEST_F(SlicerTest, MalformedRecordsAreDroppedWithAWarning) {
    // A polygon claiming more points than it holds.
    RawRecord bad(emf::EMR_POLYGON, 28 + 16);
    bad.Box(8, 0, 0, 10, 10).Put(24, 1000);
    auto image = PageImageOf(300, 299, [&](emf::Recorder& rec) {
        rec.AppendRaw(bad.b);
        Text(rec, 0, 10, u"kept");
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(300);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 1);
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(0))) EXPECT_NE(r.type, std::uint32_t(emf::EMR_POLYGON));
    EXPECT_EQ(TextsOf(*slicer.GetSlice(0))[0].first, u"kept");
    EXPECT_NE(log.LastError().find("Malformed record EMR_POLYGON at offset"), std::string::npos) << log.LastError();
}

// A producer may write a record longer than its fields: a clipped line is
// written as a line of its own size, and the slice stays a valid metafile.
TEST_F(SlicerTest, AClippedLineWithTrailingBytesKeepsTheSliceWhole) {
    RawRecord line(emf::EMR_LINETO, 20);
    line.Put(8, 10).Put(12, 600).Put(16, 0x7777);
    auto image = PageImageOf(400, 799, [&](emf::Recorder& rec) {
        rec.MoveToEx(10, 300);
        rec.AppendRaw(line.b);
        Text(rec, 0, 500, u"after");
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(400);
    slicer.SetSliceHeight(400);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 2);
    int lines = 0;
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(0))) {
        if (r.type != emf::EMR_LINETO) continue;
        ++lines;
        EXPECT_EQ(r.bytes.size(), 16u);
        EXPECT_EQ(r.I32(12), 400);
    }
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(TextsOf(*slicer.GetSlice(1)).at(0).first, u"after");
}

TEST_F(SlicerTest, EveryTextLineIsDrawnInExactlyOneSlice) {
    // Lines of a large word with a small word beside it, every 25 pixels: at
    // each slice bottom one line crosses and a small word may lie just above.
    auto image = PageImageOf(400, 1999, [](emf::Recorder& rec) {
        for (int i = 0; i < 78; ++i) {
            const int y = 7 + 25 * i;
            std::u16string big = u"B" + std::u16string(1, char16_t(u'0' + i % 10)) + char16_t(u'A' + i / 10);
            Text(rec, 10, y, big, 22);
            emf::RectL small{200, y + 5, 230, y + 17};
            std::vector<std::int32_t> dx(3, 10);
            std::u16string word = u"s" + big.substr(1);
            rec.ExtTextOutW(200, y + 5, 0, nullptr, word, dx, &small);
        }
    });
    std::vector<std::int32_t> breaks{1001, 333};  // not in order
    CEmfSlicer slicer(log);
    slicer.SetPageBreaks(&breaks);
    slicer.SetSliceWidth(400);
    slicer.SetSliceHeight(290);
    slicer.SetSourceImage(image);
    int top = 0, end = 0;
    ASSERT_TRUE(slicer.SliceRange(0, &top, &end));
    EXPECT_LE(end, 290);
    ASSERT_TRUE(slicer.SliceRange(1, &top, &end));
    EXPECT_LE(end, 333);  // the nearer break ends the slice
    std::map<std::u16string, int> seen;
    for (int i = 0; i < slicer.SliceCount(); ++i) {
        ASSERT_TRUE(slicer.SliceRange(i, &top, &end));
        const bool last = i + 1 == slicer.SliceCount();
        const int h = emf::ReadHeader(*slicer.GetSlice(i))->bounds.bottom;
        for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(i))) {
            if (r.type != emf::EMR_EXTTEXTOUTW) continue;
            std::u16string s(static_cast<std::size_t>(r.I32(44)), u' ');
            std::memcpy(s.data(), &r.bytes[static_cast<std::size_t>(r.I32(48))], s.size() * 2);
            if (s.find_first_not_of(u' ') == std::u16string::npos) continue;
            ++seen[s];
            EXPECT_GE(r.I32(12), 0);
            if (!last) {
                EXPECT_LE(r.I32(20), h) << i;  // drawn whole inside its slice
            }
        }
    }
    EXPECT_EQ(seen.size(), 156u);
    for (auto& [text, n] : seen) EXPECT_EQ(n, 1);
}

TEST_F(SlicerTest, ALineStartingAboveTheImageIsDrawnInTheFirstSlice) {
    // A glyph's ascent may reach a pixel above the document's top (no body
    // margin): no slice before the first one has drawn it.
    auto image = PageImageOf(400, 900, [](emf::Recorder& rec) {
        Text(rec, 10, -1, u"First");
        Text(rec, 10, 399, u"Second");  // one pixel above the second slice's top
        Text(rec, 10, 500, u"Third");
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(400);
    slicer.SetSliceHeight(400);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 3);
    std::map<std::u16string, int> seen;
    for (int i = 0; i < slicer.SliceCount(); ++i)
        for (const auto& [text, y] : TextsOf(*slicer.GetSlice(i)))
            if (text.find_first_not_of(u' ') != std::u16string::npos) ++seen[text];
    EXPECT_EQ(seen, (std::map<std::u16string, int>{{u"First", 1}, {u"Second", 1}, {u"Third", 1}}));
    EXPECT_EQ(TextsOf(*slicer.GetSlice(0))[0].first, u"First");
}

TEST_F(SlicerTest, FiguresAndPathsMoveWithTheSliceAndStayWhole) {
    // A filled figure of lines and a curve in the second slice (top 400),
    // and a polyline drawn outside any path.
    auto image = PageImageOf(400, 799, [](emf::Recorder& rec) {
        rec.BeginPath();
        rec.MoveToEx(10, 450);
        rec.LineTo(100, 450);
        rec.LineTo(100, 520);
        std::vector<emf::PointL> curve{{80, 530}, {40, 530}, {10, 520}};
        rec.PolyBezierTo(curve);
        rec.CloseFigure();
        rec.EndPath();
        rec.FillPath();
        std::vector<emf::PointL> line{{0, 600}, {50, 650}};
        rec.Polyline(line);
        for (bool clip : {false, true}) {  // a figure and a clip far below the first slice
            rec.BeginPath();
            rec.MoveToEx(0, 700);
            rec.LineTo(50, 700);
            rec.LineTo(50, 750);
            rec.CloseFigure();
            rec.EndPath();
            if (clip)
                rec.SelectClipPath(emf::RGN_AND);
            else
                rec.FillPath();
        }
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(400);
    slicer.SetSliceHeight(400);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 2);
    std::vector<std::uint32_t> types;
    std::vector<int> ys;
    int brackets = 0;
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(1))) {
        if (r.type == emf::EMR_BEGINPATH && ++brackets > 1) break;  // the first figure and the polyline are checked
        types.push_back(r.type);
        if (r.type == emf::EMR_MOVETOEX || r.type == emf::EMR_LINETO) ys.push_back(r.I32(12));
        if (r.type == emf::EMR_POLYBEZIERTO16 || r.type == emf::EMR_POLYBEZIERTO) {
            const bool small = r.type == emf::EMR_POLYBEZIERTO16;
            std::int32_t y = 0;
            if (small) {
                std::int16_t v;
                std::memcpy(&v, &r.bytes[28 + 2], 2);
                y = v;
            } else {
                y = r.I32(32);
            }
            ys.push_back(y);
        }
        if (r.type == emf::EMR_POLYLINE16 || r.type == emf::EMR_POLYLINE) {
            std::int16_t v;
            std::memcpy(&v, &r.bytes[28 + 2], 2);
            ys.push_back(r.type == emf::EMR_POLYLINE16 ? v : r.I32(32));
        }
    }
    // One figure: a move, two edges and the curve, all 400 higher; no
    // extra pen moves split it.
    const std::vector<int> expected{50, 50, 120, 130, 200};
    EXPECT_EQ(ys, expected);
    EXPECT_EQ(std::count(types.begin(), types.end(), std::uint32_t(emf::EMR_MOVETOEX)), 1);
    // The first slice holds no part of the polyline or of the figure far
    // below it; the first figure, within a pen's reach of its bottom, and
    // the clip path stay.
    std::map<std::uint32_t, int> first;
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(0))) {
        EXPECT_TRUE(r.type != emf::EMR_POLYLINE16 && r.type != emf::EMR_POLYLINE);
        ++first[r.type];
    }
    EXPECT_EQ(first[emf::EMR_FILLPATH], 1);
    EXPECT_EQ(first[emf::EMR_BEGINPATH], 2);
    EXPECT_EQ(first[emf::EMR_ENDPATH], 2);
    EXPECT_EQ(first[emf::EMR_SELECTCLIPPATH], 1);
}

TEST_F(SlicerTest, SkewedMaskedAndTransparentPicturesAreCutToo) {
    // Each 20 rows at y 290..309 (bounds inclusive), 8 bits per pixel, slices of 300.
    RawRecord plg(emf::EMR_PLGBLT, 140);
    plg.Box(8, 0, 290, 7, 309).Put(24, 0).Put(28, 290).Put(32, 8).Put(36, 290).Put(40, 0).Put(44, 310);
    plg.Put(56, 1).Put(60, 20);
    RawRecord transparent(emf::EMR_TRANSPARENTBLT, 108);
    transparent.Box(8, 0, 290, 7, 309).Put(28, 290).Put(32, 1).Put(36, 20).Put(48, 0).Put(100, 1).Put(104, 20);
    RawRecord mask(emf::EMR_MASKBLT, 128);
    mask.Box(8, 0, 290, 7, 309).Put(28, 290).Put(32, 1).Put(36, 20);
    const auto plgBytes = WithBitmap(plg, 140, 96, 8, 20, false);
    const auto transparentBytes = WithBitmap(transparent, 108, 84, 8, 20, false);
    const auto maskBytes = WithBitmap(mask, 128, 84, 8, 20, false);
    auto image = PageImageOf(400, 599, [&](emf::Recorder& r) {
        r.AppendRaw(plgBytes);
        r.AppendRaw(transparentBytes);
        r.AppendRaw(maskBytes);
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(400);
    slicer.SetSliceHeight(300);
    slicer.SetSourceImage(image);
    ASSERT_EQ(slicer.SliceCount(), 2);
    std::map<std::uint32_t, SliceRecord> first, second;
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(0))) first.emplace(r.type, r);
    for (const SliceRecord& r : RecordsOf(*slicer.GetSlice(1))) second.emplace(r.type, r);
    // Bottom of the first slice: 10 rows go, corners stop at the bottom.
    const SliceRecord& p0 = first.at(emf::EMR_PLGBLT);
    EXPECT_EQ(p0.I32(20), 300);
    EXPECT_EQ(p0.I32(44), 300);
    EXPECT_EQ(p0.I32(60), 10);
    EXPECT_EQ(p0.I32(p0.I32(96) + 8), 10);  // bitmap height
    EXPECT_EQ(first.at(emf::EMR_TRANSPARENTBLT).I32(36), 10);
    EXPECT_EQ(first.at(emf::EMR_TRANSPARENTBLT).I32(104), 10);
    EXPECT_EQ(first.at(emf::EMR_MASKBLT).I32(36), 10);
    // Top of the second slice: 11 rows go, everything starts at 0.
    const SliceRecord& p1 = second.at(emf::EMR_PLGBLT);
    EXPECT_EQ(p1.I32(12), 0);
    EXPECT_EQ(p1.I32(28), 0);
    EXPECT_EQ(p1.I32(36), 0);
    EXPECT_EQ(p1.I32(44), 10);
    EXPECT_EQ(p1.I32(52), 0);
    EXPECT_EQ(p1.I32(60), 9);
    const SliceRecord& t1 = second.at(emf::EMR_TRANSPARENTBLT);
    EXPECT_EQ(t1.I32(28), 0);
    EXPECT_EQ(t1.I32(36), 9);
    EXPECT_EQ(t1.I32(104), 9);
    EXPECT_EQ(t1.bytes[static_cast<std::size_t>(t1.I32(92))], 19);  // stored bottom row still the picture's last
    EXPECT_EQ(second.at(emf::EMR_MASKBLT).I32(36), 9);
    EXPECT_EQ(second.at(emf::EMR_MASKBLT).I32(28), 0);
}

// The slices of a long image are held packed and unpacked one at a time:
// every line still comes out once, in whatever order the slices are asked for,
// and the source may go once the slices are made.
TEST_F(SlicerTest, SlicesOfALongImageComeOutWholeAfterTheSourceIsGone) {
    // Lines 3 pixels apart: the image stays within what its frame can say.
    constexpr int kLines = 20000;
    const std::u16string words(60, u'w');
    auto image = std::make_unique<std::vector<std::uint8_t>>(PageImageOf(600, kLines * 3, [&](emf::Recorder& rec) {
        for (int i = 0; i < kLines; ++i) {
            rec.Rectangle({0, i * 3, 600, i * 3 + 2});
            Text(rec, 10, i * 3, std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + words, 2);
        }
    }));
    ASSERT_GT(image->size(), 8u << 20);
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(600);
    slicer.SetSliceHeight(300);
    slicer.SetSourceImage(*image);
    slicer.ReleaseSource();
    image.reset();
    slicer.SetSliceHeight(500);  // nothing to slice again
    ASSERT_GE(slicer.SliceCount(), kLines * 3 / 300);  // and the frame's last pixel
    const auto third = TextsOf(*slicer.GetSlice(3));
    // Asked for from the last to the first, the slices show every line once,
    // in order (a line pushed on to the next slice is left blank where it was).
    std::vector<std::u16string> firsts(static_cast<std::size_t>(slicer.SliceCount()));
    for (int n = slicer.SliceCount(); n-- > 0;)
        for (const auto& [text, y] : TextsOf(*slicer.GetSlice(n)))
            if (text[0] != u' ') firsts[static_cast<std::size_t>(n)] += text[0];
    std::u16string shown, expected;
    for (const auto& f : firsts) shown += f;
    for (int i = 0; i < kLines; ++i) expected += static_cast<char16_t>(u'A' + i % 26);
    EXPECT_TRUE(shown == expected);
    EXPECT_EQ(TextsOf(*slicer.GetSlice(3)), third);
    EXPECT_EQ(slicer.GetSlice(slicer.SliceCount()), nullptr);
}

// A long list draws a bullet with a pen or a brush of its own on every line:
// a slice keeps the selections its own drawing needs, in their order, and
// not the ones made for shapes above or below it.
TEST_F(SlicerTest, SelectionsForShapesOutsideTheSliceAreLeftOut) {
    constexpr int kLines = 400;
    auto image = PageImageOf(600, kLines * 20, [](emf::Recorder& rec) {
        const std::uint32_t red = rec.CreateBrushIndirect(0, 0x0000FF);
        const std::uint32_t pen = rec.CreatePen(0, 1, 0x00FF00);
        for (int i = 0; i < kLines; ++i) {
            const int y = i * 20;
            if (i % 2) {
                rec.SelectObject(red);
                rec.SelectObject(emf::kStockObject | emf::NULL_PEN);
            } else {
                rec.SelectObject(pen);
                rec.SelectObject(emf::kStockObject | emf::NULL_BRUSH);
            }
            rec.Ellipse({5, y + 5, 15, y + 15});
            Text(rec, 20, y, u"item");
        }
    });
    CEmfSlicer slicer(log);
    slicer.SetSliceWidth(600);
    slicer.SetSliceHeight(500);
    slicer.SetSourceImage(image);
    ASSERT_GE(slicer.SliceCount(), 16);
    for (int n = 0; n < slicer.SliceCount(); ++n) {
        int top = 0, end = 0;
        ASSERT_TRUE(slicer.SliceRange(n, &top, &end));
        const auto records = RecordsOf(*slicer.GetSlice(n));
        int selections = 0, ellipses = 0;
        std::uint32_t brush = 0, pen = 0;  // selected when each ellipse is drawn
        for (const SliceRecord& r : records) {
            if (r.type == emf::EMR_SELECTOBJECT) {
                ++selections;
                const auto h = static_cast<std::uint32_t>(r.I32(8));
                if (h == 1 || h == (emf::kStockObject | emf::NULL_BRUSH)) brush = h;
                else pen = h;
            }
            if (r.type != emf::EMR_ELLIPSE) continue;
            // Line i's bullet lies at i * 20 + 5 of the image.
            const int line = (r.I32(12) + top - 5) / 20;
            ++ellipses;
            EXPECT_EQ(brush, line % 2 ? 1u : (emf::kStockObject | emf::NULL_BRUSH)) << n << " " << line;
            EXPECT_EQ(pen, line % 2 ? (emf::kStockObject | emf::NULL_PEN) : 2u) << n << " " << line;
        }
        EXPECT_GE(ellipses, n + 1 < slicer.SliceCount() ? 20 : 1) << n;
        // Two selections for each bullet drawn (or cut at an edge), not 800.
        EXPECT_LE(selections, 2 * ellipses + 4) << n;
    }
}

}  // namespace
}  // namespace tessaline
