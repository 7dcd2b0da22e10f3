#include "browser/engine_choice.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>

#include "browser/browser_engine.h"
#include "addon/common/document_loader.h"
#include "htmlengine/page_image_loader.h"
#include "platform/com_server.h"

namespace browser {
namespace {

using htmlengine::HtmlEngine;
using htmlengine::RenderRequest;
using htmlengine::RenderResult;

constexpr std::size_t kMaxStyleFile = 8u << 20;
constexpr int kMaxSheets = 32;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    std::string s(kMaxStyleFile, '\0');
    f.read(s.data(), static_cast<std::streamsize>(s.size()));
    s.resize(static_cast<std::size_t>(f.gcount()));
    return s;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// The file a reference names from `folder` ("" when it is no file).
std::string FileOf(std::string ref, const std::string& folder) {
    if (auto cut = ref.find_first_of("?#"); cut != std::string::npos) ref.erase(cut);
    if (ref.empty()) return {};
    std::string low = Lower(ref.substr(0, std::min<std::size_t>(ref.size(), 8)));
    if (low.starts_with("file://")) return PercentDecode(ref.substr(7));
    auto colon = ref.find(':'), slash = ref.find('/');
    if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) return {};  // another scheme
    if (ref.starts_with("//")) return {};
    if (ref.front() == '/') return PercentDecode(ref);
    return folder + "/" + PercentDecode(ref);
}

std::string FolderOfPath(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Linked style sheets and imports named in `text`.
std::vector<std::string> StyleReferences(const std::string& text, bool html) {
    std::vector<std::string> refs;
    static const std::regex link(R"re(<link\b[^>]*>)re", std::regex::icase);
    static const std::regex rel(R"re(\brel\s*=\s*["']?[^"'>]*stylesheet)re", std::regex::icase);
    static const std::regex href(R"re(\bhref\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))re", std::regex::icase);
    static const std::regex import(R"re(@import\s+(?:url\(\s*)?["']?([^"')\s;]+))re", std::regex::icase);
    if (html) {
        for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
            std::string tag = it->str();
            std::smatch h;
            if (!std::regex_search(tag, rel) || !std::regex_search(tag, h, href)) continue;
            refs.push_back(h[1].matched ? h[1].str() : h[2].matched ? h[2].str() : h[3].str());
        }
    }
    for (std::sregex_iterator it(text.begin(), text.end(), import), end; it != end; ++it) refs.push_back((*it)[1].str());
    return refs;
}

class ChoosingEngine final : public HtmlEngine {
public:
    ChoosingEngine(std::unique_ptr<HtmlEngine> light, EngineChoiceOptions o)
        : light_(std::move(light)), options_(std::move(o)) {}

    RenderResult Render(const RenderRequest& req) override {
        if (drewOne_) {
            for (const RenderRequest& r : lightAhead_) light_->Prefetch(r);
            lightAhead_.clear();
        }
        drewOne_ = true;
        EngineKind kind = ParseEngineKind(req.engine);
        const bool installed = options_.browserInstalled ? options_.browserInstalled() : false;
        if (kind == EngineKind::Browser) {
            if (!installed) {
                RenderResult r;
                r.crashed = true;
                r.warnings.push_back("HTML engine: browser, but no browser is installed");
                return r;
            }
            return WithLine(Browser().Render(req), "HTML engine: browser");
        }
        if (kind == EngineKind::Light) return WithLine(light_->Render(req), "HTML engine: light");

        const std::string reason = ReasonFor(req);
        if (!reason.empty()) {
            if (installed) return WithLine(Browser().Render(req), "HTML engine: browser (" + reason + ")");
            return WithLine(light_->Render(req), "HTML engine: light (" + reason + ", but no browser is installed)");
        }
        RenderResult r = light_->Render(req);
        const int wide = std::max(r.scrollWidth, r.bodyScrollWidth);
        const int page = std::max(1, req.minimalWidth);
        if (installed && r.documentAvailable && !r.crashed && wide > page * kWideLayoutFactor) {
            return WithLine(Browser().Render(req), "HTML engine: browser (the light layout is " + std::to_string(wide) +
                                                       " pixels wide)");
        }
        return WithLine(std::move(r), "HTML engine: light");
    }
    void WarmUp() override { light_->WarmUp(); }
    // The document goes ahead to the engine that will draw it, as far as
    // that is known before a layout: a document the light layout finds too
    // wide is not sent to the browser ahead. The browser is the run's and
    // serves every add-on object of it; the light engine's work ahead lives
    // in this object's layout processes and ends with it, so it starts only
    // once this object is seen to draw more than one document (a run that
    // makes an object per file would lay out every file twice).
    void Prefetch(const RenderRequest& req) override {
        EngineKind kind = ParseEngineKind(req.engine);
        const bool installed = options_.browserInstalled ? options_.browserInstalled() : false;
        if (kind == EngineKind::Auto) kind = installed && !ReasonFor(req).empty() ? EngineKind::Browser : EngineKind::Light;
        if (kind != EngineKind::Light) {
            if (installed) Browser().Prefetch(req);
        } else if (drewOne_) {
            light_->Prefetch(req);
        } else if (lightAhead_.size() < kHeldAhead) {
            lightAhead_.push_back(req);
        }
    }
    void ReleaseDeferred() override { light_->ReleaseDeferred(); }
    void SetWaitHook(std::function<bool()> hook) override {
        hook_ = hook;
        light_->SetWaitHook(hook);
        if (browser_) browser_->SetWaitHook(std::move(hook));
    }

private:
    // Why "auto" draws the document with the browser; "" when it does not
    // before its light layout is seen.
    static std::string ReasonFor(const RenderRequest& req) {
        const bool web = req.kind == RenderRequest::Kind::Address &&
                         (Lower(req.address).starts_with("http://") || Lower(req.address).starts_with("https://"));
        if (web) return "a web address";
        return BrowserReason(ScanStyle(DocumentStyleText(req)));
    }
    static RenderResult WithLine(RenderResult r, std::string line) {
        r.warnings.insert(r.warnings.begin(), std::move(line));
        return r;
    }
    HtmlEngine& Browser() {
        if (!browser_) {
            browser_ = options_.makeBrowser ? options_.makeBrowser() : CreateBrowserEngine();
            browser_->SetWaitHook(hook_);
        }
        return *browser_;
    }

    static constexpr std::size_t kHeldAhead = 16;

    std::unique_ptr<HtmlEngine> light_;
    std::unique_ptr<HtmlEngine> browser_;
    EngineChoiceOptions options_;
    std::function<bool()> hook_;
    bool drewOne_ = false;
    std::vector<RenderRequest> lightAhead_;  // announced before the first document was drawn
};

}  // namespace

EngineKind ParseEngineKind(std::string_view word) {
    std::string w = Lower(word);
    if (w == "light") return EngineKind::Light;
    if (w == "browser") return EngineKind::Browser;
    return EngineKind::Auto;
}

StyleSignals ScanStyle(std::string_view css) {
    StyleSignals s;
    const std::string low = Lower(css);
    // "display" then blanks or comments-free space, ":" and the value.
    for (std::size_t at = low.find("display"); at != std::string::npos; at = low.find("display", at + 7)) {
        std::size_t i = at + 7;
        while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) ++i;
        if (i >= low.size() || low[i] != ':') continue;
        ++i;
        while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) ++i;
        std::string_view v = std::string_view(low).substr(i, 12);
        if (v.starts_with("inline-")) v.remove_prefix(7);
        if (v.starts_with("flex") || v.starts_with("grid")) ++s.flexGrid;
    }
    for (std::size_t at = low.find("var("); at != std::string::npos; at = low.find("var(", at + 4)) {
        std::size_t i = at + 4;
        while (i < low.size() && std::isspace(static_cast<unsigned char>(low[i]))) ++i;
        if (low.compare(i, 2, "--") == 0 && (at == 0 || !std::isalnum(static_cast<unsigned char>(low[at - 1]))))
            ++s.customProperties;
    }
    return s;
}

std::string BrowserReason(const StyleSignals& s) {
    if (s.customProperties >= 3) return "custom properties in the style sheets";
    if (s.flexGrid >= 6) return "flex or grid layout in the style sheets";
    return {};
}

std::string DocumentStyleText(const RenderRequest& req) {
    std::string text, folder;
    if (req.kind == RenderRequest::Kind::String) {
        text = req.html.substr(0, kMaxStyleFile);
        std::string base = FileOf(req.baseUrl, ".");
        folder = base.empty() ? std::string() : (base.ends_with('/') ? base.substr(0, base.size() - 1) : FolderOfPath(base));
    } else {
        std::string path = FileOf(req.address, ".");
        if (path.empty()) return {};
        std::string low = Lower(path);
        if (low.ends_with(".txt")) return {};
        text = ReadFile(path);
        folder = FolderOfPath(path);
    }
    // A <base> of the document moves its relative references.
    static const std::regex baseTag(R"re(<base\b[^>]*\bhref\s*=\s*["']?([^"'\s>]+))re", std::regex::icase);
    if (std::smatch m; std::regex_search(text, m, baseTag)) {
        std::string base = FileOf(m[1].str(), folder.empty() ? std::string(".") : folder);
        if (!base.empty()) folder = base.ends_with('/') ? base.substr(0, base.size() - 1) : FolderOfPath(base);
    }
    std::string all = text;
    if (folder.empty()) return all;
    std::set<std::string> seen;
    std::vector<std::pair<std::string, int>> todo;  // (file, depth)
    for (auto& r : StyleReferences(text, true))
        if (auto f = FileOf(r, folder); !f.empty()) todo.emplace_back(f, 0);
    for (std::size_t i = 0; i < todo.size() && static_cast<int>(seen.size()) < kMaxSheets; ++i) {
        auto [file, depth] = todo[i];
        if (!seen.insert(file).second) continue;
        std::string sheet = ReadFile(file);
        if (depth == 0)
            for (auto& r : StyleReferences(sheet, false))
                if (auto f = FileOf(r, FolderOfPath(file)); !f.empty()) todo.emplace_back(f, 1);
        all += '\n';
        all += sheet;
    }
    return all;
}

std::unique_ptr<HtmlEngine> CreateChoosingEngine(std::unique_ptr<HtmlEngine> light, EngineChoiceOptions options) {
    return std::make_unique<ChoosingEngine>(std::move(light), std::move(options));
}

namespace {

// The browser of the run. Starting it costs about as much as drawing a
// page, and a run makes an add-on object for every file: the first document
// that needs the browser starts it, every later one of the run uses it, and
// it ends with the component runtime (EndRunBrowser, from the library's
// DllShutdown). The library stays loaded meanwhile (a lock on the server),
// or unloading it would end the browser after every file. Add-on objects
// drawing at the same time each use a browser of their own while the run's
// is busy.
struct KeptBrowser {
    std::mutex busy;  // held while the run's browser draws
    std::unique_ptr<HtmlEngine> engine;
};

KeptBrowser& TheRunBrowser() {
    static KeptBrowser kept;
    return kept;
}

class RunBrowser final : public HtmlEngine {
public:
    RenderResult Render(const RenderRequest& req) override {
        KeptBrowser& run = TheRunBrowser();
        std::unique_lock busy(run.busy, std::try_to_lock);
        if (!busy) {
            if (!own_) own_ = CreateBrowserEngine();
            own_->SetWaitHook(hook_);
            return own_->Render(req);
        }
        HtmlEngine& kept = Kept(run);
        kept.SetWaitHook(hook_);
        struct Unhook {
            HtmlEngine& e;
            ~Unhook() { e.SetWaitHook({}); }
        } unhook{kept};
        return kept.Render(req);
    }
    // Announced documents are loaded ahead in the run's browser (which
    // starts for them): the next add-on object of the run finds them there.
    // While another object draws with it, the announcement is dropped.
    void Prefetch(const RenderRequest& req) override {
        KeptBrowser& run = TheRunBrowser();
        std::unique_lock busy(run.busy, std::try_to_lock);
        if (!busy) return;
        Kept(run).Prefetch(req);
    }
    void SetWaitHook(std::function<bool()> hook) override { hook_ = std::move(hook); }

private:
    static HtmlEngine& Kept(KeptBrowser& run) {
        if (!run.engine) {
            run.engine = CreateBrowserEngine();
            ++com::server::g_lockCount;
        }
        return *run.engine;
    }
    std::function<bool()> hook_;
    std::unique_ptr<HtmlEngine> own_;
};

}  // namespace

void EndRunBrowser() {
    KeptBrowser& run = TheRunBrowser();
    std::lock_guard busy(run.busy);  // a document being drawn is finished first
    if (!run.engine) return;
    run.engine.reset();
    --com::server::g_lockCount;
}

std::unique_ptr<HtmlEngine> CreateRunBrowserEngine() { return std::make_unique<RunBrowser>(); }

std::unique_ptr<HtmlEngine> CreateAddonEngine() {
    EngineChoiceOptions o;
    o.makeBrowser = CreateRunBrowserEngine;
    o.browserInstalled = [] { return !FindBrowser().empty(); };
    return CreateChoosingEngine(htmlengine::CreateDefaultEngine(), std::move(o));
}

}  // namespace browser

namespace tessaline {
// The add-on's loader: both engines behind the page-image logic.
std::unique_ptr<DocumentLoader> CreateDocumentLoader(EventLog& log) {
    return htmlengine::CreatePageImageLoader(log, browser::CreateAddonEngine());
}
}  // namespace tessaline
