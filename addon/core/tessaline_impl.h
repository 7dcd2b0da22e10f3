// The one implementation behind both automation classes. It keeps the
// settings, the connected PDF document, the page images with their page
// counts, the page link lists and the anchors, and numbers pages from 0
// across all page images in load order. Strings are UTF-8 here; the classes
// convert at the interface. Everything runs in the caller's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addon/common/document_loader.h"
#include "addon/common/event_log.h"
#include "addon/common/page_converter.h"
#include "addon/common/page_image.h"
#include "addon/common/pdf_target.h"
#include "platform/com.h"

namespace tessaline {

class TessalineImpl final : private PageHost {
public:
    // Factories for the engine and the page code; defaults are those of this
    // build. Tests hand in their own.
    using LoaderFactory = std::function<std::unique_ptr<DocumentLoader>(EventLog&)>;
    using ConverterFactory = std::function<std::unique_ptr<PageConverter>()>;
    static LoaderFactory DefaultLoaderFactory();
    static ConverterFactory DefaultConverterFactory();
    // Ends what the default loaders of a run share (the browser the run's
    // documents were drawn with); called when the component runtime ends.
    static void EndSharedLoaders();

    TessalineImpl();
    TessalineImpl(LoaderFactory loaders, ConverterFactory converters);
    ~TessalineImpl();
    TessalineImpl(const TessalineImpl&) = delete;
    TessalineImpl& operator=(const TessalineImpl&) = delete;

    EventLog& Log() override { return log_; }
    const EventLog& Log() const { return log_; }

    // `engine`: which HTML engine draws the documents ("light", "browser",
    // "auto"; anything else is "auto").
    com::HRESULT StartHTMLEngine(const std::string& engine = "");
    com::HRESULT ConnectToPDFLibrary(com::IUnknown* obj);
    com::HRESULT DisconnectFromPDFLibrary();
    com::HRESULT LoadHTMLString(const std::string& html, const std::string& baseUrl);
    // Files and URLs alike.
    com::HRESULT LoadHTMLFile(const std::string& source, const std::string& baseUrl);
    // A file LoadHTMLFile will soon be asked for (no base address).
    void AnnounceHTMLFile(const std::string& source);
    // Called while later loads wait (the client's message pump); false
    // abandons the load. Empty: none.
    void SetWaitHook(std::function<bool()> hook) { waitHook_ = std::move(hook); }
    com::HRESULT TotalPageCount(std::int32_t* count) const;
    com::HRESULT ConvertPage(std::int32_t page);
    com::HRESULT ConvertAll();
    com::HRESULT SafeNewPage();
    com::HRESULT UnloadAll();
    com::HRESULT SetLogFile(const std::string& name);
    com::HRESULT CreateDebugImages(const std::string& folder);
    com::HRESULT SetDEPCompatibility(bool on);

    com::HRESULT GetLinkCount(int page, int* count) const;
    com::HRESULT GetLinkName(int page, int link, std::string* name) const;
    com::HRESULT GetLinkText(int page, int link, std::string* target) const;
    com::HRESULT GetLinkTop(int page, int link, int* v) const;
    com::HRESULT GetLinkLeft(int page, int link, int* v) const;
    com::HRESULT GetLinkBottom(int page, int link, int* v) const;
    com::HRESULT GetLinkRight(int page, int link, int* v) const;

    // Properties. Setters validate and log; getters never fail.
    bool AutoAdjustPageWidth() const { return autoAdjustPageWidth_; }
    void SetAutoAdjustPageWidth(bool v);
    bool AutoAdjustContentWidth() const { return autoAdjustContentWidth_; }
    void SetAutoAdjustContentWidth(bool v);
    std::int32_t MarginLeft() const { return marginLeft_; }
    std::int32_t MarginRight() const { return marginRight_; }
    std::int32_t MarginTop() const { return marginTop_; }
    std::int32_t MarginBottom() const { return marginBottom_; }
    // E_INVALIDARG for a negative value, which is not stored.
    com::HRESULT SetMarginLeft(std::int32_t v);
    com::HRESULT SetMarginRight(std::int32_t v);
    com::HRESULT SetMarginTop(std::int32_t v);
    com::HRESULT SetMarginBottom(std::int32_t v);
    const std::string& BaseURL() const { return baseUrl_; }
    void SetBaseURL(const std::string& v);
    bool PreserveLinks() const { return preserveLinks_; }
    void SetPreserveLinks(bool v);
    std::int32_t PageTimeout() const { return pageTimeout_; }
    void SetPageTimeout(std::int32_t ms);
    std::int32_t MinimalWidth() const { return minimalWidth_; }
    void SetMinimalWidth(std::int32_t px);

    // For tests and the page code.
    bool IsConnected() const { return pdf_.IsConnected(); }
    const std::vector<AnchorRecord>& Anchors() const { return anchors_; }
    const std::vector<std::string>& TempFiles() const { return tempFiles_; }
    float RenderScale() const { return renderScale_; }
    std::size_t PageImageCount() const { return images_.size(); }

private:
    struct LoadedImage {
        PageImage image;
        std::int32_t pageCount = 0;
    };

    // PageHost
    PdfTarget& Pdf() override { return pdf_; }
    // The client's wait hook; its wish to stop is taken up by the client
    // itself once the call that does the long step returns.
    void LetClientRun() override {
        if (waitHook_) waitHook_();
    }
    int LinkCount(int page) const override;
    bool GetLink(int page, int index, LinkRecord* out) const override;

    void Info(const std::string& message) { log_.Write(kSource, message); }
    void Error(const std::string& message) { log_.WriteError(kSource, message); }
    LoadSettings CurrentLoadSettings() const;
    // The settings for drawing `image` (its own render scale).
    PageSettings CurrentPageSettings(const PageImage& image) const;
    void AcceptLoad(LoadResult&& result);
    const LinkRecord* FindLink(int page, int link) const;
    std::int32_t TotalPages() const;
    // False when the document refused a link (logged).
    bool CreateInternalLinks();
    DocumentLoader& Loader();
    PageConverter& Converter();

    static constexpr const char* kSource = "TessalineImpl";

    EventLog log_;
    PdfTarget pdf_;
    LoaderFactory loaderFactory_;
    ConverterFactory converterFactory_;
    std::unique_ptr<DocumentLoader> loader_;
    std::unique_ptr<PageConverter> converter_;

    bool preserveLinks_ = true;
    bool autoAdjustPageWidth_ = false;
    bool autoAdjustContentWidth_ = false;
    std::int32_t marginLeft_ = 0;
    std::int32_t marginTop_ = 0;
    std::int32_t marginRight_ = 0;
    std::int32_t marginBottom_ = 0;
    std::int32_t minimalWidth_ = 800;
    std::int32_t pageTimeout_ = 80000;
    std::string baseUrl_;
    std::vector<std::string> tempFiles_;
    std::vector<LoadedImage> images_;
    // Per image: the add-on pages up to and including it, so that finding a
    // page's image costs no walk over every image loaded before.
    std::vector<std::int64_t> imageEnd_;
    std::vector<std::vector<LinkRecord>> pageLinks_;
    std::vector<AnchorRecord> anchors_;
    std::string debugFolder_;
    std::function<bool()> waitHook_;
    bool depCompatible_ = true;
    std::string htmlEngine_;
    float renderScale_ = 1.0f;
};

// The three values StartHTMLEngine logs.
std::string OperatingSystemText();
std::string HtmlEngineText();
std::string RunningVersionText();

}  // namespace tessaline
