#include "htmlengine/page_image_loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <optional>

#include "emf/bounds_device.h"
#include "emf/recorder_device.h"
#include "emf/writer.h"
#include "htmlengine/url.h"
#include "platform/paths.h"
#include "platform/step_times.h"

namespace htmlengine {
namespace {

using tessaline::LogSource;
using tessaline::StrFormat;

// The screen the page image is measured against (96 pixels per inch).
constexpr int kScreenWidth = 1920, kScreenHeight = 1080;
constexpr int kScreenWidthMm = 508, kScreenHeightMm = 286;
constexpr double kScreenDpi = 96.0;
// The largest page image: 16,384 pixels wide, some 7,000 pages tall.
constexpr std::int32_t kMaxImageWidth = 16384, kMaxImageHeight = 8000000;

// Reference values the log shows for the browser's frames and documents.
constexpr unsigned kTopFrameRef = 0x00B10001, kSubFrameRef = 0x00B10002, kDocumentRef = 0x00D0C001;
constexpr unsigned kRootElementRef = 0x00E1E001;

std::string CurrentFolder() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

std::string WithExtension(const std::string& path, const std::string& ext) {
    auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return path.substr(0, dot) + ext;
    return path + ext;
}

// EMR_HEADER first, with the " EMF" signature at offset 40.
bool LooksLikeEmf(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= 88 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0 &&
           bytes[40] == ' ' && bytes[41] == 'E' && bytes[42] == 'M' && bytes[43] == 'F';
}

bool FileLooksLikeEmf(const std::string& path) {
    std::vector<std::uint8_t> head(88);
    std::ifstream f(path, std::ios::binary);
    return f.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size())) && LooksLikeEmf(head);
}

// A file descriptor closed when it goes out of scope.
struct OpenFile {
    int fd = -1;
    explicit OpenFile(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
};

// Empty stretches of a page taller than this (a box of absurd height with
// nothing drawn in it) are closed to kKeptGap when the page would not fit
// into a page image: what is drawn below such a box still has a place.
constexpr double kLongestGap = 100000, kKeptGap = 1000;

// Where the drawing of a page lies, top to bottom, with its empty stretches
// closed: y moves to Map(y).
// The vertical extents of what is drawn (clips draw nothing; a colour
// nobody sees neither).
class Extents final : public emf::Device {
public:
    std::vector<std::pair<double, double>> spans;
    void FillPath(const emf::Path& p, emf::FillRule r, const emf::Paint& f, const emf::Matrix& m) override {
        if (f.kind != emf::Paint::Kind::Solid || f.color.a > 0) Measure([&](emf::Device& d) { d.FillPath(p, r, f, m); });
    }
    void StrokePath(const emf::Path& p, const emf::StrokeStyle& s, const emf::Color& c, const emf::Matrix& m) override {
        if (c.a > 0) Measure([&](emf::Device& d) { d.StrokePath(p, s, c, m); });
    }
    void DrawText(const emf::TextRun& t, const emf::Matrix& m) override { Measure([&](emf::Device& d) { d.DrawText(t, m); }); }
    void DrawImage(const emf::Image& i, const emf::Matrix& m) override { Measure([&](emf::Device& d) { d.DrawImage(i, m); }); }

private:
    void Measure(const std::function<void(emf::Device&)>& draw) {
        emf::BoundsDevice b;
        draw(b);
        if (!b.Bounds().Empty()) spans.emplace_back(b.Bounds().top, b.Bounds().bottom);
    }
};

class GapCloser {
public:
    // Collects what `drawing` draws (clips draw nothing).
    explicit GapCloser(const DisplayList& drawing) {
        Extents extents;
        drawing.Replay(extents);
        std::sort(extents.spans.begin(), extents.spans.end());
        double reach = 0, removed = 0;
        for (const auto& [top, bottom] : extents.spans) {
            if (top - reach > kLongestGap) {
                removed += top - reach - kKeptGap;
                gaps_.push_back({reach, top, removed});
            }
            reach = std::max(reach, bottom);
        }
    }
    bool Any() const { return !gaps_.empty(); }
    double Map(double y) const {
        double shift = 0;
        for (const Gap& g : gaps_) {
            if (y >= g.end) shift = g.removedUpToEnd;
            else if (y > g.start + kKeptGap) return y - shift - (y - g.start - kKeptGap);
        }
        return y - shift;
    }
    std::int32_t Map(std::int32_t y) const { return static_cast<std::int32_t>(std::lround(Map(static_cast<double>(y)))); }

private:
    struct Gap {
        double start, end;       // the empty stretch
        double removedUpToEnd;   // how much is taken out up to its end, this one included
    };
    std::vector<Gap> gaps_;
};

// Draws onto `target` with every call moved up by what GapCloser takes out
// above it (a call is placed by its top).
class GapClosingDevice final : public emf::Device {
public:
    GapClosingDevice(emf::Device& target, const GapCloser& gaps) : target_(target), gaps_(gaps) {}
    void BeginPage(const emf::PageInfo& p) override { target_.BeginPage(p); }
    void EndPage() override { target_.EndPage(); }
    void FillPath(const emf::Path& p, emf::FillRule r, const emf::Paint& f, const emf::Matrix& m) override {
        target_.FillPath(p, r, f, Moved(m, [&](emf::Device& d) { d.FillPath(p, r, f, m); }));
    }
    void StrokePath(const emf::Path& p, const emf::StrokeStyle& s, const emf::Color& c, const emf::Matrix& m) override {
        target_.StrokePath(p, s, c, Moved(m, [&](emf::Device& d) { d.StrokePath(p, s, c, m); }));
    }
    void DrawText(const emf::TextRun& t, const emf::Matrix& m) override {
        target_.DrawText(t, Moved(m, [&](emf::Device& d) { d.DrawText(t, m); }));
    }
    void DrawImage(const emf::Image& i, const emf::Matrix& m) override {
        target_.DrawImage(i, Moved(m, [&](emf::Device& d) { d.DrawImage(i, m); }));
    }
    void PushClip(const emf::Path& p, emf::FillRule r, const emf::Matrix& m) override {
        target_.PushClip(p, r, Moved(m, [&](emf::Device& d) { d.FillPath(p, r, emf::Paint{}, m); }));
    }
    void PopClip() override { target_.PopClip(); }

private:
    template <class Draw>
    emf::Matrix Moved(const emf::Matrix& m, Draw draw) const {
        emf::BoundsDevice b;
        draw(b);
        if (b.Bounds().Empty()) return m;
        const double top = std::max(0.0, b.Bounds().top);
        return m.Then(emf::Matrix::Translate(0, gaps_.Map(top) - top));
    }
    emf::Device& target_;
    const GapCloser& gaps_;
};

struct Request {
    bool isString = false;
    std::string url;      // normalised address, or "about:blank" for strings
    std::string html;
    std::string emfPath;
    std::int32_t minimalWidth = 800;
    std::string baseUrl;
    int timeoutMs = 0;
    double printableHeight = 0, printableWidth = 0;
    double zoom = 1;
    int mode = 0;
    std::string engine;
    std::function<bool()> keepWaiting;  // the client's pump while the engine works
};

// A base address gets its closing slash; an empty one stays empty, so
// "file:" links keep their relative form instead of becoming "/name".
std::string WithClosingSlash(std::string base) {
    if (!base.empty() && !base.ends_with('/')) base += '/';
    return base;
}

// What the engine is asked to lay out for a load.
RenderRequest MakeRenderRequest(const Request& req, int layoutGraceMs) {
    RenderRequest rr;
    rr.kind = req.isString ? RenderRequest::Kind::String : RenderRequest::Kind::Address;
    rr.address = req.url;
    rr.html = req.html;
    rr.baseUrl = WithClosingSlash(req.baseUrl);  // a string's relative references resolve inside the base folder
    rr.minimalWidth = std::max<std::int32_t>(1, req.minimalWidth);
    rr.timeoutMs = std::max(0, req.timeoutMs);
    rr.layoutGraceMs = layoutGraceMs;
    rr.engine = req.engine;
    return rr;
}

// The image creator: runs the browser window, takes the loaded document,
// measures it, finds its breaks and links and saves the page image.
class ImageCreator {
public:
    ImageCreator(tessaline::EventLog& log, HtmlEngine& engine, int layoutGraceMs)
        : log_(log, "ImageCreator"), window_(log, "CBrowserWindow"), engine_(engine), grace_(layoutGraceMs) {}

    bool Run(const Request& req);

    float renderScale = 1.0f;
    std::vector<tessaline::LinkRecord> links;
    std::vector<std::int32_t> pageBreaks;
    std::int32_t width = 0, height = 0;
    // The page image as written to its file (empty when it was not written
    // or went straight to its file).
    std::vector<std::uint8_t> imageBytes;
    bool imageInFile = false;  // a long page image, written to its file as it was drawn

private:
    bool HandleDocument(const RenderResult* doc, const Request& req);
    void SaveImage(const RenderResult& doc, const Request& req);
    // The caller's wait hook between the long steps after the layout; false
    // (and abandoned_) when it asks to give up.
    bool CallerLetsUsGoOn() {
        if (keepWaiting_ && !keepWaiting_()) abandoned_ = true;
        return !abandoned_;
    }
    std::function<bool()> keepWaiting_;
    bool abandoned_ = false;
    std::optional<GapCloser> gaps_;  // a page with absurdly tall empty stretches

    LogSource log_;
    LogSource window_;
    HtmlEngine& engine_;
    int grace_;
    std::string baseUrl_;
};

bool ImageCreator::Run(const Request& req) {
    baseUrl_ = WithClosingSlash(req.baseUrl);
    window_.Info("Created");
    const RenderRequest rr = MakeRenderRequest(req, grace_);
    engine_.SetWaitHook(req.keepWaiting);
    RenderResult result;
    platform::StepTimer timer;
    try {
        result = engine_.Render(rr);
    } catch (...) {
        engine_.SetWaitHook({});
        throw;
    }
    engine_.SetWaitHook({});
    timer.Lap("render");
    keepWaiting_ = req.keepWaiting;

    if (result.crashed && !result.timedOut) {
        // The layout process died: the wait is abandoned, nothing is drawn.
        for (const auto& w : result.warnings) window_.Error(w);
        window_.Info("Destroyed");
        return false;
    }
    bool topFailed = false;
    if (req.isString) {
        // The window opens on about:blank; the text is then put into that document.
        window_.Info(StrFormat("Arrived OnDocumentComplete for %s (0x%X)", "about:blank", kTopFrameRef));
    }
    for (const auto& e : result.events) {
        unsigned ref = e.topLevel ? kTopFrameRef : kSubFrameRef;
        if (e.error) {
            window_.Info(StrFormat("Arrived OnNavigateError for %s (0x%X)", e.url.c_str(), ref));
            if (e.topLevel) topFailed = true;
        } else {
            window_.Info(StrFormat("Arrived OnDocumentComplete for %s (0x%X)", e.url.c_str(), ref));
        }
    }
    // A time-out of 0 fires before anything completes.
    if (result.timedOut || rr.timeoutMs == 0) {
        window_.Info(StrFormat("Timeout interval (%d seconds) elapsed.", rr.timeoutMs / 1000));
        window_.Info("StopDownload called");
    }
    for (const auto& w : result.warnings) window_.Info(w);
    window_.Info("Loaded. Ready to convert");
    // A top-level navigation that failed leaves no document to convert.
    const RenderResult* doc = (result.documentAvailable && !topFailed) ? &result : nullptr;
    window_.Info(StrFormat("Conversion routine called for (0x%X)", doc ? kDocumentRef : 0u));
    if (!HandleDocument(doc, req) && abandoned_) {
        window_.Error("Drawing abandoned by the caller");
        window_.Info("Destroyed");
        return false;
    }
    if (!doc) window_.Error("Document retrieval failed");
    window_.Info("Destroyed");
    return true;
}

bool ImageCreator::HandleDocument(const RenderResult* doc, const Request& req) {
    log_.Info(StrFormat("Conversion routine called for (0x%X)", doc ? kDocumentRef : 0u));
    if (!doc) return false;
    std::int32_t w = doc->scrollWidth, h = doc->scrollHeight;
    w = std::max(w, doc->bodyScrollWidth);
    w = std::max(w, doc->layoutWidth);
    w = std::max(w, req.minimalWidth);
    if (!doc->frameset) {
        std::int32_t bottom = 0;
        for (const auto& e : doc->elements) {
            if (e.tag == "HTML" || e.tag == "BODY") continue;
            for (const auto& r : e.rects) bottom = std::max(bottom, r.bottom);
        }
        if (bottom > 0) h = bottom;
    }
    // A page too tall for a page image because of a box of absurd height
    // keeps what is drawn below the box: the empty stretch is closed.
    if (h > kMaxImageHeight && !doc->frameset) {
        gaps_.emplace(doc->drawing);
        if (gaps_->Any()) {
            const std::int32_t closed = gaps_->Map(h);
            log_.Info(StrFormat("Empty stretches of the page closed: %d pixels tall instead of %d", closed, h));
            h = closed;
        } else {
            gaps_.reset();
        }
    }
    // A box of absurd size (a billion pixels) would make a page image whose
    // frame overflows and that no slicer takes: the image is cut to the
    // largest one that works, and what lies beyond is not drawn.
    if (w > kMaxImageWidth || h > kMaxImageHeight) {
        log_.Info(StrFormat("Page image of %d x %d cut to %d x %d", w, h, std::min(w, kMaxImageWidth),
                            std::min(h, kMaxImageHeight)));
        w = std::min(w, kMaxImageWidth), h = std::min(h, kMaxImageHeight);
    }
    width = w, height = h;

    double printableWidth = req.printableWidth;
    if (req.mode == 1) printableWidth = std::max(printableWidth, static_cast<double>(w));
    renderScale = RenderScale(req.mode, w, printableWidth, req.zoom);

    pageBreaks.clear();
    if (!doc->frameset) {
        auto d = static_cast<std::int32_t>(req.printableHeight * renderScale);
        pageBreaks = ExplorePageBreaks(doc->elements, d, log_);
    }
    links.clear();
    if (!doc->frameset) links = CollectLinks(doc->anchors, baseUrl_);
    if (gaps_) {
        for (auto& b : pageBreaks) b = gaps_->Map(b);
        for (auto& l : links) l.top = gaps_->Map(l.top), l.bottom = gaps_->Map(l.bottom);
    }
    if (!CallerLetsUsGoOn()) return false;
    SaveImage(*doc, req);
    return !abandoned_;
}

void ImageCreator::SaveImage(const RenderResult& doc, const Request& req) {
    log_.Info(StrFormat("Save image called for (0x%X)", kDocumentRef));
    if (width > kMaxImageWidth || height > kMaxImageHeight) {
        log_.Error(StrFormat("Page image of %d x %d pixels is too large to record", width, height));
        return;
    }
    std::string file = WithExtension(req.emfPath, ".emf");
    emf::RecorderSetup setup;
    setup.device = {kScreenWidth, kScreenHeight};
    setup.millimeters = {kScreenWidthMm, kScreenHeightMm};
    setup.hasFrame = true;
    setup.frame = {0, 0, static_cast<std::int32_t>(static_cast<std::int64_t>(width) * kScreenWidthMm * 100 / kScreenWidth),
                   static_cast<std::int32_t>(static_cast<std::int64_t>(height) * kScreenHeightMm * 100 / kScreenHeight)};
    setup.description = u"Tessaline Add-on";
    // A long drawing (one that went to disk) makes a long page image: it
    // goes to its file as it is drawn rather than through memory.
    std::optional<OpenFile> stream;
    if (doc.drawing.SpillFd() >= 0) {
        stream.emplace(file);
        if (stream->fd < 0) {
            log_.Error("Page image not written: " + file);
            return;
        }
        setup.streamFd = stream->fd;
    }
    std::vector<std::uint8_t> bytes;
    platform::StepTimer timer;
    try {
        emf::Recorder recorder(setup);
        log_.Info(StrFormat("Metafile %d x %d created", width, height));
        emf::RecorderDevice device(recorder);
        auto draw = [&]() {
            device.BeginPage({static_cast<double>(width), static_cast<double>(height), kScreenDpi});
            // The client runs between chunks; a wish to stop is taken up after the drawing.
            std::optional<GapClosingDevice> closing;
            if (gaps_) closing.emplace(device, *gaps_);
            doc.drawing.Replay(closing ? static_cast<emf::Device&>(*closing) : device, [this] { CallerLetsUsGoOn(); }, 2000);
            device.EndPage();
        };
        bool drawn = false;
        log_.Info("Trying supermodern way to draw");
        log_.Info(StrFormat("RECTL: l=%d, t=%d, r=%d, b=%d", 0, 0, width, height));
        try {
            draw();
            drawn = true;
            log_.Info("Supermodern way to draw succeeded. Woohoo!");
        } catch (const std::exception&) {
            log_.Info("Supermodern way to draw failed");
        }
        if (!drawn) {
            // The element ways: the root element and the body draw the same
            // picture here, since the engine draws the document as a whole.
            log_.Info(StrFormat("Trying to draw (0x%X)", kRootElementRef));
            log_.Info(StrFormat("Compatibility string is '%s'", doc.compatMode.c_str()));
            bool back = doc.compatMode == "BackCompat";
            auto way = [&](bool conservative) {
                log_.Info(conservative ? "Trying conservative way to draw" : "Trying modern way to draw");
                try {
                    draw();
                    log_.Info(conservative ? "Conservative way to draw succeeded" : "Modern way to draw succeeded");
                    return true;
                } catch (const std::exception&) {
                    return false;
                }
            };
            if (back) {
                log_.Info("Standards-compliant mode is NOT switched on.");
                drawn = way(true);
                if (!drawn) log_.Info("Conservative way to draw failed"), drawn = way(false);
            } else {
                log_.Info("Standards-compliant mode is switched on.");
                drawn = way(false);
                if (!drawn) log_.Info("Modern way to draw failed"), drawn = way(true);
            }
            if (!drawn) log_.Info("Drawing failed");
        }
        if (!CallerLetsUsGoOn()) return;
        bytes = recorder.Finish();
        timer.Lap("record page image");
    } catch (const std::exception& e) {
        log_.Error(std::string("Metafile not recorded: ") + e.what());
        if (stream) std::remove(file.c_str());
        return;
    }
    if (stream) {
        imageInFile = true;
        return;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        log_.Error("Page image not written: " + file);
        std::remove(file.c_str());
        return;
    }
    imageBytes = std::move(bytes);
}

class PageImageLoader final : public tessaline::DocumentLoader {
public:
    PageImageLoader(tessaline::EventLog& log, std::unique_ptr<HtmlEngine> engine, LoaderOptions options)
        : log_(log), impl_(log, "TessalineImpl"), engine_(std::move(engine)), options_(std::move(options)) {}

    tessaline::LoadResult LoadFile(const std::string& source, const std::string& baseUrl,
                                   const tessaline::LoadSettings& settings) override {
        return Load(false, source, baseUrl, settings);
    }
    tessaline::LoadResult LoadString(const std::string& html, const std::string& baseUrl,
                                     const tessaline::LoadSettings& settings) override {
        return Load(true, html, baseUrl, settings);
    }
    void Announce(const std::string& source, const std::string& baseUrl,
                  const tessaline::LoadSettings& settings) override {
        if (source.empty()) return;
        try {
            engine_->Prefetch(MakeRenderRequest(MakeRequest(false, source, baseUrl, settings), options_.layoutGraceMs));
        } catch (const std::exception&) {
            // only a hint
        }
    }

private:
    // The load's request without its page image file.
    Request MakeRequest(bool isString, const std::string& text, const std::string& baseUrl,
                        const tessaline::LoadSettings& settings) const;
    tessaline::LoadResult Load(bool isString, const std::string& text, const std::string& baseUrl,
                               const tessaline::LoadSettings& settings);

    tessaline::EventLog& log_;
    LogSource impl_;
    std::unique_ptr<HtmlEngine> engine_;
    LoaderOptions options_;
};

Request PageImageLoader::MakeRequest(bool isString, const std::string& text, const std::string& baseUrl,
                                     const tessaline::LoadSettings& settings) const {
    Request req;
    req.isString = isString;
    if (isString) {
        req.url = "about:blank";
        req.html = text;
    } else {
        req.url = NormaliseSource(text, options_.currentFolder.empty() ? CurrentFolder() : options_.currentFolder);
    }
    req.printableWidth = settings.PrintableWidth();
    req.printableHeight = settings.PrintableHeight();
    req.zoom = settings.resolution / kScreenDpi;
    req.mode = settings.WidthAdjustMode();
    // A wider layout could not be recorded: its frame would not fit.
    req.minimalWidth = std::min(settings.minimalWidth, kMaxImageWidth);
    req.baseUrl = baseUrl;
    req.timeoutMs = settings.pageTimeoutMs;
    req.keepWaiting = settings.keepWaiting;
    req.engine = settings.htmlEngine;
    return req;
}

tessaline::LoadResult PageImageLoader::Load(bool isString, const std::string& text, const std::string& baseUrl,
                                            const tessaline::LoadSettings& settings) {
    tessaline::LoadResult result;
    if (text.empty()) return result;
    try {
        std::string folder = options_.tempFolder.empty() ? platform::TempFolder() : options_.tempFolder;
        // The page image's own name is made unique at once (no name-only
        // reservation to delete again: each file made costs a journal write).
        std::string made = platform::MakeTempFile(folder, "TSL", ".emf");
        Request req = MakeRequest(isString, text, baseUrl, settings);
        if (!made.empty()) {
            req.emfPath = made;
            result.tempFiles.push_back(made);
        }
        ImageCreator creator(log_, *engine_, options_.layoutGraceMs);
        impl_.Info("ImageCreator created");

        bool ok = !req.emfPath.empty() && creator.Run(req);
        if (req.emfPath.empty()) impl_.Error("No temporary file name for the page image");
        if (ok) {
            impl_.Info("Download complete");
            // What was written is what the file holds: no need to read it back.
            std::vector<std::uint8_t> bytes = std::move(creator.imageBytes);
            if (creator.imageInFile ? FileLooksLikeEmf(req.emfPath) : LooksLikeEmf(bytes)) {
                impl_.Info("Metafile created");
                result.ok = true;
                result.image.emfPath = req.emfPath;
                result.image.emfBytes = std::move(bytes);
                result.image.widthPx = creator.width;
                result.image.heightPx = creator.height;
                result.image.links = std::move(creator.links);
                result.image.pageBreaks = std::move(creator.pageBreaks);
                result.image.renderScale = creator.renderScale;
            } else {
                impl_.Error("Metafile creation failed");
            }
        } else {
            impl_.Error("Download failed");
        }
        if (!result.ok && !req.emfPath.empty()) std::remove(req.emfPath.c_str());  // no image: no file
        impl_.Info("ImageCreator destroyed");
    } catch (const std::exception& e) {
        impl_.Error(std::string("Load failed: ") + e.what());
        result.ok = false;
    }
    return result;
}

}  // namespace

float RenderScale(int mode, double contentWidth, double printableWidth, double zoom) {
    double scale = zoom;
    if ((mode == 1 || mode == 2) && printableWidth > 0) scale = contentWidth / printableWidth * zoom;
    // No page to measure against (no document connected, a zero width):
    // one pixel per unit rather than an infinite or zero scale.
    if (!std::isfinite(scale) || scale <= 0) scale = 1.0;
    return static_cast<float>(scale);
}

void AddPageBreak(std::vector<std::int32_t>& breaks, std::int32_t a, std::int32_t pageHeight) {
    if (std::find(breaks.begin(), breaks.end(), a) != breaks.end()) return;
    for (auto& x : breaks) {
        if (a < x && static_cast<std::int64_t>(a) - x <= pageHeight) {
            x = a;
            return;
        }
    }
    breaks.push_back(a);
}

bool PictureFits(const std::vector<std::int32_t>& breaks, std::int32_t top, std::int32_t height,
                 std::int32_t pageHeight) {
    if (pageHeight <= 0) return true;  // no page height to test against
    std::int64_t c = 0;
    for (auto b : breaks)
        if (b < top) c = b;
    std::int64_t offset = (static_cast<std::int64_t>(top) - c) % pageHeight;
    if (offset < 0) offset += pageHeight;
    return pageHeight >= height + offset;
}

std::vector<std::int32_t> ExplorePageBreaks(const std::vector<ElementFacts>& elements, std::int32_t d,
                                            const LogSource& log) {
    log.Info("Starting to explore page breaks");
    std::vector<std::int32_t> breaks;
    for (const auto& e : elements) {
        bool after = e.breakAfter, before = e.breakBefore;
        if (!before && e.tag == "IMG" && !e.rects.empty()) {
            // The last rectangle with the greatest bottom.
            const IntRect* r = &e.rects.front();
            for (const auto& x : e.rects)
                if (x.bottom >= r->bottom) r = &x;
            if (!PictureFits(breaks, r->top, r->bottom - r->top, d) && !e.containsTd) before = true;
        }
        if (!before && !after) continue;
        std::int32_t top = -1, bottom = -1;
        for (const auto& r : e.rects) {
            top = top == -1 ? r.top : std::min(top, r.top);
            bottom = std::max(bottom, r.bottom);
        }
        if (before && top != -1) {
            AddPageBreak(breaks, top, d);
            log.Info(StrFormat("Page breaf found: before %d", top));
        }
        if (after && bottom != -1) {
            AddPageBreak(breaks, bottom, d);
            log.Info(StrFormat("Page breaf found: after %d", bottom));
        }
    }
    return breaks;
}

std::vector<tessaline::LinkRecord> CollectLinks(const std::vector<AnchorFacts>& anchors, const std::string& baseUrl) {
    std::vector<tessaline::LinkRecord> links;
    for (const auto& a : anchors) {
        const IntRect* r = nullptr;
        for (const auto& x : a.rects)
            if (!r || x.bottom > r->bottom) r = &x;
        tessaline::LinkRecord rec;
        if (r) rec.left = r->left, rec.top = r->top, rec.right = r->right, rec.bottom = r->bottom;
        if (r && !a.href.empty()) {
            rec.name = a.name;
            rec.target = a.protocol == "file:" ? baseUrl + a.hrefAttr : a.href;
            links.push_back(std::move(rec));
        } else if (!a.name.empty()) {
            rec.name = a.name;
            links.push_back(std::move(rec));
        }
    }
    return links;
}

std::unique_ptr<tessaline::DocumentLoader> CreatePageImageLoader(tessaline::EventLog& log,
                                                                 std::unique_ptr<HtmlEngine> engine,
                                                                 LoaderOptions options) {
    return std::make_unique<PageImageLoader>(log, std::move(engine), std::move(options));
}

}  // namespace htmlengine
