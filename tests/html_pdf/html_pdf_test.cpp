// HTML, text, MHT and web addresses to PDF with the built vellumate and both
// components registered in a private registry. The PDFs are read back with
// pdftotext, pdfinfo and qpdf; real documents are the documentation pages of
// real_documents.txt, which Debian packages of scripts/packages.txt install.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using vmtest::Sandbox;

// Standard output only: the tools' warnings would spoil what is parsed.
std::string Capture(const std::string& command) { return vmtest::Capture(command, false); }
using vmtest::Q;
using vmtest::Words;

int PageCount(const std::string& pdf) {
    const std::string info = Capture("pdfinfo " + Q(pdf));
    const auto at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}
double PageWidthPt(const std::string& pdf) {
    const std::string info = Capture("pdfinfo " + Q(pdf));
    const auto at = info.find("Page size:");
    return at == std::string::npos ? -1 : std::atof(info.c_str() + at + 10);
}
std::string PageText(const std::string& pdf, int page) {
    return Capture("pdftotext -raw -f " + std::to_string(page) + " -l " + std::to_string(page) + " " + Q(pdf) + " -");
}

struct Link {
    int page = 0;
    std::string kind;  // "goto" or "uri"
    int target = 0;    // goto: page from 1
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::string uri;
    double destTop = -1;
};
std::vector<Link> Links(const std::string& pdf) {
    std::vector<Link> links;
    std::istringstream in(Capture("qpdf --json --json-stream-data=none " + Q(pdf) + " | python3 " + Q(PDF_LINKS_PY)));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        Link l;
        f >> l.page >> l.kind;
        if (l.kind == "goto") {
            std::string top;
            f >> l.target >> l.x1 >> l.y1 >> l.x2 >> l.y2 >> top;
            l.destTop = top == "-" ? -1 : std::atof(top.c_str());
        } else {
            f >> l.x1 >> l.y1 >> l.x2 >> l.y2;
            std::getline(f >> std::ws, l.uri);
        }
        links.push_back(l);
    }
    return links;
}

// Where a word is drawn: page from 1, box in points from the top-left.
struct WordBox {
    int page = 0;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0, pageHeight = 0;
};
std::vector<WordBox> FindWord(const std::string& pdf, const std::string& word) {
    std::vector<WordBox> found;
    const std::string html = Capture("pdftotext -bbox " + Q(pdf) + " -");
    static const std::regex pageRe(R"re(<page width="([0-9.]+)" height="([0-9.]+)">)re");
    static const std::regex wordRe(
        R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">([^<]*)</word>)re");
    int page = 0;
    double height = 0;
    std::istringstream in(html);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, pageRe)) ++page, height = std::stod(m[2]);
        if (std::regex_search(line, m, wordRe) && m[5] == word)
            found.push_back({page, std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), height});
    }
    return found;
}

class HtmlPdf : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* lib : {CORVANTH_LIB, TESSALINE_LIB})
            ASSERT_EQ(box.Run(REGSVR_BIN, {lib}), 0) << box.lastStderr;
    }
    int Run(const std::vector<std::string>& args) { return box.Run(VELLUMATE_BIN, args); }
    // Converts one page written from `html`; returns the PDF's path.
    std::string Convert(const std::string& name, const std::string& html, std::vector<std::string> switches = {}) {
        const std::string src = box.Write("in/" + name, html);
        const std::string out = box.Path("out/" + name + ".pdf");
        fs::create_directories(box.Path("out"));
        std::vector<std::string> args{src, out};
        args.insert(args.end(), switches.begin(), switches.end());
        EXPECT_EQ(Run(args), 0) << name << ": " << box.lastStderr;
        return out;
    }
    Sandbox box;
};

// Paragraphs numbered from `from`, enough to fill pages.
std::string Paragraphs(int from, int count, const std::string& word = "para") {
    std::string s;
    for (int i = from; i < from + count; ++i)
        s += "<p>" + word + std::to_string(i) + " the quick brown fox jumps over the lazy dog</p>\n";
    return s;
}

// The real documentation pages of the list (installed by the packages of
// scripts/packages.txt).
std::vector<std::string> RealDocuments() {
    std::vector<std::string> docs;
    std::istringstream in(vmtest::ReadFile(REAL_DOCUMENTS));
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') docs.push_back(line);
    return docs;
}

TEST_F(HtmlPdf, RealDocumentationKeepsEveryLineAndItsLinksLandOnTheirTargets) {
    // Sphinx, Doxygen, GTK-Doc, DocBook and texinfo pages. The script converts
    // each as it is, as a twin whose links name their fragments, and with its
    // page boundaries elsewhere: no word may be lost or doubled at a boundary,
    // and the in-document links must land within a line of their target.
    const std::vector<std::string> docs = RealDocuments();
    ASSERT_GE(docs.size(), 10u);
    for (const auto& d : docs) ASSERT_TRUE(fs::exists(d)) << d << ": install the packages of scripts/packages.txt";
    const auto rows = vmtest::MeasureLinks(box, "real", docs, MEASURE_LINKS_PY, VELLUMATE_BIN);
    int links = 0, landed = 0;
    for (std::size_t n = 0; n < rows.size(); ++n) {
        const vmtest::LinkRow& r = rows[n];
        SCOPED_TRACE(r.document);
        EXPECT_EQ(r.error, "");  // converted
        EXPECT_EQ(r.lost, 0) << "words lost at page boundaries";
        EXPECT_EQ(r.doubled, 0) << "words doubled at page boundaries";
        const std::string pdf = box.Path("real/" + std::to_string(n) + ".pdf");
        EXPECT_NE(Capture("qpdf --check " + Q(pdf)).find("No syntax or stream encoding errors"), std::string::npos);
        links += r.links;
        landed += r.landed;
    }
    EXPECT_EQ(rows.size(), docs.size());
    EXPECT_GT(links, 300);
    EXPECT_GE(landed * 100, links * 95) << landed << " of " << links << " links land on their target";
}

TEST_F(HtmlPdf, TextAtThePageTopIsKept) {
    // A glyph's box may begin a pixel above the document when nothing is above it.
    for (const std::string first : {"<p style='margin:0'>First</p>", "<h1 style='margin:0'>First</h1>"}) {
        const std::string out = Convert("top.html", "<html><style>body{margin:0}</style><body>" + first +
                                                        "<p>Second</p></body></html>");
        EXPECT_EQ(Words(Capture("pdftotext " + Q(out) + " -")), (std::vector<std::string>{"first", "second"})) << first;
    }
}

TEST_F(HtmlPdf, PageBoundariesNeitherLoseNorDoubleLines) {
    // Paragraphs, headings of other sizes without margins, and a text file:
    // every line once, in order, whatever falls on a page boundary.
    std::string mixed;
    for (int i = 1; i <= 200; ++i)
        mixed += (i % 7 == 0 ? "<h2 style='margin:0'>para" : i % 5 == 0 ? "<pre>para" : "<p style='margin:1px'>para") +
                 std::to_string(i) + " the quick brown fox " + (i % 7 == 0 ? "</h2>\n" : i % 5 == 0 ? "</pre>\n" : "</p>\n");
    std::string text;
    for (int i = 1; i <= 200; ++i) text += "para" + std::to_string(i) + " the quick brown fox\n";
    for (const auto& [name, source] : {std::pair<std::string, std::string>{"long.html", "<html><body>" + Paragraphs(1, 200) + "</body></html>"},
                                       {"mixed.html", "<html><style>body{margin:0}</style><body>" + mixed + "</body></html>"},
                                       {"long.txt", text}}) {
        SCOPED_TRACE(name);
        const std::string out = Convert(name, source, {"/compress", "flate"});
        const int pages = PageCount(out);
        ASSERT_GE(pages, 3);
        std::string all;
        for (int p = 1; p <= pages; ++p) all += PageText(out, p);
        for (int i = 1; i <= 200; ++i) {
            const std::string word = "para" + std::to_string(i) + " ";
            size_t n = 0;
            for (size_t at = all.find(word); at != std::string::npos; at = all.find(word, at + 1)) ++n;
            EXPECT_EQ(n, 1u) << word;
        }
        // In order across the pages.
        size_t at = 0;
        for (int i = 1; i <= 200; ++i) {
            const size_t next = all.find("para" + std::to_string(i) + " ", at);
            ASSERT_NE(next, std::string::npos) << i;
            at = next;
        }
    }
}

TEST_F(HtmlPdf, MergedPagesOfOtherWidthsKeepTheirOwnScale) {
    // A normal page, then one 1600 pixels wide fitted to the page: each is
    // drawn at its own scale, so the first keeps its size and no page is blank.
    const std::string one = box.Write("w/one.html", "<html><body>" + Paragraphs(1, 70, "narrow") + "</body></html>");
    const std::string two = box.Write("w/two.html", "<html><body><div style='width:1600px'>" +
                                                        Paragraphs(1, 70, "wide") + "</div></body></html>");
    const std::string in = box.Write("w/in.txt", one + "\n" + two + "\n");
    const std::string outList = box.Write("w/out.txt", box.Path("w/merged.pdf") + "\n");
    ASSERT_EQ(Run({"/inlist", in, "/outlist", outList, "/all2one", "yes"}), 0) << box.lastStderr;
    const std::string merged = box.Path("w/merged.pdf");
    const std::string single = Convert("one.html", vmtest::ReadFile(one));
    const auto first = FindWord(merged, "narrow1"), alone = FindWord(single, "narrow1");
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_NEAR(first[0].yMax - first[0].yMin, alone[0].yMax - alone[0].yMin, 0.5);
    EXPECT_NEAR(first[0].xMax - first[0].xMin, alone[0].xMax - alone[0].xMin, 0.5);
    for (int p = 1; p <= PageCount(merged); ++p) EXPECT_NE(Words(PageText(merged, p)).size(), 0u) << "page " << p;
    EXPECT_EQ(FindWord(merged, "wide70").size(), 1u);
}

TEST_F(HtmlPdf, LinksBecomeUriAndGoToAnnotationsWhereTheirTextIs) {
    const std::string html = "<html><body><p><a href=\"http://Example.test/Case/Path?Q=1\">outside</a> and "
                             "<a href=\"#Far\">jumpdown</a></p>" +
                             Paragraphs(1, 120) + "<h2><a name=\"far\">farheading</a></h2>" + Paragraphs(500, 5) +
                             "</body></html>";
    const std::string out = Convert("links.html", html);
    const auto links = Links(out);
    const auto outside = FindWord(out, "outside");
    const auto heading = FindWord(out, "farheading");
    ASSERT_EQ(outside.size(), 1u);
    ASSERT_EQ(heading.size(), 1u);
    ASSERT_GT(heading[0].page, 1);
    bool uri = false, go = false;
    for (const Link& l : links) {
        if (l.kind == "uri" && l.uri == "http://Example.test/Case/Path?Q=1") {
            uri = true;
            EXPECT_EQ(l.page, 1);
            // The word's middle lies inside the annotation's rectangle.
            const WordBox& w = outside[0];
            const double cx = (w.xMin + w.xMax) / 2, cy = w.pageHeight - (w.yMin + w.yMax) / 2;
            EXPECT_TRUE(cx >= std::min(l.x1, l.x2) - 2 && cx <= std::max(l.x1, l.x2) + 2) << cx << " " << l.x1;
            EXPECT_TRUE(cy >= std::min(l.y1, l.y2) - 2 && cy <= std::max(l.y1, l.y2) + 2) << cy << " " << l.y1;
        }
        if (l.kind == "goto" && l.page == 1) {
            go = true;
            EXPECT_EQ(l.target, heading[0].page);  // the anchor's page, found case-insensitively
            // and the anchor's position on it (within a line)
            const double headingTop = heading[0].pageHeight - heading[0].yMin;
            EXPECT_NEAR(l.destTop, headingTop, 30);
        }
        EXPECT_EQ(l.uri.find("file:"), std::string::npos) << l.uri;
    }
    EXPECT_TRUE(uri);
    EXPECT_TRUE(go);
}

TEST_F(HtmlPdf, LinksToEmptyAnchorsAndIdsLandOnTheirText) {
    // As generators write targets: an empty <a name> before a heading, one
    // inside it, an id on the heading, an id on a section around it.
    const std::string html = "<html><body><p><a href='#before'>tobefore</a> <a href='#inside'>toinside</a> "
                             "<a href='#byid'>tobyid</a> <a href='#sec'>tosec</a> <a href='#nowhere'>tonowhere</a></p>" +
                             Paragraphs(1, 60) + "<a name='before'></a><h2>beforeheading</h2>" + Paragraphs(100, 60) +
                             "<h2><a name='inside'></a>insideheading</h2>" + Paragraphs(200, 60) +
                             "<h2 id='byid'>idheading</h2>" + Paragraphs(300, 60) +
                             "<section id='sec'><h3>secheading</h3>" + Paragraphs(400, 5) + "</section></body></html>";
    const std::string out = Convert("anchors.html", html);
    std::map<std::string, Link> byWord;
    for (const Link& l : Links(out)) {
        if (l.kind != "goto" || l.page != 1) continue;
        for (const char* w : {"tobefore", "toinside", "tobyid", "tosec", "tonowhere"}) {
            const auto found = FindWord(out, w);
            ASSERT_EQ(found.size(), 1u) << w;
            const double cx = (found[0].xMin + found[0].xMax) / 2;
            if (cx >= std::min(l.x1, l.x2) && cx <= std::max(l.x1, l.x2)) byWord[w] = l;
        }
    }
    for (const auto& [link, word] : {std::pair{"tobefore", "beforeheading"}, std::pair{"toinside", "insideheading"},
                                     std::pair{"tobyid", "idheading"}, std::pair{"tosec", "secheading"}}) {
        SCOPED_TRACE(link);
        ASSERT_EQ(byWord.count(link), 1u);
        const auto target = FindWord(out, word);
        ASSERT_EQ(target.size(), 1u);
        EXPECT_GT(target[0].page, 1);
        EXPECT_EQ(byWord[link].target, target[0].page);
        // Within a line of the heading's text.
        EXPECT_NEAR(byWord[link].destTop, target[0].pageHeight - target[0].yMin, 20);
    }
    // A fragment that names nothing goes to the document's first page.
    ASSERT_EQ(byWord.count("tonowhere"), 1u);
    EXPECT_EQ(byWord["tonowhere"].target, 1);
}

TEST_F(HtmlPdf, MergedFilesLinkToEachOthersPagesAndAnchors) {
    const std::string one = box.Write("m/one.html", "<html><body><p><a href=\"two.html\">totwo</a> "
                                                    "<a href=\"Two.html#Deep\">todeep</a></p>" +
                                                        Paragraphs(1, 60) + "</body></html>");
    const std::string two = box.Write("m/two.html", "<html><body>" + Paragraphs(100, 90) +
                                                        "<p><a name=\"deep\">deepplace</a></p>" + Paragraphs(300, 5) +
                                                        "</body></html>");
    const std::string in = box.Write("in.txt", one + "\n" + two + "\n");
    const std::string outList = box.Write("out.txt", box.Path("merged.pdf") + "\n");
    ASSERT_EQ(Run({"/inlist", in, "/outlist", outList, "/all2one", "yes"}), 0) << box.lastStderr;
    const std::string merged = box.Path("merged.pdf");
    const auto twoStart = FindWord(merged, "para100");
    const auto deep = FindWord(merged, "deepplace");
    ASSERT_EQ(twoStart.size(), 1u);
    ASSERT_EQ(deep.size(), 1u);
    ASSERT_GT(deep[0].page, twoStart[0].page);
    // Each link is told by the word it covers.
    const auto totwo = FindWord(merged, "totwo"), todeep = FindWord(merged, "todeep");
    ASSERT_EQ(totwo.size(), 1u);
    ASSERT_EQ(todeep.size(), 1u);
    std::map<std::string, int> targets;
    for (const Link& l : Links(merged)) {
        if (l.kind != "goto" || l.page != 1) continue;
        for (const auto& [name, w] : {std::pair{"file", totwo[0]}, std::pair{"anchor", todeep[0]}}) {
            const double cx = (w.xMin + w.xMax) / 2;
            if (cx >= std::min(l.x1, l.x2) && cx <= std::max(l.x1, l.x2)) targets[name] = l.target;
        }
    }
    EXPECT_EQ(targets["file"], twoStart[0].page);
    EXPECT_EQ(targets["anchor"], deep[0].page);
}

TEST_F(HtmlPdf, ForcedBreaksPageNumbersAndMargins) {
    const std::string html = "<html><body><p>firstpart</p><p style=\"page-break-before: always\">secondpart</p>"
                             "<p>thirdpart</p></body></html>";
    const std::string plain = Convert("breaks.html", html);
    ASSERT_EQ(PageCount(plain), 2);
    EXPECT_NE(PageText(plain, 1).find("firstpart"), std::string::npos);
    EXPECT_EQ(PageText(plain, 1).find("secondpart"), std::string::npos);
    EXPECT_EQ(PageText(plain, 2).find("secondpart"), 0u) << PageText(plain, 2);

    const std::string numbered = Convert("numbered.html", html, {"/pagenumbers", "yes"});
    EXPECT_NE(PageText(numbered, 1).find("Page 1"), std::string::npos);
    EXPECT_NE(PageText(numbered, 2).find("Page 2"), std::string::npos);

    // Margins in units of 1/96 inch: 100 instead of 10 on the left moves the
    // text 90 units (67.5 points) to the right, and the top margin the same.
    const std::string wide = Convert("margins.html", html, {"/margin-left", "100", "/margin-top", "100"});
    const auto a = FindWord(plain, "firstpart"), b = FindWord(wide, "firstpart");
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_NEAR(b[0].xMin - a[0].xMin, 67.5, 2);
    EXPECT_NEAR(b[0].yMin - a[0].yMin, 67.5, 2);
}

TEST_F(HtmlPdf, WidthModesWidenThePageOrScaleTheContent) {
    const std::string html = "<html><body><div style=\"width: 2000px\"><span>leftword</span>"
                             "<span style=\"margin-left: 1800px\">rightword</span></div></body></html>";
    const std::string page = Convert("page.html", html, {"/widthadj", "page"});
    const std::string content = Convert("content.html", html, {"/widthadj", "content"});
    const std::string none = Convert("none.html", html, {"/widthadj", "none"});
    // "page": the page grows to the content; A4 is 595 points wide.
    EXPECT_GT(PageWidthPt(page), 1000);
    auto right = FindWord(page, "rightword");
    ASSERT_EQ(right.size(), 1u);
    EXPECT_GT(right[0].xMin, 1000);
    // "content": the page stays A4 and the content is scaled into it.
    EXPECT_NEAR(PageWidthPt(content), 595.3, 1);
    right = FindWord(content, "rightword");
    ASSERT_EQ(right.size(), 1u);
    EXPECT_LT(right[0].xMax, 595.3);
    // "none": A4 at full size, so the right word lies beyond the page.
    EXPECT_NEAR(PageWidthPt(none), 595.3, 1);
    const auto left = FindWord(none, "leftword"), leftScaled = FindWord(content, "leftword");
    ASSERT_EQ(left.size(), 1u);
    ASSERT_EQ(leftScaled.size(), 1u);
    EXPECT_GT(left[0].xMax - left[0].xMin, (leftScaled[0].xMax - leftScaled[0].xMin) * 1.5);
}

TEST_F(HtmlPdf, TextFilesAndWebArchives) {
    const std::string txt = Convert("notes.txt", "first line of notes\n    indented second line\n<not a tag>\n");
    const std::string text = Capture("pdftotext -raw " + Q(txt) + " -");
    EXPECT_NE(text.find("first line of notes"), std::string::npos) << text;
    EXPECT_NE(text.find("<not a tag>"), std::string::npos) << text;

    const std::string mht = Convert("page.mht",
                                    "MIME-Version: 1.0\r\n"
                                    "Content-Type: multipart/related; boundary=\"XYZ\"; type=\"text/html\"\r\n\r\n"
                                    "--XYZ\r\nContent-Type: text/html; charset=utf-8\r\n"
                                    "Content-Location: http://archive.test/page.html\r\n\r\n"
                                    "<html><body><p>archivedword inside</p></body></html>\r\n--XYZ--\r\n");
    EXPECT_NE(Capture("pdftotext -raw " + Q(mht) + " -").find("archivedword"), std::string::npos);
}

// "Helvetica" and "Times" resolve to faces with PostScript outlines here: the
// page's text is embedded in them and reads the same in a second reader.
TEST_F(HtmlPdf, PostScriptOutlineFacesAreEmbeddedAndReadByASecondReader) {
    const std::string pdf = Convert("ps.html",
                                    "<p style=\"font-family:Helvetica\">PREPARATION</p>"
                                    "<p style=\"font-family:Times;font-weight:bold\">Decision table</p>");
    const std::string fonts = Capture("pdffonts " + Q(pdf));
    EXPECT_NE(fonts.find("NimbusSans"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("CID Type 0C"), std::string::npos) << fonts;
    EXPECT_EQ(fonts.find(" no "), std::string::npos) << fonts;
    const std::string gs = Capture("gs -q -dNOPAUSE -dBATCH -sDEVICE=txtwrite -sOutputFile=- " + Q(pdf));
    EXPECT_NE(gs.find("PREPARATION"), std::string::npos) << gs;
    EXPECT_NE(gs.find("Decision table"), std::string::npos) << gs;
}

// Right-to-left words are shown right to left and joined, and extract in
// their logical order.
TEST_F(HtmlPdf, RightToLeftTextIsOrderedAndJoined) {
    const std::string pdf = Convert("rtl.html", "<p style=\"font-family:DejaVu Sans\">\u05e9\u05dc\u05d5\u05dd "
                                                "\u05e2\u05d5\u05dc\u05dd</p><p style=\"font-family:DejaVu Sans\">"
                                                "\u0645\u0631\u062d\u0628\u0627</p>");
    const std::string text = Capture("pdftotext -enc UTF-8 " + Q(pdf) + " -");
    EXPECT_NE(text.find("\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd"), std::string::npos) << text;
    EXPECT_NE(text.find("\u0645\u0631\u062d\u0628\u0627"), std::string::npos) << text;
    // The first word stands right of the second.
    const std::string boxes = Capture("pdftotext -bbox " + Q(pdf) + " -");
    const std::size_t shin = boxes.find("\u05e9"), ayin = boxes.find("\u05e2");
    ASSERT_NE(shin, std::string::npos) << boxes;
    ASSERT_NE(ayin, std::string::npos) << boxes;
    auto xMin = [&](std::size_t at) {
        const std::size_t k = boxes.rfind("xMin=\"", at);
        return std::atof(boxes.c_str() + k + 6);
    };
    EXPECT_GT(xMin(shin), xMin(ayin)) << boxes;
}

// A web server on 127.0.0.1 for the URL mode: serves `pages` by path, one
// request per connection, and stops when the test ends or after 60 seconds.
class LocalServer {
public:
    explicit LocalServer(std::map<std::string, std::string> pages) : pages_(std::move(pages)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LocalServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    int port() const { return port_; }
    int requests() const { return requests_; }

private:
    void Serve() {
        for (int ticks = 0; !stop_ && ticks < 600; ++ticks) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            std::string request;
            char buf[4096];
            pollfd q{c, POLLIN, 0};
            while (request.find("\r\n\r\n") == std::string::npos && ::poll(&q, 1, 2000) > 0) {
                const ssize_t n = ::read(c, buf, sizeof buf);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            ++requests_;
            std::string path;
            std::istringstream(request) >> path >> path;
            const auto it = pages_.find(path);
            const std::string body = it == pages_.end() ? "not here" : it->second;
            const std::string head = std::string(it == pages_.end() ? "HTTP/1.0 404 Not Found" : "HTTP/1.0 200 OK") +
                                     "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
            const std::string reply = head + body;
            for (size_t sent = 0; sent < reply.size();) {
                const ssize_t n = ::write(c, reply.data() + sent, reply.size() - sent);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            ::close(c);
        }
    }
    std::map<std::string, std::string> pages_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

TEST_F(HtmlPdf, UrlModeConvertsAServedPage) {
    LocalServer server({{"/doc/page.html", "<html><body><p>servedword <a href=\"#End\">jump</a> "
                                           "<a href=\"other.html\">elsewhere</a></p>" +
                                               Paragraphs(1, 100) + "<p><a name=\"end\">endplace</a></p></body></html>"}});
    ASSERT_GT(server.port(), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/doc/page.html";
    ASSERT_EQ(Run({"/url", url}), 0) << box.lastStderr;
    EXPECT_GE(server.requests(), 1);
    std::string pdf;
    for (const auto& e : fs::recursive_directory_iterator(box.dir()))
        if (e.path().filename() == "ConvertedDocument.pdf") pdf = e.path().string();
    ASSERT_FALSE(pdf.empty());
    EXPECT_NE(Capture("pdftotext -raw " + Q(pdf) + " -").find("servedword"), std::string::npos);
    const auto end = FindWord(pdf, "endplace");
    ASSERT_EQ(end.size(), 1u);
    bool go = false, other = false;
    for (const Link& l : Links(pdf)) {
        if (l.kind == "goto" && l.page == 1) go = l.target == end[0].page;
        if (l.kind == "uri") other |= l.uri == "http://127.0.0.1:" + std::to_string(server.port()) + "/doc/other.html";
    }
    EXPECT_TRUE(go);     // the page's own anchor stays inside the PDF
    EXPECT_TRUE(other);  // another address stays an address
}

TEST_F(HtmlPdf, AddLogWritesTheLogAndEmptiesTheDebugFolder) {
    const std::string program = vmtest::CopyProgram(VELLUMATE_BIN, box.Path("prog"));
    fs::create_directories(box.Path("prog/DebugEMFs"));
    box.Write("prog/DebugEMFs/stale.emf", "old");
    const std::string src = box.Write("in/logged.html", "<html><body>" + Paragraphs(1, 80) + "</body></html>");
    ASSERT_EQ(box.Run(program, {src, box.Path("logged.pdf"), "/addlog"}), 0) << box.lastStderr;
    const int pages = PageCount(box.Path("logged.pdf"));
    ASSERT_GE(pages, 2);
    EXPECT_FALSE(fs::exists(box.Path("prog/DebugEMFs/stale.emf")));
    for (int u = 0; u < pages; ++u)
        EXPECT_TRUE(fs::exists(box.Path("prog/DebugEMFs/image_page_" + std::to_string(u) + ".emf"))) << u;
    const std::string log = vmtest::ReadFile(box.Path("prog/vellumate_addon.log"));
    for (const char* line : {"CEmfSlicer - ProduceSlices called", "CEmfSlicer - Allocated buffer for metafile",
                             "CEmfSlicer - Slicing image ", "CEmfSlicer - Produced ", "CEmfSlicer - Destroyed",
                             "CEmf2PDFConverter - EMF Slicer created",
                             "CEmf2PDFConverter - Starting conversion of pages from 0 to 0 inclusive",
                             "CEmf2PDFConverter - Converting page 0 with top margin = 10 and left margin = 10",
                             "TessalineImpl - ConvertPage called for page number 1", "TessalineImpl - SafeNewPage called",
                             "TessalineImpl - PDFInterface set", "TessalineImpl - PDFInterface released"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    // The driver makes the links itself, so the add-on applies none.
    EXPECT_EQ(log.find("Applying links"), std::string::npos);
}

}  // namespace
