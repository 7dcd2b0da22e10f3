// The painter checked through independent tools: the text poppler extracts
// and the colours of a rendering at 72 pixels per inch (one pixel a point).
#include "pdfpaint/draw_metafile.h"

#include "test_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "emf/recorder_device.h"
#include "emf/writer.h"
#include "pdfpaint/painter.h"

namespace pdfpaint {
namespace {

namespace fs = std::filesystem;

struct Raster {
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgb;
    std::array<int, 3> At(int x, int y) const {
        const std::uint8_t* p = &rgb[(std::size_t(y) * w + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

class PainterTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("vm_pdfpaint_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    std::string Write(pdfcore::Document& doc, const std::string& name) {
        std::string path = (dir / name).string();
        doc.Write(path);
        return path;
    }
    static std::string Run(const std::string& cmd) { return vmtest::Shell(cmd); }
    Raster Render(const std::string& pdf) {
        std::string base = (dir / "r").string();
        Run("pdftoppm -r 72 -singlefile " + pdf + " " + base);
        std::ifstream in(base + ".ppm", std::ios::binary);
        Raster r;
        std::string magic;
        int maxv;
        in >> magic >> r.w >> r.h >> maxv;
        in.get();
        r.rgb.resize(std::size_t(r.w) * r.h * 3);
        in.read(reinterpret_cast<char*>(r.rgb.data()), std::streamsize(r.rgb.size()));
        return r;
    }
};

std::vector<std::uint8_t> Record(const std::function<void(emf::Device&)>& draw, emf::RectL framePx) {
    emf::RecorderSetup setup;
    setup.hasFrame = true;
    setup.frame = {framePx.left * 2540 / 96, framePx.top * 2540 / 96, framePx.right * 2540 / 96, framePx.bottom * 2540 / 96};
    // A reference device at exactly 96 pixels per inch.
    setup.device = {960, 960}, setup.millimeters = {254, 254};
    emf::Recorder rec(setup);
    {
        emf::RecorderDevice dev(rec);
        draw(dev);
    }
    return rec.Finish();
}

TEST_F(PainterTest, ShapesLandWhereTheFrameIsPlacedAndClipsHold) {
    auto bytes = Record(
        [](emf::Device& d) {
            emf::Path box;
            box.AddRect({0, 0, 100, 50});
            emf::Paint red;
            red.color = {255, 0, 0, 255};
            d.FillPath(box, emf::FillRule::NonZero, red, {});
            emf::Path clip;
            clip.AddRect({0, 60, 50, 100});
            d.PushClip(clip, emf::FillRule::NonZero, {});
            emf::Path big;
            big.AddRect({0, 60, 100, 100});
            emf::Paint blue;
            blue.color = {0, 0, 255, 255};
            d.FillPath(big, emf::FillRule::NonZero, blue, {});
            d.PopClip();
            emf::Path line;
            line.MoveTo({0, 120}), line.LineTo({100, 120});
            emf::StrokeStyle s;
            s.width = 6, s.cap = emf::LineCap::Butt;
            d.StrokePath(line, s, {0, 128, 0, 255}, {});
        },
        {0, 0, 100, 130});
    pdfcore::Document doc;
    doc.AddPage(300, 300);
    // Page units of 1/144 inch: scale 2 draws one metafile pixel as one point.
    DrawOutcome o = DrawMetafile(doc, 0, bytes, 40, 20, 2, 2, 0, 0.5);
    ASSERT_EQ(o.status, DrawStatus::Ok) << o.error;
    EXPECT_TRUE(o.diagnostics.empty()) << o.diagnostics[0].Text();
    Raster r = Render(Write(doc, "shapes.pdf"));
    ASSERT_EQ(r.w, 300);
    EXPECT_EQ(r.At(20 + 5, 10 + 5), (std::array<int, 3>{255, 0, 0}));      // inside the red box
    EXPECT_EQ(r.At(20 + 105, 10 + 5), (std::array<int, 3>{255, 255, 255}));  // right of it
    EXPECT_EQ(r.At(20 + 2, 10 + 3 - 5), (std::array<int, 3>{255, 255, 255}));  // above it
    EXPECT_EQ(r.At(20 + 25, 10 + 80), (std::array<int, 3>{0, 0, 255}));     // blue inside the clip
    EXPECT_EQ(r.At(20 + 75, 10 + 80), (std::array<int, 3>{255, 255, 255}));  // clipped away
    EXPECT_EQ(r.At(20 + 50, 10 + 120), (std::array<int, 3>{0, 128, 0}));    // the 6-wide line
    EXPECT_EQ(r.At(20 + 50, 10 + 125), (std::array<int, 3>{255, 255, 255}));
}

TEST_F(PainterTest, TextStaysTextInTwoFontsAndPicturesKeepTheirOrientation) {
    auto bytes = Record(
        [](emf::Device& d) {
            emf::TextRun t;
            t.text = u"Vellumate draws";
            t.face = "DejaVu Sans";
            t.emHeight = 16;
            t.origin = {10, 30};
            d.DrawText(t, {});
            t.text = u"0123456789";
            t.face = "DejaVu Serif";
            t.emHeight = 24;
            t.origin = {10, 70};
            t.advances.assign(t.text.size(), 15);  // near the digits' own 15.3
            d.DrawText(t, {});
            emf::Image img;
            img.width = 2, img.height = 2;
            img.pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
            d.DrawImage(img, emf::Matrix::Scale(40, 40).Then(emf::Matrix::Translate(200, 10)));
        },
        {0, 0, 250, 100});
    pdfcore::Document doc;
    doc.AddPage(300, 200);
    DrawOutcome o = DrawMetafile(doc, 0, bytes, 0, 0, 1, 1, 0, 1);
    ASSERT_EQ(o.status, DrawStatus::Ok) << o.error;
    std::string pdf = Write(doc, "text.pdf");
    std::string text = Run("pdftotext -layout " + pdf + " -");
    EXPECT_NE(text.find("Vellumate draws"), std::string::npos) << text;
    EXPECT_NE(text.find("0123456789"), std::string::npos) << text;
    std::string fonts = Run("pdffonts " + pdf);
    EXPECT_NE(fonts.find("DejaVuSans"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("DejaVuSerif"), std::string::npos) << fonts;
    Raster r = Render(pdf);
    EXPECT_EQ(r.At(210, 20), (std::array<int, 3>{255, 0, 0}));  // top-left pixel of the picture
    EXPECT_EQ(r.At(230, 20), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(r.At(210, 40), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(r.At(230, 40), (std::array<int, 3>{255, 255, 0}));
    // The advances place the glyphs: ten digits 15 apart from x = 10.
    int lastInk = 0;
    for (int x = 0; x < 200; ++x)
        for (int y = 50; y < 75; ++y)
            if (r.At(x, y)[0] < 128) lastInk = std::max(lastInk, x);
    EXPECT_GT(lastInk, 10 + 9 * 15 + 8);
    EXPECT_LE(lastInk, 10 + 10 * 15 + 1);
}

TEST_F(PainterTest, APictureDrawnAgainOnAnyPageIsStoredOnceAndAnotherOneApart) {
    emf::Image same;
    same.width = 2, same.height = 1;
    same.pixels = {255, 0, 0, 0, 0, 255};
    emf::Image other = same;
    other.pixels[5] = 254;  // one sample apart
    auto bytes = Record(
        [&](emf::Device& d) {
            d.DrawImage(same, emf::Matrix::Scale(40, 40).Then(emf::Matrix::Translate(10, 10)));
            d.DrawImage(same, emf::Matrix::Scale(40, 40).Then(emf::Matrix::Translate(10, 60)));
            d.DrawImage(other, emf::Matrix::Scale(40, 40).Then(emf::Matrix::Translate(110, 10)));
        },
        {0, 0, 250, 100});
    pdfcore::Document doc;
    for (int page = 0; page < 2; ++page) {
        doc.AddPage(300, 200);
        DrawOutcome o = DrawMetafile(doc, page, bytes, 0, 0, 1, 1, 0, 1);
        ASSERT_EQ(o.status, DrawStatus::Ok) << o.error;
    }
    const std::string pdf = Write(doc, "again.pdf");
    // pdfimages lists every use: page, number, ..., object number, generation.
    std::istringstream list(Run("pdfimages -list " + pdf + " | tail -n +3 | awk '{print $1, $11}'"));
    std::map<std::string, int> uses;
    for (std::string page, object; list >> page >> object;) ++uses[object];
    EXPECT_EQ(uses.size(), 2u);
    for (const auto& [object, n] : uses) EXPECT_TRUE(n == 4 || n == 2) << object << " used " << n;
    const Raster r = Render(pdf);
    EXPECT_EQ(r.At(20, 70), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(r.At(140, 20), (std::array<int, 3>{0, 0, 254}));
}

TEST_F(PainterTest, HatchesPatternsAndDashesPaintTheirGaps) {
    pdfcore::Document doc;
    doc.AddPage(200, 100);
    PdfPainter p(doc, doc.GetPage(0).content);
    emf::Path box;
    box.AddRect({0, 0, 64, 64});
    emf::Paint hatch;
    hatch.kind = emf::Paint::Kind::Hatched, hatch.hatch = emf::Hatch::Cross, hatch.color = {255, 0, 0, 255};
    hatch.opaqueBackground = true, hatch.background = {0, 0, 255, 255};
    p.FillPath(box, emf::FillRule::NonZero, hatch, {});
    auto tile = std::make_shared<emf::Image>();
    tile->width = 2, tile->height = 2;
    tile->pixels = {0, 255, 0, 255, 255, 255, 255, 255, 255, 0, 255, 0};
    emf::Paint pattern;
    pattern.kind = emf::Paint::Kind::Pattern, pattern.pattern = tile;
    emf::Path small;
    small.AddRect({0, 0, 8, 16});
    p.FillPath(small, emf::FillRule::NonZero, pattern, emf::Matrix::Scale(4, 4).Then(emf::Matrix::Translate(70, 0)));
    emf::Path line;
    line.MoveTo({110, 50}), line.LineTo({190, 50});
    emf::StrokeStyle dashed;
    dashed.width = 4, dashed.cap = emf::LineCap::Butt, dashed.dashes = {10, 10};
    p.StrokePath(line, dashed, {0, 0, 0, 255}, {});
    p.Finish();
    Raster r = Render(Write(doc, "fills.pdf"));
    // Hatch: red lines every 8 units on the blue background.
    EXPECT_EQ(r.At(4, 3), (std::array<int, 3>{0, 0, 255}));
    int red = 0;
    for (int x = 0; x < 64; ++x) red += r.At(x, 3)[0] > 200;
    EXPECT_GE(red, 7);
    EXPECT_LE(red, 18);
    // Pattern: the 2 x 2 tile (4 points a pixel) repeats across the area.
    EXPECT_EQ(r.At(72, 2), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(r.At(76, 2), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(r.At(80, 2), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(r.At(72, 6), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(r.At(80, 42), (std::array<int, 3>{0, 255, 0}));
    // Dashes: ink, gap, ink.
    EXPECT_EQ(r.At(115, 50)[0], 0);
    EXPECT_EQ(r.At(125, 50)[0], 255);
    EXPECT_EQ(r.At(135, 50)[0], 0);
}

TEST_F(PainterTest, StateKeptAcrossCallsDoesNotLeakIntoLaterOnes) {
    pdfcore::Document doc;
    doc.AddPage(200, 100);
    PdfPainter p(doc, doc.GetPage(0).content);
    auto box = [](double l, double t, double r, double b, bool reversed) {
        emf::Path q;
        if (reversed)
            q.MoveTo({l, t}), q.LineTo({l, b}), q.LineTo({r, b}), q.LineTo({r, t}), q.Close();
        else
            q.AddRect({l, t, r, b});
        return q;
    };
    emf::Paint red, veil, green;
    red.color = {255, 0, 0, 255}, veil.color = {0, 0, 255, 128}, green.color = {0, 255, 0, 255};
    // Overlapping boxes wound opposite ways: painted one by one, the overlap stays red.
    p.FillPath(box(0, 0, 20, 20, false), emf::FillRule::NonZero, red, {});
    p.FillPath(box(10, 0, 30, 20, true), emf::FillRule::NonZero, red, {});
    p.FillPath(box(40, 0, 50, 20, true), emf::FillRule::NonZero, red, {});
    // A dashed line, then a solid one of the same colour and width.
    emf::StrokeStyle dashed, solid;
    dashed.width = solid.width = 4, dashed.cap = solid.cap = emf::LineCap::Butt, dashed.dashes = {10, 10};
    emf::Path l1, l2;
    l1.MoveTo({0, 30}), l1.LineTo({100, 30});
    l2.MoveTo({0, 40}), l2.LineTo({100, 40});
    p.StrokePath(l1, dashed, {0, 0, 0, 255}, {});
    p.StrokePath(l2, solid, {0, 0, 0, 255}, {});
    // A translucent fill, then opaque ones and a picture.
    p.FillPath(box(100, 0, 120, 20, false), emf::FillRule::NonZero, veil, {});
    p.FillPath(box(150, 0, 170, 20, false), emf::FillRule::NonZero, green, {});
    emf::Image dot;
    dot.width = dot.height = 1, dot.pixels = {0, 255, 0};
    p.DrawImage(dot, emf::Matrix::Scale(20, 20).Then(emf::Matrix::Translate(125, 0)));
    p.Finish();

    std::istringstream ops(doc.GetPage(0).content.Data());
    int saves = 0, restores = 0, matrices = 0;
    for (std::string tok; ops >> tok;) saves += tok == "q", restores += tok == "Q", matrices += tok == "cm";
    EXPECT_EQ(saves, restores);
    EXPECT_EQ(matrices, 3);  // one per matrix in a row, one for the picture's rows
    Raster r = Render(Write(doc, "state.pdf"));
    EXPECT_EQ(r.At(15, 10), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(r.At(45, 10), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(r.At(5, 30), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(r.At(15, 30), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(r.At(15, 40), (std::array<int, 3>{0, 0, 0}));
    EXPECT_NEAR(r.At(110, 10)[0], 127, 2);
    EXPECT_EQ(r.At(160, 10), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(r.At(135, 10), (std::array<int, 3>{0, 255, 0}));
}

TEST_F(PainterTest, FailuresAreReportedAndDrawNothing) {
    pdfcore::Document doc;
    doc.AddPage(100, 100);
    std::vector<std::uint8_t> junk(300, 7);
    EXPECT_EQ(DrawMetafile(doc, 0, junk, 0, 0, 1, 1, 0, 1).status, DrawStatus::NotMetafile);
    EXPECT_TRUE(doc.GetPage(0).content.Empty());
    auto bytes = Record([](emf::Device&) {}, {0, 0, 10, 10});
    EXPECT_EQ(DrawMetafile(doc, 3, bytes, 0, 0, 1, 1, 0, 1).status, DrawStatus::BadPage);
    EXPECT_EQ(DrawMetafileFile(doc, 0, (dir / "missing.emf").string(), 0, 0, 1, 1, 0, 1).status, DrawStatus::NoFile);
    EXPECT_EQ(DrawMetafileFile(doc, 0, dir.string(), 0, 0, 1, 1, 0, 1).status, DrawStatus::NoFile);  // a folder
    std::ofstream((dir / "empty.emf").string());
    EXPECT_EQ(DrawMetafileFile(doc, 0, (dir / "empty.emf").string(), 0, 0, 1, 1, 0, 1).status, DrawStatus::NotMetafile);
    std::ofstream((dir / "ok.emf").string(), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_EQ(DrawMetafileFile(doc, 0, (dir / "ok.emf").string(), 0, 0, 1, 1, 0, 1).status, DrawStatus::Ok);
}

}  // namespace
}  // namespace pdfpaint

namespace pdfpaint {
namespace {

TEST_F(PainterTest, FontProgramsThatComeWithTheMetafileAreEmbeddedAgain) {
    std::ifstream in("/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf", std::ios::binary);
    std::vector<std::uint8_t> program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(program.empty());
    auto bytes = Record(
        [&](emf::Device& d) {
            d.DefineFont({u"PageFont1", emf::FontProgram::Format::Sfnt, program});
            d.DefineFont({u"Broken", emf::FontProgram::Format::Sfnt, {1, 2, 3, 4, 5}});
            emf::TextRun t;
            t.text = u"Carried glyphs";
            t.face = "PageFont1";
            t.emHeight = 16;
            t.origin = {10, 30};
            d.DrawText(t, {});
            t.text = u"Installed face";
            t.face = "Broken";
            t.origin = {10, 60};
            d.DrawText(t, {});
        },
        {0, 0, 300, 100});
    pdfcore::Document doc;
    doc.AddPage(300, 300);
    ASSERT_EQ(DrawMetafile(doc, 0, bytes, 0, 0, 1, 1, 0, 1).status, DrawStatus::Ok);
    std::string pdf = Write(doc, "programs.pdf");
    std::string fonts = Run("pdffonts " + pdf);
    EXPECT_NE(fonts.find("+LiberationSerif "), std::string::npos) << fonts;
    std::string text = Run("pdftotext " + pdf + " -");
    EXPECT_NE(text.find("Carried glyphs"), std::string::npos) << text;
    EXPECT_NE(text.find("Installed face"), std::string::npos) << text;
}

}  // namespace
}  // namespace pdfpaint
