#include "addon/core/tessaline_impl.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <unordered_map>

#include "platform/text.h"

#ifdef TESSALINE_HAVE_HTMLENGINE
#include "browser/engine_choice.h"
#endif

namespace tessaline {

using com::E_FAIL;
using com::E_INVALIDARG;
using com::E_NOINTERFACE;
using com::HRESULT;
using com::S_FALSE;
using com::S_OK;

TessalineImpl::LoaderFactory TessalineImpl::DefaultLoaderFactory() {
#ifdef TESSALINE_HAVE_HTMLENGINE
    return [](EventLog& log) { return CreateDocumentLoader(log); };
#else
    return [](EventLog& log) { return CreateUnavailableLoader(log); };
#endif
}

void TessalineImpl::EndSharedLoaders() {
#ifdef TESSALINE_HAVE_HTMLENGINE
    browser::EndRunBrowser();
#endif
}

TessalineImpl::ConverterFactory TessalineImpl::DefaultConverterFactory() {
#ifdef TESSALINE_HAVE_PAGES
    return [] { return CreatePageConverter(); };
#else
    return [] { return CreateBasicPageConverter(); };
#endif
}

TessalineImpl::TessalineImpl() : TessalineImpl(DefaultLoaderFactory(), DefaultConverterFactory()) {}

TessalineImpl::TessalineImpl(LoaderFactory loaders, ConverterFactory converters)
    : loaderFactory_(std::move(loaders)), converterFactory_(std::move(converters)) {
    Info("Created");  // reaches no file: none can be open yet
}

TessalineImpl::~TessalineImpl() {
    UnloadAll();
    Info("Destroyed");
    log_.Close();
    pdf_.Disconnect();
}

DocumentLoader& TessalineImpl::Loader() {
    if (!loader_) loader_ = loaderFactory_(log_);
    return *loader_;
}

PageConverter& TessalineImpl::Converter() {
    if (!converter_) converter_ = converterFactory_();
    return *converter_;
}

HRESULT TessalineImpl::StartHTMLEngine(const std::string& engine) {
    htmlEngine_ = engine;
    Info("Operating system is " + OperatingSystemText());
    Info("Internet Explorer version is " + HtmlEngineText());
    Info("Running version " + RunningVersionText());
    return S_OK;
}

HRESULT TessalineImpl::ConnectToPDFLibrary(com::IUnknown* obj) {
    DisconnectFromPDFLibrary();
    if (!obj) return S_OK;
    if (!pdf_.Connect(obj)) {
        Error("QueryInterface for PDFInterface failed");
        return S_FALSE;
    }
    Info("PDFInterface set");
    return S_OK;
}

HRESULT TessalineImpl::DisconnectFromPDFLibrary() {
    pdf_.Disconnect();
    Info("PDFInterface released");
    return S_OK;
}

LoadSettings TessalineImpl::CurrentLoadSettings() const {
    LoadSettings s;
    s.pageWidth = pdf_.PageWidth();
    s.pageHeight = pdf_.PageHeight();
    s.resolution = pdf_.Resolution();
    s.marginLeft = marginLeft_;
    s.marginTop = marginTop_;
    s.marginRight = marginRight_;
    s.marginBottom = marginBottom_;
    s.minimalWidth = minimalWidth_;
    s.pageTimeoutMs = pageTimeout_;
    s.autoAdjustPageWidth = autoAdjustPageWidth_;
    s.autoAdjustContentWidth = autoAdjustContentWidth_;
    s.depCompatible = depCompatible_;
    s.htmlEngine = htmlEngine_;
    s.debugFolder = debugFolder_;
    s.keepWaiting = waitHook_;
    return s;
}

PageSettings TessalineImpl::CurrentPageSettings(const PageImage& image) const {
    PageSettings s;
    s.marginLeft = marginLeft_;
    s.marginTop = marginTop_;
    s.marginRight = marginRight_;
    s.marginBottom = marginBottom_;
    s.preserveLinks = preserveLinks_;
    s.autoAdjustPageWidth = autoAdjustPageWidth_;
    s.autoAdjustContentWidth = autoAdjustContentWidth_;
    s.renderScale = image.renderScale;
    s.debugFolder = debugFolder_;
    return s;
}

HRESULT TessalineImpl::LoadHTMLString(const std::string& html, const std::string& baseUrl) {
    if (html.empty()) return S_OK;
    AcceptLoad(Loader().LoadString(html, baseUrl, CurrentLoadSettings()));
    return S_OK;
}

HRESULT TessalineImpl::LoadHTMLFile(const std::string& source, const std::string& baseUrl) {
    if (source.empty()) return S_OK;
    AcceptLoad(Loader().LoadFile(source, baseUrl, CurrentLoadSettings()));
    return S_OK;
}

void TessalineImpl::AnnounceHTMLFile(const std::string& source) {
    if (!source.empty()) Loader().Announce(source, "", CurrentLoadSettings());
}

void TessalineImpl::AcceptLoad(LoadResult&& result) {
    tempFiles_.insert(tempFiles_.end(), result.tempFiles.begin(), result.tempFiles.end());
    if (!result.ok) return;  // the loader has said why; the page count stays as it was
    // Cutting a long image into pages takes a while: the client's turn first.
    if (waitHook_ && !waitHook_()) {
        Info("Load abandoned by the client");
        return;
    }
    renderScale_ = result.image.renderScale;
    LoadedImage loaded;
    loaded.image = std::move(result.image);
    PageSettings settings = CurrentPageSettings(loaded.image);
    // A large image that has its file is sliced from there: the slicer takes
    // a copy of the bytes it slices, and the image's own would be a second.
    constexpr std::size_t kSliceFromFileBytes = 16u << 20;
    if (!loaded.image.emfPath.empty() && loaded.image.emfBytes.size() > kSliceFromFileBytes)
        std::vector<std::uint8_t>().swap(loaded.image.emfBytes);
    PageConverter::Layout layout = Converter().LayOut(*this, loaded.image, settings);
    loaded.pageCount = layout.pageCount < 0 ? 0 : layout.pageCount;
    // The page link lists are numbered like the pages, so every image adds
    // exactly one list per page, whatever the mapping found.
    layout.pageLinks.resize(static_cast<std::size_t>(loaded.pageCount));
    // Once laid out, an image that has its file is read again from there when
    // its pages are drawn: holding the bytes of every loaded page image would
    // make a run of thousands of documents grow by each one. Its links now
    // live in the page link lists.
    if (!loaded.image.emfPath.empty()) std::vector<std::uint8_t>().swap(loaded.image.emfBytes);
    std::vector<LinkRecord>().swap(loaded.image.links);
    for (auto& page : layout.pageLinks) pageLinks_.push_back(std::move(page));
    imageEnd_.push_back((imageEnd_.empty() ? 0 : imageEnd_.back()) + loaded.pageCount);
    images_.push_back(std::move(loaded));
}

std::int32_t TessalineImpl::TotalPages() const {
    const std::int64_t total = imageEnd_.empty() ? 0 : imageEnd_.back();
    return total > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                            : static_cast<std::int32_t>(total);
}

HRESULT TessalineImpl::TotalPageCount(std::int32_t* count) const {
    if (!count) return E_INVALIDARG;
    *count = TotalPages();
    return S_OK;
}

HRESULT TessalineImpl::ConvertPage(std::int32_t page) {
    Info(StrFormat("ConvertPage called for page number %d", page));
    std::int32_t total = TotalPages();
    if (page < 0 || page >= total) {
        Error("Wrong parameter passed to ConvertPage");
        return E_INVALIDARG;
    }
    if (!pdf_.IsConnected()) {
        Error("No PDF document connected");
        return E_FAIL;
    }
    // The image holding the page: the first that ends after it.
    const auto k = static_cast<std::size_t>(std::upper_bound(imageEnd_.begin(), imageEnd_.end(), page) -
                                            imageEnd_.begin());
    const auto first = static_cast<std::int32_t>(k == 0 ? 0 : imageEnd_[k - 1]);
    const LoadedImage& img = images_[k];
    PageSettings settings = CurrentPageSettings(img.image);
    if (autoAdjustPageWidth_ && !Converter().AdjustPageWidth(*this, img.image, settings)) {
        Error("Setting the page width failed");
        return E_FAIL;
    }
    bool ok = Converter().Convert(*this, img.image, first, page - first, settings);
    const bool linked = page + 1 != total || CreateInternalLinks();
    if (!ok || !linked) return E_FAIL;
    Info(StrFormat("Page number %d converted", page));
    return S_OK;
}

HRESULT TessalineImpl::ConvertAll() {
    Info("ConvertAllPages called");
    if (!images_.empty() && !pdf_.IsConnected()) {
        Error("No PDF document connected");
        return E_FAIL;
    }
    std::int32_t first = 0;
    for (std::size_t k = 0; k < images_.size(); ++k) {
        const LoadedImage& img = images_[k];
        PageSettings settings = CurrentPageSettings(img.image);
        if (autoAdjustPageWidth_ && !Converter().AdjustPageWidth(*this, img.image, settings)) {
            Error("Setting the page width failed");
            return E_FAIL;
        }
        if (k > 0 && com::FAILED(SafeNewPage())) {
            Error("Adding a page failed");
            return E_FAIL;
        }
        if (!Converter().Convert(*this, img.image, first, -1, settings)) return E_FAIL;
        first += img.pageCount;
    }
    if (!CreateInternalLinks()) return E_FAIL;
    UnloadAll();
    return S_OK;
}

HRESULT TessalineImpl::SafeNewPage() {
    if (!pdf_.IsConnected()) return E_NOINTERFACE;
    HRESULT hr = pdf_.SafeNewPage();
    if (com::FAILED(hr)) return hr;
    Info("SafeNewPage called");
    return S_OK;
}

bool TessalineImpl::CreateInternalLinks() {
    if (!preserveLinks_ || !pdf_.IsConnected()) return true;
    std::int32_t total = TotalPages();
    // PDF page index of the add-on's page 0: the client has added one PDF
    // page per add-on page, the last of them being the last PDF page.
    std::int32_t offset = pdf_.PageCount() - total;
    anchors_.clear();
    for (int i = 0; i < static_cast<int>(pageLinks_.size()); ++i) {
        for (int c = 0; c < LinkCount(i); ++c) {
            LinkRecord l;
            if (GetLink(i, c, &l) && !l.name.empty()) anchors_.push_back({l.name, l.left, l.top, i + offset});
        }
    }
    // Selecting pages to link them must not move the client's current page.
    std::unordered_map<std::string, std::vector<const AnchorRecord*>> byName;  // folded name, in order
    for (const AnchorRecord& a : anchors_) byName[platform::FoldCase(a.name)].push_back(&a);
    std::int32_t current = pdf_.CurrentPage();
    bool moved = false, ok = true;
    for (int b = 0; b < static_cast<int>(pageLinks_.size()); ++b) {
        for (int c = 0; c < LinkCount(b); ++c) {
            LinkRecord l;
            if (!GetLink(b, c, &l)) continue;
            std::size_t hash = l.target.find('#');
            if (hash == std::string::npos) continue;
            const auto named = byName.find(platform::FoldCase(l.target.substr(hash + 1)));
            if (named == byName.end()) continue;
            for (const AnchorRecord* anchor : named->second) {
                const AnchorRecord& a = *anchor;
                if (b + offset < 0 || a.pdfPage < 0) continue;
                moved = true;
                std::int32_t dest = 0;
                if (com::FAILED(pdf_.SelectPage(b + offset)) || com::FAILED(pdf_.AddDestination(a.pdfPage, a.top, &dest)) ||
                    com::FAILED(pdf_.AddDestinationLink(l.left, l.top, l.right, l.bottom, dest))) {
                    Error(StrFormat("Linking page %d to anchor %s failed", b + offset, a.name.c_str()));
                    ok = false;
                    break;
                }
            }
            if (!ok) break;
        }
        if (!ok) break;
    }
    if (moved && current >= 0 && com::FAILED(pdf_.SelectPage(current))) ok = false;
    return ok;
}

HRESULT TessalineImpl::UnloadAll() {
    images_.clear();
    imageEnd_.clear();
    pageLinks_.clear();
    // The page code keeps the slices of the image it drew last; they go with
    // the images (and the slicer says so in the log while it is still open).
    converter_.reset();
    // Names are forgotten once deleted: another process may reuse a name
    // later, and its file is not ours to delete.
    for (const auto& name : tempFiles_) std::remove(name.c_str());
    tempFiles_.clear();
    return S_OK;
}

HRESULT TessalineImpl::SetLogFile(const std::string& name) { return log_.SetLogFile(name) ? S_OK : E_FAIL; }

HRESULT TessalineImpl::CreateDebugImages(const std::string& folder) {
    debugFolder_ = folder;
    Info("User set to create debug images in " + folder);
    return S_OK;
}

HRESULT TessalineImpl::SetDEPCompatibility(bool on) {
    depCompatible_ = on;
    Info(std::string("User set DEP compatibility mode to ") + (on ? "true" : "false"));
    return S_OK;
}

int TessalineImpl::LinkCount(int page) const {
    if (page < 0 || page >= static_cast<int>(pageLinks_.size())) return 0;
    return static_cast<int>(pageLinks_[static_cast<std::size_t>(page)].size());
}

const LinkRecord* TessalineImpl::FindLink(int page, int link) const {
    if (page < 0 || page >= static_cast<int>(pageLinks_.size())) return nullptr;
    const auto& links = pageLinks_[static_cast<std::size_t>(page)];
    if (link < 0 || link >= static_cast<int>(links.size())) return nullptr;
    return &links[static_cast<std::size_t>(link)];
}

namespace {
// Margins and coordinates are both client-chosen; their sum must not overflow.
int AddClamped(std::int32_t a, std::int32_t b) {
    std::int64_t s = static_cast<std::int64_t>(a) + b;
    if (s > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (s < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<int>(s);
}
}  // namespace

// The link as the queries report it: the rectangle moved by the margins.
bool TessalineImpl::GetLink(int page, int index, LinkRecord* out) const {
    const LinkRecord* l = FindLink(page, index);
    if (!l || !out) return false;
    *out = *l;
    out->left = AddClamped(l->left, marginLeft_);
    out->right = AddClamped(l->right, marginLeft_);
    out->top = AddClamped(l->top, marginTop_);
    out->bottom = AddClamped(l->bottom, marginTop_);
    return true;
}

HRESULT TessalineImpl::GetLinkCount(int page, int* count) const {
    if (!count) return E_INVALIDARG;
    *count = LinkCount(page);
    return S_OK;
}

HRESULT TessalineImpl::GetLinkName(int page, int link, std::string* name) const {
    const LinkRecord* l = FindLink(page, link);
    if (!l || !name) return E_INVALIDARG;
    *name = l->name;
    return S_OK;
}

HRESULT TessalineImpl::GetLinkText(int page, int link, std::string* target) const {
    const LinkRecord* l = FindLink(page, link);
    if (!l || !target) return E_INVALIDARG;
    *target = l->target;
    return S_OK;
}

HRESULT TessalineImpl::GetLinkTop(int page, int link, int* v) const {
    LinkRecord l;
    if (!v || !GetLink(page, link, &l)) return E_INVALIDARG;
    *v = l.top;
    return S_OK;
}

HRESULT TessalineImpl::GetLinkLeft(int page, int link, int* v) const {
    LinkRecord l;
    if (!v || !GetLink(page, link, &l)) return E_INVALIDARG;
    *v = l.left;
    return S_OK;
}

HRESULT TessalineImpl::GetLinkBottom(int page, int link, int* v) const {
    LinkRecord l;
    if (!v || !GetLink(page, link, &l)) return E_INVALIDARG;
    *v = l.bottom;
    return S_OK;
}

HRESULT TessalineImpl::GetLinkRight(int page, int link, int* v) const {
    LinkRecord l;
    if (!v || !GetLink(page, link, &l)) return E_INVALIDARG;
    *v = l.right;
    return S_OK;
}

void TessalineImpl::SetAutoAdjustPageWidth(bool v) {
    autoAdjustPageWidth_ = v;
    Info(StrFormat("Adjust Page set to %d", v ? 1 : 0));
}

void TessalineImpl::SetAutoAdjustContentWidth(bool v) {
    autoAdjustContentWidth_ = v;
    Info(StrFormat("Adjust Content set to %d", v ? 1 : 0));
}

HRESULT TessalineImpl::SetMarginLeft(std::int32_t v) {
    if (v < 0) return E_INVALIDARG;
    marginLeft_ = v;
    Info(StrFormat("MarginLeft set to %d", v));
    return S_OK;
}

HRESULT TessalineImpl::SetMarginRight(std::int32_t v) {
    if (v < 0) return E_INVALIDARG;
    marginRight_ = v;
    return S_OK;
}

HRESULT TessalineImpl::SetMarginTop(std::int32_t v) {
    if (v < 0) return E_INVALIDARG;
    marginTop_ = v;
    Info(StrFormat("MarginTop set to %d", v));
    return S_OK;
}

HRESULT TessalineImpl::SetMarginBottom(std::int32_t v) {
    if (v < 0) return E_INVALIDARG;
    marginBottom_ = v;
    Info(StrFormat("MarginBottom set to %d", v));
    return S_OK;
}

void TessalineImpl::SetBaseURL(const std::string& v) {
    baseUrl_ = v;
    Info("Base URL set to " + v);
}

void TessalineImpl::SetPreserveLinks(bool v) {
    preserveLinks_ = v;
    Info(StrFormat("Use Links set to %d", v ? 1 : 0));
}

void TessalineImpl::SetPageTimeout(std::int32_t ms) {
    pageTimeout_ = ms;
    Info(StrFormat("Page timeout set to %d seconds", ms / 1000));
}

void TessalineImpl::SetMinimalWidth(std::int32_t px) {
    minimalWidth_ = px;
    Info(StrFormat("Minimal width set to %d", px));
}

}  // namespace tessaline
