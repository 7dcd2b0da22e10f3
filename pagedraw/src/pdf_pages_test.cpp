// Pages of PDFs made here (by our own PDF library, and by hand for what it
// does not write) turned into metafiles and checked as the player reads them
// back, and as our painter turns them into a PDF again.
#include "pagedraw/pdf_pages.h"

#include "test_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "pdfcore/document.h"
#include "pdfcore/pdf_writer.h"
#include "emf/player.h"
#include "emf/reader.h"
#include "emf/trace_device.h"
#include "pdfpaint/draw_metafile.h"
#include "pdfpaint/painter.h"
#include "pictures/flate.h"

// fontconfig keeps what it parsed of its configuration for the life of the
// process: not a leak of ours (LeakSanitizer reads this list).
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace pagedraw {
namespace {

namespace fs = std::filesystem;

using vmtest::Shell;

// A PDF of one page for each of `contents`, all with Helvetica as /F1 (not
// embedded) and the extra resources given; objects 1 and 2 are the catalog
// and the page tree, each page and its content follow, then the font, then
// `more`. Offsets are computed, so poppler reads it as is.
std::string HandMadePages(const std::vector<std::string>& contents, const std::string& resources = "",
                          const std::vector<std::string>& more = {}) {
    const int n = int(contents.size()), font = 3 + 2 * n;
    std::string kids;
    for (int i = 0; i < n; ++i) kids += std::to_string(3 + 2 * i) + " 0 R ";
    std::vector<std::string> objs = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>",
    };
    for (int i = 0; i < n; ++i) {
        objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents " + std::to_string(4 + 2 * i) +
                       " 0 R /Resources << /Font << /F1 " + std::to_string(font) + " 0 R >> " + resources + " >> >>");
        objs.push_back("<< /Length " + std::to_string(contents[i].size()) + " >>\nstream\n" + contents[i] +
                       "\nendstream");
    }
    objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    objs.insert(objs.end(), more.begin(), more.end());
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objs.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objs[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objs.size() + 1) + "\n0000000000 65535 f \n";
    for (auto o : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objs.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

// A one-page PDF around `content`: the page is object 3, its font 5, `more` 6 and on.
std::string HandMadePdf(const std::string& content, const std::string& resources = "",
                        const std::vector<std::string>& more = {}) {
    return HandMadePages({content}, resources, more);
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string Trace(const std::vector<std::uint8_t>& emf) {
    emf::TraceDevice trace;
    emf::PlayResult r = emf::Play(emf, trace);
    EXPECT_TRUE(r.ok);
    return trace.Text();
}

class PdfPagesTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("vm_pagedraw_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    // Draws metafile pages into a PDF of ours, as the import of printed pages does.
    std::string BackToPdf(const std::vector<std::vector<std::uint8_t>>& pages, const std::string& name) {
        pdfcore::Document doc;
        for (auto& bytes : pages) {
            auto header = emf::ReadHeader(bytes);
            EXPECT_TRUE(header);
            const emf::Rect f = emf::FrameInPixels(*header);
            const double ppp = 72 / (header->device.cx * 25.4 / header->millimeters.cx);
            int page = doc.AddPage(f.Width() * ppp, f.Height() * ppp);
            EXPECT_EQ(pdfpaint::DrawMetafile(doc, page, bytes, 0, 0, 1, 1, 0, ppp).status, pdfpaint::DrawStatus::Ok);
        }
        std::string path = (dir / name).string();
        doc.Write(path);
        return path;
    }

    // The first page of a hand-made PDF as a metafile, at 72 per inch.
    std::vector<std::uint8_t> FirstPage(const std::string& pdf, const ConvertOptions& options = {72, true}) {
        std::string error;
        auto pages = PdfPages::OpenBytes(Bytes(pdf), error, options);
        EXPECT_TRUE(pages) << error;
        if (!pages) return {};
        auto emf = pages->ConvertPage(0, error);
        EXPECT_FALSE(emf.empty()) << error;
        return emf;
    }

    // The first page of a PDF as pdftoppm shows it at 72 per inch: all of
    // it, or the w x h points from (x, y) down from the top left.
    struct Raster {
        int w = 0, h = 0;
        std::vector<unsigned char> rgb;
        std::array<int, 3> At(int x, int y) const {
            const unsigned char* p = &rgb[(std::size_t(y) * w + x) * 3];
            return {p[0], p[1], p[2]};
        }
    };
    Raster Rasterize(const std::string& pdf, const std::string& name, int x = 0, int y = 0, int w = 0, int h = 0) {
        const std::string base = (dir / name).string();
        std::string crop = w > 0 ? " -x " + std::to_string(x) + " -y " + std::to_string(y) + " -W " +
                                       std::to_string(w) + " -H " + std::to_string(h)
                                 : "";
        Shell("pdftoppm -r 72 -singlefile" + crop + " " + pdf + " " + base);
        std::ifstream in(base + ".ppm", std::ios::binary);
        std::string magic;
        int maxv = 0;
        Raster r;
        in >> magic >> r.w >> r.h >> maxv;
        in.get();
        EXPECT_EQ(magic, "P6");
        r.rgb.assign(std::size_t(std::max(r.w, 0)) * std::max(r.h, 0) * 3, 0);
        in.read(reinterpret_cast<char*>(r.rgb.data()), std::streamsize(r.rgb.size()));
        return r;
    }
};

TEST_F(PdfPagesTest, TextOfOurOwnPdfStaysTextWithItsFontProgramAndComesBackTheSame) {
    // A page written by our PDF library: two runs in an embedded TrueType face.
    pdfcore::Document doc;
    doc.AddPage(300, 200);
    {
        pdfpaint::PdfPainter painter(doc, doc.GetPage(0).content);
        emf::TextRun t;
        t.face = "Liberation Serif";
        t.emHeight = 14;
        t.text = u"Printed words stay words";
        t.origin = {20, 40};
        painter.DrawText(t, {});
        t.text = u"second line, 1234";
        t.origin = {20, 70};
        t.color = {200, 0, 0, 255};
        painter.DrawText(t, {});
        painter.Finish();
    }
    const std::string source = (dir / "source.pdf").string();
    doc.Write(source);

    std::string error;
    auto pages = PdfPages::Open(source, error);
    ASSERT_TRUE(pages) << error;
    ASSERT_EQ(pages->PageCount(), 1);
    auto emf = pages->ConvertPage(0, error);
    ASSERT_FALSE(emf.empty()) << error;
    const std::string trace = Trace(emf);
    // One font program, then each line as one run with its colour.
    EXPECT_EQ(trace.find("font \"Liberation Serif\""), 0u) << trace;
    EXPECT_NE(trace.find("\"Printed words stay words\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("\"second line, 1234\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("#c80000"), std::string::npos) << trace;

    const std::string back = BackToPdf({emf}, "back.pdf");
    EXPECT_EQ(Shell("pdftotext -layout " + back + " -"), Shell("pdftotext -layout " + source + " -"));
    const std::string fonts = Shell("pdffonts " + back);
    EXPECT_NE(fonts.find("+LiberationSerif"), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find("DejaVu"), std::string::npos) << fonts;
    // A metafile's frame is in hundredths of a millimetre: the size comes back to a few hundredths of a point.
    double w = 0, h = 0;
    ASSERT_EQ(std::sscanf(Shell("pdfinfo " + back + " | grep 'Page size'").c_str(), "Page size: %lf x %lf", &w, &h), 2);
    EXPECT_NEAR(w, 300, 0.03);
    EXPECT_NEAR(h, 200, 0.03);
}

TEST_F(PdfPagesTest, PathsClipsShadingsAndInvisibleTextAreSaidInMetafileTerms) {
    const std::string pdf = HandMadePdf(
        "1 0 0 RG 4 w 1 J 2 j [6 3] 0 d 10 10 m 190 10 l S\n"
        "q 20 20 60 60 re W n 0 0 1 rg 0 0 200 100 re f* Q\n"
        "q 100 20 80 60 re W n /Sh1 sh Q\n"
        "BT /F1 12 Tf 3 Tr 20 85 Td (Hidden words) Tj 0 Tr 0 -70 Td (Shown) Tj ET\n",
        "/Shading << /Sh1 << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [100 0 180 0] "
        "/Function << /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [0 0 1] /N 1 >> /Extend [true true] >> >>");
    const auto emf = FirstPage(pdf);
    ASSERT_FALSE(emf.empty());
    const std::string trace = Trace(emf);
    // The dashed red line with its width, round caps and joins.
    EXPECT_NE(trace.find("stroke w=4 round bevel dash=6,3"), std::string::npos) << trace;
    // The box clip, and the even-odd fill inside it.
    EXPECT_NE(trace.find("fill evenodd solid #0000ff"), std::string::npos) << trace;
    // The shading: a picture of its clip's area (80 x 60 at 72 per inch).
    EXPECT_NE(trace.find("image 80x60"), std::string::npos) << trace;
    // Invisible text is kept inside an empty clip; Helvetica keeps its face.
    const auto hidden = trace.find("\"Hidden words\"");
    ASSERT_NE(hidden, std::string::npos) << trace;
    EXPECT_NE(trace.rfind("push_clip", hidden), std::string::npos);
    EXPECT_NE(trace.find("face=\"Helvetica\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("\"Shown\""), std::string::npos) << trace;

    const std::string back = BackToPdf({emf}, "shapes.pdf");
    const std::string text = Shell("pdftotext " + back + " -");
    EXPECT_NE(text.find("Shown"), std::string::npos) << text;
    EXPECT_NE(text.find("Hidden words"), std::string::npos) << text;
}

TEST_F(PdfPagesTest, PicturesKeepTheirColoursInEveryColourSpaceAndDepth) {
    // Three two-pixel pictures: 8-bit RGB, 8-bit grey with its decode
    // inverted, and a 1-bit palette of green and yellow.
    auto image = [](const std::string& dict, const std::string& bytes) {
        return "<< /Type /XObject /Subtype /Image /Width 2 /Height 1 " + dict + " /Length " +
               std::to_string(bytes.size()) + " >>\nstream\n" + bytes + "\nendstream";
    };
    const std::string pdf = HandMadePdf(
        "q 40 0 0 20 10 10 cm /Im1 Do Q q 40 0 0 20 60 10 cm /Im2 Do Q q 40 0 0 20 110 10 cm /Im3 Do Q\n",
        "/XObject << /Im1 6 0 R /Im2 7 0 R /Im3 8 0 R >>",
        {image("/ColorSpace /DeviceRGB /BitsPerComponent 8", std::string("\xFF\x00\x00\x00\x00\xFF", 6)),
         image("/ColorSpace /DeviceGray /BitsPerComponent 8 /Decode [1 0]", std::string("\x00\xFF", 2)),
         image("/ColorSpace [/Indexed /DeviceRGB 1 <00FF00FFFF00>] /BitsPerComponent 1", "\x40")});
    const auto emf = FirstPage(pdf);
    ASSERT_FALSE(emf.empty());
    const std::string back = BackToPdf({emf}, "pictures.pdf");
    const Raster r = Rasterize(back, "pictures");
    ASSERT_GE(r.w, 150);
    ASSERT_GE(r.h, 90);
    auto at = [&](int x, int y) { return r.At(x, y); };
    EXPECT_EQ(at(20, 80), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(at(40, 80), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(at(70, 80), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(at(90, 80), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(at(120, 80), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(at(140, 80), (std::array<int, 3>{255, 255, 0}));
}

// Deflated RGB pictures, as an office's print hands over photos: inflated in
// one go when that is all there is to them, the row-by-row way with a
// predictor; a damaged stream still gives a page.
TEST_F(PdfPagesTest, DeflatedPicturesKeepTheirColoursWithAndWithoutAPredictor) {
    auto image = [](const std::string& dict, const std::string& bytes) {
        return "<< /Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
               "/Filter /FlateDecode " + dict + " /Length " + std::to_string(bytes.size()) + " >>\nstream\n" + bytes +
               "\nendstream";
    };
    const std::string packed = pdfcore::Deflate(std::string("\xFF\x00\x00\x00\x00\xFF", 6));
    const std::string pdf = HandMadePdf(
        "q 40 0 0 20 10 10 cm /Im1 Do Q q 40 0 0 20 60 10 cm /Im2 Do Q q 40 0 0 20 110 10 cm /Im3 Do Q\n",
        "/XObject << /Im1 6 0 R /Im2 7 0 R /Im3 8 0 R >>",
        {image("", packed),
         image("/DecodeParms << /Predictor 15 /Colors 3 /Columns 2 >>",
               pdfcore::Deflate(std::string("\x00\x00\xFF\x00\xFF\xFF\x00", 7))),
         image("", packed.substr(0, packed.size() / 2))});
    const auto emf = FirstPage(pdf);
    ASSERT_FALSE(emf.empty());
    const Raster r = Rasterize(BackToPdf({emf}, "deflated.pdf"), "deflated");
    ASSERT_GE(r.w, 110);
    ASSERT_GE(r.h, 90);
    using Rgb = std::array<int, 3>;
    EXPECT_EQ(r.At(20, 80), (Rgb{255, 0, 0}));
    EXPECT_EQ(r.At(40, 80), (Rgb{0, 0, 255}));
    EXPECT_EQ(r.At(70, 80), (Rgb{0, 255, 0}));
    EXPECT_EQ(r.At(90, 80), (Rgb{255, 255, 0}));
}

// A picture that every page shows (a printed page's background) is decoded
// for the first page only, yet each page draws it; another picture of the
// same size on the next page stays itself.
TEST_F(PdfPagesTest, APictureOnSeveralPagesIsDecodedOnceAndEachPageDrawsItsOwnPictures) {
    auto image = [](const std::string& bytes) {
        return "<< /Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
               "/Length " + std::to_string(bytes.size()) + " >>\nstream\n" + bytes + "\nendstream";
    };
    const std::string pdf = HandMadePages(
        {"q 40 0 0 20 10 10 cm /Im1 Do Q\n", "q 40 0 0 20 10 10 cm /Im2 Do Q q 40 0 0 20 60 10 cm /Im1 Do Q\n"},
        "/XObject << /Im1 8 0 R /Im2 9 0 R >>",
        {image(std::string("\xFF\x00\x00\x00\x00\xFF", 6)), image(std::string("\x00\xFF\x00\xFF\xFF\x00", 6))});
    std::string error;
    auto pages = PdfPages::OpenBytes(Bytes(pdf), error, {72, true});
    ASSERT_TRUE(pages) << error;
    ASSERT_EQ(pages->PageCount(), 2);
    const auto first = pages->ConvertPage(0, error), second = pages->ConvertPage(1, error);
    ASSERT_FALSE(first.empty() || second.empty()) << error;
    EXPECT_EQ(pages->PicturesReused(), 1u);

    const Raster r1 = Rasterize(BackToPdf({first}, "first.pdf"), "first");
    const Raster r2 = Rasterize(BackToPdf({second}, "second.pdf"), "second");
    ASSERT_GE(std::min(r1.w, r2.w), 110);
    ASSERT_GE(std::min(r1.h, r2.h), 90);
    using Rgb = std::array<int, 3>;
    EXPECT_EQ(r1.At(20, 80), (Rgb{255, 0, 0}));
    EXPECT_EQ(r1.At(40, 80), (Rgb{0, 0, 255}));
    EXPECT_EQ(r2.At(20, 80), (Rgb{0, 255, 0}));
    EXPECT_EQ(r2.At(40, 80), (Rgb{255, 255, 0}));
    EXPECT_EQ(r2.At(70, 80), (Rgb{255, 0, 0}));
    EXPECT_EQ(r2.At(90, 80), (Rgb{0, 0, 255}));
}

// A large picture (a printed page's background) is packed as PNG once for
// the document: both pages' metafiles carry the same PNG, the PDF made from
// them stores one image object whose data is the PNG's own, and it shows the
// picture's colours. A PNG whose data is damaged is left out of the PDF.
TEST_F(PdfPagesTest, ALargePictureOnTwoPagesTravelsAsOnePngAndBecomesOneImageObject) {
    constexpr int W = 400, H = 300;  // 360,000 decoded bytes
    using Rgb = std::array<int, 3>;
    const Rgb quarters[4] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {240, 240, 20}};
    std::string samples(std::size_t(W) * H * 3, '\0');
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const Rgb& c = quarters[(y >= H / 2) * 2 + (x >= W / 2)];
            for (int k = 0; k < 3; ++k)  // a fine stripe along the top edge, so that rows differ
                samples[(std::size_t(y) * W + x) * 3 + k] = char(y < 8 && x % 2 ? 255 - c[k] : c[k]);
        }
    const std::string packed = pdfcore::Deflate(samples);
    const std::string image = "<< /Type /XObject /Subtype /Image /Width 400 /Height 300 /ColorSpace /DeviceRGB "
                              "/BitsPerComponent 8 /Filter /FlateDecode /Length " + std::to_string(packed.size()) +
                              " >>\nstream\n" + packed + "\nendstream";
    const std::string pdf = HandMadePages({"q 200 0 0 100 0 0 cm /Im1 Do Q\n", "q 200 0 0 100 0 0 cm /Im1 Do Q\n"},
                                          "/XObject << /Im1 8 0 R >>", {image});
    std::string error;
    auto pages = PdfPages::OpenBytes(Bytes(pdf), error, {72, true});
    ASSERT_TRUE(pages) << error;
    const auto first = pages->ConvertPage(0, error), second = pages->ConvertPage(1, error);
    ASSERT_FALSE(first.empty() || second.empty()) << error;
    EXPECT_EQ(pages->PicturesReused(), 1u);
    EXPECT_LT(first.size(), samples.size() / 4);  // the picture is compressed in the metafile

    struct Capture : emf::Device {
        std::vector<emf::Image> images;
        void DrawImage(const emf::Image& i, const emf::Matrix&) override { images.push_back(i); }
    } one, two;
    ASSERT_TRUE(emf::Play(first, one).ok);
    ASSERT_TRUE(emf::Play(second, two).ok);
    ASSERT_EQ(one.images.size(), 1u);
    ASSERT_EQ(two.images.size(), 1u);
    const emf::Image& png = one.images[0];
    ASSERT_EQ(png.format, emf::Image::Format::Png);
    EXPECT_EQ(png.width, W);
    EXPECT_EQ(png.height, H);
    EXPECT_EQ(png.encoded, two.images[0].encoded);

    const std::string out = BackToPdf({first, second}, "packed.pdf");
    std::istringstream list(Shell("pdfimages -list " + out + " | tail -n +3 | awk '{print $1, $4, $5, $11}'"));
    std::set<std::string> objects;
    int uses = 0;
    for (std::string page, w, h, object; list >> page >> w >> h >> object; ++uses) {
        objects.insert(object);
        EXPECT_EQ(w + "x" + h, "400x300");
    }
    EXPECT_EQ(uses, 2);
    EXPECT_EQ(objects.size(), 1u);
    // The PDF stores the PNG's compressed data as it is (one IDAT chunk: it follows the 13-byte header's chunk).
    const std::size_t idatAt = 8 + 25;
    ASSERT_EQ(std::string(png.encoded.begin() + idatAt + 4, png.encoded.begin() + idatAt + 8), "IDAT");
    const std::size_t idatSize = std::size_t(png.encoded[idatAt]) << 24 | std::size_t(png.encoded[idatAt + 1]) << 16 |
                                 std::size_t(png.encoded[idatAt + 2]) << 8 | png.encoded[idatAt + 3];
    const std::string idat(png.encoded.begin() + idatAt + 8, png.encoded.begin() + idatAt + 8 + std::ptrdiff_t(idatSize));
    std::ifstream in(out, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(written.find(idat), std::string::npos);
    // Its rows are the picture's own samples.
    EXPECT_EQ(images::InflateRows(idat, H, std::size_t(W) * 3, true, 3), samples);
    // The picture's quarters, away from their edges (the page shows it at
    // half size: the renderer's scaling may move a colour by one).
    const Raster r = Rasterize(out, "packed");
    ASSERT_GE(r.w, 200);
    ASSERT_GE(r.h, 100);
    const int at[4][2] = {{50, 40}, {150, 40}, {50, 80}, {150, 80}};
    for (int q = 0; q < 4; ++q)
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(r.At(at[q][0], at[q][1])[k], quarters[q][k], 1) << q;

    // Damaged compressed data: the painter leaves the picture out, the page stays.
    emf::Image broken = png;
    for (std::size_t i = idatAt + 8 + 10; i < idatAt + 8 + 60; ++i) broken.encoded[i] ^= 0x5A;
    pdfcore::Document doc;
    doc.AddPage(200, 100);
    {
        pdfpaint::PdfPainter painter(doc, doc.GetPage(0).content);
        painter.DrawImage(broken, emf::Matrix::Scale(200, 100));
    }
    const std::string left = (dir / "broken.pdf").string();
    doc.Write(left);
    EXPECT_EQ(Shell("pdfimages -list " + left + " | tail -n +3 | wc -l"), "0\n");
}

// A translucent tint (a web page's boxes and muted text are printed so) shows
// as it does on the paper, not at full strength.
TEST_F(PdfPagesTest, TranslucentFillsAndTextShowAsOnThePaper) {
    const std::string pdf = HandMadePdf("/GS1 gs 0 0 0 rg 10 10 50 50 re f BT /F1 12 Tf 20 80 Td (Muted) Tj ET\n",
                                        "/ExtGState << /GS1 << /ca 0.25 /CA 0.25 >> >>");
    const auto emf = FirstPage(pdf);
    ASSERT_FALSE(emf.empty());
    const std::string trace = Trace(emf);
    // Black at a quarter: 191 of 255 on white.
    EXPECT_NE(trace.find("fill nonzero solid #bfbfbf"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("solid #000000"), std::string::npos) << trace;
    EXPECT_NE(trace.find("\"Muted\""), std::string::npos) << trace;
}

// A soft mask and a blend mode: what they touch becomes a picture of just
// that area, as the page looks there; the words in it stay as invisible text.
TEST_F(PdfPagesTest, SoftMasksAndBlendModesBecomePicturesOfTheirAreaOnly) {
    const std::string group = "0 0 0 rg 0 0 40 40 re f 1 1 1 rg 0 0 20 40 re f";
    const std::string pdf = HandMadePdf(
        "1 0 0 rg 10 10 30 30 re f\n"
        "q /Mask gs 0 0 1 rg 100 10 60 60 re f BT /F1 10 Tf 105 40 Td (Masked) Tj ET Q\n"
        "q /Multiply gs 0 1 0 rg 20 20 40 20 re W n 0 0 200 100 re f Q\n"
        "0 0 0 rg 170 80 20 10 re f\n",
        "/ExtGState << /Mask << /SMask << /Type /Mask /S /Luminosity /G 6 0 R >> >> /Multiply << /BM /Multiply >> >>",
        {"<< /Type /XObject /Subtype /Form /BBox [0 0 40 40] /Matrix [1 0 0 1 100 10] /Group << /S /Transparency "
         "/CS /DeviceRGB >> /Length " + std::to_string(group.size()) + " >>\nstream\n" + group + "\nendstream"});
    const auto emf = FirstPage(pdf);
    ASSERT_FALSE(emf.empty());
    const std::string trace = Trace(emf);
    // Plain drawing stays plain, before and after.
    EXPECT_NE(trace.find("fill nonzero solid #ff0000"), std::string::npos) << trace;
    EXPECT_NE(trace.find("fill nonzero solid #000000"), std::string::npos) << trace;
    // Neither the masked square nor the blended box, nor the mask's own content, is drawn as it is.
    EXPECT_EQ(trace.find("solid #0000ff"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("solid #00ff00"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("solid #ffffff"), std::string::npos) << trace;
    // The pictures: the mask's box (40 x 40 at 72 per inch) and the blended clip (40 x 20).
    EXPECT_NE(trace.find("image 40x40 rgb8"), std::string::npos) << trace;
    EXPECT_NE(trace.find("image 40x20 rgb8"), std::string::npos) << trace;
    EXPECT_NE(trace.find("\"Masked\""), std::string::npos) << trace;

    // The picture holds what the page shows there: the left half of the mask
    // (white) shows the blue, the right half (black) hides it.
    const std::string back = BackToPdf({emf}, "masked.pdf");
    const Raster m = Rasterize(back, "m", 100, 50, 40, 40);
    ASSERT_EQ(m.w, 40);
    auto at = [&](int x, int y) { return m.At(x, y); };
    EXPECT_LT(at(5, 5)[0], 60);  // left: blue
    EXPECT_GT(at(5, 5)[2], 200);
    EXPECT_GT(at(35, 5)[0], 200);  // right: the white page
    EXPECT_GT(at(35, 5)[1], 200);

    // The two pictures are drawn in one walk of the page and cut apart: the
    // blended one shows its own area, green multiplied onto the red square
    // (black) and onto the page (green).
    const Raster b = Rasterize(back, "b", 20, 60, 40, 20);
    ASSERT_EQ(b.w, 40);
    auto bt = [&](int x, int y) { return b.At(x, y); };
    EXPECT_LT(bt(10, 10)[0], 60);  // over the red square: black
    EXPECT_LT(bt(10, 10)[1], 60);
    EXPECT_LT(bt(30, 10)[0], 60);  // beside it: green
    EXPECT_GT(bt(30, 10)[1], 200);

    // Finer metafiles may keep such pictures coarser: at 144 per inch they
    // take 72 if asked, and the plain drawing its 144.
    const std::string coarse = Trace(FirstPage(pdf, {144, true, 72}));
    EXPECT_NE(coarse.find("image 40x40 rgb8"), std::string::npos) << coarse;
    EXPECT_NE(coarse.find("image 40x20 rgb8"), std::string::npos) << coarse;
    const std::string fine = Trace(FirstPage(pdf, {144, true}));
    EXPECT_NE(fine.find("image 80x80 rgb8"), std::string::npos) << fine;
}

TEST_F(PdfPagesTest, AMaskedAreaUnderAClipOfRectanglesIsPicturedInThemOnly) {
    // A shadow as a browser prints it: a mask over the page, clipped to two
    // strips (even-odd), then to a box of another shape that changes nothing.
    const std::string group = "1 1 1 rg 0 0 200 100 re f";
    const std::string pdf = HandMadePdf(
        "q 10 10 30 80 re 150 10 30 80 re W* n 5 5 m 195 5 l 195 95 l 5 95 l h W n "
        "/Mask gs 0 0 1 rg 0 0 200 100 re f Q\n",
        "/ExtGState << /Mask << /SMask << /Type /Mask /S /Luminosity /G 6 0 R >> >> >>",
        {"<< /Type /XObject /Subtype /Form /BBox [0 0 200 100] /Group << /S /Transparency /CS /DeviceRGB >> "
         "/Length " + std::to_string(group.size()) + " >>\nstream\n" + group + "\nendstream"});
    const auto emf = FirstPage(pdf);
    ASSERT_FALSE(emf.empty());
    const std::string trace = Trace(emf);
    // Two pictures of a strip each, none of the 170 points between and around them.
    std::size_t strips = 0;
    for (auto at = trace.find("image 30x80 rgb8"); at != std::string::npos; at = trace.find("image 30x80 rgb8", at + 1))
        ++strips;
    EXPECT_EQ(strips, 2u) << trace;
    EXPECT_EQ(trace.find("image 170x80"), std::string::npos) << trace;
    // They show the masked blue.
    const std::string back = BackToPdf({emf}, "strips.pdf");
    const Raster strip = Rasterize(back, "s", 150, 10, 30, 80);
    ASSERT_EQ(strip.w, 30);
    EXPECT_LT(strip.At(15, 40)[0], 60);
    EXPECT_GT(strip.At(15, 40)[2], 200);
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// A grey picture as an image object of its own (samples as given).
std::string GrayImage(int w, int h, const std::string& samples, const std::string& extra = "") {
    return "<< /Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " + std::to_string(h) +
           " /ColorSpace /DeviceGray /BitsPerComponent 8 " + extra + " /Length " + std::to_string(samples.size()) +
           " >>\nstream\n" + samples + "\nendstream";
}

// A soft mask's group as a browser prints a shadow's: one picture, `im`,
// scaled onto the box (x, y, w, h); `body` replaces that drawing when given.
std::string MaskGroup(double x, double y, double w, double h, const std::string& im, const std::string& resources,
                      const std::string& body = "") {
    auto n = [](double v) { return std::to_string(v); };
    const std::string content =
        body.empty() ? "q " + n(w) + " 0 0 " + n(h) + " " + n(x) + " " + n(y) + " cm 0 0 0 rg /" + im + " Do Q" : body;
    return "<< /Type /XObject /Subtype /Form /BBox [" + n(x) + " " + n(y) + " " + n(x + w) + " " + n(y + h) +
           "] /Group << /S /Transparency /CS /DeviceGray /I true >> /Resources << " + resources +
           " >> /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream";
}

// More soft masks than a page used to keep pictures for: every one of them
// is drawn, each with its own colour at its own place.
TEST_F(PdfPagesTest, EveryMaskedAreaOfAPageIsDrawnHoweverMany) {
    constexpr int kAreas = 20;
    std::string content, states;
    std::vector<std::string> forms;
    std::vector<std::array<int, 3>> colours;
    for (int i = 0; i < kAreas; ++i) {
        const int x = 10 + (i % 10) * 18, y = i < 10 ? 60 : 20;
        // A mask the area painter draws: its group fills, it holds no picture.
        forms.push_back(MaskGroup(x, y, 10, 10, "", "",
                                  "1 1 1 rg " + std::to_string(x) + " " + std::to_string(y) + " 10 10 re f"));
        states += "/M" + std::to_string(i) + " << /SMask << /S /Luminosity /G " + std::to_string(6 + i) + " 0 R >> >> ";
        const std::array<int, 3> c{i * 12, 255 - i * 12, i % 2 ? 255 : 0};
        colours.push_back(c);
        char fill[96];
        std::snprintf(fill, sizeof fill, "q /M%d gs %.3f %.3f %.3f rg %d %d 10 10 re f Q\n", i, c[0] / 255.0,
                      c[1] / 255.0, c[2] / 255.0, x, y);
        content += fill;
    }
    const auto emf = FirstPage(HandMadePdf(content, "/ExtGState << " + states + ">>", forms));
    ASSERT_FALSE(emf.empty());
    const Raster r = Rasterize(BackToPdf({emf}, "areas.pdf"), "areas");
    ASSERT_GE(r.w, 200);
    ASSERT_GE(r.h, 100);
    for (int i = 0; i < kAreas; ++i) {
        const int x = 15 + (i % 10) * 18, y = 100 - (i < 10 ? 65 : 25);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(r.At(x, y)[k], colours[i][k], 6) << "area " << i;
    }
}

// A shadow as a browser prints it: fills under a soft mask whose group is
// one grey picture become pictures of their colours with the mask's values
// as alpha, clipped to their paths, over what lies under them (no picture
// of the area), and an inverted picture inverts the alpha.
TEST_F(PdfPagesTest, FillsUnderAMaskOfOnePictureShowTheirColourWithTheMaskAsAlpha) {
    // The same four steps as a JPEG file of 32 x 8 pixels (how a browser prints its masks).
    const std::string jpeg = Unhex(
        "FFD8FFE000104A46494600010100000100010000FFDB00430001010101010101010101010101010101010101010101010101010101"
        "010101010101010101010101010101010101010101010101010101010101010101010101FFC0000B080008002001011100FFC40015"
        "00010100000000000000000000000000000A0BFFC40014100100000000000000000000000000000000FFDA0008010100003F009FF9"
        "541541543FFFD9");
    for (const char* variant : {"plain", "inverted", "jpeg"}) {
        SCOPED_TRACE(variant);
        const bool inverted = std::string(variant) == "inverted";
        // Four grey steps along x: 0, 85, 170, 255, each 40 points wide, from x 20 to 180, y 30 to 70.
        const std::string pdf = HandMadePdf(
            "0 0 1 rg 0 0 200 100 re f\n"
            "q 0 0 200 100 re 150 40 20 20 re W* n /Shadow gs 1 0 0 rg 10 20 120 60 re f 0 1 0 rg 140 20 50 60 re f Q\n",
            "/ExtGState << /Shadow << /SMask << /S /Luminosity /G 6 0 R >> >> >>",
            {MaskGroup(20, 30, 160, 40, "Im", "/XObject << /Im 7 0 R >>"),
             std::string(variant) == "jpeg"
                 ? GrayImage(32, 8, jpeg, "/Filter /DCTDecode")
                 : GrayImage(4, 1, std::string("\x00\x55\xAA\xFF", 4), inverted ? "/Decode [1 0]" : "")});
        const auto emf = FirstPage(pdf);
        ASSERT_FALSE(emf.empty());
        const std::string trace = Trace(emf);
        EXPECT_NE(trace.find("rgba8"), std::string::npos) << trace;
        EXPECT_EQ(trace.find("rgb8"), std::string::npos) << trace;  // no picture of the area
        const Raster r = Rasterize(BackToPdf({emf}, "shadow.pdf"), "shadow");
        ASSERT_GE(r.w, 200);
        ASSERT_GE(r.h, 100);
        using Rgb = std::array<int, 3>;
        auto near = [&](int x, int y, Rgb want) {
            const Rgb got = r.At(x, 100 - y);
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], 4) << x << "," << y;
        };
        auto over = [](int a, Rgb c) {  // c at alpha a over the blue page
            return Rgb{c[0] * a / 255, c[1] * a / 255, c[2] * a / 255 + 255 * (255 - a) / 255};
        };
        const int a[4] = {inverted ? 255 : 0, inverted ? 170 : 85, inverted ? 85 : 170, inverted ? 0 : 255};
        near(40, 50, over(a[0], {255, 0, 0}));
        near(80, 50, over(a[1], {255, 0, 0}));
        near(120, 50, over(a[2], {255, 0, 0}));
        near(135, 50, {0, 0, 255});  // masked, but between the fills
        near(145, 50, over(a[3], {0, 255, 0}));
        near(160, 50, {0, 0, 255});  // the clip's hole
        near(15, 50, {0, 0, 255});   // filled, but outside the mask's picture
        near(80, 25, {0, 0, 255});
    }
}

// One picture masks many boxes (the same object in each mask): it is read
// once, or twice when it is large (a mask met once is not kept).
TEST_F(PdfPagesTest, AMaskPictureSharedByManyBoxesIsReadOnceOrTwice) {
    for (const int side : {2, 300}) {
        SCOPED_TRACE(side);
        std::string content, states;
        std::vector<std::string> forms;
        for (int i = 0; i < 3; ++i) {
            const int x = 10 + 60 * i;
            forms.push_back(MaskGroup(x, 30, 40, 40, "Im", "/XObject << /Im 9 0 R >>"));
            states += "/S" + std::to_string(i) + " << /SMask << /S /Luminosity /G " + std::to_string(6 + i) + " 0 R >> >> ";
            content += "q /S" + std::to_string(i) + " gs 0 0 0 rg " + std::to_string(x) + " 30 40 40 re f Q\n";
        }
        forms.push_back(GrayImage(side, side, std::string(std::size_t(side) * side, '\x80')));
        std::string error;
        auto pages = PdfPages::OpenBytes(Bytes(HandMadePdf(content, "/ExtGState << " + states + ">>", forms)), error,
                                         {72, true});
        ASSERT_TRUE(pages) << error;
        const std::string trace = Trace(pages->ConvertPage(0, error));
        EXPECT_EQ(pages->PicturesReused(), side == 2 ? 2u : 1u);
        std::size_t pictures = 0;
        for (auto at = trace.find("rgba8"); at != std::string::npos; at = trace.find("rgba8", at + 1)) ++pictures;
        EXPECT_EQ(pictures, 3u) << trace;
    }
}

// A mask that is more than one plain picture, or what it masks more than
// solid fills: the area painter pictures the area as the page looks there.
TEST_F(PdfPagesTest, MasksThatAreMoreThanOnePlainPictureArePicturedAsTheAreaLooks) {
    const std::string im = GrayImage(2, 1, std::string("\x40\xFF", 2));
    const std::string plainDraw = "q 100 0 0 40 50 30 cm 0 0 0 rg /Im Do Q";
    struct Case {
        const char* name;
        std::string mask;     // the SMask dictionary's entries besides /S and /G
        std::string body;     // the group's content ("" = one plain picture)
        std::string masked;   // drawn under the mask
        std::string imExtra;  // the picture's own entries
    };
    const std::vector<Case> cases = {
        {"text in the group", "/S /Luminosity", plainDraw + " BT /F1 10 Tf 60 40 Td (A) Tj ET", "50 30 100 40 re f", ""},
        {"two pictures", "/S /Luminosity", plainDraw + " " + plainDraw, "50 30 100 40 re f", ""},
        {"a translucent picture", "/S /Luminosity", "/Half gs " + plainDraw, "50 30 100 40 re f", ""},
        {"a transfer function", "/S /Luminosity /TR << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>", "",
         "50 30 100 40 re f", ""},
        {"a backdrop", "/S /Luminosity /BC [0.5]", "", "50 30 100 40 re f", ""},
        {"an alpha mask", "/S /Alpha", "", "50 30 100 40 re f", ""},
        {"a stroke under it", "/S /Luminosity", "", "4 w 60 40 80 20 re S", ""},
        {"text under it", "/S /Luminosity", "", "BT /F1 20 Tf 60 40 Td (Masked) Tj ET", ""},
        {"a masked picture", "/S /Luminosity", "", "50 30 100 40 re f", "/SMask 8 0 R"},
        {"a group under it", "/S /Luminosity", "", "/Fm0 Do", ""},
        {"a group under a mask of fills", "/S /Luminosity", "1 1 1 rg 50 30 50 40 re f", "/Fm0 Do", ""},
    };
    const std::string group = "1 0 0 rg 50 30 100 40 re f";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pdf = HandMadePdf(
            "0 0 1 rg 0 0 200 100 re f q /Shadow gs 1 0 0 rg 1 0 0 RG " + c.masked + " Q\n",
            "/ExtGState << /Shadow << /SMask << " + c.mask + " /G 6 0 R >> >> >> /XObject << /Fm0 9 0 R >>",
            {MaskGroup(50, 30, 100, 40, "Im", "/XObject << /Im 7 0 R >> /ExtGState << /Half << /ca 0.5 >> >>",
                       c.body),
             GrayImage(2, 1, std::string("\x40\xFF", 2), c.imExtra), GrayImage(1, 1, std::string("\x80", 1)),
             "<< /Type /XObject /Subtype /Form /BBox [50 30 150 70] /Group << /S /Transparency >> /Length " +
                 std::to_string(group.size()) + " >>\nstream\n" + group + "\nendstream"});
        const std::string trace = Trace(FirstPage(pdf));
        EXPECT_NE(trace.find("image 100x40 rgb8"), std::string::npos) << trace;
        EXPECT_EQ(trace.find("rgba8"), std::string::npos) << trace;
        EXPECT_EQ(trace.find("solid #ff0000"), std::string::npos) << trace;
    }
}

// Damaged and hostile masks: a picture of no size, one of a billion pixels
// with a few bytes of data, a mask whose group sets that very mask, many
// plain masks over the whole page: a page, soon, of bounded size.
TEST_F(PdfPagesTest, DamagedAndHostileMasksGiveABoundedPage) {
    const std::string loop = "/Loop gs 0 0 200 100 re f";
    std::string many;
    for (int i = 0; i < 300; ++i) many += "0 0 200 100 re f ";
    struct Case {
        const char* name;
        std::string image, body, masked;
    };
    const std::vector<Case> cases = {
        {"no size", GrayImage(0, 0, ""), "", "0 0 200 100 re f"},
        {"a billion pixels", GrayImage(40000, 30000, std::string(64, '\x7F')), "", "0 0 200 100 re f"},
        {"a mask of itself", GrayImage(1, 1, "\xFF"), loop, "0 0 200 100 re f"},
        {"many fills", GrayImage(400, 200, std::string(80000, '\x60')), "", many},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pdf = HandMadePdf(
            "q /Shadow gs 1 0 0 rg " + c.masked + " Q\n",
            "/ExtGState << /Shadow << /SMask << /S /Luminosity /G 6 0 R >> >> >>",
            {MaskGroup(0, 0, 200, 100, "Im",
                       "/XObject << /Im 7 0 R >> /ExtGState << /Loop << /SMask << /S /Luminosity /G 6 0 R >> >> >>",
                       c.body),
             c.image});
        std::string error;
        auto pages = PdfPages::OpenBytes(Bytes(pdf), error, {300, true});
        ASSERT_TRUE(pages) << error;
        std::vector<std::string> warnings;
        const auto emf = pages->ConvertPage(0, error, &warnings);
        ASSERT_FALSE(emf.empty()) << error;
        EXPECT_LT(emf.size(), std::size_t(80) << 20);
        EXPECT_TRUE(emf::Play(emf, *std::make_unique<emf::TraceDevice>()).ok);
    }
}

TEST_F(PdfPagesTest, AWordGapWithoutASpaceGetsOneAndKerningDoesNot) {
    const std::string pdf = HandMadePdf("BT /F1 12 Tf 10 50 Td [(Hello) -400 (world) -30 (s) 600 (back)] TJ ET");
    std::string error;
    auto pages = PdfPages::OpenBytes(Bytes(pdf), error, {720, true});
    ASSERT_TRUE(pages) << error;
    const std::string trace = Trace(pages->ConvertPage(0, error));
    // One run; the moved-back word starts a run of its own.
    EXPECT_NE(trace.find("text \"Hello worlds\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("text \"back\""), std::string::npos) << trace;
}

TEST_F(PdfPagesTest, BrokenEncryptedAndEmptyInputsGiveAClearError) {
    std::string error;
    EXPECT_FALSE(PdfPages::OpenBytes({}, error));
    EXPECT_EQ(error, "the PDF is empty");
    EXPECT_FALSE(PdfPages::OpenBytes(Bytes("GIF89a not a pdf at all"), error));
    EXPECT_NE(error.find("not a PDF file or is damaged"), std::string::npos) << error;
    EXPECT_FALSE(PdfPages::Open((dir / "missing.pdf").string(), error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;

    // Cut in the middle of its content: whatever can be read is drawn.
    const std::string whole = HandMadePdf("0 0 1 rg 10 10 50 50 re f BT /F1 12 Tf 10 80 Td (Cut) Tj ET");
    auto cut = PdfPages::OpenBytes(Bytes(whole.substr(0, whole.size() * 2 / 3)), error);
    if (cut) {
        std::vector<std::string> warnings;
        (void)cut->ConvertPage(0, error, &warnings);
        EXPECT_FALSE(cut->ConvertPage(5, error).size());
        EXPECT_EQ(error, "page 6 does not exist");
    }

    const std::string plain = (dir / "plain.pdf").string(), locked = (dir / "locked.pdf").string();
    std::ofstream(plain, std::ios::binary) << whole;
    Shell("qpdf --encrypt secret owner 256 -- " + plain + " " + locked);
    ASSERT_TRUE(fs::exists(locked));
    EXPECT_FALSE(PdfPages::Open(locked, error));
    EXPECT_NE(error.find("is encrypted and needs a password"), std::string::npos) << error;
}

}  // namespace
}  // namespace pagedraw
