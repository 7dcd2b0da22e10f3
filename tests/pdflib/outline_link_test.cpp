// Links, actions, destinations and outlines as a converter run makes them,
// checked in the JSON form of the written file.
#include <gtest/gtest.h>

#include "pdf_document.h"
#include "tool_support.h"

namespace {

using corvanth::CPdfDocument;
using corvanth::IPdfDocument;
using pdftest::B;
using pdftest::Quote;
using pdftest::RunTool;

TEST(PdfLinks, ActionsAnnotationsAndDestinations) {
    pdftest::TempDir tmp;
    std::string path = tmp.Path("links.pdf");
    auto d = com::ComPtr<IPdfDocument>::Attach(static_cast<IPdfDocument*>(CPdfDocument::CreateOwned()));
    d->put_FileName(B(path).Get());
    d->put_Resolution(96);
    ASSERT_EQ(d->BeginDoc(), com::S_OK);
    d->put_PaperSize(1);  // Letter: 792 pt high
    ASSERT_EQ(d->NewPage(), com::S_OK);
    std::int32_t go = 0, uri = 0, js = 0, dest = 0;
    ASSERT_EQ(d->CreateGoToAction(1, 96, &go), com::S_OK);
    ASSERT_EQ(d->CreateUriAction(B("http://example.com/a b").Get(), &uri), com::S_OK);
    ASSERT_EQ(d->CreateScriptAction(B("app.alert('hi');").Get(), &js), com::S_OK);
    EXPECT_TRUE(go >= 1 && uri > go && js > uri);
    ASSERT_EQ(d->put_CurrentPage(0), com::S_OK);
    // 96 units = 72 pt; (96,96)-(192,144) top-down is [72 684 144 720] in PDF space.
    ASSERT_EQ(d->AddLink(96, 96, 192, 144, go), com::S_OK);
    ASSERT_EQ(d->AddLink(96, 200, 192, 220, js), com::S_OK);
    ASSERT_EQ(d->AddLink(96, 300, 192, 320, uri), com::S_OK);
    ASSERT_EQ(d->AddUrlLink(10, 10, 20, 20, B("https://example.org/").Get()), com::S_OK);
    ASSERT_EQ(d->AddDestination(1, 192, &dest), com::S_OK);
    ASSERT_EQ(d->AddDestinationLink(0, 0, 96, 96, dest), com::S_OK);
    ASSERT_EQ(d->EndDoc(), com::S_OK);

    auto r = RunTool("qpdf --check " + Quote(path));
    EXPECT_EQ(r.status, 0) << r.out;
    std::string json = pdftest::Squeeze(RunTool("qpdf --json --json-key=qpdf " + Quote(path)).out);
    EXPECT_NE(json.find("\"/Rect\": [72,684,144,720]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"/S\": \"/GoTo\""), std::string::npos);
    EXPECT_NE(json.find("\"/URI\": \"u:http://example.com/a%20b\""), std::string::npos) << json;  // ASCII only
    EXPECT_NE(json.find("\"/URI\": \"u:https://example.org/\""), std::string::npos);
    EXPECT_NE(json.find("\"/S\": \"/JavaScript\""), std::string::npos);
    EXPECT_NE(json.find("\"/JS\": \"u:app.alert('hi');\""), std::string::npos);
    // Destinations: 96 units (72 pt) and 192 units (144 pt) below the top of page 2.
    EXPECT_NE(json.find("\"/XYZ\",null,720,null]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"/XYZ\",null,648,null]"), std::string::npos) << json;
}

// Builds outlines from (title, level) entries the way the converter does:
// same level: next sibling; one deeper: first child; shallower: climb to the
// parent once per level, then next sibling.
TEST(PdfOutlines, TreeFromLevelsWithCharsetsAndOpenFlags) {
    pdftest::TempDir tmp;
    std::string path = tmp.Path("outlines.pdf");
    auto d = com::ComPtr<IPdfDocument>::Attach(static_cast<IPdfDocument*>(CPdfDocument::CreateOwned()));
    d->put_FileName(B(path).Get());
    ASSERT_EQ(d->BeginDoc(), com::S_OK);
    for (int i = 0; i < 3; ++i) d->NewPage();
    struct Entry {
        std::string title;
        int level;
        int charset;
    };
    const Entry entries[] = {
        {"Chapter 1", 0, 1},
        {"\xCF\xF0\xE8\xE2\xE5\xF2", 1, 204},  // cp1251 bytes, not UTF-8
        {"Section 1.2 – ünïcödé", 1, 1},
        {"Deep 1.2.1", 2, 1},
        {"Chapter 2", 0, 0},
        {"\xE4\xF6\xFC", 1, 0},  // cp1252
    };
    std::int32_t current = -1;
    int level = 0;
    bool first = true;
    for (const Entry& e : entries) {
        std::int32_t action = 0, id = -1;
        ASSERT_EQ(d->CreateGoToAction(e.level, 0, &action), com::S_OK);
        if (first || e.level == level) {
            ASSERT_EQ(d->AddOutlineSibling(B(e.title).Get(), action, e.charset, &id), com::S_OK);
        } else if (e.level == level + 1) {
            ASSERT_EQ(d->AddOutlineChild(B(e.title).Get(), action, e.charset, &id), com::S_OK);
        } else {
            for (int l = level; l > e.level; --l) {
                std::int32_t parent = -2;
                ASSERT_EQ(d->get_CurrentOutlineParent(&parent), com::S_OK);
                ASSERT_EQ(d->put_CurrentOutline(parent), com::S_OK);
            }
            ASSERT_EQ(d->AddOutlineSibling(B(e.title).Get(), action, e.charset, &id), com::S_OK);
        }
        ASSERT_EQ(d->put_CurrentOutline(id), com::S_OK);
        ASSERT_EQ(d->put_OutlineOpen(e.title != "Chapter 2" ? -1 : 0), com::S_OK);
        current = id;
        level = e.level;
        first = false;
    }
    std::int32_t parent = 0;
    d->put_CurrentOutline(0);
    d->get_CurrentOutlineParent(&parent);
    EXPECT_EQ(parent, -1);
    (void)current;
    ASSERT_EQ(d->EndDoc(), com::S_OK);

    std::string json = RunTool("qpdf --json --json-key=outlines " + Quote(path)).out;
    // Titles in tree order with their nesting and open flags.
    auto at = [&](const std::string& s) { return json.find("\"title\": \"" + s + "\""); };
    size_t c1 = at("Chapter 1"), ru = at("Привет"), s12 = at("Section 1.2 – ünïcödé"), deep = at("Deep 1.2.1"),
           c2 = at("Chapter 2"), de = at("äöü");
    ASSERT_NE(c1, std::string::npos) << json;
    ASSERT_NE(ru, std::string::npos) << json;
    ASSERT_NE(s12, std::string::npos) << json;
    ASSERT_NE(deep, std::string::npos) << json;
    ASSERT_NE(c2, std::string::npos) << json;
    ASSERT_NE(de, std::string::npos) << json;
    // qpdf lists an outline's kids before its title: children come first.
    EXPECT_TRUE(ru < deep && deep < s12 && s12 < c1 && c1 < de && de < c2) << json;
    std::string flat = pdftest::Squeeze(json);
    EXPECT_NE(flat.find("\"open\": false,\"title\": \"Chapter 2\""), std::string::npos) << flat;
    EXPECT_NE(flat.find("\"open\": true,\"title\": \"Chapter 1\""), std::string::npos) << flat;
    EXPECT_EQ(RunTool("qpdf --check " + Quote(path)).status, 0);
    // The open flags: Chapter 2 is closed (its count is negative).
    std::string objects = RunTool("qpdf --json --json-key=qpdf " + Quote(path)).out;
    EXPECT_NE(objects.find("\"/Count\": -1"), std::string::npos) << objects;
    EXPECT_NE(objects.find("\"/Count\": 3"), std::string::npos) << objects;  // Chapter 1: three visible below
}

}  // namespace

namespace {

// Protected files with awkward strings everywhere, read back by qpdf with
// each password: the structure checks clean and every string decrypts to
// what was given.
TEST(PdfLinks, HostileStringsSurviveProtectionWithEitherPassword) {
    pdftest::TempDir tmp;
    const std::string uri = "http://x.test/p(a)th\\x?q=\xC3\xA9&r=)(";
    const std::string title = "T (1) \\ \xC3\xA4\xE2\x82\xAC";
    for (int keyLength : {0, 1}) {
        std::string path = tmp.Path("hostile" + std::to_string(keyLength) + ".pdf");
        auto d = com::ComPtr<IPdfDocument>::Attach(static_cast<IPdfDocument*>(CPdfDocument::CreateOwned()));
        d->put_FileName(B(path).Get());
        ASSERT_EQ(d->BeginDoc(), com::S_OK);
        d->put_Compression(1);
        d->put_Encrypt(-1);
        d->put_KeyLength(keyLength);
        d->put_UserPassword(B("u(1)").Get());
        d->put_OwnerPassword(B("o\\2").Get());
        d->put_Title(B(title).Get());
        d->put_Subject(B("line\rbreak").Get());
        d->TextOut(B("Body (text) \\").Get(), 20, 20, 0);
        for (int i = 0; i < 40; ++i) ASSERT_EQ(d->AddUrlLink(10, 10 + i, 20, 11 + i, B(uri).Get()), com::S_OK);
        std::int32_t go = 0, outline = 0;
        ASSERT_EQ(d->CreateGoToAction(0, 50, &go), com::S_OK);
        ASSERT_EQ(d->AddOutlineSibling(B(title).Get(), go, 1, &outline), com::S_OK);
        ASSERT_EQ(d->EndDoc(), com::S_OK);

        for (const char* password : {"u(1)", "o\\2"}) {
            std::string pw = " --password=" + Quote(password) + " ";
            auto check = RunTool("qpdf --check" + pw + Quote(path));
            EXPECT_EQ(check.status, 0) << check.out;
            std::string json = pdftest::Squeeze(RunTool("qpdf --json --json-key=qpdf" + pw + Quote(path)).out);
            // The address survives encryption, percent-encoded where it is not plain ASCII.
            EXPECT_NE(json.find("\"/URI\": \"u:http://x.test/p(a)th%5Cx?q=%C3%A9&r=)(\""), std::string::npos) << json;
            EXPECT_NE(json.find("\"/Title\": \"u:T (1) \\\\ ä€\""), std::string::npos);
            EXPECT_NE(json.find("\"/Subject\": \"u:line\\rbreak\""), std::string::npos);
            EXPECT_NE(json.find("\"/D\": [\"3 0 R\",\"/XYZ\",null,791.89,null]"), std::string::npos);
            bool owner = std::string(password) == "o\\2";
            auto text = RunTool(std::string("pdftotext ") + (owner ? "-opw " : "-upw ") + Quote(password) + " " +
                                Quote(path) + " -");
            EXPECT_NE(text.out.find("Body (text) \\"), std::string::npos) << text.out;
        }
        EXPECT_NE(RunTool("qpdf --check --password=wrong " + Quote(path)).status, 0);
    }
}

}  // namespace
