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
#include <mutex>
#include <thread>

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
// their pixels per document pixel (measured on seven shadowed pages: the
// print 11.0 s -> 5.9 s, the same words, 0.05% of pixels changed at 50 dpi).
// At a quarter those rasters get coarser than the screen's pixels.
constexpr double kPrintScale = 0.5;
// The page image's limit (the loader's): what lies below is not printed.
constexpr double kMaxDocumentPx = 8000000;
constexpr int kScreenHeight = 1080;

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

// One browser and the documents loaded in it, one after the other, on one
// thread.
class BrowserSession {
public:
    explicit BrowserSession(BrowserOptions o) : options_(std::move(o)) {}
    // Loads the document in a tab of its own, reads its facts and prints it.
    // `keepGoing` is asked at least every 50 ms while the browser works
    // (not while it starts); false abandons the load, and the browser is
    // kept for the next.
    Printed Load(const RenderRequest& req, const std::function<bool()>& keepGoing);

private:
    // One document in one tab.
    struct Tab {
        std::string contextId, targetId, session, frameId;
        bool loaded = false, crashed = false;
        std::string allowedOrigin;   // web address's origin, "" for none
        bool urlMode = false;
        long targetCall = 0;         // the command making its page, while it is not answered
    };
    bool EnsureBrowser(std::string& error);
    void Drop() { pipe_.reset(), spare_.reset(); }
    void OnEvent(const Json& m);
    // Reads the facts with the tab's script; false when the tab does not answer.
    bool Evaluate(const std::string& expr, Clock::time_point deadline, std::string& value, std::string& error);
    // Opens a tab in a context of its own whose connections go to `bypass`
    // hosts only; false (the browser dropped when it cannot even make one)
    // with `error` set. With `wait` false the page is asked for and not
    // waited for: FinishTab completes the tab.
    bool OpenTab(Tab& t, const std::string& bypass, Clock::time_point deadline, bool wait, std::string& error);
    bool FinishTab(Tab& t, Clock::time_point deadline, std::string& error);
    void CloseTab(Tab& t);
    void CloseTab() { CloseTab(tab_); }
    // A tab for the next document of a file, opened while this one is
    // converted: the browser makes its page process meanwhile.
    void PrepareSpare();
    void StopScripts();
    bool Print(int width, int height, Printed& printed, Clock::time_point deadline, std::string& error);

    BrowserOptions options_;
    std::unique_ptr<DevToolsPipe> pipe_;
    Tab tab_;
    std::optional<Tab> spare_;
};

bool BrowserSession::EnsureBrowser(std::string& error) {
    if (pipe_ && pipe_->Alive()) return true;
    Drop();
    std::string program = options_.program.empty() ? FindBrowser() : options_.program;
    if (program.empty()) {
        error = "no browser is installed";
        return false;
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
    pipe_ = DevToolsPipe::Launch(program, args, error);
    if (!pipe_) return false;
    pipe_->SetEventHandler([this](const Json& m) { OnEvent(m); });
    // The first answer tells that the browser is up.
    auto v = pipe_->Call("Browser.getVersion", Json::object(), "", Clock::now() + kStartTime, error);
    if (!v) {
        error = "the browser did not start: " + error;
        pipe_.reset();
        return false;
    }
    return true;
}

void BrowserSession::OnEvent(const Json& m) {
    std::string method = Str(m.value("method", Json()));
    std::string session = Str(m.value("sessionId", Json()));
    if (session.empty() || session != tab_.session) return;
    const Json params = m.value("params", Json::object());
    if (method == "Fetch.requestPaused") {
        std::string id = Str(params.value("requestId", Json()));
        std::string url = params.contains("request") ? Str(params["request"].value("url", Json())) : "";
        std::string scheme = SchemeOf(url);
        bool allow = scheme == "file" || scheme == "data" || scheme == "blob" || scheme == "about";
        if (!allow && tab_.urlMode) {
            std::string origin = OriginOf(url);
            if (!origin.empty() && origin == tab_.allowedOrigin) allow = true;
            // The main document's redirects during the first navigation.
            else if (!tab_.loaded && Str(params.value("resourceType", Json())) == "Document" &&
                     Str(params.value("frameId", Json())) == tab_.frameId && !origin.empty()) {
                tab_.allowedOrigin = origin;
                allow = true;
            }
        }
        if (allow) pipe_->Post("Fetch.continueRequest", {{"requestId", id}}, session);
        else pipe_->Post("Fetch.failRequest", {{"requestId", id}, {"errorReason", "BlockedByClient"}}, session);
    } else if (method == "Page.loadEventFired") {
        tab_.loaded = true;
    } else if (method == "Inspector.targetCrashed") {
        tab_.crashed = true;
    } else if (method == "Page.javascriptDialogOpening") {
        // Nobody is there to answer a dialog; it would hold the page forever.
        pipe_->Post("Page.handleJavaScriptDialog", {{"accept", false}}, session);
    }
}

void BrowserSession::StopScripts() {
    pipe_->Post("Runtime.terminateExecution", Json::object(), tab_.session);
    pipe_->Post("Emulation.setScriptExecutionDisabled", {{"value", true}}, tab_.session);
}

bool BrowserSession::Evaluate(const std::string& expr, Clock::time_point deadline, std::string& value,
                             std::string& error) {
    const Json params = {{"expression", expr}, {"returnByValue", true}};
    // The page's own script may still be busy (a timer that never returns):
    // when the tab does not answer soon, its scripts are stopped for good.
    auto r = pipe_->Call("Runtime.evaluate", params, tab_.session, std::min(deadline, Clock::now() + kScriptPatience),
                         error);
    if (!r && pipe_->Alive() && !pipe_->Abandoned() && !tab_.crashed && Clock::now() < deadline) {
        StopScripts();
        r = pipe_->Call("Runtime.evaluate", params, tab_.session, deadline, error);
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
    if (!pipe_) return;
    std::string error;
    bool ok = true;
    if (t.targetCall) {
        // A page asked for and never waited for.
        auto target = pipe_->Await(t.targetCall, Clock::now() + kCloseTime, error);
        ok = target.has_value();
        if (target) t.targetId = Str(target->value("targetId", Json()));
        t.targetCall = 0;
    }
    if (ok && !t.targetId.empty())
        ok = pipe_->Call("Target.closeTarget", {{"targetId", t.targetId}}, "", Clock::now() + kCloseTime, error)
                 .has_value();
    if (ok && !t.contextId.empty())
        ok = pipe_->Call("Target.disposeBrowserContext", {{"browserContextId", t.contextId}}, "",
                         Clock::now() + kCloseTime, error)
                 .has_value();
    // A browser that cannot even close a tab is not used again.
    if (!ok) Drop();
    t = Tab{};
}

bool BrowserSession::OpenTab(Tab& t, const std::string& bypass, Clock::time_point deadline, bool wait,
                            std::string& error) {
    auto context = pipe_->Call("Target.createBrowserContext",
                               {{"disposeOnDetach", true}, {"proxyServer", kNoProxy}, {"proxyBypassList", bypass}}, "",
                               deadline, error);
    if (!context) {
        error = "no browser context: " + error;
        if (!pipe_->Abandoned()) Drop();
        return false;
    }
    t.contextId = Str(context->value("browserContextId", Json()));
    t.targetCall = pipe_->Send("Target.createTarget", {{"url", "about:blank"}, {"browserContextId", t.contextId}}, "");
    return !wait || FinishTab(t, deadline, error);
}

bool BrowserSession::FinishTab(Tab& t, Clock::time_point deadline, std::string& error) {
    auto target = pipe_->Await(t.targetCall, deadline, error);
    t.targetCall = 0;
    if (!target) {
        error = "no new tab: " + error;
        if (!pipe_->Abandoned()) Drop();
        return false;
    }
    t.targetId = Str(target->value("targetId", Json()));
    auto attached =
        pipe_->Call("Target.attachToTarget", {{"targetId", t.targetId}, {"flatten", true}}, "", deadline, error);
    if (!attached) {
        error = "tab not attached: " + error;
        return false;
    }
    t.session = Str(attached->value("sessionId", Json()));
    // Only requests that could leave the machine go through the filter: a
    // page's own files, data and blob addresses are local and always
    // allowed, and holding each of them for an answer slows every load.
    for (auto [method, params] : std::initializer_list<std::pair<const char*, Json>>{
             {"Page.enable", Json::object()},
             {"Fetch.enable", {{"patterns", Json::array({{{"urlPattern", "http*"}}})}}},
             {"Emulation.setEmulatedMedia", {{"media", "screen"}}},
         }) {
        if (!pipe_->Call(method, params, t.session, deadline, error)) {
            error = std::string(method) + ": " + error;
            return false;
        }
    }
    return true;
}

void BrowserSession::PrepareSpare() {
    if (spare_ || !pipe_ || !pipe_->Alive() || pipe_->Abandoned()) return;
    Tab t;
    std::string error;
    if (OpenTab(t, "<-loopback>", Clock::now() + kStartTime, false, error)) spare_ = std::move(t);
    else CloseTab(t);
}

bool BrowserSession::Print(int width, int height, Printed& printed, Clock::time_point deadline,
                           std::string& error) {
    const PrintPlan plan = PlanPrint(height);
    std::string ignored;
    std::string add = std::string("(()=>{const s=document.createElement('style');s.textContent=") +
                      Json(kPrintStyle).dump() + ";(document.head||document.documentElement).appendChild(s);})()";
    Evaluate(add, deadline, ignored, error);
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
    platform::StepTimer timer;
    auto r = pipe_->Call("Page.printToPDF", params, tab_.session, deadline, error);
    timer.Lap("browser print");
    if (!r) {
        error = "printing failed: " + error;
        return false;
    }
    // The tab is done with (closed without waiting: a browser that hangs
    // is found out by the next command), and the next document's is made
    // while this one is converted.
    pipe_->Post("Target.closeTarget", {{"targetId", tab_.targetId}}, "");
    pipe_->Post("Target.disposeBrowserContext", {{"browserContextId", tab_.contextId}}, "");
    tab_ = Tab{};
    PrepareSpare();
    timer.Lap("browser next tab");
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
    if (!EnsureBrowser(error)) {
        out.crashed = true;
        out.warnings.push_back("Browser engine: " + error);
        return printed;
    }
    const auto start = Clock::now();
    const auto loadDeadline = start + std::chrono::milliseconds(std::max(0, req.timeoutMs));
    pipe_->Resume();
    pipe_->SetWaitHook(keepGoing);
    struct Unhook {
        BrowserSession& s;
        ~Unhook() {
            if (s.pipe_) s.pipe_->SetWaitHook({});
        }
    } unhook{*this};
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

    const auto setupDeadline = Clock::now() + kStartTime;
    auto fail = [&](const std::string& why) {
        out.crashed = true;
        out.documentAvailable = false;
        out.warnings.push_back("Browser engine: " + why);
        if (pipe_ && pipe_->Abandoned()) {
            // Abandoned by the caller, not by the browser: its tab is closed
            // and the browser kept.
            printed.abandoned = true;
            pipe_->SetWaitHook({});
            pipe_->Resume();
        }
        CloseTab();
        return std::move(printed);
    };
    tab_ = Tab{};
    tab_.urlMode = req.kind == RenderRequest::Kind::Address && (SchemeOf(address) == "http" || SchemeOf(address) == "https");
    tab_.allowedOrigin = tab_.urlMode ? OriginOf(address) : "";
    if (req.kind == RenderRequest::Kind::String) tab_.allowedOrigin = OriginOf(req.baseUrl), tab_.urlMode = !tab_.allowedOrigin.empty();
    // Each document in a context of its own (no cookies or cache shared),
    // whose connections all go to a proxy that is not there, but for the
    // page's own host: what the request filter never sees (speculative
    // connections, sockets) cannot leave either. A document with no host
    // of its own takes the tab made ready meanwhile, if there is one.
    std::optional<Tab> spare = std::move(spare_);
    spare_.reset();
    if (spare && !pipe_->Alive()) spare.reset();
    if (spare && !tab_.allowedOrigin.empty()) CloseTab(*spare), spare.reset();
    if (!pipe_ || !pipe_->Alive()) return fail("the browser ended");
    const int width = std::max(1, req.minimalWidth);
    const Json screen = {{"width", width}, {"height", kScreenHeight}, {"deviceScaleFactor", 1}, {"mobile", false}};
    const std::string origin = tab_.allowedOrigin;
    const bool urlMode = tab_.urlMode;
    if (spare) {
        // It was asked for and not waited for: a tab that does not come now
        // is closed and a new one made.
        tab_ = std::move(*spare);
        if (!FinishTab(tab_, setupDeadline, error) ||
            !pipe_->Call("Emulation.setDeviceMetricsOverride", screen, tab_.session, setupDeadline, error)) {
            CloseTab();
            if (!pipe_ || !pipe_->Alive()) return fail("the browser ended");
            spare.reset();
        }
        tab_.allowedOrigin = origin, tab_.urlMode = urlMode;
    }
    if (!spare) {
        std::string bypass = "<-loopback>";
        if (!origin.empty()) bypass += ";" + origin.substr(origin.find("//") + 2);
        if (!OpenTab(tab_, bypass, setupDeadline, true, error)) return fail(error);
        tab_.allowedOrigin = origin, tab_.urlMode = urlMode;
        if (!pipe_->Call("Emulation.setDeviceMetricsOverride", screen, tab_.session, setupDeadline, error))
            return fail("Emulation.setDeviceMetricsOverride: " + error);
    }
    timer.Lap("browser start and tab");
    if (auto tree = pipe_->Call("Page.getFrameTree", Json::object(), tab_.session, setupDeadline, error))
        tab_.frameId = Str(tree->value("frameTree", Json::object()).value("frame", Json::object()).value("id", Json()));

    tab_.loaded = false;  // about:blank's own load is not the document's
    auto nav = pipe_->Call("Page.navigate", {{"url", address}}, tab_.session,
                           std::max(loadDeadline, Clock::now() + std::chrono::seconds(1)), error);
    const std::string shownUrl = req.kind == RenderRequest::Kind::String ? "about:blank" : req.address;
    if (nav && nav->contains("errorText")) {
        // The top frame failed: an error event and no document.
        htmlengine::FrameEvent e;
        e.error = true, e.url = shownUrl, e.status = 0;
        out.events.push_back(e);
        out.warnings.push_back("Browser engine: " + Str((*nav)["errorText"]));
        out.documentAvailable = false;
        CloseTab();
        return printed;
    }
    if (!nav && !pipe_->Alive()) return fail("the browser ended while loading");
    // The next document's tab (its context and page process) is made while
    // this one loads.
    if (nav) PrepareSpare();
    if (!pipe_) return fail("the browser ended while loading");
    bool loaded = nav && pipe_->WaitFor([this] { return tab_.loaded || tab_.crashed; }, loadDeadline);
    if (pipe_->Abandoned()) return fail("abandoned by the caller");
    if (tab_.crashed) return fail("the page's process crashed");
    if (!pipe_->Alive()) return fail("the browser ended while loading");
    if (!loaded) {
        // Drawn as far as it loaded: the page's script is stopped and kept
        // stopped, and what is still coming is not waited for.
        out.timedOut = true;
        StopScripts();
        pipe_->Post("Page.stopLoading", Json::object(), tab_.session);
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
    std::string text;
    Facts f;
    int w = width, h = kScreenHeight;
    for (int round = 0; round < 3; ++round) {
        if (!Evaluate(FactsScript(true), afterDeadline, text, error) || !ReadFacts(text, f))
            return fail(tab_.crashed ? "the page's process crashed" : "the page does not answer: " + error);
        int nw = std::max({f.sw, f.bsw, width});
        int nh = f.bottom > 0 ? f.bottom : f.sh;
        nw = static_cast<int>(std::min<double>(nw, 16384)), nh = static_cast<int>(std::clamp<double>(nh, 1, kMaxDocumentPx));
        if (nw == w && nh == h) break;
        w = nw, h = nh;
        if (!pipe_->Call("Emulation.setDeviceMetricsOverride",
                         {{"width", w}, {"height", std::min(h, 10000000)}, {"deviceScaleFactor", 1}, {"mobile", false}},
                         tab_.session, afterDeadline, error))
            return fail("cannot size the view: " + error);
    }
    if (!Evaluate(FactsScript(false), afterDeadline, text, error) || !(f = Facts{}, ReadFacts(text, f)))
        return fail(tab_.crashed ? "the page's process crashed" : "the page does not answer: " + error);

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
    int printHeight = std::max({f.bottom, f.sh, 1});
    if (printHeight > kMaxDocumentPx) printHeight = static_cast<int>(kMaxDocumentPx);
    if (!Print(w, printHeight, printed, afterDeadline, error)) {
        if (tab_.crashed) return fail("the page's process crashed");
        return fail(error);
    }
    CloseTab();
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

// The engine: a session on a thread of its own that loads and prints the
// documents asked for and, while the caller converts one, those announced
// to come next (at most kAhead of them at a time, in the order announced). A document
// asked for goes before those announced: one being loaded ahead is stopped
// and started again afterwards, so that no document waits for another's
// time-out. A document announced and loaded ahead is taken when it is asked
// for with the same request while its file is unchanged and its load went
// through; else it is loaded again. The prints are converted into drawing
// calls on the caller's thread.
class BrowserEngine final : public htmlengine::HtmlEngine {
public:
    explicit BrowserEngine(BrowserOptions o) : session_(std::move(o)) {}
    ~BrowserEngine() override;
    RenderResult Render(const RenderRequest& req) override;
    void Prefetch(const RenderRequest& req) override;
    void SetWaitHook(std::function<bool()> hook) override { hook_ = std::move(hook); }

private:
    // Announced documents loaded or being loaded ahead at most, and
    // announced ones waiting their turn (a compiled help file names the
    // next eight topics).
    static constexpr std::size_t kAhead = 2;
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

    void StartWorker();  // with mutex_ held
    void Work();
    JobPtr NextJob();  // with mutex_ held
    // The job for a document asked for: the one announced for it, or a new one.
    JobPtr Ask(const RenderRequest& req);
    // Waits for the job, asking the wait hook meanwhile; false when the hook gave up.
    bool Wait(const JobPtr& job);

    BrowserSession session_;  // the worker's only
    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<JobPtr> jobs_;  // not yet taken, in the order asked and announced
    bool ending_ = false;
    std::thread worker_;
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
    if (worker_.joinable()) worker_.join();
}

void BrowserEngine::StartWorker() {
    if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
}

BrowserEngine::JobPtr BrowserEngine::NextJob() {
    for (auto& j : jobs_)
        if (j->asked && j->state == Job::State::Queued) return j;
    std::size_t ahead = 0;  // announced ones loading or loaded
    for (auto& j : jobs_) ahead += !j->asked && j->state != Job::State::Queued;
    if (ahead >= kAhead) return nullptr;
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
    StartWorker();
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
    // No document waits for one announced: one being loaded is stopped when
    // this one still has to be.
    if (job->state == Job::State::Queued)
        for (auto& j : jobs_)
            if (j != job && !j->asked && j->state == Job::State::Running) j->stop = true;
    StartWorker();
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
    return std::make_unique<BrowserEngine>(std::move(options));
}

}  // namespace browser
