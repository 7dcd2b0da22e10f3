// Page geometry and the drawing of page images onto the client's PDF pages.
//
// Units: page sizes and margins are in the document's page units, page images
// in screen pixels. r = screen pixels per inch ÷ document resolution, g = the
// render scale (image pixels per page unit), s = r × g.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>

#include "addon/common/page_converter.h"
#include "addon/pages/emf_slicer.h"
#include "platform/step_times.h"
#include "platform/sysinfo.h"

namespace tessaline {
namespace {

constexpr const char* kSource = "CEmf2PDFConverter";
constexpr std::size_t kLongImageBytes = 16u << 20;

// The metafile bytes of an image: its bytes when held, else its file.
std::vector<std::uint8_t> ImageBytes(const PageImage& image) {
    if (!image.emfBytes.empty()) return image.emfBytes;
    std::vector<std::uint8_t> bytes;
    if (image.emfPath.empty()) return bytes;
    std::ifstream f(image.emfPath, std::ios::binary | std::ios::ate);
    const std::streamoff size = f ? static_cast<std::streamoff>(f.tellg()) : -1;
    if (size <= 0) return bytes;
    bytes.resize(static_cast<std::size_t>(size));
    f.seekg(0);
    if (!f.read(reinterpret_cast<char*>(bytes.data()), size)) bytes.clear();
    return bytes;
}

// Sizes and positions are worked out in doubles from values the client
// chose; stored as integers they saturate rather than wrap.
std::int32_t ToInt(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<std::int32_t>(std::clamp(std::trunc(v), double(std::numeric_limits<std::int32_t>::min()),
                                                double(std::numeric_limits<std::int32_t>::max())));
}

double ResolutionRatio(std::int32_t resolution) {
    return resolution > 0 ? static_cast<double>(platform::screen::kDpi) / resolution : 0.0;
}

struct SliceValues {
    int width = 0;
    int height = 0;
};

// What one PDF page holds of an image w pixels wide, in page-size values.
SliceValues PageSizeValues(PageHost& host, int w, const PageSettings& s) {
    const double r = ResolutionRatio(host.Pdf().Resolution());
    double W = host.Pdf().PageWidth();
    const double H = host.Pdf().PageHeight();
    SliceValues v;
    if (r <= 0) return v;
    const double c = std::trunc(w / r);
    if (s.autoAdjustPageWidth && c > W - s.marginRight - s.marginLeft) W = c + s.marginRight + s.marginLeft;
    v.height = ToInt((H - s.marginTop - s.marginBottom) * r);
    v.width = ToInt(s.autoAdjustContentWidth ? (W - s.marginRight - s.marginLeft) * r : w * r);
    return v;
}

enum class SlicerUse { Count, Links, Convert };

// The slicer settings of one use; equal settings give equal slices.
struct SlicerKey {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::string path;
    std::vector<std::int32_t> breaks;
    int height = 0;
    int width = 0;
    int contentWidth = -1;  // the second width of content-width mode, else -1
    friend bool operator==(const SlicerKey&, const SlicerKey&) = default;
};

// Works out the slicer settings for an image the same way for every use, so
// page counting, link mapping and conversion agree on the slices. Widens the
// document's page first where the use calls for it; `widened` is false when
// the document refused the width.
SlicerKey SlicerSettings(PageHost& host, const PageImage& image, const PageSettings& s, SlicerUse use,
                         bool* widened) {
    *widened = true;
    const double r = ResolutionRatio(host.Pdf().Resolution());
    const double g = s.renderScale;
    const double sc = r * g;
    const int w = image.widthPx;
    double W = host.Pdf().PageWidth();
    const double H = host.Pdf().PageHeight();
    if (s.autoAdjustPageWidth && use != SlicerUse::Links) {
        double widening = use == SlicerUse::Count ? PageSizeValues(host, w, s).width
                                                  : (sc > 0 ? std::trunc(w / sc) : 0);
        if (widening > W - s.marginRight - s.marginLeft) {
            W = widening + s.marginRight + s.marginLeft;
            *widened = com::SUCCEEDED(host.Pdf().SetPageWidth(W));
        }
    }
    SlicerKey key;
    // An image with a file is that file, whether its bytes are still held
    // or were let go after the layout (the files live as long as the
    // slicer); one without is its bytes.
    key.path = image.emfPath;
    if (key.path.empty()) key.bytes = image.emfBytes.data(), key.size = image.emfBytes.size();
    key.breaks = image.pageBreaks;
    key.height = ToInt((H - s.marginTop - s.marginBottom) * g);
    key.width = ToInt(w * sc);
    if (s.autoAdjustContentWidth) key.contentWidth = std::max(0, ToInt((W - s.marginRight - s.marginLeft) * sc));
    return key;
}

class CEmf2PDFConverter final : public PageConverter {
public:
    int CountPages(PageHost& host, const PageImage& image, const PageSettings& s) override {
        CEmfSlicer* slicer = Slicer(host, image, s, SlicerUse::Count);
        return slicer ? slicer->SliceCount() : 0;
    }

    std::vector<std::vector<LinkRecord>> MapLinks(PageHost& host, const PageImage& image,
                                                  const PageSettings& s) override {
        std::vector<std::vector<LinkRecord>> pages;
        CEmfSlicer* found = Slicer(host, image, s, SlicerUse::Links);
        if (!found) return pages;
        CEmfSlicer& slicer = *found;
        const double g = s.renderScale > 0 ? s.renderScale : 1.0;
        pages.resize(static_cast<std::size_t>(slicer.SliceCount()));
        for (int j = 0; j < slicer.SliceCount(); ++j) {
            int s0 = 0, s1 = 0;
            slicer.SliceRange(j, &s0, &s1);
            for (const LinkRecord& link : image.links) {
                std::vector<LinkRecord>* list = &pages[static_cast<std::size_t>(j)];
                const std::int64_t hgt = static_cast<std::int64_t>(link.bottom) - link.top;
                // A link crossing into the next slice is on neither page; the
                // image's own end is no such boundary (an element flush with
                // the bottom of the document still belongs to the last page).
                // Likewise nothing lies above the first slice: an anchor a
                // pixel above the document's top is on the first page.
                const bool last = j + 1 == slicer.SliceCount();
                if ((j > 0 && link.top < s0) || (last ? link.top >= s1 : link.top + hgt >= s1)) continue;
                if (link.target.empty() && link.name.empty()) continue;
                // A point anchor below the last line or picture of its page
                // (a section's top above a heading that moved on to the next
                // page) is where its text begins: the top of the next page.
                double from = s0;
                if (!last && hgt == 0 && link.target.empty() && link.top > slicer.ContentBottom(j)) {
                    list = &pages[static_cast<std::size_t>(j) + 1];
                    from = link.top;
                }
                std::int64_t top = ToInt((static_cast<double>(link.top) - from) / g);
                const std::int64_t left = ToInt(link.left / g);
                const std::int64_t right = ToInt(link.right / g);
                std::int64_t bottom = ToInt(static_cast<double>(top) + hgt / g);
                top = std::max<std::int64_t>(top, 0);
                bottom = std::min<std::int64_t>(bottom, s1);
                if ((top >= bottom || left >= right) && link.name.empty()) continue;
                LinkRecord kept = link;
                kept.left = ToInt(static_cast<double>(left) + 1);
                kept.top = ToInt(static_cast<double>(top) + 1);
                kept.right = ToInt(static_cast<double>(right) + 1);
                kept.bottom = ToInt(static_cast<double>(bottom) + 1);
                list->push_back(std::move(kept));
            }
        }
        return pages;
    }

    bool AdjustPageWidth(PageHost& host, const PageImage& image, const PageSettings& s) override {
        return com::SUCCEEDED(host.Pdf().SetPageWidth(PageSizeValues(host, image.widthPx, s).width));
    }

    bool Convert(PageHost& host, const PageImage& image, int firstPage, int page, const PageSettings& s) override {
        LogSource log(host.Log(), kSource);
        CEmfSlicer* found = Slicer(host, image, s, SlicerUse::Convert);
        if (!found) {
            log.Error(widthRefused_ ? std::string("Setting the page width failed")
                                    : "Page image cannot be read: " + image.emfPath);
            return false;
        }
        CEmfSlicer& slicer = *found;
        log.Info("EMF Slicer created");
        const double g = s.renderScale > 0 ? s.renderScale : 1.0;
        const int count = slicer.SliceCount();
        const int first = std::max(page, 0);
        const int last = page == -1 ? count - 1 : std::min(count, page + 1) - 1;
        log.Info(StrFormat("Starting conversion of pages from %d to %d inclusive", first, last));
        std::string folder = s.debugFolder;
        if (!folder.empty() && folder.back() != '/') folder += '/';
        platform::StepTimer timer;
        for (int u = first; u <= last; ++u) {
            std::string debugFile = folder.empty() ? std::string() : folder + StrFormat("image_page_%d.emf", u);
            const std::vector<std::uint8_t>* slice = slicer.GetSlice(u, debugFile);
            if (!slice) continue;
            if (u != first && com::FAILED(host.Pdf().SafeNewPage())) return false;
            log.Info(StrFormat("Converting page %d with top margin = %d and left margin = %d", u, s.marginTop,
                               s.marginLeft));
            com::HRESULT hr = host.Pdf().DrawEmf(slice->data(), static_cast<std::uint32_t>(slice->size()),
                                                 s.marginLeft, s.marginTop, 1.0 / g, 1.0 / g,
                                                 platform::screen::kDpi);
            if (com::FAILED(hr)) {
                log.Error(StrFormat("Drawing page %d failed (0x%08X)", u, static_cast<unsigned>(hr)));
                return false;
            }
            if (s.preserveLinks && !ApplyLinks(host, log, firstPage + u)) return false;
        }
        timer.Lap("draw slices");
        return true;
    }

private:
    // Slicing a tall image is the costly step, and every page of it is drawn
    // by its own call: the last slicer is kept while its settings hold. Null
    // when drawing cannot go on: the document refused to widen the page (for
    // drawing) or the page image cannot be read any more.
    CEmfSlicer* Slicer(PageHost& host, const PageImage& image, const PageSettings& s, SlicerUse use) {
        bool widened = true;
        SlicerKey key = SlicerSettings(host, image, s, use, &widened);
        widthRefused_ = !widened;
        if (!widened && use == SlicerUse::Convert) return nullptr;
        if (slicer_ && key == key_ && &host.Log() == log_) return slicer_.get();
        slicer_.reset();
        std::vector<std::uint8_t> bytes = ImageBytes(image);
        if (bytes.empty()) return nullptr;
        key_ = key;
        log_ = &host.Log();
        slicer_ = std::make_unique<CEmfSlicer>(host.Log());
        slicer_->SetPageBreaks(&key_.breaks);
        slicer_->SetSliceHeight(key_.height);
        slicer_->SetSliceWidth(key_.width);
        if (key_.contentWidth >= 0) slicer_->SetSliceWidth(key_.contentWidth);
        slicer_->SetBetweenSlices([&host] { host.LetClientRun(); });
        platform::StepTimer timer;
        slicer_->SetSourceImage(bytes);
        timer.Lap("slice page image");
        slicer_->SetBetweenSlices({});
        // The slices are made: the image's bytes are not needed while they are drawn.
        slicer_->ReleaseSource();
        // A long one's go back to the system before its pages grow the document.
        const bool longImage = bytes.size() > kLongImageBytes;
        std::vector<std::uint8_t>().swap(bytes);
        if (longImage) platform::ReturnFreedMemory();
        return slicer_.get();
    }

    bool widthRefused_ = false;
    SlicerKey key_;
    const EventLog* log_ = nullptr;
    std::unique_ptr<CEmfSlicer> slicer_;

    static bool ApplyLinks(PageHost& host, const LogSource& log, int p) {
        log.Info(StrFormat("Applying links to page %d", p));
        for (int i = 0, n = host.LinkCount(p); i < n; ++i) {
            LinkRecord link;
            if (!host.GetLink(p, i, &link)) continue;
            if (link.target.empty() || link.target[0] == '#') continue;
            if (com::FAILED(host.Pdf().AddUrlLink(link.left, link.top, link.right, link.bottom, link.target.c_str()))) {
                log.Error(StrFormat("Adding a link to page %d failed", p));
                return false;
            }
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<PageConverter> CreatePageConverter() { return std::make_unique<CEmf2PDFConverter>(); }

}  // namespace tessaline
