// The document object end to end: pages and units, settings, text and fonts,
// argument checks, writing; every file checked with the independent tools.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <regex>

#include "pdf_document.h"
#include "tool_support.h"

namespace {

using corvanth::CPdfDocument;
using corvanth::IPdfDocument;
using corvanth::IPdfDocumentCompat;
using com::VARIANT_BOOL;
using pdftest::B;
using pdftest::Field;
using pdftest::Quote;
using pdftest::RunTool;

com::ComPtr<IPdfDocument> MakeDoc() {
    return com::ComPtr<IPdfDocument>::Attach(static_cast<IPdfDocument*>(CPdfDocument::CreateOwned()));
}

class PdfDocumentTest : public ::testing::Test {
protected:
    // A begun document writing to `name` in the test's folder.
    com::ComPtr<IPdfDocument> Begin(const std::string& name, int resolution = 72) {
        auto d = MakeDoc();
        path_ = tmp_.Path(name);
        EXPECT_EQ(d->put_FileName(B(path_).Get()), com::S_OK);
        EXPECT_EQ(d->put_ViewAfterEnd(0), com::S_OK);
        EXPECT_EQ(d->put_Resolution(resolution), com::S_OK);
        EXPECT_EQ(d->BeginDoc(), com::S_OK);
        return d;
    }
    std::string Tool(const std::string& tool, const std::string& args = "") {
        auto r = RunTool(tool + " " + args + " " + Quote(path_));
        EXPECT_EQ(r.status, 0) << tool << ": " << r.out;
        return r.out;
    }
    pdftest::TempDir tmp_;
    std::string path_;
};

TEST_F(PdfDocumentTest, PagesUnitsAndPaperSizes) {
    auto d = Begin("pages.pdf", 96);
    double w = 0, h = 0;
    ASSERT_EQ(d->get_PageWidth(&w), com::S_OK);
    ASSERT_EQ(d->get_PageHeight(&h), com::S_OK);
    EXPECT_NEAR(w, 210 / 25.4 * 96, 0.01);  // the default paper is A4
    EXPECT_NEAR(h, 297 / 25.4 * 96, 0.01);
    // Letter, landscape: applies to the current page and to new ones.
    ASSERT_EQ(d->put_PaperSize(1), com::S_OK);
    ASSERT_EQ(d->put_Orientation(1), com::S_OK);
    d->get_PaperWidth(&w);
    EXPECT_DOUBLE_EQ(w, 11 * 96);
    ASSERT_EQ(d->NewPage(), com::S_OK);
    // A page sized in units of another resolution keeps its size in inches.
    ASSERT_EQ(d->put_Resolution(300), com::S_OK);
    ASSERT_EQ(d->put_PageHeight(1500), com::S_OK);  // 5 in
    ASSERT_EQ(d->put_PageRotation(-90), com::S_OK);
    std::int32_t rot = 0;
    d->get_PageRotation(&rot);
    EXPECT_EQ(rot, 270);
    ASSERT_EQ(d->NewPage(), com::S_OK);
    ASSERT_EQ(d->put_PaperSize(4), com::S_OK);  // Legal
    ASSERT_EQ(d->put_Orientation(0), com::S_OK);
    std::int32_t n = 0, cur = -1;
    d->get_PageCount(&n);
    d->get_CurrentPage(&cur);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(cur, 2);
    ASSERT_EQ(d->EndDoc(), com::S_OK);

    std::string info = Tool("pdfinfo", "-f 1 -l 3");
    EXPECT_EQ(Field(info, "Page    1 size"), "792 x 612 pts (letter)");
    EXPECT_EQ(Field(info, "Page    2 size"), "792 x 360 pts");
    EXPECT_EQ(Field(info, "Page    2 rot"), "270");
    EXPECT_EQ(Field(info, "Page    3 size"), "612 x 1008 pts");
    EXPECT_NE(Tool("qpdf", "--check").find("No syntax or stream encoding errors"), std::string::npos);
}

TEST_F(PdfDocumentTest, EveryPaperSizeHasItsRealSize) {
    // width x height in points, portrait, in the order of the settings table.
    const char* expected[20] = {"595.276 x 841.89", "612 x 792",   "595.276 x 841.89", "841.89 x 1190.55",
                                "612 x 1008",       "515.905 x 728.504", "459.213 x 649.134", "576 x 792",
                                "728.504 x 1031.81", "419.528 x 595.276", "612 x 936",  "522 x 756",
                                "708.661 x 1000.63", "498.898 x 708.661", "323.15 x 459.213", "311.811 x 623.622",
                                "279 x 540",        "279 x 639",   "297 x 684",        "324 x 747"};
    auto d = Begin("sizes.pdf");
    for (int i = 0; i < 20; ++i) {
        if (i) {
            ASSERT_EQ(d->NewPage(), com::S_OK);
        }
        ASSERT_EQ(d->put_PaperSize(i), com::S_OK);
    }
    ASSERT_EQ(d->EndDoc(), com::S_OK);
    std::string info = Tool("pdfinfo", "-f 1 -l 20");
    for (int i = 0; i < 20; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Page %4d size", i + 1);
        EXPECT_EQ(Field(info, name).substr(0, std::strlen(expected[i])), expected[i]) << name;
    }
}

TEST_F(PdfDocumentTest, SettingsReachTheFile) {
    auto d = Begin("settings.pdf");
    d->put_Compression(1);
    d->put_PdfVersion(0);
    d->put_PageLayout(2);
    d->put_PageMode(1);
    d->put_Author(B("Ана Ковач").Get());
    d->put_Title(B("Plain title").Get());
    d->put_Subject(B("Ελληνικά").Get());
    d->put_Keywords(B("one, two").Get());
    // 15 March 2024 13:30:00 local time.
    ASSERT_EQ(d->put_CreationDate(45366.5625), com::S_OK);
    d->put_HideToolBar(-1);
    d->put_HideMenuBar(-1);
    d->put_HideWindowUI(0);
    d->put_FitWindow(-1);
    d->put_CenterWindow(-1);
    d->TextOut(B("Hello").Get(), 72, 72, 0);
    com::DATE date = 0;
    d->get_CreationDate(&date);
    EXPECT_EQ(date, 45366.5625);
    ASSERT_EQ(d->EndDoc(), com::S_OK);

    std::string info = Tool("pdfinfo", "-isodates");
    EXPECT_EQ(Field(info, "PDF version"), "1.3");
    EXPECT_EQ(Field(info, "Author"), "Ана Ковач");
    EXPECT_EQ(Field(info, "Subject"), "Ελληνικά");
    EXPECT_EQ(Field(info, "Keywords"), "one, two");
    EXPECT_EQ(Field(info, "CreationDate").substr(0, 19), "2024-03-15T13:30:00");
    std::string json = Tool("qpdf", "--json --json-key=qpdf");
    EXPECT_NE(json.find("\"/PageLayout\": \"/TwoColumnLeft\""), std::string::npos);
    EXPECT_NE(json.find("\"/PageMode\": \"/UseOutlines\""), std::string::npos);
    EXPECT_NE(json.find("\"/HideToolbar\": true"), std::string::npos);
    EXPECT_NE(json.find("\"/HideMenubar\": true"), std::string::npos);
    EXPECT_EQ(json.find("\"/HideWindowUI\""), std::string::npos);
    EXPECT_NE(json.find("\"/FitWindow\": true"), std::string::npos);
    EXPECT_NE(json.find("\"/CenterWindow\": true"), std::string::npos);
    EXPECT_NE(json.find("/FlateDecode"), std::string::npos);
    // Non-ASCII information is UTF-16BE with its byte-order mark.
    std::string infoObject = RunTool("qpdf --show-object=trailer " + Quote(path_)).out;
    size_t at = infoObject.find("/Info ");
    ASSERT_NE(at, std::string::npos) << infoObject;
    std::string ref = infoObject.substr(at + 6, infoObject.find(" R", at) - at - 6);
    std::string raw = RunTool("qpdf --show-object=" + ref.substr(0, ref.find(' ')) + " " + Quote(path_)).out;
    EXPECT_NE(raw.find("/Author <feff04100"), std::string::npos) << raw;
    EXPECT_NE(raw.find("/Title (Plain title)"), std::string::npos) << raw;
}

TEST_F(PdfDocumentTest, TextExtractsExactlyInEveryScript) {
    auto d = Begin("text.pdf", 96);
    const std::string lines[] = {"Plain ASCII, kerning: AVATAR Wave", "Français: çà et là — «ü» €",
                                 "Русский текст", "Ελληνικό κείμενο", "中文文本测试"};
    ASSERT_EQ(d->SetFont(B("Verdana").Get(), 0, 0, 1, 0, 12, 1), com::S_OK);  // not installed: falls back
    double y = 40;
    for (const std::string& l : lines) {
        ASSERT_EQ(d->TextOut(B(l).Get(), 40, y, 0), com::S_OK);
        y += 30;
    }
    ASSERT_EQ(d->SetFont(B("Liberation Serif").Get(), -1, -1, 0, -1, 14, 0), com::S_OK);
    ASSERT_EQ(d->SetColor(200, 0, 0), com::S_OK);
    ASSERT_EQ(d->TextOut(B("Bold italic struck").Get(), 40, y, 0), com::S_OK);
    ASSERT_EQ(d->TextOut(B("Rotated").Get(), 300, 600, 90), com::S_OK);
    double width = 0;
    ASSERT_EQ(d->GetTextWidth(B("Rotated").Get(), &width), com::S_OK);
    EXPECT_GT(width, 40);
    EXPECT_LT(width, 90);
    ASSERT_EQ(d->EndDoc(), com::S_OK);

    std::string text = RunTool("pdftotext -enc UTF-8 -raw " + Quote(path_) + " -").out;
    for (const std::string& l : lines) EXPECT_NE(text.find(l), std::string::npos) << l << "\n" << text;
    EXPECT_NE(text.find("Bold italic struck"), std::string::npos);
    std::string fonts = Tool("pdffonts");
    EXPECT_NE(fonts.find("CID TrueType      Identity-H       yes yes yes"), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find(" no "), std::string::npos) << fonts;  // every font embedded with ToUnicode
    EXPECT_NE(fonts.find("WenQuanYi"), std::string::npos) << fonts;  // CJK from a font that has it
    // Kerning from shaping ("AV", "Wa") stays as TJ adjustments between glyph strings.
    ASSERT_EQ(RunTool("qpdf --qdf --object-streams=disable " + Quote(path_) + " " + Quote(path_ + ".qdf")).status, 0);
    std::ifstream qdf(path_ + ".qdf", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(qdf)), {});
    EXPECT_TRUE(std::regex_search(content, std::regex(R"([>)] ?-?[0-9]+(\.[0-9]+)? ?[<(][^\n]*\] ?TJ)"))) << "no TJ adjustment";
    EXPECT_NE(Tool("qpdf", "--check").find("No syntax or stream encoding errors"), std::string::npos);
}

// Faces with PostScript outlines ("Helvetica" and "Times" resolve to such
// faces here, and so does the Thai face) are embedded as CFF programs, which
// a second interpreter reads as well as poppler does.
TEST_F(PdfDocumentTest, PostScriptOutlinesAreEmbeddedAsCff) {
    auto d = Begin("cff.pdf", 96);
    ASSERT_EQ(d->SetFont(B("Helvetica").Get(), 0, 0, 0, 0, 12, 1), com::S_OK);
    ASSERT_EQ(d->TextOut(B("PREPARATION of WAVE data").Get(), 40, 40, 0), com::S_OK);
    ASSERT_EQ(d->SetFont(B("Times").Get(), 1, 0, 0, 0, 12, 1), com::S_OK);
    ASSERT_EQ(d->TextOut(B("Bold Roman").Get(), 40, 80, 0), com::S_OK);
    ASSERT_EQ(d->SetFont(B("Garuda").Get(), 0, 0, 0, 0, 12, 1), com::S_OK);
    ASSERT_EQ(d->TextOut(B("ภาษาไทย").Get(), 40, 120, 0), com::S_OK);
    ASSERT_EQ(d->EndDoc(), com::S_OK);

    std::string fonts = Tool("pdffonts");
    EXPECT_NE(fonts.find("NimbusSans-Regular"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("NimbusRoman-Bold"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("CID Type 0C       Identity-H       yes yes yes"), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find(" no "), std::string::npos) << fonts;
    for (const std::string& tool : {std::string("pdftotext -enc UTF-8 ") + Quote(path_) + " -",
                                    "gs -q -dNOPAUSE -dBATCH -sDEVICE=txtwrite -sOutputFile=- " + Quote(path_)}) {
        auto r = RunTool(tool);
        EXPECT_EQ(r.status, 0) << tool << "\n" << r.out;
        EXPECT_NE(r.out.find("PREPARATION of WAVE data"), std::string::npos) << tool << "\n" << r.out;
        EXPECT_NE(r.out.find("Bold Roman"), std::string::npos) << tool << "\n" << r.out;
        EXPECT_NE(r.out.find("ภาษาไทย"), std::string::npos) << tool << "\n" << r.out;
    }
    EXPECT_NE(Tool("qpdf", "--check").find("No syntax or stream encoding errors"), std::string::npos);
}

TEST_F(PdfDocumentTest, FontModeThreeWritesNoFontProgram) {
    auto d = Begin("noembed.pdf");
    ASSERT_EQ(d->put_FontEmbedding(3), com::S_OK);
    d->SetFont(B("DejaVu Sans").Get(), 0, 0, 0, 0, 10, 1);
    d->TextOut(B("Not embedded ü").Get(), 10, 10, 0);
    ASSERT_EQ(d->EndDoc(), com::S_OK);
    std::string fonts = Tool("pdffonts");
    EXPECT_NE(fonts.find("DejaVuSans "), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("Identity-H       no  no  yes"), std::string::npos) << fonts;
    std::string text = RunTool("pdftotext -enc UTF-8 " + Quote(path_) + " -").out;
    EXPECT_NE(text.find("Not embedded ü"), std::string::npos) << text;
}

TEST_F(PdfDocumentTest, BadArgumentsAreRejectedWithoutHarm) {
    auto d = MakeDoc();
    // Before BeginDoc there is no page to draw on.
    EXPECT_EQ(d->TextOut(B("x").Get(), 0, 0, 0), com::E_UNEXPECTED);
    EXPECT_EQ(d->NewPage(), com::E_UNEXPECTED);
    EXPECT_EQ(d->EndDoc(), com::E_UNEXPECTED);
    EXPECT_EQ(d->BeginDoc(), com::E_FAIL);  // no file name
    d = Begin("args.pdf");
    EXPECT_EQ(d->put_CurrentPage(1), com::E_INVALIDARG);
    EXPECT_EQ(d->put_CurrentPage(-1), com::E_INVALIDARG);
    EXPECT_EQ(d->SetFont(B("Arial").Get(), 0, 0, 0, 0, -3, 0), com::E_INVALIDARG);
    EXPECT_EQ(d->put_PageWidth(-5), com::E_INVALIDARG);
    EXPECT_EQ(d->put_PageHeight(0), com::E_INVALIDARG);
    EXPECT_EQ(d->put_PageWidth(std::nan("")), com::E_INVALIDARG);
    EXPECT_EQ(d->put_PageHeight(1e300), com::E_INVALIDARG);
    EXPECT_EQ(d->put_Resolution(0), com::E_INVALIDARG);
    EXPECT_EQ(d->put_PaperSize(20), com::E_INVALIDARG);
    EXPECT_EQ(d->put_Orientation(2), com::E_INVALIDARG);
    EXPECT_EQ(d->put_PdfVersion(2), com::E_INVALIDARG);
    EXPECT_EQ(d->put_KeyLength(2), com::E_INVALIDARG);
    EXPECT_EQ(d->put_PageRotation(45), com::E_INVALIDARG);
    EXPECT_EQ(d->SetColor(256, 0, 0), com::E_INVALIDARG);
    EXPECT_EQ(d->put_CreationDate(1e12), com::E_INVALIDARG);
    std::int32_t id = 0;
    EXPECT_EQ(d->CreateGoToAction(1, 0, &id), com::E_INVALIDARG);
    EXPECT_EQ(d->AddDestination(-1, 0, &id), com::E_INVALIDARG);
    EXPECT_EQ(d->AddLink(0, 0, 10, 10, 7), com::E_INVALIDARG);
    EXPECT_EQ(d->AddDestinationLink(0, 0, 10, 10, 1), com::E_INVALIDARG);
    EXPECT_EQ(d->put_CurrentOutline(0), com::E_INVALIDARG);
    EXPECT_EQ(d->put_OutlineOpen(-1), com::E_INVALIDARG);
    EXPECT_EQ(d->AddOutlineSibling(B("t").Get(), 99, 0, &id), com::E_INVALIDARG);
    EXPECT_EQ(d->get_PageCount(nullptr), com::E_POINTER);
    EXPECT_TRUE(com::FAILED(d->DrawEmfFile(B("/nonexistent.emf").Get(), 0, 0, 1, 1)));
    const std::uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_TRUE(com::FAILED(d->DrawEmf(junk, sizeof junk, 0, 0, 1, 1, 96)));
    EXPECT_EQ(d->DrawEmf(nullptr, 0, 0, 0, 1, 1, 96), com::E_POINTER);
    // The document is still whole after all that.
    EXPECT_EQ(d->TextOut(B("still fine").Get(), 10, 10, 0), com::S_OK);
    ASSERT_EQ(d->EndDoc(), com::S_OK);
    EXPECT_NE(RunTool("pdftotext " + Quote(path_) + " -").out.find("still fine"), std::string::npos);
}

TEST_F(PdfDocumentTest, OutputFolderIsCheckedAtBeginAndFileReplacedWhole) {
    auto d = MakeDoc();
    d->put_FileName(B(tmp_.Path("no/such/folder/x.pdf")).Get());
    EXPECT_TRUE(com::FAILED(d->BeginDoc()));
    if (geteuid() != 0) {  // root writes anywhere
        std::filesystem::create_directory(tmp_.Path("ro"));
        chmod(tmp_.Path("ro").c_str(), 0555);
        d->put_FileName(B(tmp_.Path("ro/x.pdf")).Get());
        EXPECT_EQ(d->BeginDoc(), com::E_ACCESSDENIED);
    }
    // An end that cannot write keeps what was there and leaves no temporary file.
    auto e = Begin("target.pdf");
    std::filesystem::create_directory(path_);  // the name is taken by a folder now
    EXPECT_TRUE(com::FAILED(e->EndDoc()));
    EXPECT_TRUE(std::filesystem::is_directory(path_));
    int entries = 0;
    for ([[maybe_unused]] auto& _ : std::filesystem::directory_iterator(tmp_.Dir())) ++entries;
    EXPECT_EQ(entries, std::filesystem::exists(tmp_.Path("ro")) ? 2 : 1);
}

TEST_F(PdfDocumentTest, DeterministicSwitchGivesEqualFiles) {
    setenv("VELLUMATE_PDF_DETERMINISTIC", "1", 1);
    std::string bytes[2];
    for (int i = 0; i < 2; ++i) {
        auto d = Begin("det" + std::to_string(i) + ".pdf");
        d->put_Compression(1);
        d->TextOut(B("Same every time").Get(), 10, 10, 0);
        ASSERT_EQ(d->EndDoc(), com::S_OK);
        std::ifstream in(path_, std::ios::binary);
        bytes[i].assign(std::istreambuf_iterator<char>(in), {});
    }
    unsetenv("VELLUMATE_PDF_DETERMINISTIC");
    EXPECT_FALSE(bytes[0].empty());
    EXPECT_EQ(bytes[0], bytes[1]);
}

TEST_F(PdfDocumentTest, CompatInterfaceCountsPagesFromOne) {
    auto d = Begin("compat.pdf");
    com::ComPtr<IPdfDocumentCompat> c;
    ASSERT_EQ(d.As(&c), com::S_OK);
    std::int32_t page = 0;
    ASSERT_EQ(c->get_CurrentPage(&page), com::S_OK);
    EXPECT_EQ(page, 1);
    ASSERT_EQ(c->NewPage(), com::S_OK);
    ASSERT_EQ(c->put_CurrentPage(1), com::S_OK);
    std::int32_t index = -1;
    d->get_CurrentPage(&index);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(c->put_CurrentPage(0), com::E_INVALIDARG);
    EXPECT_EQ(c->put_CurrentPage(3), com::E_INVALIDARG);
    std::int32_t dest = 0;
    ASSERT_EQ(c->AddDestination(2, 100, &dest), com::S_OK);
    ASSERT_EQ(c->AddDestinationLink(10, 10, 50, 30, dest), com::S_OK);
    EXPECT_EQ(c->AddDestination(0, 0, &dest), com::E_INVALIDARG);
    // Back to the main interface from the compat one.
    com::ComPtr<IPdfDocument> again;
    ASSERT_EQ(c.As(&again), com::S_OK);
    EXPECT_EQ(again.Get(), d.Get());
    ASSERT_EQ(d->EndDoc(), com::S_OK);
    std::string json = Tool("qpdf", "--json --json-key=pages");
    EXPECT_NE(json.find("\"pageposfrom1\": 2"), std::string::npos) << json;
}

TEST_F(PdfDocumentTest, DispatchByName) {
    auto d = Begin("dispatch.pdf");
    com::IDispatch* disp = d.Get();
    com::VARIANT result;
    ASSERT_EQ(com::InvokeByName(disp, "pagecount", com::DISPATCH_PROPERTYGET, {}, &result), com::S_OK);
    EXPECT_EQ(result.vt, com::VT_I4);
    EXPECT_EQ(result.lVal, 1);
    std::vector<com::VARIANT> args(7);
    args[0].vt = com::VT_BSTR;
    com::Bstr face("DejaVu Serif");
    args[0].bstrVal = face.Get();
    for (int i = 1; i <= 4; ++i) args[i].vt = com::VT_BOOL, args[i].boolVal = 0;
    args[5].vt = com::VT_R8, args[5].dblVal = -2;
    args[6].vt = com::VT_I4, args[6].lVal = 0;
    std::string description;
    com::HRESULT hr = com::InvokeByName(disp, "SetFont", com::DISPATCH_METHOD, args, &result, &description);
    EXPECT_EQ(hr, com::DISP_E_EXCEPTION);
    EXPECT_NE(description.find("font size"), std::string::npos) << description;
    args[5].dblVal = 11;
    EXPECT_EQ(com::InvokeByName(disp, "SetFont", com::DISPATCH_METHOD, args, &result), com::S_OK);
    std::vector<com::VARIANT> put(1);
    put[0].vt = com::VT_I4, put[0].lVal = 1;
    EXPECT_EQ(com::InvokeByName(disp, "Orientation", com::DISPATCH_PROPERTYPUT, put, nullptr), com::S_OK);
    std::int32_t o = 0;
    d->get_Orientation(&o);
    EXPECT_EQ(o, 1);
    EXPECT_EQ(com::InvokeByName(disp, "NoSuchCall", com::DISPATCH_METHOD, {}, &result), com::DISP_E_UNKNOWNNAME);
    EXPECT_EQ(com::InvokeByName(disp, "BeginDoc", com::DISPATCH_METHOD, put, &result), com::DISP_E_BADPARAMCOUNT);

    // An argument that does not convert fails the call before it runs: no
    // outline entry is added with the arguments read so far.
    std::vector<com::VARIANT> outline(3);
    com::Bstr title("Chapter");
    outline[0].vt = com::VT_BSTR, outline[0].bstrVal = title.Get();
    outline[1].vt = com::VT_I4, outline[1].lVal = 0;
    outline[2].vt = com::VT_I4, outline[2].lVal = 0;
    ASSERT_EQ(com::InvokeByName(disp, "AddOutlineSibling", com::DISPATCH_METHOD, outline, &result), com::S_OK);
    const std::int32_t first = result.lVal;
    com::Bstr notANumber("many");
    outline[1].vt = com::VT_BSTR, outline[1].bstrVal = notANumber.Get();
    EXPECT_EQ(com::InvokeByName(disp, "AddOutlineSibling", com::DISPATCH_METHOD, outline, &result),
              com::DISP_E_TYPEMISMATCH);
    outline[1].vt = com::VT_I4, outline[1].lVal = 0;
    ASSERT_EQ(com::InvokeByName(disp, "AddOutlineSibling", com::DISPATCH_METHOD, outline, &result), com::S_OK);
    EXPECT_EQ(result.lVal, first + 1);
    // The creation date reads back as a date.
    ASSERT_EQ(com::InvokeByName(disp, "CreationDate", com::DISPATCH_PROPERTYGET, {}, &result), com::S_OK);
    EXPECT_EQ(result.vt, com::VT_DATE);
}

}  // namespace

namespace {

// (xMin, yMin, xMax) of the first word of pdftotext -bbox output that is `word`.
bool WordBox(const std::string& bbox, const std::string& word, double* x0, double* y0, double* x1) {
    size_t at = bbox.find(">" + word + "</word>");
    if (at == std::string::npos) return false;
    size_t start = bbox.rfind("<word", at);
    return std::sscanf(bbox.c_str() + start, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\"", x0, y0, x1) == 3;
}

TEST_F(PdfDocumentTest, TextSitsAtItsCellCornerAndMeasuresAsDrawn) {
    auto d = Begin("placed.pdf", 144);  // 2 units per point
    ASSERT_EQ(d->SetFont(B("Liberation Sans").Get(), 0, 0, 0, 0, 20, 1), com::S_OK);
    ASSERT_EQ(d->TextOut(B("Placed").Get(), 144, 200, 0), com::S_OK);
    double width = 0;
    ASSERT_EQ(d->GetTextWidth(B("Placed").Get(), &width), com::S_OK);
    // Bytes of an 8-bit code page are read with the font's character set.
    ASSERT_EQ(d->SetFont(B("Liberation Sans").Get(), 0, 0, 0, 0, 12, 0), com::S_OK);
    ASSERT_EQ(d->TextOut(B("\xE9t\xE9").Get(), 144, 400, 0), com::S_OK);
    ASSERT_EQ(d->EndDoc(), com::S_OK);
    std::string bbox = RunTool("pdftotext -bbox " + Quote(path_) + " -").out;
    double x0 = 0, y0 = 0, x1 = 0;
    ASSERT_TRUE(WordBox(bbox, "Placed", &x0, &y0, &x1)) << bbox;
    EXPECT_NEAR(x0, 72, 0.5);
    EXPECT_NEAR(y0, 100, 1.0);  // the cell's top, not the baseline
    EXPECT_NEAR(x1 - x0, width / 2, 1.0);
    EXPECT_TRUE(WordBox(bbox, "été", &x0, &y0, &x1)) << bbox;
}

}  // namespace

namespace {

TEST_F(PdfDocumentTest, ViewAfterEndOpensTheWrittenFile) {
    std::string opener = tmp_.Path("opener.sh");
    {
        std::ofstream s(opener);
        s << "#!/bin/sh\nprintf '%s' \"$1\" > '" << tmp_.Path("opened.txt") << "'\n";
    }
    chmod(opener.c_str(), 0755);
    setenv("VELLUMATE_OPEN", opener.c_str(), 1);
    auto d = Begin("viewed.pdf");
    ASSERT_EQ(d->put_ViewAfterEnd(-1), com::S_OK);
    VARIANT_BOOL on = 0;
    d->get_ViewAfterEnd(&on);
    EXPECT_EQ(on, com::VARIANT_TRUE);
    ASSERT_EQ(d->EndDoc(), com::S_OK);
    unsetenv("VELLUMATE_OPEN");
    std::ifstream in(tmp_.Path("opened.txt"));
    std::string opened((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(opened, path_);
}

}  // namespace
