#include "pdfcore/document.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include <sys/resource.h>

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
    int spelled = doc.AddAction({Action::Kind::Uri, 0, 0, "http://例え.test/a b/ü?q=\"x\"&r=%41"});
    doc.GetPage(p0).links.push_back({{10, 20, 110, 40}, go, 0});
    doc.GetPage(p0).links.push_back({{10, 50, 110, 70}, uri, 0});
    doc.GetPage(p0).links.push_back({{10, 80, 110, 90}, spelled, 0});
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
    ASSERT_EQ(annots.getArrayNItems(), 3);
    // Top-down rectangle (10,20)-(110,40) on a 792-point page.
    EXPECT_EQ(annots.getArrayItem(0).getKey("/Rect").unparse(), "[ 10 752 110 772 ]");
    EXPECT_EQ(annots.getArrayItem(0).getKey("/A").getKey("/D").getArrayItem(3).getNumericValue(), 300);
    EXPECT_EQ(annots.getArrayItem(1).getKey("/A").getKey("/URI").getStringValue(), "https://example.org/");
    // Addresses are ASCII: letters beyond it and blanks are percent-encoded.
    EXPECT_EQ(annots.getArrayItem(2).getKey("/A").getKey("/URI").getStringValue(),
              "http://%E4%BE%8B%E3%81%88.test/a%20b/%C3%BC?q=%22x%22&r=%41");
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

// ---- the written file's structure ------------------------------------------------

// Object number -> offset, from the file's own cross-reference table.
std::vector<long long> XrefOffsets(const std::string& file) {
    std::vector<long long> offsets;
    size_t sx = file.rfind("startxref");
    if (sx == std::string::npos) return offsets;
    long long at = std::atoll(file.c_str() + sx + 10);
    std::istringstream in(file.substr(static_cast<size_t>(at)));
    std::string word;
    int first = 0, count = 0;
    in >> word >> first >> count;
    if (word != "xref") return offsets;
    offsets.assign(static_cast<size_t>(first + count), -1);
    for (int i = 0; i < count; ++i) {
        long long off = 0;
        int gen = 0;
        char kind = 0;
        in >> off >> gen >> kind;
        if (kind == 'n') offsets[static_cast<size_t>(first + i)] = off;
    }
    return offsets;
}

// Counts the indirect objects reachable from the trailer.
size_t ReachableObjects(QPDF& pdf) {
    std::set<QPDFObjGen> seen;
    std::vector<QPDFObjectHandle> todo{pdf.getTrailer()};
    while (!todo.empty()) {
        QPDFObjectHandle h = todo.back();
        todo.pop_back();
        if (h.isIndirect() && !seen.insert(h.getObjGen()).second) continue;
        if (h.isArray()) {
            for (int i = 0; i < h.getArrayNItems(); ++i) todo.push_back(h.getArrayItem(i));
        } else if (h.isDictionary() || h.isStream()) {
            QPDFObjectHandle d = h.isStream() ? h.getDict() : h;
            for (const std::string& k : d.getKeys()) todo.push_back(d.getKey(k));
        }
    }
    return seen.size();
}

// A document with a bit of everything: text, an image with a soft mask and a
// palette, a form, links of every kind (one action shared by many links),
// destinations, outlines, nasty strings.
constexpr const char* kNastyUri = "http://x.test/a(b)c\\d\re\nf?q=\xC3\xA9&z=)(";
// As written: percent-encoded where an address may not hold the byte; the
// string's own escapes (parentheses) round-trip.
constexpr const char* kNastyUriWritten = "http://x.test/a(b)c%5Cd%0De%0Af?q=%C3%A9&z=)(";
constexpr const char* kNastyTitle = "Title (with) \\back\\slash\r\nand \xC3\xBCml\xC3\xA4uts \xE2\x82\xAC";

void BuildRichDocument(Document& doc) {
    doc.GetSettings().deterministic = true;
    doc.GetSettings().compress = true;
    doc.GetSettings().title = kNastyTitle;
    doc.GetSettings().author = "A (b) \\ c";
    for (int i = 0; i < 12; ++i) doc.AddPage(i % 3 ? 612 : 595.2756, i % 3 ? 792 : 841.8898);
    Font* f = doc.Fonts().Resolve("DejaVu Sans", 400, false);
    std::vector<PlacedGlyph> glyphs;
    double x = 0;
    for (const auto& g : f->Shape(u"Hello (world) \\ é")) {
        glyphs.push_back({g.gid, x, 0});
        x += g.advance * 12;
    }
    EncodedImage im;
    im.data = std::string("\x00\x01\x01\x00", 4);
    im.width = 2;
    im.height = 2;
    im.bitsPerComponent = 8;
    im.colorSpace = "[/Indexed /DeviceRGB 1 <FF0000 28295C>]";  // palette bytes "(" ")" "\"
    auto mask = std::make_shared<EncodedImage>();
    mask->data = std::string("\x80\xff\x00\x10", 4);
    mask->colorSpace = "/DeviceGray";
    mask->width = 2;
    mask->height = 2;
    im.softMask = mask;
    std::string imName = doc.AddImage(im);
    ContentBuilder form;
    form.DrawXObject(imName);
    std::string fm = doc.AddForm(std::move(form), {0, 0, 1, 1}, Matrix{});
    int shared = doc.AddAction({Action::Kind::Uri, 0, 0, "https://shared.example.test/" + std::string(80, 'x')});
    int js = doc.AddAction({Action::Kind::JavaScript, 0, 0, "app.alert(\"\xC3\xA9 (hi)\");"});
    int dest = doc.AddDestination(5, 100);
    for (int i = 0; i < 12; ++i) {
        Page& p = doc.GetPage(i);
        p.content.ShowGlyphs(*f, 12, Matrix{1, 0, 0, -1, 72, 100}, glyphs, {0, 0, 0});
        doc.FinishPageContent(i);
        p.content.DrawXObject(i % 2 ? fm : imName);  // a second segment
        int uri = doc.AddAction({Action::Kind::Uri, 0, 0, kNastyUri});
        int go = doc.AddAction({Action::Kind::GoTo, (i + 1) % 12, 50, {}});
        p.links.push_back({{10, 10, 100, 30}, uri, 0});
        p.links.push_back({{10, 40, 100, 60}, go, 0});
        p.links.push_back({{10, 70, 100, 90}, shared, 0});
        p.links.push_back({{10, 100, 100, 120}, 0, dest});
        p.links.push_back({{10, 130, 100, 150}, 999, 0});  // unknown: left out
    }
    doc.GetPage(0).links.push_back({{0, 0, 5, 5}, js, 0});
    int a = doc.AddOutlineAfter(-1, kNastyTitle, shared);
    int a1 = doc.AddOutlineFirstChild(a, "child", doc.AddAction({Action::Kind::GoTo, 2, 0, {}}));
    doc.AddOutlineFirstChild(a1, "grandchild", js);
    doc.GetOutline(a1).open = true;
    doc.AddOutlineAfter(a, "B", 0);
}

TEST_F(DocumentTest, WrittenFileIsSoundWithRightOffsetsAndNothingUnreachable) {
    Document doc;
    BuildRichDocument(doc);
    std::string path = Path("rich.pdf");
    doc.Write(path);
    std::string file = ReadAll(path);
    EXPECT_EQ(file.rfind("%PDF-1.4\n", 0), 0u);

    std::vector<long long> offsets = XrefOffsets(file);
    ASSERT_GT(offsets.size(), 30u);
    for (size_t n = 1; n < offsets.size(); ++n) {
        ASSERT_GE(offsets[n], 0) << n;
        std::string head = std::to_string(n) + " 0 obj";
        EXPECT_EQ(file.compare(static_cast<size_t>(offsets[n]), head.size(), head), 0) << "object " << n;
    }

    QPDF pdf;
    pdf.setAttemptRecovery(false);
    pdf.processFile(path.c_str());
    EXPECT_FALSE(pdf.anyWarnings());
    EXPECT_EQ(ReachableObjects(pdf), offsets.size() - 1);
    auto pages = pdf.getAllPages();
    ASSERT_EQ(pages.size(), 12u);
    for (size_t i = 0; i < pages.size(); ++i) {
        // Flip and two segments, every one decodes; the unknown action's link is left out.
        auto contents = pages[i].getKey("/Contents").getArrayAsVector();
        ASSERT_EQ(contents.size(), 3u);
        for (auto& c : contents) EXPECT_TRUE(c.getStreamData(qpdf_dl_all));
        EXPECT_EQ(pages[i].getKey("/Annots").getArrayNItems(), i == 0 ? 5 : 4);
    }
    auto annots = pages[0].getKey("/Annots");
    ASSERT_EQ(annots.getArrayNItems(), 5);
    auto uri = annots.getArrayItem(0);
    EXPECT_FALSE(uri.hasKey("/P"));
    EXPECT_EQ(uri.getKey("/Rect").unparse(), "[ 10 811.89 100 831.89 ]");  // 2 decimals
    EXPECT_EQ(uri.getKey("/A").getKey("/URI").getStringValue(), kNastyUriWritten);
    auto go = annots.getArrayItem(1).getKey("/A");
    EXPECT_EQ(go.getKey("/S").getName(), "/GoTo");
    EXPECT_EQ(go.getKey("/D").getArrayItem(0).getObjGen(), pages[1].getObjGen());
    EXPECT_EQ(go.getKey("/D").getArrayItem(3).getNumericValue(), 742);
    // The action many links use is one object; the others sit in their link.
    EXPECT_TRUE(annots.getArrayItem(2).getKey("/A").isIndirect());
    EXPECT_FALSE(go.isIndirect());
    EXPECT_EQ(annots.getArrayItem(2).getKey("/A").getObjGen(),
              pages[7].getKey("/Annots").getArrayItem(2).getKey("/A").getObjGen());
    auto dest = annots.getArrayItem(3).getKey("/Dest");
    EXPECT_EQ(dest.getArrayItem(0).getObjGen(), pages[5].getObjGen());
    EXPECT_EQ(dest.getArrayItem(3).getNumericValue(), 692);
    EXPECT_EQ(annots.getArrayItem(4).getKey("/A").getKey("/JS").getUTF8Value(), "app.alert(\"é (hi)\");");

    auto xo = pages[0].getKey("/Resources").getKey("/XObject");
    auto img = xo.getKey("/Im1");
    EXPECT_EQ(img.getDict().getKey("/ColorSpace").getArrayItem(3).getStringValue(), std::string("\xFF\x00\x00()\\", 6));
    EXPECT_TRUE(img.getDict().getKey("/SMask").isStream());
    auto fmObj = pages[1].getKey("/Resources").getKey("/XObject").getKey("/Fm1");
    EXPECT_TRUE(fmObj.getDict().getKey("/Resources").getKey("/XObject").getKey("/Im1").isStream());

    auto info = pdf.getTrailer().getKey("/Info");
    EXPECT_EQ(info.getKey("/Title").getUTF8Value(), kNastyTitle);
    EXPECT_EQ(info.getKey("/Author").getUTF8Value(), "A (b) \\ c");

    // Counts: the closed top item shows -(child + its open grandchild).
    auto top = pdf.getRoot().getKey("/Outlines");
    EXPECT_EQ(top.getKey("/Count").getIntValue(), 2);
    auto first = top.getKey("/First");
    EXPECT_EQ(first.getKey("/Title").getUTF8Value(), kNastyTitle);
    EXPECT_EQ(first.getKey("/Count").getIntValue(), -2);
    EXPECT_EQ(first.getKey("/First").getKey("/Count").getIntValue(), 1);
    EXPECT_EQ(first.getKey("/First").getKey("/A").getKey("/S").getName(), "/GoTo");
    EXPECT_EQ(first.getKey("/Next").getKey("/Prev").getObjGen(), first.getObjGen());
    EXPECT_EQ(top.getKey("/Last").getKey("/Title").getUTF8Value(), "B");

    // Equal input, equal bytes.
    Document again;
    BuildRichDocument(again);
    again.Write(Path("again.pdf"));
    EXPECT_EQ(ReadAll(Path("again.pdf")), file);
}

TEST_F(DocumentTest, ProtectedFilesOpenWithEitherPasswordAndDecryptWhole) {
    for (bool key128 : {false, true}) {
        Document doc;
        BuildRichDocument(doc);
        Settings& s = doc.GetSettings();
        s.encrypt = true;
        s.key128 = key128;
        s.userPassword = "us(er";
        s.ownerPassword = "ow\\ner";
        s.allowCopy = false;
        std::string path = Path(key128 ? "p128.pdf" : "p40.pdf");
        doc.Write(path);
        std::string file = ReadAll(path);
        EXPECT_EQ(file.find("https://shared.example.test"), std::string::npos);  // nothing in the clear
        EXPECT_EQ(file.find("/S/URI/URI(http"), std::string::npos);

        for (const char* password : {"us(er", "ow\\ner"}) {
            QPDF pdf;
            pdf.setAttemptRecovery(false);
            pdf.processFile(path.c_str(), password);
            EXPECT_FALSE(pdf.anyWarnings());
            EXPECT_EQ(pdf.ownerPasswordMatched(), std::string(password) == "ow\\ner");
            EXPECT_EQ(pdf.getEncryptionKey().size(), key128 ? 16u : 5u);
            EXPECT_FALSE(pdf.allowExtractAll());
            EXPECT_EQ(pdf.getTrailer().getKey("/Info").getKey("/Title").getUTF8Value(), kNastyTitle);
            auto pages = pdf.getAllPages();
            auto annots = pages[3].getKey("/Annots");
            EXPECT_EQ(annots.getArrayItem(0).getKey("/A").getKey("/URI").getStringValue(), kNastyUriWritten);
            EXPECT_EQ(pdf.getRoot().getKey("/Outlines").getKey("/First").getKey("/Title").getUTF8Value(),
                      kNastyTitle);
            auto img = pages[0].getKey("/Resources").getKey("/XObject").getKey("/Im1");
            EXPECT_EQ(img.getDict().getKey("/ColorSpace").getArrayItem(3).getStringValue(), std::string("\xFF\x00\x00()\\", 6));
            std::string text;
            for (auto& c : pages[2].getKey("/Contents").getArrayAsVector()) {
                auto data = c.getStreamData(qpdf_dl_all);
                text.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
            }
            EXPECT_EQ(text.rfind("1 0 0 -1 0 792 cm\n", 0), 0u) << text.substr(0, 40);
            EXPECT_NE(text.find(" TJ"), std::string::npos);
        }
        QPDF wrong;
        EXPECT_ANY_THROW(wrong.processFile(path.c_str(), "nope"));
    }
}

// A spool that cannot take a page (here: the file size limit) fails the call
// and keeps the content where it was; once there is room it goes through.
TEST_F(DocumentTest, FullSpoolFailsTheCallButKeepsThePage) {
    Document doc;
    int p = doc.AddPage(200, 200);
    for (int k = 0; k < 400; ++k) doc.GetPage(p).content.Rectangle(k, k, 1, 1);
    size_t size = doc.GetPage(p).content.Data().size();
    ASSERT_GT(size, 4096u);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(doc.FinishPageContent(p), std::runtime_error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(doc.GetPage(p).content.Data().size(), size);
    EXPECT_TRUE(doc.GetPage(p).finished.empty());

    doc.Write(Path("after.pdf"));
    QPDF pdf;
    pdf.processFile(Path("after.pdf").c_str());
    QPDFObjectHandle page = pdf.getAllPages().at(0);
    auto data = page.getKey("/Contents").getArrayItem(1).getStreamData(qpdf_dl_all);
    EXPECT_EQ(data->getSize(), size);
}

// The spool is an unnamed file in the temporary folder: only an open
// descriptor while the document lives, nothing once it is gone, whether it
// wrote, failed to write or never wrote.
int SpoolDescriptors(const std::string& folder) {
    int n = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        fs::path target = fs::read_symlink(e.path(), ec);
        if (!ec && target.string().rfind(folder, 0) == 0) ++n;
    }
    return n;
}

TEST_F(DocumentTest, SpoolOfManyPagesLeavesNothingBehindOnAnyPath) {
    std::string tmp = Path("tmp");
    fs::create_directory(tmp);
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    auto fill = [](Document& doc, int pages) {
        doc.GetSettings().compress = true;
        for (int i = 0; i < pages; ++i) {
            int p = doc.AddPage(612, 792);
            for (int k = 0; k < 60; ++k) doc.GetPage(p).content.Rectangle(k, k, 10, 10);
            doc.FinishPageContent(p);
            for (int k = 0; k < 42; ++k) {
                int a = k % 2 ? doc.AddAction({Action::Kind::GoTo, (i * 7 + k) % (i + 1), 10.0 * k, {}})
                              : doc.AddAction({Action::Kind::Uri, 0, 0, "https://x.test/" + std::to_string(k)});
                doc.GetPage(p).links.push_back({{0, 10.0 * k, 100, 10.0 * k + 8}, a, 0});
            }
        }
    };
    {
        Document doc;
        fill(doc, 600);
        EXPECT_EQ(SpoolDescriptors(tmp), 1);
        EXPECT_TRUE(fs::is_empty(tmp));  // no name in the folder, even now
        doc.Write(Path("many.pdf"));
        EXPECT_THROW(doc.Write(Path("missing/x.pdf")), std::runtime_error);
    }
    {
        Document never;
        fill(never, 3);
        EXPECT_EQ(SpoolDescriptors(tmp), 1);
    }
    EXPECT_EQ(SpoolDescriptors(tmp), 0);
    EXPECT_TRUE(fs::is_empty(tmp));
    if (old) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }

    QPDF pdf;
    pdf.setAttemptRecovery(false);
    pdf.processFile(Path("many.pdf").c_str());
    EXPECT_FALSE(pdf.anyWarnings());
    auto pages = pdf.getAllPages();
    ASSERT_EQ(pages.size(), 600u);
    EXPECT_EQ(pages[599].getKey("/Annots").getArrayNItems(), 42);
    auto last = pages[599].getKey("/Annots").getArrayItem(41).getKey("/A").getKey("/D").getArrayItem(0);
    EXPECT_EQ(last.getObjGen(), pages[(599 * 7 + 41) % 600].getObjGen());
    auto data = pages[599].getKey("/Contents").getArrayItem(1).getStreamData(qpdf_dl_all);
    EXPECT_NE(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()).find("59 59 10 10 re"),
              std::string::npos);
}

}  // namespace
}  // namespace pdfcore
