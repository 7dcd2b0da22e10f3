#include "pagedraw/pdf_pages.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <poppler/ErrorCodes.h>
#include <poppler/GlobalParams.h>
#include <poppler/PDFDoc.h>
#include <poppler/Stream.h>
#include <poppler/goo/GooString.h>

#include "emf/recorder_device.h"
#include "emf/writer.h"
#include "output_dev.h"
#include "page_fonts.h"

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
    // The reference device covers the page in steps of ten inches, so that
    // its pixels per millimetre are the resolution exactly.
    emf::RecorderSetup setup;
    const int tensW = int(std::ceil(w / 720)), tensH = int(std::ceil(h / 720));
    setup.millimeters = {254 * tensW, 254 * tensH};
    setup.device = {10 * dpi * tensW, 10 * dpi * tensH};
    setup.hasFrame = true;
    setup.frame = {0, 0, int(std::lround(w / 72 * 2540)), int(std::lround(h / 72 * 2540))};
    try {
        emf::Recorder rec(setup);
        {
            emf::RecorderDevice dev(rec);
            EmfOutputDev out(dev, *m_->fonts);
            m_->doc->displayPage(&out, index + 1, dpi, dpi, 0, false, true, true);
        }
        return rec.Finish();
    } catch (const std::exception& e) {
        error = "page " + std::to_string(index + 1) + " cannot be converted: " + e.what();
        return {};
    }
}

}  // namespace pagedraw
