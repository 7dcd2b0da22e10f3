// Pictures converted end to end: the driver with the real PDF library (and
// the in-process stand-in for the add-on) over a fixed list of pictures that
// Debian packages ship, plus variants written at test time where no package
// ships one. The PDFs are checked with pdfinfo, pdfimages and qpdf.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <tuple>

#include "router.h"
#include "emf/writer.h"
#include "fake_addon.h"
#include "real_pdf_fixture.h"
#include "pictures/picture.h"
#include "run_program.h"
#include "test/fixtures.h"

namespace fs = std::filesystem;

namespace {

using vellumate::ConversionContext;
using vmtest::Capture;
using vmtest::FakeAddon;
using vmtest::Q;
using vmtest::Sandbox;

// Real pictures: files of Debian packages that scripts/packages.txt installs
// (cmake-data, fp-compiler) and whole pictures of the loaders' seed corpus.
// No package of the list ships a JPEG file: JPEG pictures are written here.
const std::vector<std::string>& RealPictures() {
    static const std::vector<std::string> files = {
        "/usr/share/cmake-3.25/Templates/Windows/Logo.png",
        "/usr/share/cmake-3.25/Templates/Windows/ApplicationIcon.png",
        "/usr/share/doc/cmake-data/CMakeLogo.gif",
        "/usr/share/doc/fp-compiler/3.2.2/palmos/pilrc.bmp",
        std::string(PICTURE_CORPUS) + "/pages.tif",
        std::string(PICTURE_CORPUS) + "/anim.gif",
    };
    return files;
}

struct PageSize {
    double w = 0, h = 0;
};

std::vector<PageSize> PageSizes(const std::string& pdf) {
    std::vector<PageSize> sizes;
    std::string info = Capture("pdfinfo -f 1 -l 100000 " + Q(pdf));
    std::regex re(R"(Page +\d+ size: +([0-9.]+) x ([0-9.]+) pts)");
    for (std::sregex_iterator it(info.begin(), info.end(), re), end; it != end; ++it)
        sizes.push_back({std::stod((*it)[1]), std::stod((*it)[2])});
    return sizes;
}

class PicturesPdf : public vmtest::RealPdfSuite<FakeAddon> {
protected:
    static void SetUpTestSuite() {
        RealPdfSuite::SetUpTestSuite();
        fs::create_directories(sandbox_->Path("out"));
    }
    std::string In(const std::string& name, const std::string& bytes) { return sandbox_->Write("in/" + name, bytes); }

    // Converts one picture and checks pages, page sizes and the PDF's health.
    void ConvertAndCheck(const std::string& source, const std::string& label) {
        SCOPED_TRACE(label + ": " + source);
        std::vector<images::Picture> pics;
        ASSERT_TRUE(images::LoadPictures(source, pics).ok);
        std::string out = Out(label + ".pdf");
        ASSERT_EQ(vellumate::ConvertFile(ctx, source, out), 0);
        EXPECT_NE(Capture("qpdf --check " + Q(out)).find("No syntax or stream encoding errors"), std::string::npos);
        auto sizes = PageSizes(out);
        ASSERT_EQ(sizes.size(), pics.size());
        const auto& s = ctx.settings;
        for (std::size_t i = 0; i < pics.size(); ++i) {
            const images::Picture& p = pics[i];
            double res = std::clamp(std::round(p.dpiX), 1.0, 10000.0);
            double units = res;  // the page's resolution
            double wantW = (s.MarginLeft + std::round(p.width * res / p.dpiX) + s.MarginRight) * 72 / units;
            double wantH = (s.MarginTop + std::round(p.height * res / p.dpiY) + s.MarginBottom) * 72 / units;
            EXPECT_NEAR(sizes[i].w, wantW, 0.01) << "page " << i + 1;
            EXPECT_NEAR(sizes[i].h, wantH, 0.01) << "page " << i + 1;
        }
        ++converted;
    }

    int converted = 0;
};

TEST_F(PicturesPdf, RealPicturesConvertPagePerFrame) {
    int n = 0;
    for (const auto& path : RealPictures()) {
        ASSERT_TRUE(fs::exists(path)) << path << ": install the packages of scripts/packages.txt";
        ConvertAndCheck(path, "real" + std::to_string(++n));
    }
    EXPECT_EQ(converted, n);
}

TEST_F(PicturesPdf, JpegStreamIsTheSourceFile) {
    images::test::JpegSpec grey;
    grey.width = 40, grey.height = 30, grey.components = 1;
    images::test::JpegSpec colour;
    colour.width = 64, colour.height = 48, colour.jfifUnits = 1, colour.jfifX = colour.jfifY = 150;
    for (const auto& spec : {grey, colour}) {
        const std::string jpeg = In("stream.jpg", images::test::MakeJpeg(spec));
        std::string out = Out("jpeg.pdf");
        ASSERT_EQ(vellumate::ConvertFile(ctx, jpeg, out), 0);
        std::string prefix = sandbox_->Path("out/extracted");
        Capture("pdfimages -all " + Q(out) + " " + Q(prefix));
        EXPECT_EQ(vmtest::ReadFile(prefix + "-000.jpg"), vmtest::ReadFile(jpeg)) << spec.width;
        fs::remove(prefix + "-000.jpg");
    }
}

TEST_F(PicturesPdf, WrittenVariantsWhereNoPackageShipsOne) {
    using namespace images::test;
    std::vector<std::uint8_t> rgb(120 * 80 * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7 + i / 360);
    // Three TIFF pages of which the last has another size: every page keeps its own.
    TiffPage a;
    a.width = 120, a.height = 80, a.data = rgb, a.dpi = 300, a.compression = 5;
    TiffPage b = a;
    b.width = 80, b.height = 120;
    ConvertAndCheck(In("pages.tif", MakeTiff({a, a, b})), "tiff3");

    TiffPage fax;
    fax.bits = 1, fax.samples = 1, fax.photometric = 0, fax.compression = 4, fax.width = 64, fax.height = 16;
    fax.data.assign(fax.width / 8 * fax.height, 0x0F);
    std::string faxPath = In("fax.tif", MakeTiff({fax}));
    ConvertAndCheck(faxPath, "fax");
    EXPECT_NE(Capture("pdfimages -list " + Q(Out("fax.pdf"))).find("ccitt"), std::string::npos);

    std::vector<std::uint8_t> pal = {255, 255, 255, 200, 0, 0, 0, 0, 200, 0, 150, 0};
    GifFrame f1{0, 0, 20, 10, 1, -1, false, std::vector<std::uint8_t>(200, 1)};
    GifFrame f2{5, 2, 8, 6, 2, 0, false, std::vector<std::uint8_t>(48, 2)};
    ConvertAndCheck(In("anim.gif", MakeGif(20, 10, pal, {f1, f2, f1})), "gif3");

    PngSpec alpha;
    alpha.colorType = 6, alpha.width = 30, alpha.height = 20, alpha.ppm = 3780;
    alpha.rows.resize(30 * 20 * 4);
    for (std::size_t i = 0; i < alpha.rows.size(); ++i) alpha.rows[i] = static_cast<std::uint8_t>(i % 4 == 3 ? i / 8 : i * 3);
    ConvertAndCheck(In("alpha.png", MakePng(alpha)), "alpha");
    EXPECT_NE(Capture("pdfimages -list " + Q(Out("alpha.pdf"))).find("smask"), std::string::npos);

    ConvertAndCheck(In("rle.bmp", MakeBmp(40, 4, 2, 8, 1, {0, 0, 0, 0, 255, 255, 255, 0}, {4, 1, 0, 0, 2, 0, 0, 1})), "bmp");
}

TEST_F(PicturesPdf, PdfOneThreeHasNoSoftMasksButPicturesOnWhite) {
    // PDF 1.3 knows no soft masks: alpha is composited on white. A clear red
    // pixel, a half-clear one and an opaque blue one; then a palette picture
    // with a clear entry.
    using namespace images::test;
    PngSpec rgba;
    rgba.colorType = 6, rgba.width = 3, rgba.height = 1;
    rgba.rows = {255, 0, 0, 0, 255, 0, 0, 128, 0, 0, 255, 255};
    PngSpec pal;
    pal.colorType = 3, pal.width = 2, pal.height = 1;
    pal.palette = {0, 200, 0, 10, 20, 30};
    pal.trns = {0};
    pal.rows = {0, 1};
    ctx.settings.Version = 0;
    for (const auto& [name, png, want] :
         {std::tuple{"clear", MakePng(rgba), std::vector<int>{255, 255, 255, 255, 127, 127, 0, 0, 255}},
          std::tuple{"palette", MakePng(pal), std::vector<int>{255, 255, 255, 10, 20, 30}}}) {
        SCOPED_TRACE(name);
        const std::string out = Out(std::string(name) + "13.pdf");
        ASSERT_EQ(vellumate::ConvertFile(ctx, In(std::string(name) + ".png", png), out), 0);
        EXPECT_EQ(vmtest::ReadFile(out).substr(0, 8), "%PDF-1.3");
        EXPECT_EQ(Capture("pdfimages -list " + Q(out)).find("smask"), std::string::npos);
        const std::string prefix = sandbox_->Path(std::string("out/") + name + "13");
        Capture("pdfimages " + Q(out) + " " + Q(prefix));
        const std::string ppm = vmtest::ReadFile(prefix + "-000.ppm");
        const std::size_t header = ppm.find("255\n");
        ASSERT_NE(header, std::string::npos) << ppm.substr(0, 20);
        std::vector<int> got;
        for (std::size_t i = header + 4; i < ppm.size(); ++i) got.push_back(static_cast<unsigned char>(ppm[i]));
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 1) << i;
    }
}

TEST_F(PicturesPdf, MetafilesStayVectors) {
    int n = 0;
    for (const char* name : {"inkscape.emf", "office.emf"}) {
        std::string emf = std::string(EMF_FIXTURES) + "/" + name;
        if (!fs::exists(emf)) continue;
        ConvertAndCheck(emf, "emf" + std::to_string(++n));
        std::vector<images::Picture> pics;
        images::LoadPictures(emf, pics);
        // Pictures inside the drawing may be rasters; the drawing itself is not one.
        std::string list = Capture("pdfimages -list " + Q(Out("emf" + std::to_string(n) + ".pdf")));
        std::regex row(R"(\n +\d+ +\d+ +\w+ +(\d+) +(\d+))");
        for (std::sregex_iterator it(list.begin(), list.end(), row), end; it != end; ++it)
            EXPECT_LT(std::stoi((*it)[1]), pics[0].width / 2) << list;
    }
    if (!n) GTEST_SKIP() << "no metafile fixtures";
}

TEST_F(PicturesPdf, MetafileWhoseHeaderFrameLiesShowsWhatItsRecordsDraw) {
    // As one converter writes them: the frame ten times the size (and the
    // place) of what the records draw, the header's bounds left empty.
    std::string words;
    auto make = [&](bool lie) {
        emf::RecorderSetup setup;
        setup.hasFrame = true;
        const int k = lie ? 10 : 1;  // pixels of 1/96 inch in 0.01 mm: 2540 / 96
        setup.frame = {k * 100 * 2540 / 96, k * 100 * 2540 / 96, k * 700 * 2540 / 96, k * 500 * 2540 / 96};
        emf::Recorder rec(setup);
        emf::LogFont font;
        font.height = -20;
        font.faceName = u"DejaVu Sans Mono";  // 12 pixels a character at this size
        rec.SelectObject(rec.ExtCreateFontIndirectW(font));
        rec.Rectangle({100, 100, 700, 500});
        for (int line = 0; line < 12; ++line) {
            std::u16string text = u"metaword" + std::u16string(1, char16_t(u'a' + line));
            std::vector<std::int32_t> dx(text.size(), 12);
            rec.ExtTextOutW(120, 120 + 30 * line, 0, nullptr, text, dx);
        }
        std::vector<std::uint8_t> bytes = rec.Finish();
        if (lie) {
            const std::int32_t empty[4] = {0, 0, -1, -1};
            std::memcpy(bytes.data() + 8, empty, sizeof empty);
        }
        return std::string(bytes.begin(), bytes.end());
    };
    for (bool lie : {false, true}) {
        SCOPED_TRACE(lie ? "frame lies" : "frame right");
        std::string out = Out(lie ? "lying.pdf" : "honest.pdf");
        ASSERT_EQ(vellumate::ConvertFile(ctx, In(lie ? "lying.emf" : "honest.emf", make(lie)), out), 0);
        auto sizes = PageSizes(out);
        ASSERT_EQ(sizes.size(), 1u);
        // The page holds the drawing (600 x 400 pixels) with its margins.
        EXPECT_NEAR(sizes[0].w, (10 + 600 + 10) * 0.75, 2);
        EXPECT_NEAR(sizes[0].h, (10 + 400 + 10) * 0.75, 2);
        std::string bbox = Capture("pdftotext -bbox " + Q(out) + " -");
        std::regex word(R"re(xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="[-0-9.]+" yMax="[-0-9.]+">metaword[a-l]<)re");
        int found = 0;
        for (std::sregex_iterator it(bbox.begin(), bbox.end(), word), end; it != end; ++it, ++found) {
            EXPECT_GT(std::stod((*it)[1]), 0);
            EXPECT_LT(std::stod((*it)[2]), sizes[0].h);
        }
        EXPECT_EQ(found, 12) << bbox;
    }
}

TEST_F(PicturesPdf, AllToOneGivesOneOutlinePerFile) {
    using namespace images::test;
    PngSpec s;
    s.width = 10, s.height = 10, s.rows.assign(300, 90);
    GifFrame f{0, 0, 4, 4, 0, -1, false, std::vector<std::uint8_t>(16, 1)};
    std::vector<std::string> files = {In("one.png", MakePng(s)), In("two.gif", MakeGif(4, 4, {0, 0, 0, 9, 9, 9}, {f, f})),
                                      In("three.bmp", MakeBmp(40, 2, 2, 24, 0, {}, std::vector<std::uint8_t>(16, 50)))};
    std::string out = Out("merged.pdf");
    ctx.MakeOne = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
        ctx.firstFile = i == 0;
        ctx.lastFile = i + 1 == files.size();
        ASSERT_EQ(vellumate::ConvertFile(ctx, files[i], out), 0) << files[i];
    }
    EXPECT_EQ(PageSizes(out).size(), 4u);
    std::string json = Capture("qpdf --json --json-key=outlines " + Q(out));
    for (const char* title : {"\"one\"", "\"two\"", "\"three\""}) EXPECT_NE(json.find(title), std::string::npos) << json;
    std::size_t outlines = 0;
    for (std::size_t at = 0; (at = json.find("\"title\"", at)) != std::string::npos; ++at) ++outlines;
    EXPECT_EQ(outlines, 3u);
}

TEST_F(PicturesPdf, BrokenLastFileOfAMergedRunKeepsTheOthers) {
    images::test::PngSpec s;
    s.width = 10, s.height = 10, s.rows.assign(300, 90);
    std::string out = Out("merged-broken.pdf");
    ctx.MakeOne = true;
    ctx.firstFile = true, ctx.lastFile = false;
    ASSERT_EQ(vellumate::ConvertFile(ctx, In("good.png", images::test::MakePng(s)), out), 0);
    ctx.firstFile = false, ctx.lastFile = true;
    EXPECT_EQ(vellumate::ConvertFile(ctx, In("bad.png", "not a picture"), out), -24);
    EXPECT_EQ(PageSizes(out).size(), 1u);  // the good file's page was still written
}

TEST_F(PicturesPdf, BrokenPicturesFailWithoutOutput) {
    using namespace images::test;
    PngSpec s;
    s.width = 10, s.height = 10, s.rows.assign(300, 90);
    std::string png = MakePng(s);
    std::string huge = MakeBmp(40, 60000, 60000, 24, 0, {}, std::vector<std::uint8_t>(64, 1));
    for (auto [name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"text.png", "this is not a picture"},
             {"empty.jpg", ""},
             {"cut.png", png.substr(0, 30)},
             {"huge.bmp", huge},
             {"nodata.jpg", images::test::MakeJpeg({}).substr(0, 20)}}) {
        std::string out = Out("broken-" + name + ".pdf");
        EXPECT_EQ(vellumate::ConvertFile(ctx, In(name, bytes), out), -24) << name;
        EXPECT_FALSE(fs::exists(out)) << name;
    }
}

TEST_F(PicturesPdf, HighResolutionPictureRestartsTheDocumentAndInvertAll) {
    images::test::JpegSpec j;
    j.width = 600, j.height = 300, j.jfifUnits = 1, j.jfifX = j.jfifY = 300;
    std::string jpeg = In("wide300.jpg", images::test::MakeJpeg(j));
    ctx.invertFlag = true;
    std::string out = Out("wide300.pdf");
    ASSERT_EQ(vellumate::ConvertFile(ctx, jpeg, out), 0);
    auto sizes = PageSizes(out);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_NEAR(sizes[0].w, (10 + 600 + 10) * 72.0 / 300, 0.01);
    EXPECT_NEAR(sizes[0].h, (10 + 300 + 10) * 72.0 / 300, 0.01);
    std::string qdf = Capture("qpdf --qdf --object-streams=disable " + Q(out) + " -");
    qdf.erase(std::remove_if(qdf.begin(), qdf.end(), ::isspace), qdf.end());
    EXPECT_NE(qdf.find("/Decode[101010]"), std::string::npos);  // the negative
}

TEST_F(PicturesPdf, PageNumbersShowBelowThePictureAtEveryResolution) {
    ctx.settings.PageNumbers = true;
    for (int dpi : {96, 300, 1200}) {
        SCOPED_TRACE(dpi);
        images::test::JpegSpec j;
        j.width = 600, j.height = 300, j.jfifUnits = 1, j.jfifX = j.jfifY = dpi;
        const std::string name = "numbered" + std::to_string(dpi);
        std::string out = Out(name + ".pdf");
        ASSERT_EQ(vellumate::ConvertFile(ctx, In(name + ".jpg", images::test::MakeJpeg(j)), out), 0);
        // The band below the picture is 12 points whatever the resolution.
        const double unit = 72.0 / dpi;
        auto sizes = PageSizes(out);
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_NEAR(sizes[0].h, (10 + 300 + 10) * unit + 12, 0.01);
        std::string bbox = Capture("pdftotext -bbox " + Q(out) + " -");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(bbox, m, std::regex(R"re(yMin="([0-9.]+)" xMax="[0-9.]+" yMax="([0-9.]+)">Page<)re")))
            << bbox;
        EXPECT_GE(std::stod(m[1]), (10 + 300) * unit - 1);  // below the picture
        EXPECT_LE(std::stod(m[2]), sizes[0].h);             // and on the page
        EXPECT_NE(bbox.find(">1</word>"), std::string::npos);
    }
}

TEST_F(PicturesPdf, ExifOrientationTurnsThePageNotTheStream) {
    images::test::JpegSpec j;
    j.width = 600, j.height = 300, j.exifOrientation = 6;
    std::string bytes = images::test::MakeJpeg(j);
    std::string out = Out("turned.pdf");
    ASSERT_EQ(vellumate::ConvertFile(ctx, In("turned.jpg", bytes), out), 0);
    auto sizes = PageSizes(out);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_NEAR(sizes[0].w, (10 + 300 + 10) * 0.75, 0.01);  // shown 300 wide, 600 high
    EXPECT_NEAR(sizes[0].h, (10 + 600 + 10) * 0.75, 0.01);
    std::string prefix = sandbox_->Path("out/turned");
    Capture("pdfimages -all " + Q(out) + " " + Q(prefix));
    EXPECT_EQ(vmtest::ReadFile(prefix + "-000.jpg"), bytes);
}

}  // namespace
