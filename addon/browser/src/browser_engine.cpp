#include "browser/browser_engine.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "devtools_pipe.h"
#include "emf/player.h"
#include "facts_script.h"
#include "pagedraw/pdf_pages.h"
#include "platform/paths.h"
#include "platform/step_times.h"

namespace browser {
namespace {

using htmlengine::AnchorFacts;
using htmlengine::ElementFacts;
using htmlengine::IntRect;
using htmlengine::RenderRequest;
using htmlengine::RenderResult;

// The printer refuses pages taller than some 910 inches (65,520 points), the
// page converter those of 800 inches or more.
constexpr double kMaxPageInches = 790;
constexpr double kMaxPagePx = kMaxPageInches * 96;
constexpr double kMinScale = 0.1;  // the smallest print scale the printer takes
// Documents are printed at half their size. What the browser rasterises
// when it prints (blurred shadows, masks, filters) it makes at a fixed
// resolution of the paper, so half the paper is a quarter of that work; the
// page converter doubles its resolution to match, and text and pictures keep
// their pixels per document pixel (measured on eight shadowed pages: the
// print 11.0 s -> 5.9 s, the same words, 0.05% of pixels changed at 50 dpi).
// At a quarter those rasters get coarser than the screen's pixels.
constexpr double kPrintScale = 0.5;
// The page image's limit (the loader's): what lies below is not printed.
constexpr double kMaxDocumentPx = 8000000;
constexpr int kScreenHeight = 1080;
constexpr int kPrintSlackPx = 4;

// Time for starting the browser, and for the steps after the load (reading
// the facts, printing): a long document takes a while to print.
constexpr auto kStartTime = std::chrono::seconds(30);
constexpr auto kMinAfterLoad = std::chrono::seconds(60);
constexpr auto kCloseTime = std::chrono::seconds(5);
// A proxy address where nothing answers.
constexpr const char* kNoProxy = "http://127.0.0.1:1";
constexpr auto kScriptPatience = std::chrono::seconds(3);

std::string SchemeOf(const std::string& url) {
    auto colon = url.find(':');
    if (colon == std::string::npos) return {};
    std::string s = url.substr(0, colon);
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "http://host:port" of an address (lower-case scheme and host), "" for others.
std::string OriginOf(const std::string& url) {
    std::string scheme = SchemeOf(url);
    if (scheme != "http" && scheme != "https") return {};
    auto start = url.find("//");
    if (start == std::string::npos) return {};
    start += 2;
    auto end = url.find_first_of("/?#", start);
    std::string host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (auto at = host.rfind('@'); at != std::string::npos) host.erase(0, at + 1);
    for (auto& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme + "://" + host;
}

bool Base64Decode(const std::string& in, std::vector<std::uint8_t>& out) {
    static const auto table = [] {
        std::array<int, 256> t{};
        t.fill(-1);
        const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(a[i])] = i;
        return t;
    }();
    out.clear();
    out.reserve(in.size() / 4 * 3);
    std::uint32_t acc = 0;
    int bits = 0;
    for (char ch : in) {
        if (ch == '=') break;
        int v = table[static_cast<unsigned char>(ch)];
        if (v < 0) return false;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
        }
    }
    return true;
}

std::vector<IntRect> Rects(const Json& j) {
    std::vector<IntRect> rects;
    if (!j.is_array()) return rects;
    for (const auto& r : j) {
        if (!r.is_array() || r.size() != 4) continue;
        auto v = [&](int i) {
            double d = r[i].is_number() ? r[i].get<double>() : 0;
            return static_cast<int>(std::clamp(d, -1e9, 1e9));
        };
        rects.push_back({v(0), v(1), v(2), v(3)});
    }
    return rects;
}

std::string Str(const Json& j) { return j.is_string() ? j.get<std::string>() : std::string(); }
int Int(const Json& j) { return j.is_number() ? static_cast<int>(std::clamp(j.get<double>(), -1e9, 1e9)) : 0; }

// The facts the script answered, read defensively: the page's own script
// may have replaced what the facts script calls.
struct Facts {
    std::string compat, url;
    int sw = 0, sh = 0, bsw = 0, bottom = 0;
    bool frameset = false;
    std::vector<ElementFacts> elements;
    std::vector<AnchorFacts> anchors;
};

bool ReadFacts(const std::string& text, Facts& f) {
    Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return false;
    f.compat = Str(j.value("compat", Json()));
    f.url = Str(j.value("url", Json()));
    f.sw = Int(j.value("sw", Json())), f.sh = Int(j.value("sh", Json())), f.bsw = Int(j.value("bsw", Json()));
    f.bottom = Int(j.value("bottom", Json()));
    f.frameset = j.value("frameset", Json(false)).is_boolean() && j["frameset"].get<bool>();
    if (auto el = j.value("el", Json()); el.is_array()) {
        for (const auto& e : el) {
            if (!e.is_array() || e.size() != 4) continue;
            ElementFacts x;
            x.tag = Str(e[0]);
            x.breakBefore = e[1].is_boolean() && e[1].get<bool>();
            x.breakAfter = e[2].is_boolean() && e[2].get<bool>();
            x.rects = Rects(e[3]);
            f.elements.push_back(std::move(x));
        }
    }
    if (auto as = j.value("a", Json()); as.is_array()) {
        for (const auto& a : as) {
            if (!a.is_array() || a.size() != 5) continue;
            AnchorFacts x;
            x.href = Str(a[0]), x.hrefAttr = Str(a[1]), x.protocol = Str(a[2]), x.name = Str(a[3]);
            x.rects = Rects(a[4]);
            f.anchors.push_back(std::move(x));
        }
    }
    return true;
}

// What the browser made of one document: its facts and its print, or why
// there is none.
struct Printed {
    RenderResult out;               // all but the drawing
    std::vector<std::uint8_t> pdf;  // the document on tall pages; empty when not printed
    PrintPlan plan;
    bool abandoned = false;         // stopped by its keep-going test
    // Drawn as a fresh load would draw it: a load cut short or failed is
    // done again rather than taken from work done ahead.
    bool Whole() const { return !abandoned && !pdf.empty() && out.documentAvailable && !out.timedOut && !out.crashed; }
};

// One browser and the documents loaded in it, each in a tab of its own;
// several threads may load at once, each its own document.
class BrowserSession {
public:
    explicit BrowserSession(BrowserOptions o) : options_(std::move(o)) {}
    // With no load running: the browser is ended (its reading thread with
    // it) while the tabs' list its events look at is still there.
    ~BrowserSession() {
        PipePtr pipe, spare;
        {
            std::lock_guard lock(mutex_);
            pipe = std::move(pipe_), spare = std::move(sparePipe_);
            spare_.reset();
        }
        // Ended here, out of the lock: their last events may want it.
    }
    // Loads the document in a tab of its own, reads its facts and prints it.
    // `keepGoing` is asked at least every 50 ms while the browser works
    // (not while it starts); false abandons the load, and the browser is
    // kept for the next.
    Printed Load(const RenderRequest& req, const std::function<bool()>& keepGoing);

private:
    using PipePtr = std::shared_ptr<DevToolsPipe>;
    // One document in one tab. Its loader's thread alone writes it, but for
    // what the events read, which is written with the session's lock held.
    struct Tab {
        DevToolsPipe* pipe = nullptr;  // kept by whoever keeps the tab
        Waiter* waiter = nullptr;
        std::string contextId, targetId, session;
        long targetCall = 0;  // the command making its page, while it is not answered
        std::atomic<bool> loaded{false}, crashed{false};
        // Read and written by the events with the lock held.
        std::string frameId;
        std::string allowedOrigin;  // web address's origin, "" for none
        bool urlMode = false;

        std::optional<Json> Call(const std::string& method, const Json& params, Clock::time_point deadline,
                                 std::string& error) const {
            return pipe->Call(method, params, session, deadline, error, waiter);
        }
        bool Abandoned() const { return waiter && waiter->abandoned; }
    };
    using TabPtr = std::shared_ptr<Tab>;

    // The browser, started when there is none running; null with `error` set.
    PipePtr Browser(std::string& error);
    // A browser that misbehaves is not used for new tabs.
    void Drop(DevToolsPipe* pipe);
    // An event of the browser's whose pipe is `pipe`.
    void OnEvent(DevToolsPipe& pipe, const Json& m);
    // Reads the facts with the tab's script; false when the tab does not answer.
    bool Evaluate(Tab& t, const std::string& expr, Clock::time_point deadline, std::string& value,
                  std::string& error);
    // Opens a tab in a context of its own whose connections go to `bypass`
    // hosts only; null (the browser dropped when it cannot even make one)
    // with `error` set. Its page is asked for and not waited for: FinishTab
    // completes the tab.
    TabPtr OpenTab(DevToolsPipe& pipe, Waiter* waiter, const std::string& bypass, Clock::time_point deadline,
                   std::string& error);
    // Attaches to the tab's page and sets it up for a document `width`
    // pixels wide, the commands sent together.
    bool FinishTab(const TabPtr& t, int width, Clock::time_point deadline, std::string& error);
    void CloseTab(Tab& t);
    // A tab for a next document, opened while this one loads or is
    // converted: the browser makes its page process meanwhile.
    void PrepareSpare(const PipePtr& pipe, Waiter& waiter);
    TabPtr TakeSpare(const PipePtr& pipe);
    void StopScripts(Tab& t);
    bool Print(Tab& t, int width, int height, Printed& printed, Clock::time_point deadline, std::string& error);

    const BrowserOptions options_;
    std::mutex starting_;  // one browser is started at a time
    std::mutex mutex_;     // guards what follows
    PipePtr pipe_;
    PipePtr sparePipe_;
    TabPtr spare_;
    bool spareComing_ = false;
    std::map<std::string, std::weak_ptr<Tab>> tabs_;  // by their session, for the events
};

BrowserSession::PipePtr BrowserSession::Browser(std::string& error) {
    std::lock_guard start(starting_);
    PipePtr dead, deadSpare;
    {
        std::lock_guard lock(mutex_);
        if (pipe_ && pipe_->Alive()) return pipe_;
        dead = std::move(pipe_);
        if (sparePipe_ && !sparePipe_->Alive()) deadSpare = std::move(sparePipe_), spare_.reset();
    }
    dead.reset(), deadSpare.reset();  // ended out of the lock: its events may want it
    std::string program = options_.program.empty() ? FindBrowser() : options_.program;
    if (program.empty()) {
        error = "no browser is installed";
        return nullptr;
    }
    std::vector<std::string> args = {
        "--headless", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
        "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-extensions",
        "--disable-default-apps", "--mute-audio", "--hide-scrollbars", "--force-color-profile=srgb",
        // Frames in the page's own process, so that the tab's request filter sees their requests too.
        "--disable-site-isolation-trials", "--disable-features=Translate,MediaRouter,OptimizationHints,IsolateOrigins,site-per-process", "--js-flags=--max-old-space-size=1024",
    };
    // The browser's own sandbox refuses to run as root.
    if (::geteuid() == 0) args.push_back("--no-sandbox");
    PipePtr pipe = DevToolsPipe::Launch(program, args, error);
    if (!pipe) return nullptr;
    pipe->SetEventHandler([this, p = pipe.get()](const Json& m) { OnEvent(*p, m); });
    // The first answer tells that the browser is up.
    auto v = pipe->Call("Browser.getVersion", Json::object(), "", Clock::now() + kStartTime, error);
    if (!v) {
        error = "the browser did not start: " + error;
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    pipe_ = pipe;
    return pipe;
}

void BrowserSession::Drop(DevToolsPipe* pipe) {
    PipePtr dropped, droppedSpare;
    TabPtr spare;
    {
        std::lock_guard lock(mutex_);
        if (pipe_.get() == pipe) dropped = std::move(pipe_);
        if (sparePipe_.get() == pipe) droppedSpare = std::move(sparePipe_), spare = std::move(spare_);
    }
}

void BrowserSession::OnEvent(DevToolsPipe& pipe, const Json& m) {
    std::string method = Str(m.value("method", Json()));
    std::string session = Str(m.value("sessionId", Json()));
    if (session.empty()) return;
    std::unique_lock lock(mutex_);
    auto it = tabs_.find(session);
    TabPtr tab = it == tabs_.end() ? nullptr : it->second.lock();
    if (!tab) return;
    Tab& t = *tab;
    const Json params = m.value("params", Json::object());
    if (method == "Fetch.requestPaused") {
        std::string id = Str(params.value("requestId", Json()));
        std::string url = params.contains("request") ? Str(params["request"].value("url", Json())) : "";
        std::string scheme = SchemeOf(url);
        bool allow = scheme == "file" || scheme == "data" || scheme == "blob" || scheme == "about";
        if (!allow && t.urlMode) {
            std::string origin = OriginOf(url);
            if (!origin.empty() && origin == t.allowedOrigin) allow = true;
            // The main document's redirects during the first navigation.
            else if (!t.loaded && Str(params.value("resourceType", Json())) == "Document" &&
                     Str(params.value("frameId", Json())) == t.frameId && !origin.empty()) {
                t.allowedOrigin = origin;
                allow = true;
            }
        }
        lock.unlock();
        if (allow) pipe.Post("Fetch.continueRequest", {{"requestId", id}}, session);
        else pipe.Post("Fetch.failRequest", {{"requestId", id}, {"errorReason", "BlockedByClient"}}, session);
    } else if (method == "Page.loadEventFired") {
        t.loaded = true;
    } else if (method == "Inspector.targetCrashed") {
        t.crashed = true;
    } else if (method == "Page.javascriptDialogOpening") {
        // Nobody is there to answer a dialog; it would hold the page forever.
        lock.unlock();
        pipe.Post("Page.handleJavaScriptDialog", {{"accept", false}}, session);
    }
}

void BrowserSession::StopScripts(Tab& t) {
    t.pipe->Post("Runtime.terminateExecution", Json::object(), t.session);
    t.pipe->Post("Emulation.setScriptExecutionDisabled", {{"value", true}}, t.session);
}

bool BrowserSession::Evaluate(Tab& t, const std::string& expr, Clock::time_point deadline, std::string& value,
                              std::string& error) {
    const Json params = {{"expression", expr}, {"returnByValue", true}};
    // The page's own script may still be busy (a timer that never returns):
    // when the tab does not answer soon, its scripts are stopped for good.
    auto r = t.Call("Runtime.evaluate", params, std::min(deadline, Clock::now() + kScriptPatience), error);
    if (!r && t.pipe->Alive() && !t.Abandoned() && !t.crashed && Clock::now() < deadline) {
        StopScripts(t);
        r = t.Call("Runtime.evaluate", params, deadline, error);
    }
    if (!r) return false;
    if (r->contains("exceptionDetails")) {
        error = "the facts script failed";
        return false;
    }
    const Json res = r->value("result", Json::object());
    value = Str(res.value("value", Json()));
    return true;
}

void BrowserSession::CloseTab(Tab& t) {
    if (!t.pipe) return;
    DevToolsPipe& pipe = *t.pipe;
    if (!t.session.empty()) {
        std::lock_guard lock(mutex_);
        tabs_.erase(t.session);
    }
    // Closed whatever the caller says: an abandoned load's tab goes too.
    std::string error;
    bool ok = true;
    if (t.targetCall) {
        // A page asked for and never waited for.
        auto target = pipe.Await(t.targetCall, Clock::now() + kCloseTime, error);
        ok = target.has_value();
        if (target) t.targetId = Str(target->value("targetId", Json()));
        t.targetCall = 0;
    }
    // Closed without waiting: a browser that hangs is found out by the
    // next command.
    if (ok && !t.targetId.empty()) pipe.Post("Target.closeTarget", {{"targetId", t.targetId}}, "");
    if (ok && !t.contextId.empty())
        pipe.Post("Target.disposeBrowserContext", {{"browserContextId", t.contextId}}, "");
    // A browser that cannot even close a tab is not used again.
    if (!ok) Drop(&pipe);
    t.pipe = nullptr;
    t.targetId.clear(), t.contextId.clear(), t.session.clear();
}

BrowserSession::TabPtr BrowserSession::OpenTab(DevToolsPipe& pipe, Waiter* waiter, const std::string& bypass,
                                               Clock::time_point deadline, std::string& error) {
    auto t = std::make_shared<Tab>();
    t->pipe = &pipe;
    t->waiter = waiter;
    auto context = pipe.Call("Target.createBrowserContext",
                             {{"disposeOnDetach", true}, {"proxyServer", kNoProxy}, {"proxyBypassList", bypass}}, "",
                             deadline, error, waiter);
    if (!context) {
        error = "no browser context: " + error;
        if (!t->Abandoned()) Drop(&pipe);
        return nullptr;
    }
    t->contextId = Str(context->value("browserContextId", Json()));
    t->targetCall = pipe.Send("Target.createTarget", {{"url", "about:blank"}, {"browserContextId", t->contextId}}, "");
    return t;
}

bool BrowserSession::FinishTab(const TabPtr& tp, int width, Clock::time_point deadline, std::string& error) {
    Tab& t = *tp;
    DevToolsPipe& pipe = *t.pipe;
    auto target = pipe.Await(t.targetCall, deadline, error, t.waiter);
    t.targetCall = 0;
    if (!target) {
        error = "no new tab: " + error;
        if (!t.Abandoned()) Drop(&pipe);
        return false;
    }
    t.targetId = Str(target->value("targetId", Json()));
    auto attached =
        pipe.Call("Target.attachToTarget", {{"targetId", t.targetId}, {"flatten", true}}, "", deadline, error, t.waiter);
    if (!attached) {
        error = "tab not attached: " + error;
        return false;
    }
    t.session = Str(attached->value("sessionId", Json()));
    {
        std::lock_guard lock(mutex_);
        for (auto it = tabs_.begin(); it != tabs_.end();) it = it->second.expired() ? tabs_.erase(it) : std::next(it);
        tabs_[t.session] = tp;
    }
    // Only requests that could leave the machine go through the filter: a
    // page's own files, data and blob addresses are local and always
    // allowed, and holding each of them for an answer slows every load.
    // The commands of one tab are carried out in the order sent: they go
    // together, and their answers are waited for after.
    const std::pair<const char*, Json> setup[] = {
        {"Page.enable", Json::object()},
        {"Fetch.enable", {{"patterns", Json::array({{{"urlPattern", "http*"}}})}}},
        {"Emulation.setEmulatedMedia", {{"media", "screen"}}},
        {"Emulation.setDeviceMetricsOverride",
         {{"width", width}, {"height", kScreenHeight}, {"deviceScaleFactor", 1}, {"mobile", false}}},
        {"Page.getFrameTree", Json::object()},
    };
    long ids[std::size(setup)];
    for (std::size_t i = 0; i < std::size(setup); ++i) ids[i] = pipe.Send(setup[i].first, setup[i].second, t.session);
    bool ok = true;
    for (std::size_t i = 0; i < std::size(setup); ++i) {
        std::string e;
        auto r = pipe.Await(ids[i], deadline, e, t.waiter);  // each is taken, also after a failure
        const bool frameTree = i + 1 == std::size(setup);  // its id helps, it is not needed
        if (!r && ok && !frameTree) ok = false, error = std::string(setup[i].first) + ": " + e;
        if (r && frameTree) {
            std::lock_guard lock(mutex_);
            t.frameId = Str(r->value("frameTree", Json::object()).value("frame", Json::object()).value("id", Json()));
        }
    }
    return ok;
}

void BrowserSession::PrepareSpare(const PipePtr& pipe, Waiter& waiter) {
    {
        std::lock_guard lock(mutex_);
        if (spare_ || spareComing_ || pipe != pipe_ || !pipe->Alive() || waiter.abandoned) return;
        spareComing_ = true;
    }
    std::string error;
    TabPtr t = OpenTab(*pipe, &waiter, "<-loopback>", Clock::now() + kStartTime, error);
    std::lock_guard lock(mutex_);
    spareComing_ = false;
    if (!t) return;
    t->waiter = nullptr;  // the next loader's
    spare_ = std::move(t), sparePipe_ = pipe;
}

BrowserSession::TabPtr BrowserSession::TakeSpare(const PipePtr& pipe) {
    std::lock_guard lock(mutex_);
    if (!spare_ || sparePipe_ != pipe) return nullptr;
    sparePipe_.reset();  // not the last: the loader keeps the browser
    return std::move(spare_);
}

bool BrowserSession::Print(Tab& t, int width, int height, Printed& printed, Clock::time_point deadline,
                           std::string& error) {
    const PrintPlan plan = PlanPrint(height);
    std::string ignored;
    std::string add = std::string("(()=>{const s=document.createElement('style');s.textContent=") +
                      Json(kPrintStyle).dump() + ";(document.head||document.documentElement).appendChild(s);})()";
    Evaluate(t, add, deadline, ignored, error);
    Json params = {{"paperWidth", width * plan.scale / 96.0},
                   {"paperHeight", plan.pageCss * plan.scale / 96.0},
                   {"scale", plan.scale},
                   {"marginTop", 0}, {"marginBottom", 0}, {"marginLeft", 0}, {"marginRight", 0},
                   {"printBackground", true},
                   {"preferCSSPageSize", false},
                   {"displayHeaderFooter", false},
                   // The page converter reads neither the structure tags nor the outline.
                   {"generateTaggedPDF", false},
                   {"generateDocumentOutline", false}};
    if (plan.pages > 1) params["pageRanges"] = "1-" + std::to_string(plan.pages);
    else params["pageRanges"] = "1";
    auto r = t.Call("Page.printToPDF", params, deadline, error);
    if (!r) {
        error = "printing failed: " + error;
        return false;
    }
    if (!Base64Decode(Str(r->value("data", Json())), printed.pdf) || printed.pdf.empty()) {
        printed.pdf.clear();
        error = "the printed document is damaged";
        return false;
    }
    printed.plan = plan;
    return true;
}

Printed BrowserSession::Load(const RenderRequest& req, const std::function<bool()>& keepGoing) {
    Printed printed;
    RenderResult& out = printed.out;
    platform::StepTimer timer;
    std::string error;
    // A browser that is starting is waited for whatever the caller says:
    // the next document needs it too.
    const PipePtr pipe = Browser(error);
    if (!pipe) {
        out.crashed = true;
        out.warnings.push_back("Browser engine: " + error);
        return printed;
    }
    const auto start = Clock::now();
    const auto loadDeadline = start + std::chrono::milliseconds(std::max(0, req.timeoutMs));
    Waiter waiter{keepGoing};
    if (!keepGoing()) {
        printed.abandoned = true;
        out.crashed = true;
        out.warnings.push_back("Browser engine: abandoned by the caller");
        return printed;
    }

    // A string becomes a file of its own beside the others, so that it may
    // use file: pictures and style sheets as a file does; its base address
    // comes first.
    std::string address = req.address, stringFile;
    if (req.kind == RenderRequest::Kind::String) {
        stringFile = platform::MakeTempFile("", "TSL", ".html");
        std::ofstream f(stringFile, std::ios::binary | std::ios::trunc);
        if (!req.baseUrl.empty()) f << "<base href=\"" << req.baseUrl << "\">";
        f << req.html;
        f.close();
        if (!f) {
            std::remove(stringFile.c_str());
            out.warnings.push_back("Browser engine: cannot write the document to a temporary file");
            out.crashed = true;
            return printed;
        }
        address = "file://" + stringFile;
    }
    struct Cleanup {
        std::string file;
        ~Cleanup() {
            if (!file.empty()) std::remove(file.c_str());
        }
    } cleanup{stringFile};

    TabPtr tab;
    // The tab goes whichever way the load ends.
    struct Closer {
        BrowserSession& s;
        TabPtr& t;
        ~Closer() {
            if (t) s.CloseTab(*t);
        }
    } closer{*this, tab};

    const auto setupDeadline = Clock::now() + kStartTime;
    auto fail = [&](const std::string& why) {
        out.crashed = true;
        out.documentAvailable = false;
        out.warnings.push_back("Browser engine: " + why);
        // Abandoned by the caller, not by the browser: its tab is closed
        // and the browser kept.
        printed.abandoned = waiter.abandoned;
        return std::move(printed);
    };
    bool urlMode = req.kind == RenderRequest::Kind::Address && (SchemeOf(address) == "http" || SchemeOf(address) == "https");
    std::string origin = urlMode ? OriginOf(address) : "";
    if (req.kind == RenderRequest::Kind::String) origin = OriginOf(req.baseUrl), urlMode = !origin.empty();
    // Each document in a context of its own (no cookies or cache shared),
    // whose connections all go to a proxy that is not there, but for the
    // page's own host: what the request filter never sees (speculative
    // connections, sockets) cannot leave either. A document with no host
    // of its own takes the tab made ready meanwhile, if there is one.
    const int width = std::max(1, req.minimalWidth);
    if (origin.empty()) {
        if ((tab = TakeSpare(pipe))) {
            // It was asked for and not waited for: a tab that does not come
            // now is closed and a new one made.
            tab->waiter = &waiter;
            if (!FinishTab(tab, width, setupDeadline, error)) {
                CloseTab(*tab), tab.reset();
                if (!pipe->Alive()) return fail("the browser ended");
                if (waiter.abandoned) return fail("abandoned by the caller");
            }
        }
    }
    if (!tab) {
        std::string bypass = "<-loopback>";
        if (!origin.empty()) bypass += ";" + origin.substr(origin.find("//") + 2);
        tab = OpenTab(*pipe, &waiter, bypass, setupDeadline, error);
        if (!tab) return fail(error);
        if (!FinishTab(tab, width, setupDeadline, error)) return fail(error);
    }
    Tab& t = *tab;
    {
        std::lock_guard lock(mutex_);
        t.allowedOrigin = origin, t.urlMode = urlMode;
    }
    timer.Lap("browser start and tab");

    t.loaded = false;  // about:blank's own load is not the document's
    auto nav = t.Call("Page.navigate", {{"url", address}}, std::max(loadDeadline, Clock::now() + std::chrono::seconds(1)),
                      error);
    const std::string shownUrl = req.kind == RenderRequest::Kind::String ? "about:blank" : req.address;
    if (nav && nav->contains("errorText")) {
        // The top frame failed: an error event and no document.
        htmlengine::FrameEvent e;
        e.error = true, e.url = shownUrl, e.status = 0;
        out.events.push_back(e);
        out.warnings.push_back("Browser engine: " + Str((*nav)["errorText"]));
        out.documentAvailable = false;
        return printed;
    }
    if (!nav && !pipe->Alive()) return fail("the browser ended while loading");
    // The next document's tab (its context and page process) is made while
    // this one loads.
    if (nav) PrepareSpare(pipe, waiter);
    bool loaded = nav && pipe->WaitFor([&t] { return t.loaded || t.crashed; }, loadDeadline, &waiter);
    if (waiter.abandoned) return fail("abandoned by the caller");
    if (t.crashed) return fail("the page's process crashed");
    if (!pipe->Alive()) return fail("the browser ended while loading");
    if (!loaded) {
        // Drawn as far as it loaded: the page's script is stopped and kept
        // stopped, and what is still coming is not waited for.
        out.timedOut = true;
        StopScripts(t);
        pipe->Post("Page.stopLoading", Json::object(), t.session);
    }
    timer.Lap("browser load");
    if (!out.timedOut) {
        htmlengine::FrameEvent e;
        e.url = shownUrl;
        out.events.push_back(e);
    }

    // After the load: the tab may take this long for the facts and the print
    // together; one that does not answer fails the load.
    const auto afterDeadline =
        Clock::now() + std::max<Clock::duration>(std::chrono::milliseconds(req.layoutGraceMs), kMinAfterLoad);
    // The view is made as tall as the document (and as wide when it is
    // wider), as the document is then printed on one page of that size:
    // heights in viewport units come out the same on screen and on paper.
    // The first look only measures; after each sizing the facts are read
    // whole, and they are the ones kept when the size holds.
    std::string text;
    Facts f;
    int w = width, h = kScreenHeight;
    for (int round = 0;; ++round) {
        const bool measureOnly = round == 0;
        f = Facts{};
        if (!Evaluate(t, FactsScript(measureOnly), afterDeadline, text, error) || !ReadFacts(text, f))
            return fail(t.crashed ? "the page's process crashed" : "the page does not answer: " + error);
        int nw = std::max({f.sw, f.bsw, width});
        int nh = f.bottom > 0 ? f.bottom : f.sh;
        nw = static_cast<int>(std::min<double>(nw, 16384)), nh = static_cast<int>(std::clamp<double>(nh, 1, kMaxDocumentPx));
        if ((nw == w && nh == h) || round == 3) {
            // The size holds (or it never settles): the facts of this size.
            if (measureOnly &&
                (!Evaluate(t, FactsScript(false), afterDeadline, text, error) || !(f = Facts{}, ReadFacts(text, f))))
                return fail(t.crashed ? "the page's process crashed" : "the page does not answer: " + error);
            break;
        }
        w = nw, h = nh;
        if (!t.Call("Emulation.setDeviceMetricsOverride",
                    {{"width", w}, {"height", std::min(h, 10000000)}, {"deviceScaleFactor", 1}, {"mobile", false}},
                    afterDeadline, error))
            return fail("cannot size the view: " + error);
    }

    timer.Lap("browser facts");
    out.documentAvailable = true;
    out.finalUrl = f.url;
    out.compatMode = f.compat.empty() ? "CSS1Compat" : f.compat;
    out.frameset = f.frameset;
    out.layoutWidth = w;
    out.scrollWidth = f.sw, out.scrollHeight = f.sh, out.bodyScrollWidth = f.bsw;
    // The elements that carry no break still tell the document's bottom.
    ElementFacts extent;
    extent.tag = "DIV";
    extent.rects = {{0, 0, w, std::max(f.bottom, 0)}};
    out.elements.push_back(std::move(extent));
    for (auto& e : f.elements) out.elements.push_back(std::move(e));
    out.anchors = std::move(f.anchors);
    // The paper is a little taller than the document: the printer rounds
    // the paper's size, and a last line that no longer fits would go to a
    // second page, which is not printed.
    int printHeight = std::max({f.bottom, f.sh, 1}) + kPrintSlackPx;
    if (printHeight > kMaxDocumentPx) printHeight = static_cast<int>(kMaxDocumentPx);
    if (!Print(t, w, printHeight, printed, afterDeadline, error)) {
        if (t.crashed) return fail("the page's process crashed");
        return fail(error);
    }
    timer.Lap("browser print");
    // The tab is done with, and the next document's is made while this one
    // is converted.
    CloseTab(t), tab.reset();
    PrepareSpare(pipe, waiter);
    timer.Lap("browser next tab");
    return printed;
}


// Converts the printed pages back into drawing calls, fonts included.
// False when the caller's wait hook gives up.
bool DrawPrint(const Printed& printed, RenderResult& out, const std::function<bool()>& hook) {
    const PrintPlan& plan = printed.plan;
    // Device pixels of the converted pages: text positions keep half a
    // pixel at any print scale. What the metafile cannot say (soft masks:
    // blurred shadows, masked pictures) is pictured at the screen's
    // resolution, one pixel a CSS pixel, as the browser shows it: at the
    // device resolution a Doxygen page with shadowed boxes took 1.3 s and
    // 30 MB of metafile, at the screen's 0.6 s and 6 MB.
    pagedraw::ConvertOptions co;
    co.dpi = static_cast<int>(std::clamp(192.0 / plan.scale, 72.0, 2400.0));
    co.pictureDpi = static_cast<int>(std::clamp(96.0 / plan.scale, 72.0, 2400.0));
    std::string perr;
    auto pages = pagedraw::PdfPages::OpenBytes(printed.pdf, perr, co);
    if (!pages) {
        out.warnings.push_back("Browser engine: the printed document cannot be read: " + perr);
        return false;
    }
    const double k = 96.0 / (plan.scale * co.dpi);  // converted page pixels -> document pixels
    for (int i = 0; i < pages->PageCount() && i < plan.pages; ++i) {
        if (hook && !hook()) {
            out.warnings.push_back("Browser engine: abandoned");
            return false;
        }
        std::string cerr;
        std::vector<std::uint8_t> emfBytes = pages->ConvertPage(i, cerr);
        if (emfBytes.empty()) {
            out.warnings.push_back("Printed page " + std::to_string(i + 1) + " not converted: " + cerr);
            continue;
        }
        emf::PlayOptions po;
        po.base = emf::Matrix::Scale(k, k).Then(emf::Matrix::Translate(0, i * plan.pageCss));
        emf::Play(emfBytes, out.drawing, po);
    }
    return true;
}

// What a file on disk was when a document was asked for: a document loaded
// ahead is taken only while its file is unchanged.
struct FileStamp {
    bool known = false;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type written{};
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

FileStamp StampOf(const RenderRequest& req) {
    FileStamp s;
    if (req.kind != RenderRequest::Kind::Address || SchemeOf(req.address) != "file") return s;
    std::string path = req.address.substr(5);
    if (path.starts_with("//")) path.erase(0, 2);
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::is_regular_file(status)) return s;
    s.size = std::filesystem::file_size(path, ec);
    if (ec) return s;
    s.written = std::filesystem::last_write_time(path, ec);
    s.known = !ec;
    return s;
}

// The engine: a session whose documents are loaded and printed by worker
// threads, one tab each, those asked for first and, while the caller
// converts one, those announced to come next (at most kAhead of them
// loaded or held at a time, in the order announced). A document asked for
// goes before those announced: when every worker is busy ahead, the one
// loaded last is stopped and started again afterwards, so that no document
// waits for another's time-out. A document announced and loaded ahead is
// taken when it is asked for with the same request while its file is
// unchanged and its load went through; else it is loaded again. The prints
// are converted into drawing calls on the caller's thread.
class BrowserEngine final : public htmlengine::HtmlEngine {
public:
    explicit BrowserEngine(BrowserOptions o)
        : tabs_(std::clamp<std::size_t>(o.tabs, 1, 8)), ahead_(std::max<std::size_t>(2, tabs_)),
          session_(std::move(o)) {}
    ~BrowserEngine() override;
    RenderResult Render(const RenderRequest& req) override;
    void Prefetch(const RenderRequest& req) override;
    void SetWaitHook(std::function<bool()> hook) override { hook_ = std::move(hook); }

private:
    // Announced ones waiting their turn at most (a compiled help file names
    // the next eight topics).
    static constexpr std::size_t kAnnounced = 16;

    struct Job {
        RenderRequest request;
        FileStamp stamp;
        bool announced = false;  // by Prefetch
        bool asked = false;      // a Render waits for it
        enum class State { Queued, Running, Done } state = State::Queued;
        std::atomic<bool> stop{false};
        Printed printed;
    };
    using JobPtr = std::shared_ptr<Job>;

    void StartWorkers();  // with mutex_ held
    void Work();
    JobPtr NextJob();  // with mutex_ held
    // The job for a document asked for: the one announced for it, or a new one.
    JobPtr Ask(const RenderRequest& req);
    // Waits for the job, asking the wait hook meanwhile; false when the hook gave up.
    bool Wait(const JobPtr& job);

    const std::size_t tabs_;   // documents in the browser at once: one worker each
    const std::size_t ahead_;  // announced documents loading or loaded at most
    BrowserSession session_;   // the workers' only
    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<JobPtr> jobs_;  // not yet taken, in the order asked and announced
    bool ending_ = false;
    std::vector<std::thread> workers_;
    std::function<bool()> hook_;
};

BrowserEngine::~BrowserEngine() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        for (auto& j : jobs_) j->stop = true;
        jobs_.clear();
    }
    changed_.notify_all();
    for (auto& w : workers_) w.join();
}

void BrowserEngine::StartWorkers() {
    while (workers_.size() < tabs_) workers_.emplace_back([this] { Work(); });
}

BrowserEngine::JobPtr BrowserEngine::NextJob() {
    for (auto& j : jobs_)
        if (j->asked && j->state == Job::State::Queued) return j;
    std::size_t ahead = 0;  // announced ones loading or loaded
    for (auto& j : jobs_) ahead += !j->asked && j->state != Job::State::Queued;
    if (ahead >= ahead_) return nullptr;
    for (auto& j : jobs_)
        if (j->state == Job::State::Queued) return j;
    return nullptr;
}

void BrowserEngine::Work() {
    for (;;) {
        JobPtr job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return ending_ || (job = NextJob()); });
            if (ending_) return;
            job->state = Job::State::Running;
        }
        Printed printed = session_.Load(job->request, [job] { return !job->stop.load(); });
        {
            std::lock_guard lock(mutex_);
            const bool listed = std::find(jobs_.begin(), jobs_.end(), job) != jobs_.end();
            if (printed.abandoned && listed && !job->asked) {
                // Stopped for a document asked for: loaded again after it.
                job->stop = false;
                job->state = Job::State::Queued;
            } else {
                job->printed = std::move(printed);
                job->state = Job::State::Done;
            }
        }
        changed_.notify_all();
    }
}

void BrowserEngine::Prefetch(const RenderRequest& req) {
    FileStamp stamp = StampOf(req);
    if (!stamp.known) return;  // only files on disk are loaded ahead
    std::lock_guard lock(mutex_);
    if (ending_) return;
    std::size_t announced = 0;
    for (const auto& j : jobs_) {
        if (j->request == req) return;
        if (!j->asked) ++announced;
    }
    if (announced >= kAnnounced) return;
    auto job = std::make_shared<Job>();
    job->request = req;
    job->stamp = stamp;
    job->announced = true;
    jobs_.push_back(std::move(job));
    StartWorkers();
    changed_.notify_all();
}

BrowserEngine::JobPtr BrowserEngine::Ask(const RenderRequest& req) {
    const FileStamp stamp = StampOf(req);
    std::lock_guard lock(mutex_);
    JobPtr job;
    auto it = std::find_if(jobs_.begin(), jobs_.end(), [&](const JobPtr& j) { return !j->asked && j->request == req; });
    if (it != jobs_.end() && stamp.known && (*it)->stamp == stamp) {
        // What was announced before it is past.
        for (auto j = jobs_.begin(); j != it;) {
            if ((*j)->asked) {
                ++j;
                continue;
            }
            (*j)->stop = true;
            j = jobs_.erase(j);
        }
        job = *it;
    }
    // The same document announced otherwise (other settings, a changed file) is not wanted.
    for (auto j = jobs_.begin(); j != jobs_.end();) {
        if (*j != job && !(*j)->asked && (*j)->request.address == req.address) {
            (*j)->stop = true;
            j = jobs_.erase(j);
        } else {
            ++j;
        }
    }
    if (!job) {
        job = std::make_shared<Job>();
        job->request = req;
        jobs_.push_front(job);
    }
    job->asked = true;
    // No document waits for one announced: when every worker is busy with
    // one, the one announced last is stopped.
    if (job->state == Job::State::Queued) {
        std::size_t busy = 0;
        JobPtr last;
        for (auto& j : jobs_) {
            if (j->state != Job::State::Running || j->stop) continue;
            ++busy;
            if (!j->asked) last = j;
        }
        if (busy >= tabs_ && last) last->stop = true;
    }
    StartWorkers();
    changed_.notify_all();
    return job;
}

bool BrowserEngine::Wait(const JobPtr& job) {
    std::unique_lock lock(mutex_);
    auto lastHook = Clock::now();
    bool going = true;
    while (job->state != Job::State::Done) {
        changed_.wait_for(lock, std::chrono::milliseconds(50));
        if (going && hook_ && job->state != Job::State::Done &&
            Clock::now() - lastHook >= std::chrono::milliseconds(50)) {
            lastHook = Clock::now();
            lock.unlock();
            going = hook_();
            lock.lock();
            if (!going) job->stop = true;
        }
    }
    jobs_.remove(job);
    changed_.notify_all();  // one ahead fewer
    return going;
}

RenderResult BrowserEngine::Render(const RenderRequest& req) {
    platform::StepTimer timer;
    JobPtr job = Ask(req);
    bool going = Wait(job);
    if (going && job->announced && !job->printed.Whole()) {
        // Loaded ahead and not through: loaded again, with this load's own
        // limits and a browser started again if it has ended.
        job = Ask(req);
        going = Wait(job);
    }
    timer.Lap("browser wait");
    if (!going) {
        RenderResult abandoned;
        abandoned.crashed = true;
        abandoned.warnings.push_back("Browser engine: abandoned by the caller");
        return abandoned;
    }
    Printed printed = std::move(job->printed);
    RenderResult out = std::move(printed.out);
    if (printed.pdf.empty()) return out;
    if (!DrawPrint(printed, out, hook_)) {
        out.crashed = true;
        out.documentAvailable = false;
    }
    timer.Lap("browser page conversion");
    return out;
}
}  // namespace

PrintPlan PlanPrint(double height) {
    PrintPlan p;
    height = std::max(1.0, height);
    p.pageCss = height;
    p.scale = kPrintScale;
    if (height * p.scale <= kMaxPagePx) return p;
    p.scale = std::max(kMinScale, kMaxPagePx / height);
    if (height * p.scale <= kMaxPagePx) return p;
    p.scale = kMinScale;
    p.pageCss = kMaxPagePx / kMinScale;
    p.pages = static_cast<int>(std::ceil(height / p.pageCss));
    return p;
}

std::string FindBrowser() {
    if (const char* env = std::getenv("VELLUMATE_CHROMIUM")) {
        std::string p = env;
        return !p.empty() && ::access(p.c_str(), X_OK) == 0 ? p : std::string();
    }
    for (const char* p : {"/usr/lib/chromium/chromium", "/usr/bin/chromium"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

std::unique_ptr<htmlengine::HtmlEngine> CreateBrowserEngine(BrowserOptions options) {
    if (options.tabs == 0) {
        options.tabs = kDefaultTabs;
        if (const char* env = std::getenv("VELLUMATE_BROWSER_TABS"); env && *env) {
            char* end = nullptr;
            const long n = std::strtol(env, &end, 10);
            if (*end == 0 && n >= 1 && n <= 8) options.tabs = static_cast<std::size_t>(n);
        }
    }
    return std::make_unique<BrowserEngine>(std::move(options));
}

}  // namespace browser
