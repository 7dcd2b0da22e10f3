#include "emf/player.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "testing/assembler.h"
#include "emf/recorder_device.h"
#include "emf/trace_device.h"
#include "emf/writer.h"

namespace emf {
namespace {

using testing::Assemble;

// Plays an assembled metafile and returns the trace; diagnostics go to `diags`.
std::string Trace(const std::string& text, std::vector<std::string>* diags = nullptr) {
    auto bytes = Assemble("header\n" + text + "\neof\n");
    TraceDevice dev;
    PlayResult r = Play(bytes, dev);
    if (diags)
        for (auto& d : r.diagnostics) diags->push_back(d.Text());
    return dev.Text();
}

TEST(Player, MappingModesPlaceShapesInDevicePixels) {
    // Anisotropic: 1000 logical units are 100 pixels, origin moved.
    EXPECT_EQ(Trace(R"(
        EMR_SETMAPMODE u32:8
        EMR_SETWINDOWEXTEX i32:1000 i32:1000
        EMR_SETVIEWPORTEXTEX i32:100 i32:-100
        EMR_SETVIEWPORTORGEX i32:10 i32:200
        EMR_SELECTOBJECT u32:0x80000008
        EMR_RECTANGLE rect:0,0,500,1000)"),
              "fill evenodd solid #ffffff ctm=[] M 10 200 L 60 200 L 60 100 L 10 100 Z\n");
    // Metric mode: 0.1 mm units, y up, at the reference device's pixels per mm
    // (1920 / 508 across, 1080 / 286 down).
    EXPECT_EQ(Trace(R"(
        EMR_SETMAPMODE u32:2
        EMR_SELECTOBJECT u32:0x80000005
        EMR_MOVETOEX pt:0,0
        EMR_LINETO pt:254,-254)"),
              "stroke w=1 butt miter miter=10 #000000 ctm=[] M 0 0 L 96 95.9161\n");
}

TEST(Player, IsotropicMappingKeepsUnitsSquare) {
    // Window 100 x 100 into a 400 x 200 viewport: both axes take the smaller scale, 2.
    EXPECT_EQ(Trace(R"(
        EMR_SETMAPMODE u32:7
        EMR_SETWINDOWEXTEX i32:100 i32:100
        EMR_SETVIEWPORTEXTEX i32:400 i32:200
        EMR_SCALEVIEWPORTEXTEX i32:1 i32:2 i32:1 i32:1    # now 200 x 200: still 2
        EMR_SELECTOBJECT u32:0x80000008
        EMR_RECTANGLE rect:0,0,10,10)"),
              "fill evenodd solid #ffffff ctm=[] M 0 0 L 20 0 L 20 20 L 0 20 Z\n");
}

TEST(Player, WorldTransformAndSavedStatesNest) {
    EXPECT_EQ(Trace(R"(
        EMR_SELECTOBJECT u32:0x80000008   # no pen
        EMR_SAVEDC
        EMR_MODIFYWORLDTRANSFORM f32:2 f32:0 f32:0 f32:2 f32:5 f32:0 u32:4
        EMR_MODIFYWORLDTRANSFORM f32:1 f32:0 f32:0 f32:1 f32:1 f32:1 u32:2   # left: first move, then scale
        EMR_SELECTOBJECT u32:0x80000004   # black brush
        EMR_RECTANGLE rect:0,0,1,1
        EMR_RESTOREDC i32:-1
        EMR_RECTANGLE rect:0,0,1,1
        EMR_RESTOREDC i32:-1              # nothing saved: warned and ignored
    )"),
              "fill evenodd solid #000000 ctm=[] M 7 2 L 9 2 L 9 4 L 7 4 Z\n"
              "fill evenodd solid #ffffff ctm=[] M 0 0 L 1 0 L 1 1 L 0 1 Z\n");
}

TEST(Player, PensBrushesAndObjectSlots) {
    std::vector<std::string> diags;
    std::string t = Trace(R"(
        EMR_SETMAPMODE u32:8
        EMR_SETWINDOWEXTEX i32:10 i32:10
        EMR_SETVIEWPORTEXTEX i32:20 i32:20
        EMR_EXTCREATEPEN u32:1 u32:0 u32:0 u32:0 u32:0 u32:0x12201 u32:3 u32:0 u32:0x0000ff u32:0 u32:0
        EMR_CREATEBRUSHINDIRECT u32:2 u32:2 u32:0x00ff00 u32:3
        EMR_SELECTOBJECT u32:1
        EMR_SELECTOBJECT u32:2
        EMR_SETBKMODE u32:1
        EMR_POLYGON16 rect:0,0,0,0 u32:3 i16:0 i16:0 i16:10 i16:0 i16:0 i16:10 pad
        EMR_DELETEOBJECT u32:2
        EMR_SELECTOBJECT u32:2            # deleted: warned, the brush stays
        EMR_SELECTOBJECT u32:77           # beyond the table
        EMR_POLYLINE16 rect:0,0,0,0 u32:2 i16:0 i16:0 i16:5 i16:0
    )", &diags);
    EXPECT_EQ(t,
              "fill evenodd hatch3 #00ff00 ctm=[] M 0 0 L 20 0 L 0 20 Z\n"
              "stroke w=6 butt miter miter=10 dash=18,6 #ff0000 ctm=[] M 0 0 L 20 0 L 0 20 Z\n"
              "stroke w=6 butt miter miter=10 dash=18,6 #ff0000 ctm=[] M 0 0 L 10 0\n");
    ASSERT_EQ(diags.size(), 2u);
    EXPECT_NE(diags[0].find("record 11 (EMR_SELECTOBJECT)"), std::string::npos) << diags[0];
    EXPECT_NE(diags[1].find("beyond the handle table"), std::string::npos) << diags[1];
}

TEST(Player, TextCarriesFaceAdvancesAndAlignment) {
    std::string font = "EMR_EXTCREATEFONTINDIRECTW u32:1 i32:-20 i32:0 i32:0 i32:0 i32:700 u8:1 u8:0 u8:0 u8:0 u8:0 u8:0 u8:0 u8:0 "
                       "w:\"Liberation Serif\" fill:32 \nEMR_SELECTOBJECT u32:1\n";
    EXPECT_EQ(Trace(font + R"(
        EMR_SETBKMODE u32:1
        EMR_SETTEXTCOLOR u32:0x0000ff
        EMR_SETTEXTALIGN u32:30        # centre, baseline
        EMR_EXTTEXTOUTW rect:0,0,-1,-1 u32:1 f32:0 f32:0 pt:100,50 u32:2 &s u32:0 rect:0,0,0,0 &dx @s w:"Hi" @dx i32:12 i32:8
    )"),
              "text \"Hi\" at -10 0 face=\"Liberation Serif\" em=20 weight=700 italic charset=0 #ff0000 adv=12,8 ctm=[1 0 0 1 100 50]\n");
    // Top alignment, opaque background, a clipping rectangle and the current position.
    EXPECT_EQ(Trace(font + R"(
        EMR_SETTEXTALIGN u32:1
        EMR_MOVETOEX pt:5,40
        EMR_EXTTEXTOUTW rect:0,0,-1,-1 u32:1 f32:0 f32:0 pt:0,0 u32:1 &s u32:4 rect:0,0,30,30 &dx @s w:"A" pad @dx i32:10
        EMR_EXTTEXTOUTW rect:0,0,-1,-1 u32:1 f32:0 f32:0 pt:0,0 u32:1 &s u32:0x100 &dx @s w:"B" pad @dx i32:10
    )"),
              "push_clip nonzero ctm=[] M 0 0 L 30 0 L 30 30 L 0 30 Z\n"
              "fill nonzero solid #ffffff ctm=[1 0 0 1 5 40] M 0 0 L 10 0 L 10 23 L 0 23 Z\n"
              "text \"A\" at 0 18.4 face=\"Liberation Serif\" em=20 weight=700 italic charset=0 #000000 adv=10 ctm=[1 0 0 1 5 40]\n"
              "pop_clip\n"
              "fill nonzero solid #ffffff ctm=[1 0 0 1 15 40] M 0 0 L 10 0 L 10 23 L 0 23 Z\n"
              "text \"B\" at 0 18.4 face=\"Liberation Serif\" em=20 weight=700 italic charset=0 #000000 adv=10 ctm=[1 0 0 1 15 40]\n");
}

TEST(Player, SmallTextRecordsShowTheirText) {
    EXPECT_EQ(Trace(R"(
        EMR_SETBKMODE u32:1
        EMR_SETTEXTALIGN u32:24
        EMR_SMALLTEXTOUT pt:10,20 u32:2 u32:0x300 u32:1 f32:0 f32:0 a:"ok" pad
        EMR_SMALLTEXTOUT pt:10,40 u32:1 u32:0x000 u32:1 f32:0 f32:0 rect:0,0,0,0 w:"w" pad
    )"),
              "text \"ok\" at 0 0 face=\"sans-serif\" em=13.92 weight=700 #000000 ctm=[1 0 0 1 10 20]\n"
              "text \"w\" at 0 0 face=\"sans-serif\" em=13.92 weight=700 #000000 ctm=[1 0 0 1 10 40]\n");
    // Several strings in one record, each with its own place and advances.
    EXPECT_EQ(Trace(R"(
        EMR_SETBKMODE u32:1
        EMR_SETTEXTALIGN u32:24
        EMR_POLYTEXTOUTW rect:0,0,0,0 u32:1 f32:0 f32:0 u32:2 pt:1,2 u32:1 &a u32:0 rect:0,0,0,0 &da pt:3,4 u32:2 &b u32:0 rect:0,0,0,0 u32:0 @a w:"x" pad @da i32:7 @b w:"yz"
    )"),
              "text \"x\" at 0 0 face=\"sans-serif\" em=13.92 weight=700 #000000 adv=7 ctm=[1 0 0 1 1 2]\n"
              "text \"yz\" at 0 0 face=\"sans-serif\" em=13.92 weight=700 #000000 ctm=[1 0 0 1 3 4]\n");
}

TEST(Player, SingleByteTextIsDecodedInTheFontsCharacterSet) {
    auto font = [](int charset) {
        return "EMR_EXTCREATEFONTINDIRECTW u32:1 i32:-10 i32:0 i32:0 i32:0 i32:400 u8:0 u8:0 u8:0 u8:" +
               std::to_string(charset) + " u8:0 u8:0 u8:0 u8:0 w:\"X\" fill:62\nEMR_SELECTOBJECT u32:1\nEMR_SETBKMODE u32:1\n";
    };
    const std::string text = "EMR_EXTTEXTOUTA rect:0,0,-1,-1 u32:1 f32:0 f32:0 pt:0,0 u32:3 &s u32:0 rect:0,0,0,0 &dx "
                             "@s hex:82a041 pad @dx i32:6 i32:6 i32:7\n";
    // Windows-1252 (the default set): three characters.
    EXPECT_NE(Trace(font(0) + text).find("text \"\u201A\u00A0A\""), std::string::npos) << Trace(font(0) + text);
    // Shift-JIS: a two-byte character takes both advances.
    std::string sjis = Trace(font(128) + text);
    EXPECT_NE(sjis.find("text \"\u3042A\""), std::string::npos) << sjis;
    EXPECT_NE(sjis.find("adv=12,7"), std::string::npos) << sjis;
}

TEST(Player, PathsAndClipping) {
    EXPECT_EQ(Trace(R"(
        EMR_SELECTOBJECT u32:0x80000008
        EMR_BEGINPATH
        EMR_MOVETOEX pt:0,0
        EMR_POLYBEZIERTO16 rect:0,0,0,0 u32:3 i16:10 i16:0 i16:20 i16:10 i16:20 i16:20
        EMR_LINETO pt:0,20
        EMR_CLOSEFIGURE
        EMR_ENDPATH
        EMR_SAVEDC
        EMR_SELECTCLIPPATH u32:1
        EMR_EXCLUDECLIPRECT rect:5,5,6,6
        EMR_RECTANGLE rect:0,0,4,4
        EMR_RESTOREDC i32:-1
        EMR_RECTANGLE rect:0,0,4,4
        EMR_INTERSECTCLIPRECT rect:1,1,3,3
        EMR_EXTSELECTCLIPRGN u32:0 u32:5      # default clip again
        EMR_RECTANGLE rect:0,0,4,4
    )"),
              "push_clip evenodd ctm=[] M 0 0 C 10 0 20 10 20 20 L 0 20 Z\n"
              "push_clip evenodd ctm=[] M -1e+07 -1e+07 L 1e+07 -1e+07 L 1e+07 1e+07 L -1e+07 1e+07 Z M 5 5 L 6 5 L 6 6 L 5 6 Z\n"
              "fill evenodd solid #ffffff ctm=[] M 0 0 L 4 0 L 4 4 L 0 4 Z\n"
              "pop_clip\npop_clip\n"
              "fill evenodd solid #ffffff ctm=[] M 0 0 L 4 0 L 4 4 L 0 4 Z\n"
              "fill evenodd solid #ffffff ctm=[] M 0 0 L 4 0 L 4 4 L 0 4 Z\n");
}

TEST(Player, ArcsEllipsesAndRoundRectsAreCurves) {
    std::string t = Trace(R"(
        EMR_SELECTOBJECT u32:0x80000005
        EMR_ELLIPSE rect:0,0,20,10
        EMR_PIE rect:0,0,20,20 pt:20,10 pt:10,0
        EMR_ROUNDRECT rect:0,0,40,20 i32:10 i32:10
    )");
    EXPECT_EQ(t.substr(0, t.find('\n')),
              "stroke w=1 butt miter miter=10 #000000 ctm=[] M 20 5 C 20 2.23858 15.5228 0 10 0 C 4.47715 0 0 2.23858 "
              "0 5 C 0 7.76142 4.47715 10 10 10 C 15.5228 10 20 7.76142 20 5 Z");
    // A quarter pie: centre, line to the start, one curve counter-clockwise to the end.
    EXPECT_NE(t.find("M 10 10 L 20 10 C 20 4.47715 15.5228 0 10 0 Z"), std::string::npos) << t;
    EXPECT_NE(t.find("M 35 0 C 37.7614 0 40 2.23858 40 5 L 40 15"), std::string::npos) << t;
}

// A 2 x 2 DIB, bottom-up, 24 bits: bottom row blue, white; top row red, green.
const char* kDib24 = "@bmi u32:40 i32:2 i32:2 u16:1 u16:24 u32:0 u32:16 i32:3780 i32:3780 u32:0 u32:0 "
                     "@bits hex:ff0000ffffff0000 hex:0000ff00ff000000";

TEST(Player, StretchDibitsDecodesRowsTopDownAndPlacesTheDestination) {
    struct Capture : Device {
        Image img;
        Matrix ctm;
        void DrawImage(const Image& i, const Matrix& m) override { img = i, ctm = m; }
    } dev;
    auto bytes = Assemble(std::string("header\nEMR_STRETCHDIBITS rect:0,0,0,0 i32:10 i32:20 i32:0 i32:0 i32:2 i32:2 "
                                      "&bmi u32:40 &bits u32:16 u32:0 u32:0xCC0020 i32:4 i32:6 ") +
                          kDib24 + "\neof\n");
    PlayResult r = Play(bytes, dev);
    ASSERT_TRUE(r.diagnostics.empty()) << r.diagnostics[0].Text();
    ASSERT_EQ(dev.img.format, Image::Format::Rgb8);
    EXPECT_EQ(dev.img.pixels, (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}));
    EXPECT_EQ(dev.ctm, (Matrix{4, 0, 0, 6, 10, 20}));
}

TEST(Player, BitmapFamiliesHonourMasksKeysAndAlpha) {
    struct Capture : Device {
        std::vector<Image> imgs;
        void DrawImage(const Image& i, const Matrix&) override { imgs.push_back(i); }
    } dev;
    std::string bmi = kDib24;
    auto bytes = Assemble(
        // TRANSPARENTBLT: red is the key colour.
        "header\nEMR_TRANSPARENTBLT rect:0,0,0,0 i32:0 i32:0 i32:2 i32:2 u32:0x0000ff i32:0 i32:0 "
        "f32:1 f32:0 f32:0 f32:1 f32:0 f32:0 u32:0 u32:0 &bmi u32:40 &bits u32:16 i32:2 i32:2 " + bmi +
        // ALPHABLEND of premultiplied 32-bit data: one half-transparent red pixel.
        "\nEMR_ALPHABLEND rect:0,0,0,0 i32:0 i32:0 i32:1 i32:1 u32:0x01ff0000 i32:0 i32:0 "
        "f32:1 f32:0 f32:0 f32:1 f32:0 f32:0 u32:0 u32:0 &bmi u32:40 &bits u32:4 i32:1 i32:1 "
        "@bmi u32:40 i32:1 i32:1 u16:1 u16:32 u32:0 u32:4 i32:0 i32:0 u32:0 u32:0 @bits hex:00008080"
        // A 1-bit picture with its two-colour table.
        "\nEMR_STRETCHDIBITS rect:0,0,0,0 i32:0 i32:0 i32:0 i32:0 i32:3 i32:1 &bmi u32:48 &bits u32:4 u32:0 "
        "u32:0xCC0020 i32:3 i32:1 @bmi u32:40 i32:3 i32:1 u16:1 u16:1 u32:0 u32:4 i32:0 i32:0 u32:2 u32:0 "
        "hex:00000000 hex:ffffff00 @bits hex:a0000000"
        "\neof\n");
    PlayResult r = Play(bytes, dev);
    ASSERT_TRUE(r.diagnostics.empty()) << r.diagnostics[0].Text();
    ASSERT_EQ(dev.imgs.size(), 3u);
    ASSERT_EQ(dev.imgs[0].format, Image::Format::Rgba8);
    EXPECT_EQ(dev.imgs[0].pixels[3], 0);     // red: keyed out
    EXPECT_EQ(dev.imgs[0].pixels[7], 255);   // green stays
    EXPECT_EQ(dev.imgs[1].pixels, (std::vector<std::uint8_t>{255, 0, 0, 128}));
    EXPECT_EQ(dev.imgs[2].pixels, (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0, 255, 255, 255}));
}

TEST(Player, MaskAndPictureBlitsOnOneRectangleBecomeOnePictureInEitherOrder) {
    struct Capture : Device {
        std::vector<Image> imgs;
        std::vector<Matrix> ctms;
        void DrawImage(const Image& i, const Matrix& m) override { imgs.push_back(i), ctms.push_back(m); }
    } dev;
    // A 2 x 2 mask, top row black then white, bottom row white then black.
    const std::string mask = "@bmi u32:40 i32:2 i32:2 u16:1 u16:1 u32:0 u32:8 i32:0 i32:0 u32:2 u32:0 "
                             "hex:00000000 hex:ffffff00 @bits hex:80000000 hex:40000000";
    auto blit = [](const std::string& rop, int x, const std::string& dib, int bmiSize, int bitsSize) {
        return "EMR_STRETCHDIBITS rect:0,0,0,0 i32:" + std::to_string(x) + " i32:20 i32:0 i32:0 i32:2 i32:2 &bmi u32:" +
               std::to_string(bmiSize) + " &bits u32:" + std::to_string(bitsSize) + " u32:0 u32:" + rop +
               " i32:4 i32:6 " + dib + "\n";
    };
    const std::string orPass = "0xEE0086", andPass = "0x8800C6";
    auto bytes = Assemble("header\n" + blit(orPass, 10, mask, 48, 8) + blit(andPass, 10, kDib24, 40, 16) +  // the office order
                          blit(andPass, 30, mask, 48, 8) + blit(orPass, 30, kDib24, 40, 16) +             // the sprite order
                          blit(andPass, 50, mask, 48, 8) + blit(orPass, 60, kDib24, 40, 16) +             // not one rectangle
                          "eof\n");
    PlayResult r = Play(bytes, dev);
    ASSERT_EQ(dev.imgs.size(), 3u);
    auto alpha = [](const Image& i) {
        std::vector<int> a;
        for (std::size_t k = 3; k < i.pixels.size(); k += 4) a.push_back(i.pixels[k]);
        return a;
    };
    // The picture is red, green / blue, white.
    ASSERT_EQ(dev.imgs[0].format, Image::Format::Rgba8);
    EXPECT_EQ(alpha(dev.imgs[0]), (std::vector<int>{0, 255, 255, 0}));    // white of the mask shows it
    EXPECT_EQ(dev.imgs[0].pixels[4], 0);                                  // green stays green
    EXPECT_EQ(alpha(dev.imgs[1]), (std::vector<int>{255, 0, 0, 255}));   // black of the mask shows it
    EXPECT_EQ(dev.ctms[0], (Matrix{4, 0, 0, 6, 10, 20}));
    EXPECT_EQ(dev.ctms[1], (Matrix{4, 0, 0, 6, 30, 20}));
    // Apart, the mask pass alone is left out and the paint pass drawn with black as its background.
    EXPECT_EQ(dev.ctms[2], (Matrix{4, 0, 0, 6, 60, 20}));
    ASSERT_EQ(r.diagnostics.size(), 1u);
    EXPECT_NE(r.diagnostics[0].Text().find("mask pass"), std::string::npos) << r.diagnostics[0].Text();
}

TEST(Player, PensOfWidthZeroAreHairlines) {
    EXPECT_EQ(Trace(R"(
        EMR_SETMAPMODE u32:8
        EMR_SETWINDOWEXTEX i32:10 i32:10
        EMR_SETVIEWPORTEXTEX i32:40 i32:40
        EMR_CREATEPEN u32:1 u32:0 i32:0 i32:0 u32:0
        EMR_SELECTOBJECT u32:1
        EMR_MOVETOEX pt:0,0
        EMR_LINETO pt:10,0
        EMR_EXTCREATEPEN u32:2 u32:0 u32:0 u32:0 u32:0 u32:0x10100 u32:0 u32:0 u32:0 u32:0 u32:0
        EMR_SELECTOBJECT u32:2
        EMR_MOVETOEX pt:0,5
        EMR_LINETO pt:10,5
        EMR_SELECTOBJECT u32:0x80000007
        EMR_MOVETOEX pt:0,9
        EMR_LINETO pt:10,9
    )"),
              "stroke w=0 butt miter miter=10 #000000 ctm=[] M 0 0 L 40 0\n"
              "stroke w=0 square round #000000 ctm=[] M 0 20 L 40 20\n"
              "stroke w=1 butt miter miter=10 #000000 ctm=[] M 0 36 L 40 36\n");
}

// Measures every run as 7 units a character, as a device with fonts would.
struct Measuring : TraceDevice {
    std::optional<double> MeasureText(const TextRun& t) override { return 7.0 * double(t.text.size()); }
};

TEST(Player, TextWithoutAdvancesIsAlignedByItsMeasuredWidthAndCarriesItsReading) {
    const std::string text = R"(
        EMR_SETBKMODE u32:1
        EMR_SETTEXTALIGN u32:6         # centre, top
        EMR_EXTTEXTOUTW rect:0,0,-1,-1 u32:1 f32:0 f32:0 pt:100,50 u32:4 &s u32:0x100 u32:0 @s w:"abcd"
        EMR_SETTEXTALIGN u32:0x10A     # right, bottom, right-to-left reading
        EMR_EXTTEXTOUTW rect:0,0,-1,-1 u32:1 f32:0 f32:0 pt:100,50 u32:2 &s u32:0x110 u32:0 @s hex:24004400
    )";
    auto bytes = Assemble("header\n" + text + "eof\n");
    Measuring dev;
    PlayResult r = Play(bytes, dev);
    EXPECT_TRUE(r.diagnostics.empty()) << r.diagnostics[0].Text();
    EXPECT_EQ(dev.Text(),
              "text \"abcd\" at -14 12.8 face=\"sans-serif\" em=13.92 weight=700 #000000 ctm=[1 0 0 1 100 50]\n"
              "text \"$D\" at -14 -3.2 face=\"sans-serif\" em=13.92 weight=700 rtl glyphs #000000 ctm=[1 0 0 1 100 50]\n");
    // A device that cannot measure gets the old guess of half an em a character.
    TraceDevice guess;
    Play(bytes, guess);
    EXPECT_NE(guess.Text().find("text \"abcd\" at -13.92 "), std::string::npos) << guess.Text();
}

TEST(Player, PlusCommentsAreSkippedAndThePlainRecordsPlayed) {
    std::vector<std::string> diags;
    EXPECT_EQ(Trace(R"(
        EMR_GDICOMMENT u32:8 a:"EMF+" u32:0x4001
        EMR_SELECTOBJECT u32:0x80000008
        EMR_RECTANGLE rect:0,0,1,1
    )", &diags),
              "fill evenodd solid #ffffff ctm=[] M 0 0 L 1 0 L 1 1 L 0 1 Z\n");
    EXPECT_TRUE(diags.empty());
    // A file with only extended records draws nothing and says so.
    diags.clear();
    EXPECT_EQ(Trace("EMR_GDICOMMENT u32:8 a:\"EMF+\" u32:0x4001", &diags), "");
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_NE(diags[0].find("only extended (EMF+) drawing records"), std::string::npos) << diags[0];
}

// One extended record: type, flags, then its data given as little-endian
// 32-bit words (floats written as f:1.5).
std::string PlusRecord(std::uint16_t type, std::uint16_t flags, std::vector<std::string> words) {
    std::vector<std::uint8_t> data;
    for (const std::string& w : words) {
        std::uint32_t v;
        if (w.rfind("f:", 0) == 0) {
            float f = std::stof(w.substr(2));
            std::memcpy(&v, &f, 4);
        } else {
            v = std::uint32_t(std::stoul(w, nullptr, 0));
        }
        for (int i = 0; i < 4; ++i) data.push_back(std::uint8_t(v >> (8 * i)));
    }
    std::vector<std::uint8_t> r = {std::uint8_t(type), std::uint8_t(type >> 8), std::uint8_t(flags), std::uint8_t(flags >> 8)};
    const std::uint32_t size = 12 + std::uint32_t(data.size());
    for (std::uint32_t v : {size, std::uint32_t(data.size())})
        for (int i = 0; i < 4; ++i) r.push_back(std::uint8_t(v >> (8 * i)));
    r.insert(r.end(), data.begin(), data.end());
    std::string hex;
    char b[3];
    for (std::uint8_t c : r) std::snprintf(b, sizeof b, "%02x", c), hex += b;
    return hex;
}
// A comment record holding the extended records.
std::string PlusComment(const std::vector<std::string>& records) {
    std::string all;
    for (auto& r : records) all += r;
    return "EMR_GDICOMMENT u32:" + std::to_string(4 + all.size() / 2) + " a:\"EMF+\" hex:" + all + " pad\n";
}

TEST(Player, ExtendedRecordsArePlayedAndThePlainOnesWhereTheyAreNotUnderstood) {
    const std::string header = PlusRecord(0x4001, 1, {"0xDBC01002", "1", "96", "96"});
    const std::string brush = PlusRecord(0x4008, 0x0100, {"0xDBC01002", "0", "0xFF0000FF"});         // 0: solid blue
    const std::string pen = PlusRecord(0x4008, 0x0201, {"0xDBC01002", "0", "0", "0", "f:0",          // 1: hairline
                                                         "0xDBC01002", "0", "0xFF00FF00"});
    const std::string font = PlusRecord(0x4008, 0x0602, {"0xDBC01002", "f:12", "3", "1", "0", "5",   // 2: Arial bold 12 pt
                                                          "0x00720041", "0x00610069", "0x0000006C"});
    std::vector<std::string> diags;
    // A header and settings alone cover no plain drawing.
    EXPECT_EQ(Trace(PlusComment({header, PlusRecord(0x4022, 0, {})}) + "EMR_SELECTOBJECT u32:0x80000008\n"
                    "EMR_RECTANGLE rect:0,0,2,2\n"),
              "fill evenodd solid #ffffff ctm=[] M 0 0 L 2 0 L 2 2 L 0 2 Z\n");
    std::string t = Trace(PlusComment({header, brush, pen, font,
                                       PlusRecord(0x400A, 0, {"0", "1", "f:10", "f:10", "f:20", "f:5"})}) +
                              // The plain records of the same drawing: left out.
                              "EMR_RECTANGLE rect:10,10,30,15\n" +
                              PlusComment({PlusRecord(0x402D, 0, {"f:100", "f:0"}),  // moved right by 100
                                           PlusRecord(0x400D, 1, {"2", "f:0", "f:0", "f:10", "f:0"}),
                                           PlusRecord(0x401C, 0x8002, {"0xFF000000", "0xFFFFFFFF", "2", "f:10", "f:20",
                                                                       "f:0", "f:0", "0x00690048"})}) +
                              // A record not understood: the plain records after it are drawn.
                              PlusComment({PlusRecord(0x4017, 1, {"0", "0"})}) + "EMR_SELECTOBJECT u32:0x80000008\n"
                              "EMR_RECTANGLE rect:0,0,4,4\n" +
                              // Plain drawing in the middle of extended drawing.
                              PlusComment({PlusRecord(0x4004, 0, {})}) + "EMR_RECTANGLE rect:5,5,6,6\n",
                          &diags);
    EXPECT_EQ(t,
              "fill nonzero solid #0000ff ctm=[] M 10 10 L 30 10 L 30 15 L 10 15 Z\n"
              "stroke w=0 butt miter miter=10 #00ff00 ctm=[1 0 0 1 100 0] M 0 0 L 10 0\n"
              "text \"Hi\" at 10 34.4 face=\"Arial\" em=16 weight=700 #000000 ctm=[1 0 0 1 100 0]\n"
              "fill evenodd solid #ffffff ctm=[] M 0 0 L 4 0 L 4 4 L 0 4 Z\n"
              "fill evenodd solid #ffffff ctm=[] M 5 5 L 6 5 L 6 6 L 5 6 Z\n");
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_NE(diags[0].find("extended record 16407 not shown; the plain records are shown instead"), std::string::npos)
        << diags[0];
}

TEST(Player, RecorderOutputPlaysBackToTheSameRecords) {
    auto record = [](Device& dev) {
        Path p;
        p.MoveTo({1, 2}), p.CubicTo({3, 4}, {5, 6}, {7, 8}), p.LineTo({9, 1}), p.Close();
        Paint paint;
        paint.color = {10, 20, 30, 255};
        dev.FillPath(p, FillRule::EvenOdd, paint, {});
        StrokeStyle s;
        s.width = 3, s.dashes = {4, 2}, s.cap = LineCap::Butt, s.join = LineJoin::Miter;
        dev.StrokePath(p, s, {200, 0, 0, 255}, {});
        Path box;
        box.AddRect({0, 0, 50, 40});
        dev.PushClip(box, FillRule::NonZero, {});
        TextRun t;
        t.text = u"Vellum";
        t.advances = {9, 8, 7, 3, 8, 12};
        t.origin = {4, 30};
        t.face = "DejaVu Sans";
        t.emHeight = 14;
        dev.DrawText(t, {});
        t.text = u"\u05e9\u05dc", t.advances = {8, 8}, t.rtl = true;  // reading order travels along
        dev.DrawText(t, {});
        t.text = u"\x2a\x2b", t.rtl = false, t.glyphIndices = true;  // and so do glyph indices
        dev.DrawText(t, {});
        dev.PopClip();
        Image img;
        img.width = 2, img.height = 1, img.pixels = {1, 2, 3, 4, 5, 6};
        dev.DrawImage(img, Matrix::Scale(20, 10).Then(Matrix::Translate(5, 5)));
    };
  for (bool sliceSafe : {true, false}) {
    SCOPED_TRACE(sliceSafe ? "slice-safe records" : "curves kept");
    RecorderDeviceOptions options;
    options.sliceSafe = sliceSafe;
    Recorder first;
    {
        RecorderDevice dev(first, options);
        record(dev);
    }
    auto a = first.Finish();
    Recorder second;
    {
        RecorderDevice dev(second, options);
        PlayResult r = Play(a, dev);
        ASSERT_TRUE(r.ok);
        EXPECT_TRUE(r.diagnostics.empty()) << r.diagnostics[0].Text();
    }
    auto b = second.Finish();
    TraceDevice trace;
    Play(b, trace);
    EXPECT_NE(trace.Text().find(" rtl #000000"), std::string::npos) << trace.Text();
    EXPECT_NE(trace.Text().find(" glyphs #000000"), std::string::npos) << trace.Text();
    Metafile ma = Read(a), mb = Read(b);
    ASSERT_EQ(Dump(a, ma), Dump(b, mb));
    for (std::size_t i = 0; i < ma.records.size(); ++i) {
        auto ra = ma.records[i], rb = mb.records[i];
        EXPECT_TRUE(std::equal(a.begin() + std::ptrdiff_t(ra.offset), a.begin() + std::ptrdiff_t(ra.offset + ra.size),
                               b.begin() + std::ptrdiff_t(rb.offset)))
            << "record " << i << " " << RecordName(ra.type);
    }
  }
}

TEST(Placement, FrameTopLeftGoesToTheGivenPointAndATenfoldFrameIsMended) {
    Header h;
    h.device = {1920, 1080}, h.millimeters = {508, 286};
    h.bounds = {0, 0, 99, 49};
    h.frame = {0, 0, 2619, 1323};  // 100 x 50 pixels at 96 per inch
    std::vector<Diagnostic> d;
    Matrix m = FramePlacement(h, 10, 20, 2, 2, 0, &d);
    EXPECT_EQ(m.Apply({0, 0}), (Point{10, 20}));
    EXPECT_TRUE(d.empty());
    h.frame = {30000, 5000, 56190, 18230};  // ten times too large and off the drawing
    Rect f = FrameInPixels(h, 0, &d);
    EXPECT_EQ(f, (Rect{0, 0, 99, 49}));
    EXPECT_EQ(d.size(), 1u);
    // A legitimately large frame around a small drawing is left alone.
    h.frame = {0, 0, 26190, 13230};
    h.bounds = {0, 0, 30, 20};
    EXPECT_NEAR(FrameInPixels(h).right, 990, 1);
}

}  // namespace
}  // namespace emf
