#include "core/document.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pdfcore {
namespace {

namespace fs = std::filesystem;

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pdfcore_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const char* name) { return (fs::path(dir_) / name).string(); }
    fs::path dir_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(PaperSizes, RealSizesInPoints) {
    double w = 0, h = 0;
    ASSERT_TRUE(PaperSizePoints(0, &w, &h));  // user defined is A4
    EXPECT_NEAR(w, 595.28, 0.01);
    EXPECT_NEAR(h, 841.89, 0.01);
    ASSERT_TRUE(PaperSizePoints(1, &w, &h));
    EXPECT_EQ(w, 612);
    EXPECT_EQ(h, 792);
    ASSERT_TRUE(PaperSizePoints(4, &w, &h));  // Legal
    EXPECT_EQ(h, 1008);
    ASSERT_TRUE(PaperSizePoints(18, &w, &h));  // envelope #10
    EXPECT_EQ(w, 297);
    EXPECT_FALSE(PaperSizePoints(20, &w, &h));
    EXPECT_FALSE(PaperSizePoints(-1, &w, &h));
}

TEST_F(DocumentTest, PagesLinksOutlinesAndFlipAreWritten) {
    Document doc;
    doc.GetSettings().deterministic = true;
    doc.GetSettings().title = "Ünïcode title";
    int p0 = doc.AddPage(612, 792);
    int p1 = doc.AddPage(300, 400);
    doc.GetPage(p1).rotation = 90;
    Font* f = doc.Fonts().Resolve("Liberation Sans", 400, false);
    std::vector<PlacedGlyph> glyphs;
    double x = 0;
    for (const auto& g : f->Shape(u"Hello")) {
        glyphs.push_back({g.gid, x, 0});
        x += g.advance * 12;
    }
    doc.GetPage(p0).content.ShowGlyphs(*f, 12, Matrix{1, 0, 0, -1, 72, 100}, glyphs, {0, 0, 0});
    int go = doc.AddAction({Action::Kind::GoTo, p1, 100, {}});
    int uri = doc.AddAction({Action::Kind::Uri, 0, 0, "https://example.org/"});
    doc.GetPage(p0).links.push_back({{10, 20, 110, 40}, go, 0});
    doc.GetPage(p0).links.push_back({{10, 50, 110, 70}, uri, 0});
    int dest = doc.AddDestination(p1, 50);
    doc.GetPage(p1).links.push_back({{0, 0, 10, 10}, 0, dest});
    int a = doc.AddOutlineAfter(-1, "A", go);
    int a1 = doc.AddOutlineFirstChild(a, "A.1", uri);
    int b = doc.AddOutlineAfter(a, "B", 0);
    doc.AddOutlineAfter(a1, "A.2", 0);
    doc.GetOutline(a).open = true;
    (void)b;
    std::string out = Path("doc.pdf");
    doc.Write(out);

    QPDF pdf;
    pdf.processFile(out.c_str());
    auto pages = pdf.getAllPages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].getKey("/MediaBox").unparse(), "[ 0 0 300 400 ]");
    EXPECT_EQ(pages[1].getKey("/Rotate").getIntValue(), 90);
    auto annots = pages[0].getKey("/Annots");
    ASSERT_EQ(annots.getArrayNItems(), 2);
    // Top-down rectangle (10,20)-(110,40) on a 792-point page.
    EXPECT_EQ(annots.getArrayItem(0).getKey("/Rect").unparse(), "[ 10 752 110 772 ]");
    EXPECT_EQ(annots.getArrayItem(0).getKey("/A").getKey("/D").getArrayItem(3).getNumericValue(), 300);
    EXPECT_EQ(annots.getArrayItem(1).getKey("/A").getKey("/URI").getStringValue(), "https://example.org/");
    EXPECT_EQ(pages[1].getKey("/Annots").getArrayItem(0).getKey("/Dest").getArrayItem(3).getNumericValue(), 350);

    auto outlines = pdf.getRoot().getKey("/Outlines");
    auto first = outlines.getKey("/First");
    EXPECT_EQ(first.getKey("/Title").getUTF8Value(), "A");
    EXPECT_EQ(first.getKey("/Count").getIntValue(), 2);  // open, two children
    EXPECT_EQ(first.getKey("/First").getKey("/Title").getUTF8Value(), "A.1");
    EXPECT_EQ(first.getKey("/First").getKey("/Next").getKey("/Title").getUTF8Value(), "A.2");
    EXPECT_EQ(first.getKey("/Next").getKey("/Title").getUTF8Value(), "B");
    EXPECT_EQ(outlines.getKey("/Count").getIntValue(), 4);
    EXPECT_EQ(pdf.getTrailer().getKey("/Info").getKey("/Title").getUTF8Value(), "Ünïcode title");

    // The same input writes the same bytes.
    Document again;
    again.GetSettings().deterministic = true;
    again.AddPage(612, 792);
    again.Write(Path("a.pdf"));
    Document again2;
    again2.GetSettings().deterministic = true;
    again2.AddPage(612, 792);
    again2.Write(Path("b.pdf"));
    EXPECT_EQ(ReadAll(Path("a.pdf")), ReadAll(Path("b.pdf")));
}

TEST_F(DocumentTest, FailedWriteLeavesNoFileBehind) {
    Document doc;
    doc.AddPage(100, 100);
    EXPECT_THROW(doc.Write(Path("missing/dir/x.pdf")), std::runtime_error);
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(DocumentTest, ImagesAndFormsBecomeXObjects) {
    Document doc;
    doc.GetSettings().compress = true;
    int p = doc.AddPage(200, 200);
    EncodedImage im;
    im.data = std::string("\xff\x00\x00\x00\xff\x00", 6);
    im.width = 2;
    im.height = 1;
    auto mask = std::make_shared<EncodedImage>();
    mask->data = std::string("\x80\xff", 2);
    mask->colorSpace = "/DeviceGray";
    mask->width = 2;
    mask->height = 1;
    im.softMask = mask;
    std::string imName = doc.AddImage(im);
    ContentBuilder form;
    form.Rectangle(0, 0, 10, 10);
    form.Fill(FillRule::NonZero);
    form.DrawXObject(imName);
    std::string fmName = doc.AddForm(std::move(form), {0, 0, 10, 10}, Matrix{});
    doc.GetPage(p).content.DrawXObject(fmName);
    doc.GetPage(p).content.DrawXObject(imName);
    EncodedImage bad;
    EXPECT_THROW(doc.AddImage(bad), std::invalid_argument);
    doc.Write(Path("img.pdf"));

    QPDF pdf;
    pdf.processFile(Path("img.pdf").c_str());
    QPDFObjectHandle page0 = pdf.getAllPages()[0];
    auto xo = page0.getKey("/Resources").getKey("/XObject");
    auto img = xo.getKey("/" + imName);
    EXPECT_EQ(img.getDict().getKey("/Subtype").getName(), "/Image");
    EXPECT_TRUE(img.getDict().getKey("/SMask").isStream());
    auto fm = xo.getKey("/" + fmName);
    EXPECT_EQ(fm.getDict().getKey("/Subtype").getName(), "/Form");
    EXPECT_TRUE(fm.getDict().getKey("/Resources").getKey("/XObject").getKey("/" + imName).isStream());
}

}  // namespace
}  // namespace pdfcore
