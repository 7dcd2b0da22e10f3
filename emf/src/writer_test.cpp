#include "emf/writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "emf/reader.h"
#include "emf/recorder_device.h"

namespace emf {
namespace {

std::vector<std::string> Names(const Metafile& mf) {
    std::vector<std::string> n;
    for (auto& r : mf.records) n.push_back(RecordName(r.type));
    return n;
}

TEST(Writer, OutputPassesTheReaderWithACompleteHeader) {
    RecorderSetup setup;
    setup.description = u"Tessaline Add-on";
    Recorder rec(setup);
    std::uint32_t pen = rec.CreatePen(PS_SOLID, 2, Rgb(255, 0, 0));
    rec.SelectObject(pen);
    rec.Rectangle({10, 20, 110, 70});
    std::vector<PointL> pts{{0, 0}, {5, 300}, {40, 2}};
    rec.Polygon16(pts);
    rec.ExtTextOutW(5, 50, 0, nullptr, u"abc", std::vector<std::int32_t>{7, 7, 7});
    auto bytes = rec.Finish();

    ASSERT_EQ(bytes.size() % 4, 0u);
    Metafile mf = Read(bytes);
    ASSERT_EQ(mf.status, ReadStatus::Ok);
    EXPECT_TRUE(mf.diagnostics.empty()) << Dump(bytes, mf);
    EXPECT_EQ(mf.header.bytes, bytes.size());
    EXPECT_EQ(mf.header.records, mf.records.size());
    EXPECT_EQ(mf.header.handles, 2);
    EXPECT_EQ(mf.header.device, (SizeL{1920, 1080}));
    EXPECT_EQ(mf.header.millimeters, (SizeL{508, 286}));
    EXPECT_EQ(mf.header.micrometers, (SizeL{508000, 286000}));
    EXPECT_EQ(mf.header.description, std::u16string(u"Tessaline Add-on\0\0", 18));
    EXPECT_EQ(mf.header.bounds, (RectL{0, 0, 110, 300}));
    // Without a given frame, the frame is the bounds in 0.01 mm.
    EXPECT_EQ(mf.header.frame.right, 110 * 50800 / 1920);
    EXPECT_EQ(Names(mf), (std::vector<std::string>{"EMR_HEADER", "EMR_CREATEPEN", "EMR_SELECTOBJECT",
                                                           "EMR_RECTANGLE", "EMR_POLYGON16", "EMR_EXTTEXTOUTW",
                                                           "EMR_EOF"}));
}

// A long metafile goes to its file as it is recorded: the file holds the
// same bytes the recorder would have returned, header completed.
TEST(Writer, StreamedMetafileIsTheSameAsOneKeptInMemory) {
    auto draw = [](Recorder& rec) {
        const std::uint32_t pen = rec.CreatePen(PS_SOLID, 1, Rgb(0, 0, 255));
        rec.SelectObject(pen);
        for (int i = 0; i < 100000; ++i) rec.Rectangle({i % 700, i * 3, i % 700 + 20, i * 3 + 10});
        return rec.Finish();
    };
    RecorderSetup setup;
    setup.description = u"Tessaline Add-on";
    Recorder inMemory(setup);
    const std::vector<std::uint8_t> expected = draw(inMemory);
    ASSERT_GT(expected.size(), 2u << 20);  // more than one chunk went to the file

    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    setup.streamFd = ::fileno(file);
    Recorder streamed(setup);
    EXPECT_TRUE(draw(streamed).empty());
    EXPECT_EQ(streamed.ByteCount(), expected.size());
    std::vector<std::uint8_t> got(expected.size() + 1);
    ASSERT_EQ(::pread(setup.streamFd, got.data(), got.size(), 0), static_cast<ssize_t>(expected.size()));
    got.pop_back();
    std::fclose(file);
    EXPECT_TRUE(got == expected);

    // A file that cannot be written fails the recording, not silently.
    setup.streamFd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (setup.streamFd >= 0) {
        Recorder full(setup);
        EXPECT_THROW(draw(full), std::runtime_error);
        ::close(setup.streamFd);
    }
}

TEST(Writer, HandleSlotsStartAtOneAndAreReused) {
    Recorder rec;
    EXPECT_EQ(rec.CreateBrushIndirect(BS_SOLID, 0), 1u);
    EXPECT_EQ(rec.CreateBrushIndirect(BS_SOLID, 0), 2u);
    EXPECT_EQ(rec.CreatePen(PS_SOLID, 1, 0), 3u);
    rec.DeleteObject(2);
    EXPECT_EQ(rec.CreatePen(PS_SOLID, 1, 0), 2u);
    EXPECT_EQ(rec.CreatePen(PS_SOLID, 1, 0), 4u);
    EXPECT_THROW(rec.DeleteObject(0), std::invalid_argument);
    EXPECT_THROW(rec.DeleteObject(9), std::invalid_argument);
    auto bytes = rec.Finish();
    EXPECT_EQ(Read(bytes).header.handles, 5);
}

TEST(Writer, BoundsFollowTheMappingAndPathsCountOnlyWhenDrawn) {
    Recorder rec;
    rec.SetMapMode(MM_ANISOTROPIC);
    rec.SetWindowExtEx(1000, 1000);
    rec.SetViewportExtEx(100, 100);
    rec.SetViewportOrgEx(50, 50);
    rec.Ellipse({0, 0, 1000, 500});
    rec.BeginPath();
    rec.MoveToEx(0, 0);
    rec.LineTo(5000, 5000);
    rec.EndPath();
    rec.AbortPath();  // never drawn: no bounds
    auto bytes = rec.Finish();
    EXPECT_EQ(Read(bytes).header.bounds, (RectL{50, 50, 150, 100}));
}

TEST(Writer, RejectsMisalignedRecordsAndWritesAfterFinish) {
    Recorder rec;
    std::vector<std::uint8_t> odd{70, 0, 0, 0, 10, 0, 0, 0, 0, 0};
    EXPECT_THROW(rec.AppendRaw(odd), std::logic_error);
    std::vector<std::uint8_t> lying{70, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_THROW(rec.AppendRaw(lying), std::invalid_argument);
    rec.Finish();
    EXPECT_THROW(rec.SaveDC(), std::logic_error);
}

TEST(Writer, ExtTextOutCarriesTextAndAdvancesAtTheirOffsets) {
    Recorder rec;
    std::vector<std::int32_t> dx{9, 8};
    RectL clip{1, 2, 3, 4};
    rec.ExtTextOutW(10, 20, ETO_CLIPPED, &clip, u"Hi", dx);
    auto bytes = rec.Finish();
    Metafile mf = Read(bytes);
    ASSERT_EQ(mf.records.size(), 3u);
    RecordView v = mf.records[1].View(bytes);
    std::uint32_t n, offString, options, offDx;
    ASSERT_TRUE(v.U32(44, n) && v.U32(48, offString) && v.U32(52, options) && v.U32(72, offDx));
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(options, ETO_CLIPPED);
    std::span<const std::uint8_t> s, d;
    ASSERT_TRUE(v.Array(offString, n, 2, s) && v.Array(offDx, n, 4, d));
    EXPECT_EQ(s[0], 'H');
    EXPECT_EQ(s[2], 'i');
    EXPECT_EQ(d[0], 9);
    EXPECT_EQ(d[4], 8);
    RectL r;
    ASSERT_TRUE(v.Rect(56, r));
    EXPECT_EQ(r, clip);
}

TEST(RecorderDevice, ReusesObjectsAndLeavesNoneBehind) {
    Recorder rec;
    {
        RecorderDevice dev(rec);
        Path box;
        box.AddRect({0, 0, 10, 10});
        Paint red;
        red.color = {255, 0, 0, 255};
        dev.FillPath(box, FillRule::NonZero, red, {});
        dev.FillPath(box, FillRule::NonZero, red, Matrix::Translate(20, 0));  // same brush
        dev.PushClip(box, FillRule::NonZero, {});
        Paint blue;
        blue.color = {0, 0, 255, 255};
        dev.FillPath(box, FillRule::NonZero, blue, {});
        dev.PopClip();
        dev.FillPath(box, FillRule::NonZero, red, {});  // red is selected again after the pop
    }
    auto bytes = rec.Finish();
    Metafile mf = Read(bytes);
    ASSERT_EQ(mf.status, ReadStatus::Ok) << Dump(bytes, mf);
    int creates = 0, deletes = 0, polygons = 0;
    for (auto& r : mf.records) {
        creates += r.type == EMR_CREATEBRUSHINDIRECT;
        deletes += r.type == EMR_DELETEOBJECT;
        polygons += r.type == EMR_POLYGON;
    }
    EXPECT_EQ(creates, 2);
    EXPECT_EQ(deletes, 2);
    EXPECT_EQ(polygons, 4);
    EXPECT_EQ(mf.header.handles, 3);
}

TEST(RecorderDevice, CreatedObjectsAreKeptForReuseWithinABound) {
    // Text runs that take turns between two faces create each font once; a
    // flood of faces keeps the handle table bounded and deletes every object.
    Recorder rec;
    {
        RecorderDevice dev(rec);
        TextRun t;
        t.text = u"x";
        for (int i = 0; i < 6; ++i) {
            t.face = i % 2 ? "DejaVu Serif" : "DejaVu Sans";
            dev.DrawText(t, {});
        }
        for (int i = 0; i < 200; ++i) {
            t.face = "Face " + std::to_string(i);
            dev.DrawText(t, {});
            dev.PushClip(Path{}, FillRule::NonZero, {});  // a saved DC holds the selected font
            if (i % 50 == 0) continue;
            dev.PopClip();
        }
    }
    auto bytes = rec.Finish();
    Metafile mf = Read(bytes);
    ASSERT_EQ(mf.status, ReadStatus::Ok) << Dump(bytes, mf);
    int creates = 0, deletes = 0, firstFlood = -1;
    for (auto& r : mf.records) {
        if (r.type == EMR_EXTCREATEFONTINDIRECTW) ++creates;
        if (r.type == EMR_EXTTEXTOUTW && firstFlood < 0 && creates > 2) firstFlood = creates;
        deletes += r.type == EMR_DELETEOBJECT;
    }
    EXPECT_EQ(firstFlood, 3);  // the two faces of the first runs were created once each
    EXPECT_EQ(creates, 202);
    EXPECT_EQ(deletes, creates);
    EXPECT_LT(mf.header.handles, 64u);
}

TEST(RecorderDevice, TextAdvancesAreRoundedWithoutDrift) {
    Recorder rec;
    {
        RecorderDevice dev(rec);
        TextRun t;
        t.text = u"aaaa";
        t.advances = {2.4, 2.4, 2.4, 2.4};
        t.face = "DejaVu Sans";
        dev.DrawText(t, {});
    }
    auto bytes = rec.Finish();
    Metafile mf = Read(bytes);
    for (auto& r : mf.records) {
        if (r.type != EMR_EXTTEXTOUTW) continue;
        RecordView v = r.View(bytes);
        std::uint32_t offDx;
        std::span<const std::uint8_t> d;
        ASSERT_TRUE(v.U32(72, offDx) && v.Array(offDx, 4, 4, d));
        int sum = 0;
        for (int i = 0; i < 4; ++i) sum += d[std::size_t(i) * 4];
        EXPECT_EQ(sum, 10);  // round(9.6), not 4 * round(2.4)
        return;
    }
    FAIL() << "no text record";
}

TEST(RecorderDevice, SliceSafeOutputUsesOnlyRecordsASlicerMoves) {
    Recorder rec;
    {
        RecorderDeviceOptions options;
        options.sliceSafe = true;
        RecorderDevice dev(rec, options);
        Path ring;
        ring.MoveTo({10, 10}), ring.CubicTo({40, 0}, {60, 40}, {10, 50}), ring.Close();
        ring.AddRect({15, 15, 20, 20});
        Paint paint;
        dev.FillPath(ring, FillRule::EvenOdd, paint, {});
        StrokeStyle s;
        s.dashes = {2, 2};
        dev.StrokePath(ring, s, {}, {});
        Path open;
        open.MoveTo({0, 0}), open.CubicTo({5, 5}, {10, 0}, {15, 5});
        dev.StrokePath(open, s, {}, {});
        dev.PushClip(ring, FillRule::NonZero, {});
        dev.PopClip();
    }
    auto bytes = rec.Finish();
    Metafile mf = Read(bytes);
    for (auto& r : mf.records) {
        switch (r.type) {
        case EMR_POLYBEZIER: case EMR_POLYBEZIERTO: case EMR_POLYLINE: case EMR_POLYLINETO: case EMR_POLYPOLYGON:
        case EMR_POLYBEZIER16: case EMR_POLYBEZIERTO16: case EMR_POLYLINE16: case EMR_POLYLINETO16:
            ADD_FAILURE() << RecordName(r.type) << " at " << r.offset;
            break;
        default: break;
        }
    }
}

TEST(RecorderDevice, CurvesStayCurvesAndWholeEllipsesAreOneRecord) {
    constexpr double k = 0.5522847498;
    auto oval = [&](double l, double t, double r, double b) {  // four quarters, as rounded boxes are drawn
        double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
        Path p;
        p.MoveTo({cx, t}), p.LineTo({cx, t});
        p.CubicTo({cx + rx * k, t}, {r, cy - ry * k}, {r, cy}), p.LineTo({r, cy});
        p.CubicTo({r, cy + ry * k}, {cx + rx * k, b}, {cx, b}), p.LineTo({cx, b});
        p.CubicTo({cx - rx * k, b}, {l, cy + ry * k}, {l, cy}), p.LineTo({l, cy});
        p.CubicTo({l, cy - ry * k}, {cx - rx * k, t}, {cx, t});
        p.Close();
        return p;
    };
    Recorder rec;
    {
        RecorderDevice dev(rec);
        Paint paint;
        dev.FillPath(oval(10, 10, 16, 16), FillRule::NonZero, paint, Matrix::Translate(0, 100));  // a disc marker
        dev.StrokePath(oval(0, 0, 20, 10), {}, {}, {});                                        // a circle marker
        Path lopsided = oval(0, 0, 20, 20);
        lopsided.CubicTo({1, 1}, {2, 2}, {3, 3});  // a fifth curve after the close: not an ellipse
        dev.FillPath(lopsided, FillRule::NonZero, paint, {});
        dev.FillPath(oval(0, 0, 20, 20), FillRule::NonZero, paint, Matrix{0.8, 0.6, -0.6, 0.8, 0, 0});  // rotated
    }
    auto bytes = rec.Finish();
    Metafile mf = Read(bytes);
    ASSERT_EQ(mf.status, ReadStatus::Ok) << Dump(bytes, mf);
    std::vector<RectL> ellipses;
    int curves = 0, lines = 0;
    for (auto& r : mf.records) {
        if (r.type == EMR_ELLIPSE) {
            RectL box;
            ASSERT_TRUE(r.View(bytes).Rect(8, box));
            ellipses.push_back(box);
        }
        curves += r.type == EMR_POLYBEZIERTO || r.type == EMR_POLYBEZIERTO16;
        lines += r.type == EMR_LINETO;
    }
    ASSERT_EQ(ellipses.size(), 2u);
    EXPECT_EQ(ellipses[0], (RectL{10, 110, 16, 116}));
    EXPECT_EQ(ellipses[1], (RectL{0, 0, 20, 10}));
    EXPECT_GE(curves, 2);  // the others keep their curves, not flattened steps
    EXPECT_EQ(lines, 0);
}

}  // namespace
}  // namespace emf
