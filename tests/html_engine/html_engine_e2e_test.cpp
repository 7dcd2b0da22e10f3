// Documents loaded through the add-on's loader as the add-on object does it:
// layout in a child process, the page image written as a metafile, which the
// tests read back with the metafile reader and player.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "addon/common/document_loader.h"
#include "emf/player.h"
#include "emf/reader.h"
#include "htmlengine/engine.h"
#include "htmlengine/page_image_loader.h"
#include "loopback_server.h"

namespace {

namespace fs = std::filesystem;
using testing_http::LoopbackServer;
using testing_http::Response;

const fs::path kDocs = fs::path(VM_HTML_FIXTURES) / "docs";

struct Run {
    std::string text;
    std::string face;
    emf::Point origin;
};

// Text runs of a metafile in drawing order, as the player hands them on.
struct TextCollector : emf::Device {
    std::vector<Run> runs;
    int images = 0;
    void DrawText(const emf::TextRun& t, const emf::Matrix& m) override {
        std::string s;
        for (char16_t c : t.text) {
            if (c < 0x80) s += static_cast<char>(c);
            else if (c < 0x800) s += static_cast<char>(0xC0 | (c >> 6)), s += static_cast<char>(0x80 | (c & 0x3F));
            else s += static_cast<char>(0xE0 | (c >> 12)), s += static_cast<char>(0x80 | ((c >> 6) & 0x3F)), s += static_cast<char>(0x80 | (c & 0x3F));
        }
        runs.push_back({s, t.face, m.Apply(t.origin)});
    }
    void DrawImage(const emf::Image&, const emf::Matrix&) override { ++images; }
    std::string All() const {
        std::string out;
        for (const auto& r : runs) out += r.text + " ";
        return out;
    }
};

class EngineE2E : public ::testing::Test {
protected:
    void SetUp() override {
        // Documents may name outside addresses: every fetch goes to a dead
        // loopback proxy, except those to the test's own loopback server.
        for (const char* v : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY"}) ::setenv(v, "http://127.0.0.1:9", 1);
        ::setenv("NO_PROXY", "127.0.0.1", 1);
        ::setenv("no_proxy", "127.0.0.1", 1);
        tmp_ = fs::temp_directory_path() / ("vm_html_e2e_" + std::to_string(::getpid()));
        fs::create_directories(tmp_);
        ASSERT_TRUE(log_.SetLogFile((tmp_ / "addon.log").string()));
        settings_.pageWidth = 2100, settings_.pageHeight = 2970, settings_.resolution = 254;
        settings_.marginLeft = settings_.marginRight = settings_.marginTop = settings_.marginBottom = 100;
        settings_.pageTimeoutMs = 20000;
    }
    void TearDown() override {
        log_.Close();
        fs::remove_all(tmp_);
    }
    std::unique_ptr<tessaline::DocumentLoader> Loader(int graceMs = 20000) {
        htmlengine::LoaderOptions o;
        o.tempFolder = tmp_.string();
        o.layoutGraceMs = graceMs;
        return htmlengine::CreatePageImageLoader(log_, htmlengine::CreateDefaultEngine(), o);
    }
    tessaline::LoadResult LoadFile(const std::string& src, int graceMs = 20000) {
        return Loader(graceMs)->LoadFile(src, "", settings_);
    }
    // The page image read back: header checked, text collected.
    TextCollector Play(const tessaline::LoadResult& r, emf::Header* header = nullptr) {
        TextCollector c;
        EXPECT_TRUE(r.ok);
        if (!r.ok) return c;
        std::vector<std::uint8_t> bytes = r.image.emfBytes;
        auto mf = emf::Read(bytes);
        EXPECT_EQ(mf.status, emf::ReadStatus::Ok);
        if (header) *header = mf.header;
        emf::Play(bytes, mf, c);
        return c;
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> out;
        for (const auto& m : log_.Messages()) {
            auto at = m.find(" - ");
            auto src = m.rfind(' ', at - 1);
            out.push_back((m.find("ERROR: ") != std::string::npos ? "!" : "") + m.substr(src + 1));
        }
        return out;
    }
    bool Logged(const std::string& line) {
        auto l = Lines();
        return std::find(l.begin(), l.end(), line) != l.end();
    }
    tessaline::EventLog log_;
    tessaline::LoadSettings settings_;
    fs::path tmp_;
};

TEST_F(EngineE2E, DocumentationPageFromAFile) {
    auto r = LoadFile((kDocs / "manual.html").string());
    emf::Header h;
    TextCollector c = Play(r, &h);
    EXPECT_EQ(h.description.substr(0, 16), u"Tessaline Add-on");
    EXPECT_EQ(h.device.cx, 1920);
    EXPECT_EQ(r.image.widthPx, 800);
    // Frame in 0.01 mm from the measured size on the 96 dpi screen.
    EXPECT_EQ(h.frame.right, 800 * 508 * 100 / 1920);
    EXPECT_EQ(h.frame.bottom, r.image.heightPx * 286 * 100 / 1080);

    // Text in reading order, style sheets applied (linked and imported).
    std::string all = c.All();
    auto at = [&](const std::string& s) { return all.find(s); };
    ASSERT_NE(at("Widget"), std::string::npos);
    EXPECT_LT(at("Widget"), at("Installation"));
    EXPECT_LT(at("Installation"), at("Skips"));
    EXPECT_LT(at("Skips"), at("after"));
    EXPECT_LT(at("after"), at("Closing"));
    EXPECT_EQ(c.runs.front().face, "DejaVu Sans");
    EXPECT_EQ(c.images, 1);

    // Links: resolved, with rectangles; anchors by name; the file rule.
    std::map<std::string, tessaline::LinkRecord> byTarget;
    for (const auto& l : r.image.links) byTarget[l.target.empty() ? "#" + l.name : l.target] = l;
    ASSERT_TRUE(byTarget.count("http://example.test/faq"));
    const auto& faq = byTarget["http://example.test/faq"];
    EXPECT_GT(faq.right, faq.left);
    EXPECT_GT(faq.bottom, faq.top);
    // A "file:" link is the base address plus the href as written: no base here.
    EXPECT_TRUE(byTarget.count("install.html"));
    EXPECT_TRUE(byTarget.count("#usage"));
    EXPECT_TRUE(byTarget.count("#limits"));

    // Page breaks: both chapters and the paragraph styled to break after itself.
    ASSERT_EQ(r.image.pageBreaks.size(), 3u);
    EXPECT_TRUE(std::is_sorted(r.image.pageBreaks.begin(), r.image.pageBreaks.end()));
    EXPECT_TRUE(Logged("ImageCreator - Page breaf found: before " + std::to_string(r.image.pageBreaks[0])));
    EXPECT_TRUE(Logged("ImageCreator - Page breaf found: after " + std::to_string(r.image.pageBreaks[2])));
    // The "Usage" heading starts at the first break.
    for (const auto& run : c.runs)
        if (run.text == "Usage" && run.origin.y > r.image.pageBreaks[0]) {
            EXPECT_LT(run.origin.y - r.image.pageBreaks[0], 60);
            break;
        }
}

TEST_F(EngineE2E, FileLoadLogLines) {
    auto r = LoadFile((kDocs / "manual.html").string());
    ASSERT_TRUE(r.ok);
    auto lines = Lines();
    std::vector<std::string> order = {
        "TessalineImpl - ImageCreator created",
        "CBrowserWindow - Created",
        "CBrowserWindow - Arrived OnDocumentComplete for file://" + (kDocs / "manual.html").string() + " (0xB10001)",
        "CBrowserWindow - Loaded. Ready to convert",
        "ImageCreator - Starting to explore page breaks",
        "ImageCreator - Supermodern way to draw succeeded. Woohoo!",
        "CBrowserWindow - Destroyed",
        "TessalineImpl - Download complete",
        "TessalineImpl - Metafile created",
        "TessalineImpl - ImageCreator destroyed",
    };
    auto pos = lines.begin();
    for (const auto& want : order) {
        pos = std::find(pos, lines.end(), want);
        ASSERT_NE(pos, lines.end()) << want;
    }
}

TEST_F(EngineE2E, NonLatinTextUsesFontsThatHaveIt) {
    TextCollector c = Play(LoadFile((kDocs / "languages.html").string()));
    std::map<std::string, std::string> faceOf;
    for (const auto& r : c.runs) faceOf[r.text] = r.face;
    auto faceWith = [&](const std::string& needle) {
        for (const auto& r : c.runs)
            if (r.text.find(needle) != std::string::npos) return r.face;
        return std::string("(missing)");
    };
    std::string latin = faceWith("English");
    EXPECT_NE(faceWith("中"), latin);
    EXPECT_NE(faceWith("中"), "(missing)");
    EXPECT_NE(faceWith("Ελληνικά"), "(missing)");
    EXPECT_NE(faceWith("Русский"), "(missing)");
    EXPECT_NE(faceWith("✓"), "(missing)");
    // Arabic is recorded in logical order; drawing orders it for display.
    EXPECT_NE(faceWith("عربي"), "(missing)");
}

TEST_F(EngineE2E, LegacyEncodingAndPlainText) {
    TextCollector latin = Play(LoadFile((kDocs / "latin1.html").string()));
    EXPECT_NE(latin.All().find("Café crème €"), std::string::npos);
    TextCollector text = Play(LoadFile((kDocs / "notes.txt").string()));
    ASSERT_GE(text.runs.size(), 3u);
    // Line breaks and spaces kept, monospace.
    EXPECT_EQ(text.runs[0].text, "Plain text notes");
    EXPECT_EQ(text.runs[1].text, "  indented line");
    EXPECT_NE(text.runs[0].face.find("Mono"), std::string::npos);
    // The long line wraps: its last word sits below its first.
    double firstY = 0, endY = 0;
    for (const auto& r : text.runs) {
        if (r.text.starts_with("A line that is very")) firstY = r.origin.y;
        if (r.text.ends_with("end")) endY = r.origin.y;
    }
    EXPECT_GT(endY, firstY);
}

TEST_F(EngineE2E, StringLoad) {
    auto r = Loader()->LoadString("<h1>From a string</h1><p><a href='page2.html'>next</a></p>", "http://base.test/docs",
                                  settings_);
    TextCollector c = Play(r);
    EXPECT_NE(c.All().find("From a string"), std::string::npos);
    ASSERT_EQ(r.image.links.size(), 1u);
    // The base address is used with its closing slash added.
    EXPECT_EQ(r.image.links[0].target, "http://base.test/docs/page2.html");
    auto lines = Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CBrowserWindow - Arrived OnDocumentComplete for about:blank (0xB10001)"), 2);
    EXPECT_TRUE(Logged("TessalineImpl - Metafile created"));
}

TEST_F(EngineE2E, WebArchiveWithPictureAndStyleSheet) {
    std::ifstream png(kDocs / "pixel.png", std::ios::binary);
    std::string pngBytes((std::istreambuf_iterator<char>(png)), std::istreambuf_iterator<char>());
    static const char* b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string enc;
    for (std::size_t i = 0; i < pngBytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(pngBytes[i]) << 16;
        if (i + 1 < pngBytes.size()) v |= static_cast<unsigned char>(pngBytes[i + 1]) << 8;
        if (i + 2 < pngBytes.size()) v |= static_cast<unsigned char>(pngBytes[i + 2]);
        enc += b64[(v >> 18) & 63], enc += b64[(v >> 12) & 63];
        enc += i + 1 < pngBytes.size() ? b64[(v >> 6) & 63] : '=';
        enc += i + 2 < pngBytes.size() ? b64[v & 63] : '=';
    }
    std::string mht =
        "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"; type=\"text/html\"\r\n\r\n"
        "--B\r\nContent-Type: text/html; charset=\"utf-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n"
        "Content-Location: http://archive.test/index.html\r\n\r\n"
        "<html><head><link rel=3D\"stylesheet\" href=3D\"cid:sheet\"></head><body><p class=3D\"x\">Archived =\r\n"
        "page</p><img src=3D\"img/pixel.png\"></body></html>\r\n"
        "--B\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-Location: http://archive.test/img/pixel.png\r\n\r\n" + enc + "\r\n"
        "--B\r\nContent-Type: text/css\r\nContent-ID: <sheet>\r\n\r\n.x { font-family: monospace }\r\n--B--\r\n";
    std::ofstream(tmp_ / "saved.mht", std::ios::binary) << mht;
    TextCollector c = Play(LoadFile((tmp_ / "saved.mht").string()));
    EXPECT_NE(c.All().find("Archived page"), std::string::npos);
    EXPECT_EQ(c.images, 1);
    ASSERT_FALSE(c.runs.empty());
    EXPECT_NE(c.runs[0].face.find("Mono"), std::string::npos);
}

TEST_F(EngineE2E, FramesetFramesAreLoadedAndPlaced) {
    std::ofstream(tmp_ / "frames.html") << "<html><frameset rows='40,*'><frame src='top.html'>"
                                           "<frameset cols='200,*'><frame src='nav.html'><frame src='body.html'></frameset>"
                                           "</frameset></html>";
    std::ofstream(tmp_ / "top.html") << "<p>Top banner</p>";
    std::ofstream(tmp_ / "nav.html") << "<p><a href='body.html'>Navigation</a></p>";
    std::ofstream(tmp_ / "body.html") << "<h1 style='page-break-before:always'>Body text</h1>";
    auto r = LoadFile((tmp_ / "frames.html").string());
    TextCollector c = Play(r);
    std::string all = c.All();
    EXPECT_NE(all.find("Top banner"), std::string::npos);
    EXPECT_NE(all.find("Navigation"), std::string::npos);
    EXPECT_NE(all.find("Body text"), std::string::npos);
    // Framesets get neither links nor page breaks.
    EXPECT_TRUE(r.image.links.empty());
    EXPECT_TRUE(r.image.pageBreaks.empty());
    EXPECT_FALSE(Logged("ImageCreator - Starting to explore page breaks"));
    EXPECT_TRUE(Logged("CBrowserWindow - Arrived OnDocumentComplete for file://" + (tmp_ / "top.html").string() + " (0xB10002)"));
}

TEST_F(EngineE2E, FailedLoads) {
    // A missing file given as an address, an HTTP error, a refused connection.
    LoopbackServer server;
    for (std::string src : {std::string("file:///nonexistent-vm/page.html"), server.Url("/missing"),
                            std::string("http://127.0.0.1:1/")}) {
        log_.Close();
        ASSERT_TRUE(log_.SetLogFile((tmp_ / ("fail" + std::to_string(src.size()) + ".log")).string()));
        auto r = LoadFile(src);
        EXPECT_FALSE(r.ok) << src;
        EXPECT_TRUE(Logged("CBrowserWindow - Arrived OnNavigateError for " + src + " (0xB10001)")) << src;
        EXPECT_TRUE(Logged("!CBrowserWindow - Document retrieval failed")) << src;
        EXPECT_TRUE(Logged("!TessalineImpl - Metafile creation failed")) << src;
        EXPECT_EQ(Lines().back(), "TessalineImpl - ImageCreator destroyed");
    }
}

TEST_F(EngineE2E, HttpLoadWithRedirectStyleSheetAndUserAgent) {
    LoopbackServer server;
    server.Route("/old", {302, "text/html", "", "/docs/page.html", 0});
    server.Route("/docs/page.html", {200, "text/html; charset=windows-1252",
                                     "<link rel=stylesheet href='s.css'><p class=c>Served caf\xE9</p>", "", 0});
    server.Route("/docs/s.css", {200, "text/css", ".c { font-family: monospace }", "", 0});
    auto r = LoadFile(server.Url("/old"));
    TextCollector c = Play(r);
    EXPECT_NE(c.All().find("Served café"), std::string::npos);
    ASSERT_FALSE(c.runs.empty());
    EXPECT_NE(c.runs[0].face.find("Mono"), std::string::npos);
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_NE(reqs[0].find("User-Agent: Mozilla/5.0"), std::string::npos);
}

TEST_F(EngineE2E, TimeOutDrawsWhatArrived) {
    LoopbackServer server;
    server.Route("/slow", {200, "text/html", "<p>Arrived before the stall</p>", "", 4000});
    settings_.pageTimeoutMs = 1000;
    auto r = LoadFile(server.Url("/slow"));
    TextCollector c = Play(r);
    EXPECT_NE(c.All().find("Arrived before"), std::string::npos);
    auto lines = Lines();
    auto t = std::find(lines.begin(), lines.end(), "CBrowserWindow - Timeout interval (1 seconds) elapsed.");
    ASSERT_NE(t, lines.end());
    EXPECT_EQ(*(t + 1), "CBrowserWindow - StopDownload called");
    EXPECT_TRUE(Logged("TessalineImpl - Metafile created"));
}

TEST_F(EngineE2E, ZeroTimeOutStillDrawsALocalPage) {
    settings_.pageTimeoutMs = 0;
    auto r = LoadFile((kDocs / "manual.html").string());
    TextCollector c = Play(r);
    EXPECT_NE(c.All().find("Widget"), std::string::npos);
    EXPECT_TRUE(Logged("CBrowserWindow - Timeout interval (0 seconds) elapsed."));
    EXPECT_TRUE(Logged("CBrowserWindow - StopDownload called"));
}

TEST_F(EngineE2E, TimeOutBeforeAnyByteDrawsAnEmptyPage) {
    LoopbackServer server;
    server.Route("/silent", {200, "text/html", "", "", 4000});
    settings_.pageTimeoutMs = 500;
    auto r = LoadFile(server.Url("/silent"));
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(Logged("CBrowserWindow - Timeout interval (0 seconds) elapsed."));
    EXPECT_FALSE(Logged("CBrowserWindow - Arrived OnNavigateError for " + server.Url("/silent") + " (0xB10001)"));
    EXPECT_TRUE(Logged("TessalineImpl - Metafile created"));
}

TEST_F(EngineE2E, HostilePagesEndTheirOwnLoadOnly) {
    std::string nested;
    for (int i = 0; i < 50000; ++i) nested += "<div>";
    nested += "deep";
    std::string tables;
    for (int i = 0; i < 200; ++i) tables += "<table><tr><td>";
    tables += "cell";
    std::string garbage(1 << 20, '\0');
    std::mt19937 rng(7);
    for (auto& ch : garbage) ch = static_cast<char>(rng());
    for (auto& [name, body] : std::vector<std::pair<std::string, std::string>>{
             {"nested.html", nested}, {"tables.html", tables}, {"garbage.html", garbage}}) {
        std::ofstream(tmp_ / name, std::ios::binary) << body;
        settings_.pageTimeoutMs = 10000;
        auto r = LoadFile((tmp_ / name).string(), 10000);
        // Whatever the outcome, the load ends with its closing line and the caller goes on.
        EXPECT_EQ(Lines().back(), "TessalineImpl - ImageCreator destroyed") << name;
        if (r.ok) {
            // A long page image is only in its file.
            std::vector<std::uint8_t> bytes = r.image.emfBytes;
            if (bytes.empty()) {
                std::ifstream f(r.image.emfPath, std::ios::binary);
                bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
            }
            EXPECT_EQ(emf::Read(bytes).status, emf::ReadStatus::Ok) << name;
        }
    }
}

TEST_F(EngineE2E, HugePageIsCutOrStopped) {
    // 100 MB of paragraphs: a layout that does not finish in time is stopped.
    {
        std::ofstream big(tmp_ / "big.html", std::ios::binary);
        std::string para = "<p>" + std::string(990, 'x') + "</p>\n";
        for (int i = 0; i < 100 * 1024; ++i) big << para;
    }
    settings_.pageTimeoutMs = 3000;
    auto r = LoadFile((tmp_ / "big.html").string(), 5000);
    EXPECT_EQ(Lines().back(), "TessalineImpl - ImageCreator destroyed");
    if (!r.ok) {
        EXPECT_TRUE(Logged("!TessalineImpl - Metafile creation failed") || Logged("!TessalineImpl - Download failed"));
    }
}

TEST_F(EngineE2E, RealDocumentationPages) {
    // Pages of the fixed list the HTML tests convert (packages of scripts/packages.txt).
    std::vector<fs::path> pages;
    std::ifstream list(REAL_DOCUMENTS);
    for (std::string line; std::getline(list, line) && pages.size() < 4;)
        if (!line.empty() && line[0] != '#') pages.push_back(line);
    ASSERT_EQ(pages.size(), 4u);
    for (const auto& p : pages) ASSERT_TRUE(fs::exists(p)) << p << ": install the packages of scripts/packages.txt";
    int withText = 0;
    for (const auto& p : pages) {
        auto r = LoadFile(p.string());
        TextCollector c = Play(r);
        withText += !c.runs.empty();
        EXPECT_GE(r.image.widthPx, 800) << p;
        EXPECT_GT(r.image.heightPx, 0) << p;
    }
    EXPECT_GT(withText, 0);
}

}  // namespace
