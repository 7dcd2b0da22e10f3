#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "addon/common/page_converter.h"
#include "addon/common/testing/fake_pdf_document.h"
#include "emf/reader.h"
#include "emf/writer.h"

namespace tessaline {
namespace {

using com::HRESULT;
using com::S_OK;

// A document that keeps what is drawn on it and the links added to it.
class DrawingDoc final : public testing::PdfDocumentStub {
public:
    struct Draw {
        std::int32_t page;
        std::vector<std::uint8_t> emf;
        double x, y, sx, sy;
    };
    struct UrlLink {
        std::int32_t page;
        double l, t, r, b;
        std::string url;
    };
    std::int32_t resolution = 96;
    bool refuseWidth = false, refuseLinks = false;
    // One A4 page (not a braced list: GCC 12 warns of it as uninitialized).
    std::vector<std::pair<double, double>> pages = std::vector<std::pair<double, double>>(1, {595.0, 842.0});
    std::int32_t current = 0;
    std::vector<Draw> draws;
    std::vector<UrlLink> links;

    HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
        if (riid == corvanth::IID_IPdfDocument || riid == com::IID_IUnknown) {
            *ppv = static_cast<corvanth::IPdfDocument*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return com::E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    HRESULT get_Resolution(std::int32_t* v) override { return *v = resolution, S_OK; }
    HRESULT get_PageWidth(double* v) override { return *v = pages[current].first, S_OK; }
    HRESULT put_PageWidth(double v) override {
        if (refuseWidth) return com::E_FAIL;
        return pages[current].first = v, S_OK;
    }
    HRESULT get_PageHeight(double* v) override { return *v = pages[current].second, S_OK; }
    HRESULT put_PageHeight(double v) override { return pages[current].second = v, S_OK; }
    HRESULT get_PageCount(std::int32_t* v) override { return *v = static_cast<std::int32_t>(pages.size()), S_OK; }
    HRESULT get_CurrentPage(std::int32_t* v) override { return *v = current, S_OK; }
    HRESULT put_CurrentPage(std::int32_t v) override { return current = v, S_OK; }
    HRESULT get_PageRotation(std::int32_t* v) override { return *v = 0, S_OK; }
    HRESULT put_PageRotation(std::int32_t) override { return S_OK; }
    HRESULT NewPage() override {
        pages.emplace_back(595, 842);
        current = static_cast<std::int32_t>(pages.size()) - 1;
        return S_OK;
    }
    HRESULT DrawEmf(const std::uint8_t* data, std::uint32_t size, double x, double y, double sx, double sy,
                    std::int32_t) override {
        draws.push_back({current, {data, data + size}, x, y, sx, sy});
        return S_OK;
    }
    HRESULT AddUrlLink(double l, double t, double r, double b, com::BSTR url) override {
        if (refuseLinks) return com::E_FAIL;
        links.push_back({current, l, t, r, b, com::Utf8FromBstr(url)});
        return S_OK;
    }
};

class Host final : public PageHost {
public:
    explicit Host(DrawingDoc& doc) {
        pdf.Connect(&doc);
        log.SetLogFile(LogPath());  // lines are kept while a file is open
    }
    ~Host() {
        log.Close();
        std::remove(LogPath().c_str());
    }
    static std::string LogPath() { return ::testing::TempDir() + "pages_test_" + std::to_string(::getpid()) + ".log"; }
    EventLog& Log() override { return log; }
    PdfTarget& Pdf() override { return pdf; }
    int LinkCount(int page) const override {
        return page >= 0 && page < static_cast<int>(pageLinks.size()) ? static_cast<int>(pageLinks[page].size()) : 0;
    }
    bool GetLink(int page, int index, LinkRecord* out) const override {
        if (index < 0 || index >= LinkCount(page)) return false;
        *out = pageLinks[page][index];
        return true;
    }
    bool Logged(const std::string& line) const {
        for (const auto& m : log.Messages())
            if (m.find(line) != std::string::npos) return true;
        return false;
    }
    EventLog log;
    PdfTarget pdf;
    std::vector<std::vector<LinkRecord>> pageLinks;
};

// A page image w x h pixels with one text line every 100 pixels.
PageImage ImageOf(int w, int h) {
    emf::RecorderSetup setup;
    setup.hasFrame = true;
    setup.frame = {0, 0, w * 50800 / 1920 + 1, h * 28600 / 1080 + 1};
    emf::Recorder rec(setup);
    for (int y = 10; y + 20 < h; y += 100) {
        emf::RectL bounds{10, y, 60, y + 20};
        std::vector<std::int32_t> dx(5, 10);
        rec.ExtTextOutW(10, y, 0, nullptr, u"words", dx, &bounds);
    }
    PageImage image;
    image.emfBytes = rec.Finish();
    image.widthPx = w;
    image.heightPx = h;
    return image;
}

int SliceHeightOf(const std::vector<std::uint8_t>& emf) {
    auto header = emf::ReadHeader(emf);
    return header ? header->bounds.bottom : -1;
}

TEST(PageGeometry, RatiosMarginsAndWidthModesDecideTheSlices) {
    DrawingDoc doc;
    doc.resolution = 72;  // r = 96 / 72
    Host host(doc);
    auto conv = CreatePageConverter();
    PageSettings s;
    s.marginLeft = 10, s.marginTop = 20, s.marginRight = 30, s.marginBottom = 40;
    s.renderScale = 1.5f;  // g; s = r * g = 2
    // Slice height trunc((842 - 60) * 1.5) = 1173 pixels; a narrow image keeps scale 1.
    PageImage narrow = ImageOf(800, 3000);
    EXPECT_EQ(conv->CountPages(host, narrow, s), 3);
    ASSERT_TRUE(conv->Convert(host, narrow, 0, 0, s));
    EXPECT_EQ(SliceHeightOf(doc.draws.at(0).emf), 1173);
    EXPECT_DOUBLE_EQ(doc.draws[0].x, 10);
    EXPECT_DOUBLE_EQ(doc.draws[0].y, 20);
    EXPECT_DOUBLE_EQ(doc.draws[0].sx, 1 / 1.5);
    EXPECT_DOUBLE_EQ(doc.draws[0].sy, 1 / 1.5);

    // Content-width mode: the slice is (595 - 40) * 2 = 1110 pixels wide, so a
    // 2000-pixel image is scaled by 1110 / 1999 and a slice covers more of it.
    PageImage wide = ImageOf(2000, 6000);
    const int plain = conv->CountPages(host, wide, s);
    s.autoAdjustContentWidth = true;
    const int fitted = conv->CountPages(host, wide, s);
    EXPECT_EQ(plain, 6);   // 6001 pixels, 1173 a slice
    EXPECT_EQ(fitted, 3);  // 2112 pixels a slice: trunc(1173 / (1110 / 1999))
    EXPECT_DOUBLE_EQ(doc.pages[0].first, 595);  // counting never widens without AutoAdjustPageWidth
}

TEST(PageGeometry, PageWidthModeWidensThePageToTheImage) {
    DrawingDoc doc;
    Host host(doc);
    auto conv = CreatePageConverter();
    PageSettings s;
    s.marginLeft = 20, s.marginRight = 20;
    s.autoAdjustPageWidth = true;
    PageImage image = ImageOf(1000, 500);
    // At load time the current page already gets the image's width plus margins.
    EXPECT_EQ(conv->CountPages(host, image, s), 1);
    EXPECT_DOUBLE_EQ(doc.pages[0].first, 1040);
    // The page width for an image is its slice width value; drawing widens
    // again by the margins.
    conv->AdjustPageWidth(host, image, s);
    EXPECT_DOUBLE_EQ(doc.pages[0].first, 1000);
    ASSERT_TRUE(conv->Convert(host, image, 0, -1, s));
    EXPECT_DOUBLE_EQ(doc.pages[0].first, 1040);
    // A narrow image leaves the page as it is.
    DrawingDoc other;
    Host otherHost(other);
    EXPECT_EQ(conv->CountPages(otherHost, ImageOf(300, 500), s), 1);
    EXPECT_DOUBLE_EQ(other.pages[0].first, 595);
}

TEST(PageConversion, AllPagesOrOneWithDebugFilesAndLines) {
    DrawingDoc doc;
    Host host(doc);
    auto conv = CreatePageConverter();
    PageSettings s;
    s.marginTop = 5, s.marginLeft = 7;
    const auto folder = std::filesystem::temp_directory_path() / ("vm_pages_" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    s.debugFolder = folder.string();  // no trailing slash: one is added
    PageImage image = ImageOf(500, 2000);
    const int count = conv->CountPages(host, image, s);
    ASSERT_EQ(count, 3);  // 2001 / (842 - 5)
    ASSERT_TRUE(conv->Convert(host, image, 0, -1, s));
    ASSERT_EQ(doc.draws.size(), 3u);
    EXPECT_EQ(doc.pages.size(), 3u);  // a page before every slice but the first
    for (int u = 0; u < 3; ++u) {
        EXPECT_EQ(doc.draws[u].page, u);
        const auto file = folder / ("image_page_" + std::to_string(u) + ".emf");
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_EQ(std::filesystem::file_size(file), doc.draws[u].emf.size());
    }
    EXPECT_TRUE(host.Logged("EMF Slicer created"));
    EXPECT_TRUE(host.Logged("Starting conversion of pages from 0 to 2 inclusive"));
    EXPECT_TRUE(host.Logged("Converting page 1 with top margin = 5 and left margin = 7"));

    // One page in the middle: only that slice, no page added.
    doc.draws.clear();
    ASSERT_TRUE(conv->Convert(host, image, 0, 1, s));
    ASSERT_EQ(doc.draws.size(), 1u);
    EXPECT_EQ(doc.pages.size(), 3u);
    EXPECT_TRUE(host.Logged("Starting conversion of pages from 1 to 1 inclusive"));
    // Past the end: nothing is drawn and nothing fails.
    doc.draws.clear();
    EXPECT_TRUE(conv->Convert(host, image, 0, 7, s));
    EXPECT_TRUE(doc.draws.empty());
    std::filesystem::remove_all(folder);
}

TEST(PageConversion, WhatCannotBeReadOrIsRefusedFailsTheDrawing) {
    DrawingDoc doc;
    Host host(doc);
    auto conv = CreatePageConverter();
    PageSettings s;
    const auto file = std::filesystem::temp_directory_path() / ("vm_pages_gone_" + std::to_string(::getpid()) + ".emf");
    PageImage image = ImageOf(500, 1000);
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.emfBytes.data()), static_cast<std::streamsize>(image.emfBytes.size()));
    }
    image.emfPath = file.string();
    EXPECT_EQ(conv->CountPages(host, image, s), 2);
    image.emfBytes.clear();  // drawn from its file from now on
    ASSERT_TRUE(conv->Convert(host, image, 0, 0, s));
    std::filesystem::remove(file);
    s.marginTop = 1;  // other slices: the file must be read again
    EXPECT_FALSE(conv->Convert(host, image, 0, 1, s));
    EXPECT_TRUE(host.Logged("Page image cannot be read: " + file.string()));

    PageImage wide = ImageOf(1000, 500);
    wide.links = {{10, 10, 60, 30, "http://example.test/", ""}};
    s = {};
    s.preserveLinks = true;
    host.pageLinks = conv->MapLinks(host, wide, s);
    doc.refuseLinks = true;
    EXPECT_FALSE(conv->Convert(host, wide, 0, -1, s));
    EXPECT_TRUE(host.Logged("Adding a link to page 0 failed"));
    doc.refuseLinks = false;
    doc.refuseWidth = true;
    s.autoAdjustPageWidth = true;
    EXPECT_FALSE(conv->AdjustPageWidth(host, wide, s));
    EXPECT_FALSE(conv->Convert(host, wide, 0, -1, s));
    EXPECT_TRUE(host.Logged("Setting the page width failed"));
}

TEST(PageGeometry, SizesBeyondTheIntegerRangeSaturate) {
    // 10000 dots per inch on a page 10^9 units tall: the slice height in
    // pixels is far beyond an int and the whole image fits on one page.
    DrawingDoc doc;
    doc.resolution = 10000;
    doc.pages = {{595, 1e9}};
    Host host(doc);
    auto conv = CreatePageConverter();
    PageSettings s;
    s.renderScale = 10000.0f / 96;
    EXPECT_EQ(conv->CountPages(host, ImageOf(800, 3000), s), 1);
}

TEST(PageLinks, LinksMapOntoTheirSliceAndUrlLinksAreApplied) {
    DrawingDoc doc;
    Host host(doc);
    auto conv = CreatePageConverter();
    PageSettings s;
    s.renderScale = 2.0f;  // slice height trunc(842 * 2) = 1684 pixels
    PageImage image = ImageOf(600, 3000);
    image.renderScale = 2.0f;
    image.links = {
        {100, 200, 300, 240, "http://example.test/A", ""},  // slice 0
        {10, 1670, 50, 1700, "http://crossing.test/", ""},  // crosses the boundary: no link
        {40, 1784, 80, 1804, "#Part", ""},                  // slice 1, 100 pixels below its top
        {0, 2000, 0, 2000, "", "part"},                     // an anchor: kept although empty
        {5, 10, 5, 10, "", ""},                             // neither target nor name
        {0, 2980, 50, 3001, "", "bottom"},                  // flush with the image's end
        {0, -1, 0, -1, "", "top"},                          // a pixel above the document's top
        {0, 1620, 0, 1620, "", "lastline"},                 // at slice 0's last line (1610-1630)
        {0, 1650, 0, 1650, "", "below"},                    // below it: where the next page begins
    };
    auto pages = conv->MapLinks(host, image, s);
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(pages[0].size(), 3u);
    EXPECT_EQ(pages[0][0], (LinkRecord{51, 101, 151, 121, "http://example.test/A", ""}));
    EXPECT_EQ(pages[0][1], (LinkRecord{1, 1, 1, 1, "", "top"}));
    EXPECT_EQ(pages[0][2], (LinkRecord{1, 811, 1, 811, "", "lastline"}));
    ASSERT_EQ(pages[1].size(), 4u);
    EXPECT_EQ(pages[1][0], (LinkRecord{1, 1, 1, 1, "", "below"}));
    EXPECT_EQ(pages[1][1], (LinkRecord{21, 51, 41, 61, "#Part", ""}));
    EXPECT_EQ(pages[1][2].name, "part");
    EXPECT_EQ(pages[1][2].top, 159);
    EXPECT_EQ(pages[1][3].name, "bottom");

    // Applying: URL links land on the current page, fragments are left to
    // the internal links.
    host.pageLinks = pages;
    s.preserveLinks = true;
    ASSERT_TRUE(conv->Convert(host, image, 0, -1, s));
    ASSERT_EQ(doc.links.size(), 1u);
    EXPECT_EQ(doc.links[0].page, 0);
    EXPECT_EQ(doc.links[0].url, "http://example.test/A");
    EXPECT_DOUBLE_EQ(doc.links[0].l, 51);
    EXPECT_DOUBLE_EQ(doc.links[0].b, 121);
    EXPECT_TRUE(host.Logged("Applying links to page 1"));
    // Without PreserveLinks nothing is applied.
    doc.links.clear();
    s.preserveLinks = false;
    ASSERT_TRUE(conv->Convert(host, image, 0, -1, s));
    EXPECT_TRUE(doc.links.empty());
}

}  // namespace
}  // namespace tessaline
