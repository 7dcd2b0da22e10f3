// Loaders over well-formed and hostile inputs. Fixtures are written by the
// format libraries (PNG, GIF, TIFF) or built byte by byte (BMP, JPEG markers).
#include <cstring>

#include <gtest/gtest.h>

#include "pictures/picture.h"
#include "test/fixtures.h"

using namespace images;
using namespace images::test;

namespace {

std::vector<Picture> Load(const std::string& bytes, LoadResult* result = nullptr) {
    std::vector<Picture> out;
    LoadResult r = LoadPicturesFromMemory(bytes, out);
    if (result) *result = r;
    return out;
}

std::vector<std::uint8_t> Ramp(std::size_t n, int mul = 7) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * mul + i / 5);
    return v;
}

std::vector<std::uint8_t> Noise(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = 12345;
    for (auto& b : v) x = x * 1103515245 + 12345, b = static_cast<std::uint8_t>(x >> 16);
    return v;
}

// Every prefix of a file must load or fail cleanly (the sanitizer build
// catches reads out of bounds).
void EveryPrefixIsSafe(const std::string& file) {
    std::size_t step = std::max<std::size_t>(17, file.size() / 150);
    for (std::size_t n = 0; n < file.size(); n += n < 200 ? 1 : step) Load(file.substr(0, n));
}

}  // namespace

TEST(Sniff, RecognisesByContentNotName) {
    EXPECT_EQ(Sniff(MakeJpeg({})), Format::Jpeg);
    EXPECT_EQ(Sniff("GIF89a...."), Format::Gif);
    EXPECT_EQ(Sniff(std::string("II*\0", 4)), Format::Tiff);
    EXPECT_EQ(Sniff("<html>"), Format::Unknown);
    LoadResult r;
    EXPECT_TRUE(Load("just some text, not a picture", &r).empty());
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
}

TEST(Jpeg, BytesPassUnchangedWithSizeAndResolution) {
    JpegSpec s;
    s.width = 640, s.height = 480, s.jfifUnits = 1, s.jfifX = 300, s.jfifY = 150;
    std::string file = MakeJpeg(s);
    auto pics = Load(file);
    ASSERT_EQ(pics.size(), 1u);
    const Picture& p = pics[0];
    EXPECT_EQ(p.image.data, file);
    EXPECT_EQ(p.image.filter, "DCTDecode");
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
    EXPECT_DOUBLE_EQ(p.dpiX, 300);
    EXPECT_DOUBLE_EQ(p.dpiY, 150);
    EXPECT_EQ(p.image.model, ColorModel::Rgb);

    s.jfifUnits = 2, s.jfifX = 100;  // dots per cm
    EXPECT_NEAR(Load(MakeJpeg(s))[0].dpiX, 254, 1e-9);
    s.jfifUnits = 0;  // aspect only: no resolution
    EXPECT_DOUBLE_EQ(Load(MakeJpeg(s))[0].dpiX, 96);
    s.jfifUnits = -1, s.exifDpi = 72;
    EXPECT_DOUBLE_EQ(Load(MakeJpeg(s))[0].dpiX, 72);
}

TEST(Jpeg, ProgressiveGreyAndCmykModels) {
    JpegSpec s;
    s.sof = 0xC2, s.components = 1;
    EXPECT_EQ(Load(MakeJpeg(s))[0].image.model, ColorModel::Gray);
    s.components = 4;
    auto plain = Load(MakeJpeg(s));
    EXPECT_EQ(plain[0].image.model, ColorModel::Cmyk);
    EXPECT_TRUE(plain[0].image.decode.empty());
    s.adobe = true;  // Adobe's CMYK is stored inverted
    EXPECT_EQ(Load(MakeJpeg(s))[0].image.decode, (std::vector<double>{1, 0, 1, 0, 1, 0, 1, 0}));
}

TEST(Jpeg, ExifOrientationSwapsTheDisplayedSize) {
    JpegSpec s;
    s.width = 40, s.height = 10, s.exifOrientation = 6;
    auto p = Load(MakeJpeg(s))[0];
    EXPECT_EQ(p.orientation, 6);
    EXPECT_EQ(p.width, 10);
    EXPECT_EQ(p.height, 40);
    EXPECT_EQ(p.image.width, 40);  // the stream itself is not turned
}

TEST(Jpeg, IccProfileIsReassembledFromChunks) {
    JpegSpec s;
    s.icc = FakeIcc("RGB ", 1000);
    s.iccChunk = 300;
    EXPECT_EQ(Load(MakeJpeg(s))[0].image.iccProfile, s.icc);
    s.icc = FakeIcc("CMYK", 400);  // does not fit three components: dropped
    EXPECT_TRUE(Load(MakeJpeg(s))[0].image.iccProfile.empty());
}

TEST(Jpeg, DamagedOrUncarriableFilesFail) {
    JpegSpec s;
    s.sof = 0xC3;  // lossless
    EXPECT_TRUE(Load(MakeJpeg(s)).empty());
    s.sof = 0xC9;  // arithmetic
    EXPECT_TRUE(Load(MakeJpeg(s)).empty());
    s = {};
    s.height = 0;
    EXPECT_TRUE(Load(MakeJpeg(s)).empty());
    std::string file = MakeJpeg({});
    EXPECT_TRUE(Load(file.substr(0, file.find("\xFF\xDA"))).empty());  // no scan
    std::string bad = file;
    bad[2] = 'x';
    EXPECT_TRUE(Load(bad).empty());
    EveryPrefixIsSafe(file);
}

TEST(Png, PlainFilePassesItsDataThrough) {
    PngSpec s;
    s.width = 33, s.height = 17, s.rows = Ramp(33 * 17 * 3), s.ppm = 11811;  // 300 dpi
    auto p = Load(MakePng(s))[0];
    EXPECT_EQ(p.image.filter, "FlateDecode");
    EXPECT_NE(p.image.decodeParms.find("/Predictor 15"), std::string::npos);
    EXPECT_EQ(DecodeSamples(p.image), s.rows);
    EXPECT_DOUBLE_EQ(p.dpiX, 300);  // 11811 per metre is 299.9994: meant as 300
    EXPECT_FALSE(p.image.softMask);
}

TEST(Png, SixteenBitGreyStaysSixteenBit) {
    PngSpec s;
    s.colorType = 0, s.depth = 16, s.width = 5, s.height = 4, s.rows = Ramp(5 * 4 * 2, 91);
    auto p = Load(MakePng(s))[0];
    EXPECT_EQ(p.image.bitsPerComponent, 16);
    EXPECT_EQ(p.image.model, ColorModel::Gray);
    EXPECT_EQ(DecodeSamples(p.image), s.rows);
    s.interlace = true;  // decoded and encoded anew, still lossless
    p = Load(MakePng(s))[0];
    EXPECT_EQ(p.image.bitsPerComponent, 16);
    EXPECT_EQ(DecodeSamples(p.image), s.rows);
}

TEST(Png, AlphaBecomesASoftMask) {
    PngSpec s;
    s.colorType = 6, s.width = 3, s.height = 2;
    s.rows = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 1, 2, 3, 255, 4, 5, 6, 10, 7, 8, 9, 255};
    auto p = Load(MakePng(s))[0];
    ASSERT_TRUE(p.image.softMask);
    EXPECT_EQ(DecodeSamples(p.image), (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(DecodeSamples(*p.image.softMask), (std::vector<std::uint8_t>{255, 128, 0, 255, 10, 255}));
    // An alpha channel that is opaque everywhere is dropped.
    for (std::size_t i = 3; i < s.rows.size(); i += 4) s.rows[i] = 255;
    EXPECT_FALSE(Load(MakePng(s))[0].image.softMask);
}

TEST(Png, PaletteStaysIndexedAndTransparencyIsKept) {
    PngSpec s;
    s.colorType = 3, s.depth = 2, s.width = 4, s.height = 2;
    s.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90};  // 3 entries: index 3 is out of the palette
    s.rows = {0b00011011, 0b11100100};
    auto p = Load(MakePng(s))[0];
    EXPECT_EQ(p.image.model, ColorModel::Indexed);
    EXPECT_EQ(p.image.bitsPerComponent, 2);
    EXPECT_EQ(p.image.palette.size(), 12u);  // padded to every index of the depth
    EXPECT_EQ(p.image.ColorSpaceText().substr(0, 22), "[/Indexed /DeviceRGB 3");
    s.trns = {0, 255, 255};
    p = Load(MakePng(s))[0];
    EXPECT_EQ(p.image.model, ColorModel::Indexed);
    ASSERT_TRUE(p.image.softMask);
    EXPECT_EQ(p.image.softMask->bitsPerComponent, 1);  // only fully clear or opaque
    EXPECT_EQ(DecodeSamples(*p.image.softMask), (std::vector<std::uint8_t>{0b01110000, 0b11100000}));
}

TEST(Png, TruncatedFileKeepsTheRowsThatDecode) {
    PngSpec s;
    s.width = 200, s.height = 100, s.rows = Noise(200 * 100 * 3);
    std::string file = MakePng(s);
    LoadResult r;
    auto half = Load(file.substr(0, file.size() / 2), &r);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GT(half[0].height, 10);  // the rows that decoded, nothing invented
    EXPECT_LT(half[0].height, 100);
    EXPECT_EQ(DecodeSamples(half[0].image), std::vector<std::uint8_t>(s.rows.begin(), s.rows.begin() + 600 * half[0].height));
    EXPECT_FALSE(half[0].note.empty());
    EXPECT_TRUE(Load(file.substr(0, 40)).empty());
    EveryPrefixIsSafe(file);
    std::string huge = file;  // a header claiming 2^30 x 2^30 pixels
    huge.replace(16, 8, std::string("\x40\0\0\0\x40\0\0\0", 8));
    EXPECT_TRUE(Load(huge, &r).empty());
}

TEST(Gif, FramesAreCompositedAsABrowserShowsThem) {
    std::vector<std::uint8_t> pal = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    GifFrame full{0, 0, 4, 4, 1, -1, false, std::vector<std::uint8_t>(16, 1)};  // red, kept
    GifFrame part{1, 1, 2, 2, 2, 0, false, {2, 0, 0, 3}};  // green/blue; 0 transparent; then cleared
    GifFrame last{3, 3, 3, 3, 0, -1, true, std::vector<std::uint8_t>(9, 3)};  // runs off the screen
    auto pics = Load(MakeGif(4, 4, pal, {full, part, last}));
    ASSERT_EQ(pics.size(), 3u);
    for (auto& p : pics) {
        EXPECT_EQ(p.width, 4);
        EXPECT_EQ(p.height, 4);
    }

    auto pixel = [](const Picture& p, int x, int y) {
        auto s = DecodeSamples(p.image);
        const PdfImage& im = p.image;
        int bits = im.bitsPerComponent, rowBytes = (im.width * bits + 7) / 8;
        int v = s[y * rowBytes + x * bits / 8] >> (8 - bits - x * bits % 8) & ((1 << bits) - 1);
        return im.palette.substr(v * 3, 3);
    };
    const std::string red("\xFF\0\0", 3), green("\0\xFF\0", 3), blue("\0\0\xFF", 3);
    EXPECT_EQ(pixel(pics[1], 1, 1), green);
    EXPECT_EQ(pixel(pics[1], 2, 1), red);  // transparent: the first frame shows through
    EXPECT_EQ(pixel(pics[1], 2, 2), blue);
    EXPECT_EQ(pixel(pics[1], 0, 0), red);
    // The second frame's area was cleared to transparent before the third.
    ASSERT_TRUE(pics[2].image.softMask);
    auto mask = DecodeSamples(*pics[2].image.softMask);
    EXPECT_EQ(mask[1] >> 6 & 1, 0);    // (1,1) cleared
    EXPECT_EQ(mask[0] >> 7 & 1, 1);    // (0,0) still red
    EXPECT_EQ(pixel(pics[2], 3, 3), blue);
}

TEST(Gif, DamagedFilesKeepWhatDecodes) {
    std::vector<std::uint8_t> pal = {0, 0, 0, 255, 255, 255};
    GifFrame a{0, 0, 64, 64, 0, -1, false, Ramp(64 * 64, 1)};
    for (auto& v : a.pixels) v &= 1;
    std::string file = MakeGif(64, 64, pal, {a, a});
    LoadResult r;
    auto one = Load(file.substr(0, file.size() * 3 / 4), &r);
    EXPECT_TRUE(r.ok);
    EXPECT_GE(one.size(), 1u);
    EveryPrefixIsSafe(file);
    std::string huge = file;  // 65535 x 65535 logical screen
    huge[6] = huge[7] = huge[8] = huge[9] = '\xFF';
    EXPECT_TRUE(Load(huge, &r).empty());
    EXPECT_NE(r.error.find("too large"), std::string::npos);
}

TEST(Bmp, DepthsHeadersAndRowOrder) {
    // 2x2, 24 bits, bottom-up: the first stored row is the bottom one.
    std::vector<std::uint8_t> px = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0};
    auto p = Load(MakeBmp(40, 2, 2, 24, 0, {}, px, {}, 3780))[0];
    EXPECT_EQ(DecodeSamples(p.image), (std::vector<std::uint8_t>{0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 255, 0}));
    EXPECT_DOUBLE_EQ(p.dpiX, 96);
    p = Load(MakeBmp(40, 2, -2, 24, 0, {}, px))[0];  // top-down
    EXPECT_EQ(DecodeSamples(p.image), (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 255, 0}));

    // 1 bit with a two-colour palette stays 1-bit indexed.
    p = Load(MakeBmp(40, 3, 1, 1, 0, {0, 0, 0, 0, 255, 255, 255, 0}, {0b10100000, 0, 0, 0}))[0];
    EXPECT_EQ(p.image.model, ColorModel::Indexed);
    EXPECT_EQ(p.image.bitsPerComponent, 1);
    EXPECT_EQ(p.image.palette.substr(3, 3), "\xFF\xFF\xFF");
    // Core header, 4 bits, BGR palette entries.
    p = Load(MakeBmp(12, 2, 1, 4, 0, {1, 2, 3, 0, 4, 5, 6, 0}, {0x10, 0, 0, 0}))[0];
    EXPECT_EQ(p.image.palette.substr(0, 6), std::string("\x03\x02\x01\x06\x05\x04"));
    // 16 bits 5-6-5 through bit fields.
    p = Load(MakeBmp(40, 1, 1, 16, 3, {}, {0xE0, 0x07, 0, 0}, {0xF800, 0x07E0, 0x001F}))[0];
    EXPECT_EQ(DecodeSamples(p.image), (std::vector<std::uint8_t>{0, 255, 0}));
}

TEST(Bmp, V5AlphaBecomesASoftMask) {
    std::vector<std::uint8_t> px = {10, 20, 30, 128, 40, 50, 60, 255};
    auto p = Load(MakeBmp(124, 2, 1, 32, 3, {}, px, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}))[0];
    ASSERT_TRUE(p.image.softMask);
    EXPECT_EQ(DecodeSamples(*p.image.softMask), (std::vector<std::uint8_t>{128, 255}));
    EXPECT_EQ(DecodeSamples(p.image), (std::vector<std::uint8_t>{30, 20, 10, 60, 50, 40}));
    // An alpha mask over all-zero alpha is a writer that left it unused.
    px[3] = px[7] = 0;
    EXPECT_FALSE(Load(MakeBmp(124, 2, 1, 32, 3, {}, px, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}))[0].image.softMask);
}

TEST(Bmp, RleRunsAreClippedToTheBitmap) {
    std::vector<std::uint8_t> pal(16, 0);
    pal[4] = 255;  // index 1 red-ish (B)
    // RLE8 4x2: a run of 9 (overruns the row), end of line, literal 3, end of bitmap.
    std::vector<std::uint8_t> rle = {9, 1, 0, 0, 0, 3, 1, 0, 1, 0, 0, 1};
    auto pics = Load(MakeBmp(40, 4, 2, 8, 1, pal, rle));
    ASSERT_EQ(pics.size(), 1u);
    auto s = DecodeSamples(pics[0].image);
    EXPECT_EQ(s, (std::vector<std::uint8_t>{1, 0, 1, 0, 1, 1, 1, 1}));
    // A move that jumps far outside, and RLE4.
    EXPECT_EQ(Load(MakeBmp(40, 4, 2, 8, 1, pal, {0, 2, 200, 200, 2, 1, 0, 1})).size(), 1u);
    EXPECT_EQ(Load(MakeBmp(40, 4, 2, 4, 2, pal, {5, 0x12, 0, 1})).size(), 1u);
}

TEST(Bmp, HostileHeadersFailCleanly) {
    std::vector<std::uint8_t> px(16, 0);
    LoadResult r;
    EXPECT_TRUE(Load(MakeBmp(40, 100000, 100000, 24, 0, {}, px), &r).empty());
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(Load(MakeBmp(40, 100000, 100000, 8, 1, {}, px), &r).empty());  // RLE may claim it all
    EXPECT_NE(r.error.find("too large"), std::string::npos);
    EXPECT_TRUE(Load(MakeBmp(40, 0, 5, 24, 0, {}, px)).empty());
    EXPECT_TRUE(Load(MakeBmp(40, 2, 2, 7, 0, {}, px)).empty());
    EXPECT_TRUE(Load(MakeBmp(40, 2, -2, 8, 1, {}, px)).empty());              // top-down RLE
    EXPECT_TRUE(Load(MakeBmp(40, 2, 2, 24, 1, {}, px)).empty());              // RLE8 on 24 bits
    EXPECT_TRUE(Load(MakeBmp(40, 1, 1, 16, 3, {}, px, {0xF0F0, 1, 2})).empty());  // gaps in a mask
    std::string f = MakeBmp(40, 8, 8, 24, 0, {}, std::vector<std::uint8_t>(8 * 24, 7));
    auto cut = Load(f.substr(0, f.size() - 50), &r);  // rows missing: kept what is there
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(cut[0].note.empty());
    EXPECT_EQ(cut[0].height, 5);
    // A header claiming millions of rows over a few bytes of data.
    std::string tall = MakeBmp(40, 3, 50000000, 24, 0, {}, std::vector<std::uint8_t>(24, 1));
    auto few = Load(tall, &r);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(few[0].height, 2);
    EveryPrefixIsSafe(f);
    std::string palette = MakeBmp(40, 4, 4, 8, 0, std::vector<std::uint8_t>(1024, 9), std::vector<std::uint8_t>(16, 200));
    palette[46] = '\xFF', palette[47] = '\xFF';  // claims 65535 colours
    EXPECT_EQ(Load(palette).size(), 1u);
}

TEST(Tiff, EveryPageIsAPicture) {
    TiffPage rgb;
    rgb.data = Ramp(4 * 3 * 3), rgb.dpi = 200;
    TiffPage grey16;
    grey16.bits = 16, grey16.samples = 1, grey16.photometric = 1, grey16.width = 2, grey16.height = 2;
    std::vector<std::uint16_t> g = {0x0102, 0xA0B0, 0xFFFF, 0x0000};
    grey16.data.assign(reinterpret_cast<std::uint8_t*>(g.data()), reinterpret_cast<std::uint8_t*>(g.data()) + 8);
    TiffPage pal;
    pal.bits = 4, pal.samples = 1, pal.photometric = 3, pal.width = 2, pal.height = 1, pal.data = {0x1F};
    auto pics = Load(MakeTiff({rgb, grey16, pal}));
    ASSERT_EQ(pics.size(), 3u);
    EXPECT_EQ(DecodeSamples(pics[0].image), rgb.data);
    EXPECT_DOUBLE_EQ(pics[0].dpiX, 200);
    EXPECT_EQ(pics[1].image.bitsPerComponent, 16);
    EXPECT_EQ(DecodeSamples(pics[1].image), (std::vector<std::uint8_t>{1, 2, 0xA0, 0xB0, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(pics[2].image.model, ColorModel::Indexed);
    EXPECT_EQ(pics[2].image.palette.size(), 48u);
}

TEST(Tiff, AlphaAndBilevel) {
    TiffPage rgba;
    rgba.samples = 4, rgba.extra = 2, rgba.width = 2, rgba.height = 1;
    rgba.data = {1, 2, 3, 0, 4, 5, 6, 255};
    auto p = Load(MakeTiff({rgba}))[0];
    ASSERT_TRUE(p.image.softMask);
    EXPECT_EQ(DecodeSamples(*p.image.softMask), (std::vector<std::uint8_t>{0b01000000}));

    TiffPage fax;  // CCITT G4, one strip: the coded data is kept
    fax.bits = 1, fax.samples = 1, fax.photometric = 0, fax.compression = 4, fax.width = 64, fax.height = 8;
    fax.data.assign(64, 0);
    for (int y = 0; y < 8; ++y) fax.data[y * 8 + y % 8] = 0xFF;
    p = Load(MakeTiff({fax}))[0];
    EXPECT_EQ(p.image.filter, "CCITTFaxDecode");
    EXPECT_NE(p.image.decodeParms.find("/K -1"), std::string::npos);
    EXPECT_EQ(p.image.decodeParms.find("BlackIs1"), std::string::npos);

    TiffPage lzw = fax;  // other bilevel compressions are decoded; white stays white
    lzw.compression = 5;
    p = Load(MakeTiff({lzw}))[0];
    EXPECT_EQ(p.image.bitsPerComponent, 1);
    EXPECT_EQ(p.image.decode, (std::vector<double>{1, 0}));
}

TEST(Tiff, OrientationTagTurnsThePlacement) {
    TiffPage turned;
    turned.width = 5, turned.height = 2, turned.data = Ramp(5 * 2 * 3), turned.orientation = 8;
    auto p = Load(MakeTiff({turned}))[0];
    EXPECT_EQ(p.orientation, 8);
    EXPECT_EQ(p.width, 2);
    EXPECT_EQ(p.height, 5);
    EXPECT_EQ(DecodeSamples(p.image), turned.data);  // samples as stored
}

TEST(Tiff, DamagedFilesFailOrKeepWhatDecodes) {
    TiffPage a;
    a.width = 40, a.height = 30, a.data = Ramp(40 * 30 * 3), a.compression = 8;
    std::string file = MakeTiff({a, a});
    EveryPrefixIsSafe(file);
    EXPECT_TRUE(Load(std::string("II*\0\xFF\xFF\xFF\x7F", 8)).empty());
}

TEST(Emf, HeaderGivesSizeAndResolution) {
    std::string h(108, '\0');
    auto put = [&](std::size_t at, std::int32_t v) { std::memcpy(&h[at], &v, 4); };
    put(0, 1), put(4, 108), put(48, 108);
    put(24, 0), put(28, 0), put(32, 21000), put(36, 29700);  // A4 frame in 0.01 mm
    put(72, 1920), put(76, 1080), put(80, 508), put(84, 286);
    std::memcpy(&h[40], " EMF", 4);
    auto p = Load(h)[0];
    EXPECT_TRUE(p.vector);
    EXPECT_NEAR(p.dpiX, 96, 0.01);
    EXPECT_EQ(p.width, 794);
    EXPECT_EQ(p.height, 1123);  // 286 mm for 1080 pixels is 95.9 dpi: meant as 96
    EXPECT_FALSE(Invert(p));
    put(48, 50);  // total smaller than the header
    EXPECT_TRUE(Load(h).empty());
}

TEST(Invert, NegativeThroughDecodeOrPalette) {
    Picture p;
    p.image.model = ColorModel::Rgb;
    EXPECT_TRUE(Invert(p));
    EXPECT_EQ(p.image.decode, (std::vector<double>{1, 0, 1, 0, 1, 0}));
    Invert(p);
    EXPECT_TRUE(p.image.decode.empty());
    p.image.model = ColorModel::Cmyk;
    p.image.decode = {1, 0, 1, 0, 1, 0, 1, 0};  // Adobe CMYK
    Invert(p);
    EXPECT_TRUE(p.image.decode.empty());
    p.image.model = ColorModel::Indexed;
    p.image.palette = std::string("\x00\x10\xFF", 3);
    Invert(p);
    EXPECT_EQ(p.image.palette, std::string("\xFF\xEF\x00", 3));
}

TEST(Placement, OrientationMapsTheUnitSquare) {
    auto at = [](const Placement& m, double u, double v) {
        return std::pair{m.a * u + m.c * v + m.e, m.b * u + m.d * v + m.f};
    };
    auto id = PlaceInBox(1, 10, 20);
    EXPECT_EQ(at(id, 1, 1), (std::pair{10.0, 20.0}));
    // Orientation 6 (turned a quarter clockwise): the stored top-left corner
    // (u 0, v 1) shows at the top-right of the box.
    EXPECT_EQ(at(PlaceInBox(6, 10, 20), 0, 1), (std::pair{10.0, 20.0}));
    EXPECT_EQ(at(PlaceInBox(8, 10, 20), 0, 1), (std::pair{0.0, 0.0}));
    EXPECT_EQ(at(PlaceInBox(3, 10, 20), 0, 1), (std::pair{10.0, 0.0}));
}
