// Hostile and bent input: every case must end with a defined status and
// diagnostics that name the record's position, never with a bad read.
#include "emf/reader.h"

#include <gtest/gtest.h>

#include <random>

#include "testing/assembler.h"
#include "emf/dib.h"
#include "emf/player.h"
#include "emf/recorder_device.h"
#include "emf/trace_device.h"
#include "emf/writer.h"

namespace emf {
namespace {

using testing::Assemble;

bool Mentions(const std::vector<Diagnostic>& d, const std::string& text, std::size_t offset) {
    for (auto& x : d)
        if (x.message.find(text) != std::string::npos && x.offset == offset) return true;
    return false;
}

std::string All(const std::vector<Diagnostic>& d) {
    std::string s;
    for (auto& x : d) s += x.Text() + "\n";
    return s;
}

TEST(Reader, RejectsWhatIsNoMetafile) {
    for (std::string text : {std::string(), std::string("hello"), std::string(200, '\0')}) {
        std::vector<std::uint8_t> b(text.begin(), text.end());
        Metafile mf = Read(b);
        EXPECT_EQ(mf.status, ReadStatus::NotMetafile);
        EXPECT_FALSE(mf.Usable());
        EXPECT_FALSE(Play(b, *std::make_unique<TraceDevice>()).ok);
    }
    // Header size larger than the data, and a wrong signature.
    auto b = Assemble("header size=4096\neof");
    EXPECT_EQ(Read(b).status, ReadStatus::NotMetafile);
    b = Assemble("header\neof");
    b[40] = 'X';
    EXPECT_EQ(Read(b).status, ReadStatus::NotMetafile);
}

TEST(Reader, BadRecordFramesStopTheWalkWithTheirPosition) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"EMR_SAVEDC size=0", "record size 0 is invalid"},
        {"EMR_SAVEDC size=6", "record size 6 is invalid"},
        {"EMR_SAVEDC size=10", "record size 10 is invalid"},
        {"EMR_SAVEDC size=0xFFFFFFF0", "runs past the end"},
    };
    for (const auto& c : cases) {
        auto b = Assemble(std::string("header\nEMR_SETBKMODE u32:1\n") + c.text + "\neof");
        Metafile mf = Read(b);
        EXPECT_EQ(mf.status, ReadStatus::Damaged) << c.text;
        EXPECT_EQ(mf.records.size(), 2u) << c.text;  // header and SETBKMODE survive
        EXPECT_TRUE(Mentions(mf.diagnostics, c.message, 88 + 12)) << All(mf.diagnostics);
        ReadOptions strict;
        strict.strict = true;
        EXPECT_EQ(Read(b, strict).status, ReadStatus::Failed);
    }
    // Data that ends inside a record's type and size.
    auto b = Assemble("header\neof");
    b.resize(b.size() - 16);
    EXPECT_TRUE(Mentions(Read(b).diagnostics, "data ends inside a record", 88)) << All(Read(b).diagnostics);
}

TEST(Reader, BentHeadersStillPlay) {
    // One producer counts one record too few; the end-of-file record decides.
    auto b = Assemble("header records=3\nEMR_SELECTOBJECT u32:0x80000008\nEMR_RECTANGLE rect:0,0,5,5\neof");
    Metafile mf = Read(b);
    EXPECT_EQ(mf.status, ReadStatus::Ok);
    EXPECT_EQ(mf.records.size(), 4u);
    EXPECT_TRUE(Mentions(mf.diagnostics, "header counts 3 records, found 4", 0));
    TraceDevice dev;
    EXPECT_TRUE(Play(b, dev).ok);
    EXPECT_NE(dev.Text().find("fill"), std::string::npos);
    // A description pointing outside the header is dropped, the file plays.
    b = Assemble("header desc=\"abc\"\neof");
    b[64] = 0xF0;
    mf = Read(b);
    EXPECT_TRUE(mf.Usable());
    EXPECT_TRUE(mf.header.description.empty());
    // Records after the end-of-file record are not played.
    b = Assemble("header\neof\nEMR_RECTANGLE rect:0,0,5,5");
    EXPECT_EQ(Read(b).records.back().type, EMR_EOF);
}

TEST(Player, DamagedRecordsAreSkippedWithTheirPositionAndPlayingGoesOn) {
    struct Case {
        const char* record;
        const char* message;
    } cases[] = {
        {"EMR_POLYGON16 rect:0,0,0,0 u32:0x40000000 i16:1 i16:1", "exceeds the record"},
        {"EMR_POLYGON rect:0,0,0,0 u32:0xFFFFFFFF", "exceeds the record"},
        {"EMR_POLYPOLYGON16 rect:0,0,0,0 u32:2 u32:3 u32:3 u32:9 i16:0 i16:0 i16:1 i16:1 i16:2 i16:2 pad",
         "point counts exceed the points"},
        {"EMR_POLYPOLYLINE rect:0,0,0,0 u32:0x40000001 u32:1", "polygon count exceeds the record"},
        {"EMR_EXTTEXTOUTW rect:0,0,0,0 u32:1 f32:0 f32:0 pt:0,0 u32:5 u32:0x7FFFFFF0 u32:0 rect:0,0,0,0 u32:0",
         "text exceeds the record"},
        {"EMR_EXTTEXTOUTW rect:0,0,0,0 u32:1 f32:0 f32:0 pt:0,0 u32:1 u32:76 u32:0 rect:0,0,0,0 u32:0xFFFFFFFC w:\"A\" pad",
         "advances exceed the record"},
        {"EMR_EXTTEXTOUTW rect:0,0,0,0", "too short"},
        {"EMR_STRETCHDIBITS rect:0,0,0,0 i32:0 i32:0 i32:0 i32:0 i32:1 i32:1 u32:80 u32:0xFFFFFF00 u32:80 u32:4 u32:0 "
         "u32:0xCC0020 i32:1 i32:1",
         "bitmap header outside the record"},
        {"EMR_STRETCHDIBITS rect:0,0,0,0 i32:0 i32:0 i32:0 i32:0 i32:1 i32:1 u32:80 u32:40 u32:120 u32:4 u32:0 "
         "u32:0xCC0020 i32:1 i32:1 u32:40 i32:100000 i32:100000 u16:1 u16:24 u32:0 u32:0 u32:0 u32:0 u32:0 u32:0 u32:0",
         "bitmap too large"},
        {"EMR_STRETCHDIBITS rect:0,0,0,0 i32:0 i32:0 i32:0 i32:0 i32:1 i32:1 u32:80 u32:40 u32:120 u32:4 u32:0 "
         "u32:0xCC0020 i32:1 i32:1 u32:40 i32:64 i32:64 u16:1 u16:24 u32:0 u32:0 u32:0 u32:0 u32:0 u32:0 u32:0",
         "bits shorter than its rows"},
        {"EMR_EXTSELECTCLIPRGN u32:48 u32:1 u32:32 u32:1 u32:1000 u32:16 rect:0,0,1,1 rect:0,0,1,1",
         "rectangle count exceeds its data"},
        {"EMR_EXTSELECTCLIPRGN u32:0xFFFFFFF0 u32:1", "region data exceeds the record"},
        {"EMR_RESTOREDC i32:-5", "restore beyond the saved states"},
        {"EMR_SELECTOBJECT u32:0", "object index 0 out of range"},
        {"EMR_CREATEPEN u32:0x7FFFFFFF u32:0 i32:1 i32:0 u32:0", "out of range"},
        {"EMR_SETWORLDTRANSFORM f32:0 f32:0 f32:0 f32:0 f32:0 f32:0", "singular transform"},
        {"EMR_SETWORLDTRANSFORM f32:1e38 f32:0 f32:0 f32:1 f32:0 f32:0", "invalid numbers"},
        {"EMR_GDICOMMENT u32:1000 u32:0", "comment data exceeds the record"},
        {"EMR_EXTCREATEPEN u32:1 u32:0 u32:0 u32:0 u32:0 u32:7 u32:1 u32:0 u32:0 u32:0 u32:0x10000000",
         "dash count exceeds the record"},
        {"EMR_POLYDRAW16 rect:0,0,0,0 u32:2 i16:0 i16:0 i16:1 i16:1", "point types exceed the record"},
        {"EMR_GRADIENTFILL rect:0,0,0,0 u32:0x10000000 u32:1 u32:0", "gradient vertices exceed the record"},
        {"EMR_STRETCHDIBITS rect:0,0,0,0 i32:0 i32:0 i32:0 i32:0 i32:1 i32:1 u32:80 u32:40 u32:120 u32:4 u32:0 "
         "u32:0xCC0020 i32:1 i32:1 u32:40 i32:5000 i32:5000 u16:1 u16:8 u32:1 u32:0 u32:0 u32:0 u32:0 u32:0 hex:00010000",
         "run-length bitmap far larger than its data"},
    };
    for (const auto& c : cases) {
        auto b = Assemble(std::string("header handles=4\nEMR_SETBKMODE u32:1\n") + c.record +
                          "\nEMR_SELECTOBJECT u32:0x80000008\nEMR_RECTANGLE rect:0,0,2,2\neof");
        TraceDevice dev;
        PlayResult r = Play(b, dev);
        EXPECT_TRUE(r.ok) << c.record;
        EXPECT_TRUE(Mentions(r.diagnostics, c.message, 88 + 12)) << c.record << "\n" << All(r.diagnostics);
        EXPECT_NE(dev.Text().find("fill evenodd solid #ffffff ctm=[] M 0 0 L 2 0"), std::string::npos)
            << "the record after the damaged one was not played: " << c.record;
        PlayOptions strict;
        strict.strict = true;
        TraceDevice dev2;
        EXPECT_FALSE(Play(b, dev2, strict).ok) << c.record;
    }
}

TEST(Player, NestedClipAreasAreCapped) {
    std::string text = "header\n";
    for (int i = 0; i < 100; ++i) text += "EMR_INTERSECTCLIPRECT rect:0,0,100,100\n";
    for (int i = 0; i < 2000; ++i) text += "EMR_SAVEDC\n";
    text += "EMR_RECTANGLE rect:0,0,5,5\neof\n";
    auto b = Assemble(text);
    TraceDevice dev;
    PlayResult r = Play(b, dev);
    std::size_t pushes = 0;
    for (std::size_t at = 0; (at = dev.Text().find("push_clip", at)) != std::string::npos; ++at) ++pushes;
    EXPECT_EQ(pushes, 64u);
    EXPECT_TRUE(Mentions(r.diagnostics, "too many nested clip areas", 88 + 64 * 24));
}

TEST(Dib, DecodesEveryDepthAndRunLengthData) {
    Image img;
    std::string err;
    auto header = [](std::int32_t w, std::int32_t h, std::uint16_t bpp, std::uint32_t comp, std::vector<std::uint8_t> tail) {
        std::vector<std::uint8_t> v = Assemble("EMR_HEADER u32:40 i32:" + std::to_string(w) + " i32:" + std::to_string(h) +
                                               " u16:1 u16:" + std::to_string(bpp) + " u32:" + std::to_string(comp) +
                                               " u32:0 u32:0 u32:0 u32:0 u32:0");
        v.erase(v.begin(), v.begin() + 8);
        v.insert(v.end(), tail.begin(), tail.end());
        return v;
    };
    // 4 bits, top-down, two colours used.
    auto info = header(3, -1, 4, BI_RGB, {0, 0, 0, 0, 0xff, 0xff, 0xff, 0});
    std::vector<std::uint8_t> bits{0x10, 0x10, 0, 0};
    ASSERT_TRUE(DecodeDib(info, bits, img, err)) << err;
    EXPECT_EQ(img.pixels, (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0, 255, 255, 255}));
    // 16 bits 5-5-5: pure red and pure blue.
    info = header(2, 1, 16, BI_RGB, {});
    bits = {0x00, 0x7C, 0x1F, 0x00};
    ASSERT_TRUE(DecodeDib(info, bits, img, err)) << err;
    EXPECT_EQ(img.pixels, (std::vector<std::uint8_t>{255, 0, 0, 0, 0, 255}));
    // RLE8: a run of 3 of colour 1, end of bitmap.
    std::vector<std::uint8_t> pal{0, 0, 0, 0, 0, 0, 255, 0};
    info = header(4, 1, 8, BI_RLE8, pal);
    info[32] = 2;  // two colours in the table
    bits = {3, 1, 0, 1};
    ASSERT_TRUE(DecodeDib(info, bits, img, err)) << err;
    // The pixel the data skips stays transparent.
    EXPECT_EQ(img.pixels, (std::vector<std::uint8_t>{255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 0}));
    // An absolute run that claims more bytes than there are.
    bits = {0, 200, 1};
    EXPECT_FALSE(DecodeDib(info, bits, img, err));
    // Run-length deltas far outside the picture end the walk without writing.
    bits = {0, 2, 255, 255, 3, 1, 0, 2, 255, 255, 3, 1};
    EXPECT_TRUE(DecodeDib(info, bits, img, err));
    // Header size that points past the header data.
    info = header(1, 1, 24, BI_RGB, {});
    info[0] = 200;
    EXPECT_FALSE(DecodeDib(info, bits, img, err));
    // Depths that do not exist.
    info = header(1, 1, 7, BI_RGB, {});
    EXPECT_FALSE(DecodeDib(info, bits, img, err));
}

// A PNG in a bitmap record travels as the file's bytes: its signature and
// header chunk are checked against the bitmap header, the rest is for the
// device that embeds or decodes it. A record with a damaged one draws
// nothing and says why.
TEST(Dib, PngBitmapsKeepTheirFileAndDamagedOnesAreRefused) {
    // Signature, IHDR of 3 x 2, 8-bit RGB (its CRC is not checked here), and a token IDAT.
    const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 0x1A, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                           0, 0, 0, 3, 0, 0, 0, 2, 8, 2, 0, 0, 0, 1, 2, 3, 4,
                                           0, 0, 0, 2, 'I', 'D', 'A', 'T', 0x78, 0x01, 9, 9, 9, 9};
    Image in;
    in.format = Image::Format::Png, in.width = 3, in.height = 2, in.encoded = png;
    const DibData dib = EncodeDib(in);
    ASSERT_FALSE(dib.info.empty());
    Image out;
    std::string err;
    ASSERT_TRUE(DecodeDib(dib.info, dib.bits, out, err)) << err;
    EXPECT_EQ(out.format, Image::Format::Png);
    EXPECT_EQ(out.encoded, png);
    EXPECT_EQ(out.width, 3);
    EXPECT_EQ(out.height, 2);
    EXPECT_EQ(out.components, 3);
    EXPECT_TRUE(out.pixels.empty());

    auto refused = [&](std::vector<std::uint8_t> bits, const std::string& why) {
        Image img;
        std::string e;
        EXPECT_FALSE(DecodeDib(dib.info, bits, img, e)) << why;
        EXPECT_FALSE(e.empty()) << why;
    };
    auto bent = [&](std::size_t at, std::uint8_t v) {
        auto b = png;
        b[at] = v;
        return b;
    };
    refused({}, "no data");
    refused(std::vector<std::uint8_t>(png.begin(), png.begin() + 20), "cut inside the header chunk");
    refused(bent(1, 'X'), "signature");
    refused(bent(12, 'X'), "first chunk is not IHDR");
    refused(bent(19, 4), "another width than the bitmap's");
    refused(bent(24, 3), "a depth the colour type does not have");
    refused(bent(25, 7), "unknown colour type");
    refused(bent(28, 2), "unknown interlace method");

    // A record of a damaged PNG draws nothing and says so.
    std::string hex;
    for (std::size_t i = 0; i < dib.info.size(); ++i) {
        char b[3];
        std::snprintf(b, sizeof b, "%02x", dib.info[i]);
        hex += b;
    }
    auto bytes = Assemble("header\nEMR_STRETCHDIBITS rect:0,0,0,0 i32:0 i32:0 i32:0 i32:0 i32:3 i32:2 &bmi u32:40 "
                          "&bits u32:8 u32:0 u32:0xCC0020 i32:3 i32:2 @bmi hex:" + hex +
                          " @bits hex:0102030405060708\neof\n");
    TraceDevice dev;
    PlayResult r = Play(bytes, dev);
    EXPECT_EQ(dev.Text().find("image"), std::string::npos) << dev.Text();
    EXPECT_TRUE(Mentions(r.diagnostics, "PNG bitmap without a PNG signature", 88)) << All(r.diagnostics);
}

// Every prefix and many corruptions of a real metafile: defined results only
// (the sanitizer build checks the reads).
TEST(Reader, PrefixesAndCorruptionsOfARealMetafileEndCleanly) {
    Recorder rec;
    {
        RecorderDevice dev(rec);
        Path p;
        p.MoveTo({1, 2}), p.CubicTo({3, 4}, {5, 6}, {7, 8}), p.Close();
        Paint paint;
        dev.FillPath(p, FillRule::NonZero, paint, {});
        TextRun t;
        t.text = u"Vellum";
        t.advances = {1, 2, 3, 4, 5, 6};
        dev.DrawText(t, {});
        Image img;
        img.width = 3, img.height = 2, img.pixels.assign(18, 7);
        dev.DrawImage(img, Matrix::Scale(6, 4));
        dev.PushClip(p, FillRule::EvenOdd, {});
        dev.PopClip();
    }
    auto good = rec.Finish();
    for (std::size_t n = 0; n <= good.size(); ++n) {
        std::vector<std::uint8_t> b(good.begin(), good.begin() + std::ptrdiff_t(n));
        TraceDevice dev;
        Play(b, dev);
    }
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        auto b = good;
        int flips = 1 + int(rng() % 8);
        for (int k = 0; k < flips; ++k) {
            std::size_t at = rng() % b.size();
            b[at] = rng() % 3 == 0 ? 0xFF : std::uint8_t(rng());
        }
        TraceDevice dev;
        Play(b, dev);
    }
}

}  // namespace
}  // namespace emf
