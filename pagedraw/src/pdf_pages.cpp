#include "pagedraw/pdf_pages.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <poppler/ErrorCodes.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/SplashOutputDev.h>
#include <poppler/splash/SplashBitmap.h>
#include <poppler/Stream.h>
#include <poppler/goo/GooString.h>

#include "emf/recorder_device.h"
#include "emf/writer.h"
#include "output_dev.h"
#include "page_fonts.h"
#include "picture_cache.h"

namespace pagedraw {

namespace {

// The interpreter's complaints, collected for the page being converted.
thread_local std::vector<std::string>* tSink = nullptr;

void OnPopplerError(ErrorCategory, Goffset pos, const char* msg) {
    if (!tSink || tSink->size() >= 100 || !msg) return;
    tSink->push_back(pos >= 0 ? std::string(msg) + " (at byte " + std::to_string(pos) + ")" : std::string(msg));
}

void StartPoppler() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!globalParams) globalParams = std::make_unique<GlobalParams>();
        setErrorCallback(OnPopplerError);
    });
}

struct Collect {
    std::vector<std::string> local;
    std::vector<std::string>* before;
    explicit Collect(std::vector<std::string>* into) : before(tSink) { tSink = into ? into : &local; }
    ~Collect() { tSink = before; }
};

}  // namespace

struct PdfPages::Members {
    ConvertOptions options;
    std::vector<char> bytes;  // the PDF in memory, when opened from bytes
    std::unique_ptr<PDFDoc> doc;
    std::unique_ptr<PageFonts> fonts;
    PictureCache pictures;
};

PdfPages::PdfPages() : m_(std::make_unique<Members>()) {}
PdfPages::~PdfPages() = default;

namespace {

std::unique_ptr<PdfPages> Check(std::unique_ptr<PdfPages> pages, PDFDoc& doc, const std::string& what,
                                std::string& error) {
    if (!doc.isOk()) {
        switch (doc.getErrorCode()) {
        case errOpenFile: error = "cannot read " + what; break;
        case errEncrypted: error = what + " is encrypted and needs a password"; break;
        default: error = what + " is not a PDF file or is damaged beyond repair"; break;
        }
        return nullptr;
    }
    if (doc.getNumPages() <= 0) {
        error = what + " has no pages";
        return nullptr;
    }
    return pages;
}

}  // namespace

std::unique_ptr<PdfPages> PdfPages::Open(const std::string& path, std::string& error, const ConvertOptions& options) {
    StartPoppler();
    Collect quiet(nullptr);
    std::unique_ptr<PdfPages> p(new PdfPages());
    p->m_->options = options;
    p->m_->doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
    PDFDoc& doc = *p->m_->doc;
    p = Check(std::move(p), doc, path, error);
    if (p) p->m_->fonts = std::make_unique<PageFonts>(doc.getXRef(), options.carryFonts);
    return p;
}

std::unique_ptr<PdfPages> PdfPages::OpenBytes(std::span<const std::uint8_t> bytes, std::string& error,
                                              const ConvertOptions& options) {
    StartPoppler();
    Collect quiet(nullptr);
    std::unique_ptr<PdfPages> p(new PdfPages());
    p->m_->options = options;
    p->m_->bytes.assign(bytes.begin(), bytes.end());
    if (p->m_->bytes.empty()) {
        error = "the PDF is empty";
        return nullptr;
    }
    auto* stream = new MemStream(p->m_->bytes.data(), 0, Goffset(p->m_->bytes.size()), Object(objNull));
    p->m_->doc = std::make_unique<PDFDoc>(stream);  // takes the stream
    PDFDoc& doc = *p->m_->doc;
    p = Check(std::move(p), doc, "the PDF", error);
    if (p) p->m_->fonts = std::make_unique<PageFonts>(doc.getXRef(), options.carryFonts);
    return p;
}

int PdfPages::PageCount() const { return m_->doc->getNumPages(); }

std::size_t PdfPages::PicturesReused() const { return m_->pictures.Reused(); }

void PdfPages::PageSize(int index, double& width, double& height) const {
    width = m_->doc->getPageCropWidth(index + 1);
    height = m_->doc->getPageCropHeight(index + 1);
    if (m_->doc->getPageRotate(index + 1) % 180 != 0) std::swap(width, height);
}

std::vector<std::uint8_t> PdfPages::ConvertPage(int index, std::string& error, std::vector<std::string>* warnings) {
    if (index < 0 || index >= PageCount()) {
        error = "page " + std::to_string(index + 1) + " does not exist";
        return {};
    }
    Collect collect(warnings);
    double w, h;
    PageSize(index, w, h);
    if (!(w > 0 && h > 0 && w < 14400 * 4 && h < 14400 * 4)) {
        error = "page " + std::to_string(index + 1) + " has no usable size";
        return {};
    }
    const int dpi = std::clamp(m_->options.dpi, 72, 2400);
    const double pictureScale =
        m_->options.pictureDpi > 0 ? std::clamp(double(m_->options.pictureDpi) / dpi, 1.0 / 64, 1.0) : 1.0;
    // The reference device covers the page in steps of ten inches, so that
    // its pixels per millimetre are the resolution exactly.
    emf::RecorderSetup setup;
    const int tensW = int(std::ceil(w / 720)), tensH = int(std::ceil(h / 720));
    setup.millimeters = {254 * tensW, 254 * tensH};
    setup.device = {10 * dpi * tensW, 10 * dpi * tensH};
    setup.hasFrame = true;
    setup.frame = {0, 0, int(std::lround(w / 72 * 2540)), int(std::lround(h / 72 * 2540))};
    // The page as it looks in an area. Drawing the page anew while it is
    // being walked would share its content stream with that walk, so the
    // areas a page needs are asked for in a first walk, drawn, and placed in
    // a second one.
    PDFDoc* doc = m_->doc.get();
    struct Area {
        int x, y, w, h;
        double scale;
        std::optional<emf::Image> img;
    };
    std::vector<Area> areas;
    // The page drawn in the box (x, y, w, h) of its raster at `scale` times
    // the resolution (the box is cut to the page).
    auto render = [doc, index, dpi](int x, int y, int w, int h, double scale) -> std::optional<emf::Image> {
        SplashColor paper = {255, 255, 255};
        SplashOutputDev splash(splashModeRGB8, 4, false, paper);
        splash.startDoc(doc);
        doc->displayPageSlice(&splash, index + 1, dpi * scale, dpi * scale, 0, false, true, true, x, y, w, h);
        SplashBitmap* bm = splash.getBitmap();
        if (!bm || bm->getWidth() <= 0 || bm->getHeight() <= 0) return std::nullopt;
        emf::Image img;
        img.format = emf::Image::Format::Rgb8, img.components = 3;
        img.width = bm->getWidth(), img.height = bm->getHeight();
        img.pixels.resize(std::size_t(img.width) * img.height * 3);
        for (int row = 0; row < img.height; ++row) {
            const unsigned char* line = bm->getDataPtr() + std::ptrdiff_t(row) * bm->getRowSize();
            std::copy(line, line + img.width * 3, img.pixels.begin() + std::ptrdiff_t(row) * img.width * 3);
        }
        return img;
    };
    struct Box {
        int x, y, w, h;
    };
    auto boxOf = [](const Area& a) {
        return Box{int(a.x * a.scale), int(a.y * a.scale), std::max(1, int(std::lround(a.w * a.scale))),
                   std::max(1, int(std::lround(a.h * a.scale)))};
    };
    // The areas of `group`, all of one scale, drawn in one walk of the page
    // and cut apart.
    auto renderJointly = [&](const std::vector<std::size_t>& group) {
        Box u = boxOf(areas[group[0]]);
        int x1 = u.x + u.w, y1 = u.y + u.h;
        for (std::size_t j : group) {
            const Box b = boxOf(areas[j]);
            u.x = std::min(u.x, b.x), u.y = std::min(u.y, b.y);
            x1 = std::max(x1, b.x + b.w), y1 = std::max(y1, b.y + b.h);
        }
        std::optional<emf::Image> all = render(u.x, u.y, x1 - u.x, y1 - u.y, areas[group[0]].scale);
        if (!all) return;
        for (std::size_t j : group) {
            const Box b = boxOf(areas[j]);
            const int dx = b.x - u.x, dy = b.y - u.y;
            const int w = std::min(b.w, all->width - dx), h = std::min(b.h, all->height - dy);
            if (w <= 0 || h <= 0) continue;
            emf::Image img;
            img.format = emf::Image::Format::Rgb8, img.components = 3, img.width = w, img.height = h;
            img.pixels.resize(std::size_t(w) * h * 3);
            for (int row = 0; row < h; ++row) {
                auto from = all->pixels.begin() + (std::ptrdiff_t(dy + row) * all->width + dx) * 3;
                std::copy(from, from + std::ptrdiff_t(w) * 3, img.pixels.begin() + std::ptrdiff_t(row) * w * 3);
            }
            areas[j].img = std::move(img);
        }
    };
    // Every drawing of areas walks the whole page. The pictures of a page
    // share a budget of pixels (past it they are all coarser), and a page
    // gets a few walks: a few areas are drawn together when the box around
    // them is not much larger than they are (a page of small pictures), else
    // each in its own walk; more areas are drawn in bands of the page, cut
    // where they lie furthest apart. The pixels are the same either way, but
    // for an odd one at the edge of a scaled picture.
    auto renderAll = [&] {
        constexpr double kJointPixels = 8e6, kPagePixels = 16e6;
        constexpr std::size_t kWalks = 8;
        double total = 0;
        for (const Area& a : areas) total += double(a.w) * a.h * a.scale * a.scale;
        if (total > kPagePixels)
            for (Area& a : areas) a.scale = std::max(a.scale * std::sqrt(kPagePixels / total), 1.0 / 64);
        if (areas.size() > kWalks) {
            std::vector<std::size_t> order(areas.size());
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return areas[a].y < areas[b].y; });
            // The widest gaps between one area's bottom (the lowest so far) and the next one's top.
            std::vector<std::pair<double, std::size_t>> gaps;  // gap, index in `order` that starts a band
            double bottom = areas[order[0]].y + areas[order[0]].h;
            for (std::size_t k = 1; k < order.size(); ++k) {
                const Area& a = areas[order[k]];
                gaps.push_back({double(a.y) - bottom, k});
                bottom = std::max(bottom, double(a.y) + a.h);
            }
            std::partial_sort(gaps.begin(), gaps.begin() + std::ptrdiff_t(kWalks - 1), gaps.end(),
                              [](const auto& a, const auto& b) { return a.first > b.first; });
            std::vector<std::size_t> starts = {0};
            for (std::size_t g = 0; g + 1 < kWalks; ++g) starts.push_back(gaps[g].second);
            std::sort(starts.begin(), starts.end());
            starts.push_back(order.size());
            for (std::size_t band = 0; band + 1 < starts.size(); ++band) {
                std::vector<std::size_t> group(order.begin() + std::ptrdiff_t(starts[band]),
                                               order.begin() + std::ptrdiff_t(starts[band + 1]));
                // One scale for the band, and no more pixels than a joint walk takes.
                double scale = 1, x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
                for (std::size_t j : group) {
                    const Area& a = areas[j];
                    scale = std::min(scale, a.scale);
                    x0 = std::min(x0, double(a.x)), y0 = std::min(y0, double(a.y));
                    x1 = std::max(x1, double(a.x) + a.w), y1 = std::max(y1, double(a.y) + a.h);
                }
                const double pixels = (x1 - x0) * (y1 - y0) * scale * scale;
                if (pixels > kJointPixels) scale = std::max(scale * std::sqrt(kJointPixels / pixels), 1.0 / 64);
                for (std::size_t j : group) areas[j].scale = scale;
                renderJointly(group);
            }
            return;
        }
        std::vector<bool> done(areas.size(), false);
        for (std::size_t i = 0; i < areas.size(); ++i) {
            if (done[i]) continue;
            std::vector<std::size_t> group;
            Box u = boxOf(areas[i]);
            int x1 = u.x + u.w, y1 = u.y + u.h;
            double sum = 0;
            for (std::size_t j = i; j < areas.size(); ++j) {
                if (done[j] || areas[j].scale != areas[i].scale) continue;
                const Box b = boxOf(areas[j]);
                group.push_back(j);
                sum += double(b.w) * b.h;
                u.x = std::min(u.x, b.x), u.y = std::min(u.y, b.y);
                x1 = std::max(x1, b.x + b.w), y1 = std::max(y1, b.y + b.h);
            }
            const double joint = double(x1 - u.x) * (y1 - u.y);
            if (group.size() < 2 || joint > std::max(kJointPixels, 2 * sum)) group = {i};
            for (std::size_t j : group) done[j] = true;
            renderJointly(group);
        }
    };
    try {
        for (int walk = 0;; ++walk) {
            emf::Recorder rec(setup);
            std::size_t next = 0;
            {
                emf::RecorderDevice dev(rec);
                DrawLimits limits;
                limits.pictureScale = pictureScale;
                EmfOutputDev out(dev, *m_->fonts, limits, &m_->pictures);
                out.SetAreaPainter([&](int x, int y, int w, int h, double scale) -> std::optional<emf::Image> {
                    if (walk == 0) {
                        areas.push_back({x, y, w, h, std::min(scale, pictureScale), std::nullopt});
                        return std::nullopt;
                    }
                    if (next >= areas.size()) return std::nullopt;
                    Area& a = areas[next++];
                    if (a.x != x || a.y != y || a.w != w || a.h != h) return std::nullopt;
                    return std::move(a.img);
                });
                doc->displayPage(&out, index + 1, dpi, dpi, 0, false, true, true);
            }
            if (walk > 0 || areas.empty()) return rec.Finish();
            renderAll();
        }
    } catch (const std::exception& e) {
        error = "page " + std::to_string(index + 1) + " cannot be converted: " + e.what();
        return {};
    }
}

}  // namespace pagedraw
