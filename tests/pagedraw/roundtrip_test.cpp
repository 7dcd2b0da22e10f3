// PDF -> metafile pages (pdf2emf) -> PDF (emf2pdf, our painter), checked with
// poppler's tools on both ends: the words, the page sizes, the embedded fonts
// and, for text pages, how the pages look at 50 dots per inch.
#include "test_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "pdfcore/document.h"
#include "pdfpaint/painter.h"

namespace {

namespace fs = std::filesystem;

using vmtest::Shell;

std::map<std::string, int> Words(const std::string& pdf) {
    std::map<std::string, int> w;
    std::istringstream in(Shell("pdftotext '" + pdf + "' -"));
    std::string word;
    while (in >> word)
        if (word.find_first_not_of('.') != std::string::npos) ++w[word];  // leader dots are layout, not words
    return w;
}

// Words of `a` that `b` lacks, counted.
int Missing(const std::map<std::string, int>& a, const std::map<std::string, int>& b, std::string& sample) {
    int n = 0;
    for (auto& [word, count] : a) {
        auto it = b.find(word);
        const int lack = count - (it == b.end() ? 0 : it->second);
        if (lack > 0) {
            n += lack;
            if (sample.size() < 200) sample += word + " ";
        }
    }
    return n;
}

std::vector<std::pair<double, double>> PageSizes(const std::string& pdf) {
    std::vector<std::pair<double, double>> sizes;
    std::istringstream in(Shell("pdfinfo -f 1 -l 100000 '" + pdf + "'"));
    std::string line;
    while (std::getline(in, line)) {
        int page;
        double w, h;
        if (std::sscanf(line.c_str(), "Page %d size: %lf x %lf", &page, &w, &h) == 3) sizes.push_back({w, h});
    }
    return sizes;
}

// Embedded font names without subset tags, and whether every font is embedded.
std::set<std::string> Fonts(const std::string& pdf, bool& allEmbedded) {
    std::set<std::string> names;
    allEmbedded = true;
    std::istringstream in(Shell("pdffonts '" + pdf + "'"));
    std::string line;
    for (int i = 0; std::getline(in, line); ++i) {
        if (i < 2 || line.empty()) continue;
        std::istringstream f(line);
        std::string name;
        f >> name;
        if (name.size() > 7 && name[6] == '+') name = name.substr(7);
        names.insert(name);
        allEmbedded = allEmbedded && line.find(" yes ") != std::string::npos;
    }
    return names;
}

// Share of pixels (grey, 50 per inch) that differ by more than a quarter of the range.
double LookDifference(const std::string& a, const std::string& b, const fs::path& dir, int pages) {
    Shell("pdftoppm -r 50 -gray -l " + std::to_string(pages) + " '" + a + "' " + (dir / "a").string());
    Shell("pdftoppm -r 50 -gray -l " + std::to_string(pages) + " '" + b + "' " + (dir / "b").string());
    std::size_t differ = 0, total = 0;
    for (auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("a-", 0) != 0) continue;
        std::ifstream fa(e.path(), std::ios::binary), fb(dir / ("b" + name.substr(1)), std::ios::binary);
        std::string ma, mb;
        int wa, ha, wb, hb, max;
        fa >> ma >> wa >> ha >> max, fb >> mb >> wb >> hb >> max;
        fa.get(), fb.get();
        if (wa != wb || ha != hb) return 1;
        std::vector<char> pa(std::size_t(wa) * ha), pb(pa.size());
        fa.read(pa.data(), std::streamsize(pa.size())), fb.read(pb.data(), std::streamsize(pb.size()));
        for (std::size_t i = 0; i < pa.size(); ++i)
            differ += std::abs(int(static_cast<unsigned char>(pa[i])) - int(static_cast<unsigned char>(pb[i]))) > 64;
        total += pa.size();
    }
    return total ? double(differ) / double(total) : 1;
}

class RoundTrip : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("vm_pagedraw_rt_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir / "pages"); }
    void TearDown() override { fs::remove_all(dir); }

    std::string Back(const std::string& pdf) {
        fs::remove_all(dir / "pages");
        fs::create_directories(dir / "pages");
        const std::string bin = VM_BIN;
        EXPECT_EQ(std::system((bin + "/pdf2emf '" + pdf + "' " + (dir / "pages").string() + " > /dev/null 2>&1").c_str()), 0);
        std::vector<std::string> pages;
        for (auto& e : fs::directory_iterator(dir / "pages")) pages.push_back(e.path().string());
        std::sort(pages.begin(), pages.end());
        std::string cmd = bin + "/emf2pdf " + (dir / "back.pdf").string();
        for (auto& p : pages) cmd += " " + p;
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return (dir / "back.pdf").string();
    }
};

TEST_F(RoundTrip, PdfsOfOurOwnLibraryKeepWordsSizesFontsAndLooks) {
    pdfcore::Document doc;
    const std::pair<double, double> sizes[] = {{595.276, 841.89}, {612, 792}, {841.89, 595.276}};
    const char* faces[] = {"Liberation Serif", "Liberation Sans", "Liberation Mono", "DejaVu Sans"};
    for (int p = 0; p < 3; ++p) {
        doc.AddPage(sizes[p].first, sizes[p].second);
        pdfpaint::PdfPainter painter(doc, doc.GetPage(p).content);
        for (int line = 0; line < 30; ++line) {
            emf::TextRun t;
            t.face = faces[(line + p) % 4];
            t.emHeight = 9 + line % 4;
            t.color = {std::uint8_t(line * 7), 0, std::uint8_t(line * 3), 255};
            t.text = u"Page " + std::u16string(1, char16_t(u'1' + p)) + u" line " +
                     std::u16string(1, char16_t(u'A' + line)) + u": the quick brown fox jumps over the lazy dog";
            t.origin = {40, 60 + line * 18.0};
            painter.DrawText(t, {});
        }
        emf::Path box;
        box.AddRect({40, 620, 200, 680});
        emf::Paint paint;
        paint.color = {30, 120, 200, 255};
        painter.FillPath(box, emf::FillRule::NonZero, paint, {});
        painter.Finish();
    }
    const std::string source = (dir / "ours.pdf").string();
    doc.Write(source);
    const std::string back = Back(source);

    std::string sample;
    EXPECT_EQ(Missing(Words(source), Words(back), sample), 0) << sample;
    EXPECT_EQ(Missing(Words(back), Words(source), sample), 0) << sample;
    auto a = PageSizes(source), b = PageSizes(back);
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(a[i].first, b[i].first, 0.05);
        EXPECT_NEAR(a[i].second, b[i].second, 0.05);
    }
    bool embeddedA, embeddedB;
    EXPECT_EQ(Fonts(source, embeddedA), Fonts(back, embeddedB));
    EXPECT_TRUE(embeddedA && embeddedB);
    const double look = LookDifference(source, back, dir, 3);
    std::printf("own PDF: %.3f%% of pixels differ at 50 dpi\n", look * 100);
    EXPECT_LT(look, 0.002);
}

// Faces with PostScript outlines, as our library writes them (a bare CFF
// program per font), come back as the same fonts.
TEST_F(RoundTrip, CffFontsOfOurOwnPdfsComeBackUnderTheirOwnNames) {
    pdfcore::Document doc;
    doc.AddPage(595.276, 841.89);
    {
        pdfpaint::PdfPainter painter(doc, doc.GetPage(0).content);
        const char* faces[] = {"Helvetica", "Times", "Courier"};
        for (int line = 0; line < 12; ++line) {
            emf::TextRun t;
            t.face = faces[line % 3];
            t.emHeight = 11;
            t.weight = line % 4 == 1 ? 700 : 400;
            t.text = u"Line " + std::u16string(1, char16_t(u'a' + line)) + u": pack my box with five dozen liquor jugs";
            t.origin = {40, 60 + line * 20.0};
            painter.DrawText(t, {});
        }
        painter.Finish();
    }
    const std::string source = (dir / "cff.pdf").string();
    doc.Write(source);
    ASSERT_NE(Shell("pdffonts '" + source + "'").find("Type 0C"), std::string::npos) << "fonts-urw-base35 is installed";
    const std::string back = Back(source);
    std::string sample;
    EXPECT_EQ(Missing(Words(source), Words(back), sample), 0) << sample;
    EXPECT_EQ(Missing(Words(back), Words(source), sample), 0) << sample;
    bool embeddedA, embeddedB;
    EXPECT_EQ(Fonts(source, embeddedA), Fonts(back, embeddedB));
    EXPECT_TRUE(embeddedA && embeddedB);
    const double look = LookDifference(source, back, dir, 1);
    std::printf("CFF PDF: %.3f%% of pixels differ at 50 dpi\n", look * 100);
    // The carried outlines leave their hints behind: small text comes out a little lighter.
    EXPECT_LT(look, 0.015);
}

// Documentation PDFs that Debian packages ship, typeset with Type 1 fonts:
// their programs travel with the pages and are embedded again.
TEST_F(RoundTrip, DebianDocumentationPdfsKeepTheirWordsPageSizesAndFonts) {
    for (const char* pdf : {"/usr/share/doc/libtasn1-doc/libtasn1.pdf",
                            "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf"}) {
        SCOPED_TRACE(pdf);
        ASSERT_TRUE(fs::exists(pdf)) << "installed by scripts/install-deps.sh";
        const std::string back = Back(pdf);
        auto before = Words(pdf), after = Words(back);
        int words = 0;
        for (auto& [w, n] : before) words += n;
        std::string sample;
        const int missing = Missing(before, after, sample);
        std::printf("%s: %d of %d words kept\n", pdf, words - missing, words);
        EXPECT_LE(missing, words / 200) << sample;
        auto a = PageSizes(pdf), b = PageSizes(back);
        ASSERT_EQ(b.size(), a.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_NEAR(a[i].first, b[i].first, 0.05);
            EXPECT_NEAR(a[i].second, b[i].second, 0.05);
        }
        bool embedded, embeddedBefore;
        EXPECT_EQ(Fonts(back, embedded), Fonts(pdf, embeddedBefore));
        EXPECT_TRUE(embedded);
        const double look = LookDifference(pdf, back, dir, 3);
        std::printf("%s: %.3f%% of pixels differ at 50 dpi\n", pdf, look * 100);
        EXPECT_LT(look, 0.05);  // the same glyphs without their hints
    }
}

}  // namespace
