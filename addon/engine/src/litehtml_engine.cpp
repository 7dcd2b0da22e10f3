// The litehtml engine: fetches the document, decodes it, bounds its nesting,
// lays it out, reads the facts the page-image logic needs and draws it.
#include <litehtml.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <mutex>
#include <optional>

#include "container.h"
#include "fonts.h"
#include "htmlengine/encoding.h"
#include "htmlengine/engine.h"
#include "htmlengine/mht.h"
#include "htmlengine/url.h"
#include "resources.h"
#include "sanitize.h"
#include "user_agent_css.h"

namespace htmlengine {
namespace {

std::string Lower(std::string_view s) {
    std::string o;
    for (char c : s) o += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return o;
}

std::string Upper(std::string_view s) {
    std::string o;
    for (char c : s) o += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return o;
}

std::string EscapeText(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 64);
    for (char c : s) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c != '\r') out += c;
    }
    return out;
}

// A plain-text document as a browser shows it: monospace, its line breaks
// kept, long lines wrapped.
std::string TextAsHtml(std::string_view utf8) {
    return "<!DOCTYPE html><html><head></head><body><pre style=\"white-space: pre-wrap; word-wrap: break-word; "
           "margin: 0\">" +
           EscapeText(utf8) + "</pre></body></html>";
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && Lower(s.substr(s.size() - suffix.size())) == suffix;
}

std::string PathPart(const std::string& url) {
    std::string u = StripFragment(url);
    if (auto q = u.find('?'); q != std::string::npos) u.erase(q);
    return u;
}

bool IsTextName(const std::string& url) {
    std::string p = PathPart(url);
    return EndsWithNoCase(p, ".txt") || EndsWithNoCase(p, ".text") || EndsWithNoCase(p, ".log");
}

bool IsArchiveName(const std::string& url) {
    std::string p = PathPart(url);
    return EndsWithNoCase(p, ".mht") || EndsWithNoCase(p, ".mhtml");
}

IntRect BorderBox(const litehtml::element::ptr& el) {
    litehtml::position p = el->get_placement();
    return {p.x - el->padding_left() - el->border_left(), p.y - el->padding_top() - el->border_top(),
            p.right() + el->padding_right() + el->border_right(), p.bottom() + el->padding_bottom() + el->border_bottom()};
}

bool IsShown(const litehtml::element::ptr& el) {
    for (auto e = el; e; e = e->parent()) {
        if (e->get_display() == litehtml::display_none || e->skip()) return false;
    }
    return true;
}

// Client rectangles: the boxes of an inline element's lines, else its border box.
std::vector<IntRect> ClientRects(const litehtml::element::ptr& el) {
    std::vector<IntRect> rects;
    if (!IsShown(el)) return rects;
    if (el->get_display() == litehtml::display_inline) {
        litehtml::position::vector boxes;
        el->get_inline_boxes(boxes);
        if (!boxes.empty()) {
            // The boxes are relative to the element's parent content box.
            litehtml::position origin;
            if (auto parent = el->parent()) origin = parent->get_placement();
            for (const auto& b : boxes)
                if (b.width > 0 || b.height > 0)
                    rects.push_back({origin.x + b.x, origin.y + b.y, origin.x + b.right(), origin.y + b.bottom()});
            if (!rects.empty()) return rects;
        }
    }
    IntRect r = BorderBox(el);
    if (r.right > r.left || r.bottom > r.top) rects.push_back(r);
    return rects;
}

// Collects the document's anchors. A named anchor without a box of its own
// (`<a name="x"></a>` before a heading, an empty element with an id) is
// where it sits in the flow: at the next thing laid out after it in document
// order, as a zero-size rectangle, which is where a browser scrolls to.
class AnchorPlacer {
public:
    explicit AnchorPlacer(std::vector<AnchorFacts>& anchors) : anchors_(anchors) {}
    // `shown`: the element takes part in the layout (no display: none).
    void Add(AnchorFacts a, bool shown) {
        const bool place = a.rects.empty() && !a.name.empty() && shown;
        anchors_.push_back(std::move(a));
        if (place) waiting_.push_back(anchors_.size() - 1);
    }
    bool Waiting() const { return !waiting_.empty(); }
    // The client rectangles of the next thing in document order.
    void PlaceAt(const std::vector<IntRect>& rects) {
        if (waiting_.empty() || rects.empty()) return;
        const IntRect& r = rects.front();
        for (std::size_t i : waiting_) anchors_[i].rects = {{r.left, r.top, r.left, r.top}};
        waiting_.clear();
    }

private:
    std::vector<AnchorFacts>& anchors_;
    std::vector<std::size_t> waiting_;
};

struct Loaded {
    std::string html;     // UTF-8
    std::string baseUrl;
    std::string encoding;
};

const PrunableStyleSheet& DefaultSheet();

// What renders with deferTeardown keep until ReleaseDeferred (or the
// process's end, which gives the memory back whole).
std::mutex deferredLock;
std::vector<std::shared_ptr<void>> deferred;

template <class T>
void DeferTeardown(T&& value) {
    auto kept = std::make_shared<std::decay_t<T>>(std::forward<T>(value));
    std::lock_guard<std::mutex> guard(deferredLock);
    deferred.push_back(std::move(kept));
}

class LitehtmlEngine final : public HtmlEngine {
public:
    RenderResult Render(const RenderRequest& req) override;
    void WarmUp() override {
        // Several loaders of one process may warm up at once; the fonts are shared.
        std::lock_guard<std::mutex> guard(SharedFontsLock());
        // The style sheet every document starts from, split into its rules
        // (each document parses the part it can use, see ContextFor), and
        // the font configuration. Faces are not opened ahead: a one-document
        // run would pay for faces it never uses, and in longer runs the faces
        // each layout process opened are set up here after its render (see
        // the isolated engine), so later ones inherit them.
        DefaultSheet();
        SharedFonts();  // reads the font configuration
    }

    void ReleaseDeferred() override {
        std::vector<std::shared_ptr<void>> taken;
        {
            std::lock_guard<std::mutex> guard(deferredLock);
            taken.swap(deferred);
        }
    }

private:
    bool Fetch(const RenderRequest& req, ResourceFetcher& fetcher, RenderResult& res, Loaded& doc);
    void LayoutFrameset(const RenderRequest& req, ResourceFetcher& fetcher, const SanitizedHtml& top,
                        const std::string& baseUrl, RenderResult& res);
};

bool LitehtmlEngine::Fetch(const RenderRequest& req, ResourceFetcher& fetcher, RenderResult& res, Loaded& doc) {
    if (req.kind == RenderRequest::Kind::String) {
        // A string is HTML in the add-on's code page (UTF-8, with 1252 for bytes that are not).
        std::string text = req.html.substr(0, std::min(req.html.size(), req.maxDocumentBytes));
        if (text.size() < req.html.size()) res.warnings.push_back("document cut at the size limit");
        doc.html = IsValidUtf8(text) ? text : ToUtf8(text, {"WINDOWS-1252", EncodingSource::Default, 0});
        doc.baseUrl = req.baseUrl;
        doc.encoding = "UTF-8";
        res.finalUrl = "about:blank";
        res.events.push_back({false, true, "about:blank", 0});
        return true;
    }
    FetchResult r = fetcher.Fetch(req.address);
    res.finalUrl = r.finalUrl.empty() ? req.address : r.finalUrl;
    res.timedOut = res.timedOut || r.timedOut;
    if (!r.ok && r.timedOut && r.status < 400) {
        // Stopped by the time-out: what arrived (perhaps nothing) is the document.
        r.ok = true;
    }
    if (!r.ok) {
        res.events.push_back({true, true, req.address, r.status});
        res.warnings.push_back("document not loaded: " + r.error);
        return false;
    }
    if (r.truncated) res.warnings.push_back("document cut at the size limit");
    res.events.push_back({false, true, req.address, r.status});
    doc.baseUrl = res.finalUrl;
    std::string type = Lower(r.contentType.substr(0, r.contentType.find(';')));
    while (!type.empty() && type.back() == ' ') type.pop_back();
    std::string charset = CharsetFromContentType(r.contentType);

    if (type == "multipart/related" || IsArchiveName(req.address) || (type.empty() && LooksLikeMht(r.body))) {
        if (auto archive = ParseMht(r.body)) {
            auto shared = std::make_shared<MhtArchive>(std::move(*archive));
            const MimePart& root = shared->parts[shared->root];
            for (const auto& w : shared->warnings) res.warnings.push_back("archive: " + w);
            if (!root.location.empty() && !SchemeOf(root.location).empty()) doc.baseUrl = root.location;
            DetectedEncoding enc;
            if (root.contentType == "text/plain") doc.html = TextAsHtml(ToUtf8(root.body, DetectHtmlEncoding(root.body, root.charset)));
            else doc.html = DecodeHtml(root.body, root.charset, &enc);
            doc.encoding = enc.name;
            fetcher.SetArchive(std::move(shared));
            return true;
        }
        res.warnings.push_back("archive not readable; shown as a document");
    }
    bool text = type == "text/plain" || (type.empty() && IsTextName(req.address));
    DetectedEncoding enc;
    std::string utf8 = DecodeHtml(r.body, charset, &enc);
    doc.encoding = enc.name;
    doc.html = text ? TextAsHtml(utf8) : std::move(utf8);
    return true;
}


// Every element is matched against every selector of the default sheet, most
// of which name tags a given document does not have. A document gets the
// sheet without those (its tags come from the markup clean-up, together with
// the ones the parser may add), parsed once per distinct cut: the documents
// of one help file mostly share a tag set, so a few parsed cuts serve a long
// run. Even a layout process that lays out one document and ends is faster
// parsing its cut than matching every element against the whole sheet.
const PrunableStyleSheet& DefaultSheet() {
    static const PrunableStyleSheet sheet(UserAgentStyleSheet());
    return sheet;
}

std::shared_ptr<litehtml::context> ContextFor(const std::vector<std::string>& documentTags) {
    const PrunableStyleSheet& sheet = DefaultSheet();
    std::vector<std::string> tags;
    tags.reserve(documentTags.size() + ImpliedTags().size());
    std::set_union(documentTags.begin(), documentTags.end(), ImpliedTags().begin(), ImpliedTags().end(),
                   std::back_inserter(tags));
    std::string css = sheet.Prune(tags);

    struct Entry {
        std::string css;
        std::shared_ptr<litehtml::context> ctx;
    };
    static std::mutex lock;
    static std::vector<Entry> cache;  // most recently used first
    constexpr std::size_t kCacheEntries = 8;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (std::size_t i = 0; i < cache.size(); ++i) {
            if (cache[i].css != css) continue;
            std::rotate(cache.begin(), cache.begin() + static_cast<std::ptrdiff_t>(i), cache.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return cache.front().ctx;
        }
    }
    auto ctx = std::make_shared<litehtml::context>();
    ctx->load_master_stylesheet(css.c_str());
    std::lock_guard<std::mutex> guard(lock);
    cache.insert(cache.begin(), {std::move(css), ctx});
    if (cache.size() > kCacheEntries) cache.pop_back();
    return ctx;
}

struct LaidOut {
    std::shared_ptr<litehtml::context> context;  // default sheet of the document
    std::unique_ptr<Container> container;  // outlives the document, which releases its fonts
    std::shared_ptr<litehtml::document> doc;
    int width = 0, height = 0;
};

// The nesting SanitizeHtml allows: no element `depth` or more levels below
// the root, no more than `tables` tables inside one another.
struct Caps {
    int depth, tables;
};

// Whether a parsed tree keeps to the caps. Anonymous boxes count as levels too.
bool WithinCaps(const litehtml::element::ptr& root, const Caps& caps) {
    struct Item {
        litehtml::element* el;
        int depth, tables;
    };
    std::vector<Item> stack;
    if (root) stack.push_back({root.get(), 0, 0});
    while (!stack.empty()) {
        Item it = stack.back();
        stack.pop_back();
        const char* tag = it.el->get_tagName();
        if (tag && *tag) {
            if (it.depth >= caps.depth) return false;
            if (strcasecmp(tag, "table") == 0 && ++it.tables > caps.tables) return false;
        }
        for (std::size_t k = 0, n = it.el->get_children_count(); k < n; ++k)
            stack.push_back({it.el->get_child(static_cast<int>(k)).get(), it.depth + 1, it.tables});
    }
    return true;
}

// With `caps`, a tree beyond them is not laid out and the result has no
// document (see PassThroughHtml).
LaidOut LayOut(FontManager& fonts, ResourceFetcher& fetcher, const std::string& html, const std::string& baseUrl,
               const std::string& encoding, const SanitizedHtml& sane, int width, bool grow,
               const Caps* caps = nullptr) {
    LaidOut out;
    out.container = std::make_unique<Container>(fonts, fetcher);
    out.container->SetBaseUrl(baseUrl);
    out.container->SetDocumentEncoding(encoding);
    out.container->SetViewport(width, 1080);
    for (const auto& [src, alt] : sane.imageAlts) out.container->SetAltText(out.container->Resolve(src), alt);
    out.context = ContextFor(sane.tags);
    out.doc = litehtml::document::createFromUTF8(html.c_str(), out.container.get(), out.context.get());
    if (!out.doc) return out;
    if (caps && !WithinCaps(out.doc->root(), *caps)) {
        out.doc.reset();
        return out;
    }
    out.doc->render(width);
    int w = std::max(out.doc->width(), width);
    if (grow && w > width) {
        // Content wider than the window: the window grows to it and lays out again.
        out.container->SetViewport(w, 1080);
        out.doc->render(w);
        w = std::max(out.doc->width(), w);
    }
    out.width = grow ? w : width;
    out.height = out.doc->height();
    return out;
}

// Frameset sizes ("100,*,20%") split over `total` pixels.
std::vector<int> SplitSizes(const std::string& spec, int total, std::size_t minCount) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : spec) {
        if (c == ',') parts.push_back(cur), cur.clear();
        else if (!std::isspace(static_cast<unsigned char>(c))) cur += c;
    }
    if (!cur.empty() || !parts.empty()) parts.push_back(cur);
    if (parts.empty()) parts.assign(std::max<std::size_t>(1, minCount > 0 ? 1 : 1), "*");
    std::vector<int> px(parts.size(), 0);
    int used = 0;
    double stars = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        if (!p.empty() && p.back() == '*') stars += p.size() > 1 ? std::max(0.0, std::atof(p.c_str())) : 1.0;
        else if (!p.empty() && p.back() == '%') px[i] = static_cast<int>(total * std::atof(p.c_str()) / 100), used += px[i];
        else px[i] = std::max(0, std::atoi(p.c_str())), used += px[i];
    }
    int left = std::max(0, total - used);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        if (!p.empty() && p.back() == '*' && stars > 0)
            px[i] = static_cast<int>(left * (p.size() > 1 ? std::atof(p.c_str()) : 1.0) / stars);
    }
    return px;
}

namespace {
struct PlacedFrame {
    LaidOut laid;
    int x = 0, y = 0, w = 0, h = 0;
};

struct FrameContext {
    const RenderRequest& req;
    ResourceFetcher& fetcher;
    FontManager& fonts;
    RenderResult& res;
    int budget = 64;  // frames laid out at most
};

// Lays out a frameset in a box `width` wide (rows split `heightHint`): each
// frame is a document of its own in its cell; a row grows to show the whole
// of its tallest document. Frames are placed relative to the frameset's
// corner; returns its height.
int PlaceFrames(const FrameNode& node, const std::string& baseUrl, int width, int heightHint, FrameContext& ctx,
                std::vector<PlacedFrame>& out) {
    std::vector<int> colW = SplitSizes(node.cols, width, 1);
    std::vector<int> rowH = SplitSizes(node.rows, heightHint, 1);
    struct Cell {
        std::vector<PlacedFrame> frames;
        bool direct = false;
    };
    std::vector<Cell> cells;
    for (std::size_t i = 0; i < node.kids.size() && i < colW.size() * rowH.size(); ++i) {
        const FrameNode& kid = node.kids[i];
        std::size_t c = i % colW.size(), r = i / colW.size();
        Cell cell;
        if (kid.isFrame) {
            if (ctx.budget-- <= 0) break;
            std::string url = kid.src.empty() ? "about:blank" : ResolveUrl(baseUrl, kid.src);
            FetchResult f = ctx.fetcher.Fetch(url);
            ctx.res.timedOut = ctx.res.timedOut || f.timedOut;
            ctx.res.events.push_back({!f.ok, false, url, f.status});
            std::string html = f.ok ? DecodeHtml(f.body, CharsetFromContentType(f.contentType)) : std::string();
            SanitizedHtml sane = SanitizeHtml(html, ctx.req.maxDepth, ctx.req.maxTableDepth);
            PlacedFrame pf;
            pf.laid = LayOut(ctx.fonts, ctx.fetcher, sane.html, f.finalUrl.empty() ? url : f.finalUrl, "UTF-8", sane,
                             std::max(1, colW[c]), false);
            if (!pf.laid.doc) continue;
            pf.w = colW[c];
            rowH[r] = std::max(rowH[r], pf.laid.height);
            cell.frames.push_back(std::move(pf));
            cell.direct = true;
        } else {
            rowH[r] = std::max(rowH[r], PlaceFrames(kid, baseUrl, colW[c], rowH[r], ctx, cell.frames));
        }
        cells.push_back(std::move(cell));
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        std::size_t c = i % colW.size(), r = i / colW.size();
        int x = 0, y = 0;
        for (std::size_t k = 0; k < c; ++k) x += colW[k];
        for (std::size_t k = 0; k < r; ++k) y += rowH[k];
        for (auto& f : cells[i].frames) {
            f.x += x, f.y += y;
            if (cells[i].direct) f.h = rowH[r];
            out.push_back(std::move(f));
        }
    }
    int total = 0;
    for (int h : rowH) total += h;
    return total;
}
}  // namespace

void LitehtmlEngine::LayoutFrameset(const RenderRequest& req, ResourceFetcher& fetcher, const SanitizedHtml& top,
                                    const std::string& baseUrl, RenderResult& res) {
    FrameContext ctx{req, fetcher, SharedFonts(), res};
    std::vector<PlacedFrame> frames;
    int width = std::max(1, req.minimalWidth);
    int height = PlaceFrames(top.frames, baseUrl, width, 1080, ctx, frames);
    res.frameset = true;
    res.layoutWidth = res.scrollWidth = res.bodyScrollWidth = width;
    res.scrollHeight = height;
    res.elements.push_back({"HTML", false, false, false, {{0, 0, width, height}}});
    DrawTarget target{&res.drawing};
    for (auto& f : frames) {
        f.laid.container->SetDevice(&res.drawing);
        litehtml::position clip(f.x, f.y, f.w, f.h);
        emf::Path cp;
        cp.AddRect({double(f.x), double(f.y), double(f.x + f.w), double(f.y + f.h)});
        res.drawing.PushClip(cp, emf::FillRule::NonZero, {});
        f.laid.doc->draw(reinterpret_cast<litehtml::uint_ptr>(&target), f.x, f.y, &clip);
        f.laid.container->FlushText();
        res.drawing.PopClip();
        for (auto& w : f.laid.container->Warnings()) res.warnings.push_back(std::move(w));
    }
    if (req.deferTeardown) DeferTeardown(std::move(frames));
}

RenderResult LitehtmlEngine::Render(const RenderRequest& req) {
    RenderResult res;
    auto deadline = ResourceFetcher::Clock::now() + std::chrono::milliseconds(std::max(0, req.timeoutMs));
    ResourceFetcher fetcher(deadline, req.userAgent, req.maxDocumentBytes);
    FontManager* fonts = &SharedFonts();

    Loaded loaded;
    if (!Fetch(req, fetcher, res, loaded)) return res;
    res.documentAvailable = true;

    // Markup that needs no rewriting is laid out as written, unless its tree
    // turns out deeper than the caps; everything else is cleaned up first.
    LaidOut laid;
    const Caps caps{req.maxDepth, req.maxTableDepth};
    std::optional<SanitizedHtml> asWritten = PassThroughHtml(loaded.html, req.maxDepth);
    if (asWritten)
        laid = LayOut(*fonts, fetcher, asWritten->html, loaded.baseUrl, loaded.encoding, *asWritten,
                      std::max(1, req.minimalWidth), true, &caps);
    SanitizedHtml sane = laid.doc ? std::move(*asWritten) : SanitizeHtml(loaded.html, req.maxDepth, req.maxTableDepth);
    if (sane.depthCut) res.warnings.push_back("elements nested deeper than " + std::to_string(req.maxDepth) + " dropped");
    if (sane.tablesFlattened) res.warnings.push_back("tables nested deeper than " + std::to_string(req.maxTableDepth) + " laid out as blocks");
    res.compatMode = sane.quirks ? "BackCompat" : "CSS1Compat";
    if (sane.frameset) {
        LayoutFrameset(req, fetcher, sane, loaded.baseUrl, res);
        res.timedOut = res.timedOut || fetcher.AnyTimedOut();
        return res;
    }

    if (!laid.doc)
        laid = LayOut(*fonts, fetcher, sane.html, loaded.baseUrl, loaded.encoding, sane, std::max(1, req.minimalWidth), true);
    if (!laid.doc) {
        res.documentAvailable = false;
        res.warnings.push_back("document could not be parsed");
        return res;
    }
    Container& container = *laid.container;
    res.layoutWidth = laid.width;
    res.scrollWidth = laid.doc->width();
    res.scrollHeight = laid.doc->height();
    res.bodyScrollWidth = laid.doc->width();

    // Every element in document order, without recursion.
    std::vector<std::pair<litehtml::element::ptr, int>> stack;  // element, parent index in res.elements
    std::vector<int> parentOf;
    if (auto root = laid.doc->root()) stack.emplace_back(root, -1);
    int drawHeight = laid.height;
    AnchorPlacer anchors(res.anchors);
    while (!stack.empty()) {
        auto [el, parent] = stack.back();
        stack.pop_back();
        const char* tagC = el->get_tagName();
        std::string tag = tagC ? Upper(tagC) : "";
        int self = parent;
        if (tag.empty() && anchors.Waiting() && !el->is_white_space() && !el->is_comment())
            anchors.PlaceAt(ClientRects(el));
        if (!tag.empty()) {
            ElementFacts f;
            f.tag = tag;
            const char* before = el->get_style_property("page-break-before", false, "auto");
            const char* after = el->get_style_property("page-break-after", false, "auto");
            f.breakBefore = before && Lower(before) == "always";
            f.breakAfter = after && Lower(after) == "always";
            f.rects = ClientRects(el);
            for (const auto& r : f.rects) drawHeight = std::max(drawHeight, r.bottom);
            res.elements.push_back(std::move(f));
            self = static_cast<int>(res.elements.size() - 1);
            parentOf.push_back(parent);
            if (tag == "TD") {
                for (int p = parent; p >= 0 && !res.elements[p].containsTd; p = parentOf[p]) res.elements[p].containsTd = true;
            }
            const std::vector<IntRect>& rects = res.elements.back().rects;
            anchors.PlaceAt(rects);
            const char* name = nullptr;
            if (tag == "A") {
                AnchorFacts a;
                const char* href = el->get_attr("href");
                name = el->get_attr("name");
                if (href) {
                    a.hrefAttr = href;
                    a.href = container.Resolve(href);
                    std::string scheme = SchemeOf(a.href);
                    a.protocol = scheme.empty() ? "" : scheme + ":";
                }
                if (name) a.name = name;
                a.rects = rects;
                anchors.Add(std::move(a), IsShown(el));
            }
            // An element's id names it as a link target, at its top-left.
            if (const char* id = el->get_attr("id"); id && *id && !(name && std::string_view(name) == id)) {
                AnchorFacts a;
                a.name = id;
                if (!rects.empty()) a.rects = {{rects.front().left, rects.front().top, rects.front().left, rects.front().top}};
                anchors.Add(std::move(a), IsShown(el));
            }
        }
        for (std::size_t k = el->get_children_count(); k-- > 0;) stack.emplace_back(el->get_child(static_cast<int>(k)), self);
    }

    DrawTarget target{&res.drawing};
    container.SetDevice(&res.drawing);
    container.SetViewport(laid.width, std::max(drawHeight, 1));
    litehtml::position clip(0, 0, laid.width, std::max(drawHeight, 1));
    laid.doc->draw(reinterpret_cast<litehtml::uint_ptr>(&target), 0, 0, &clip);
    container.FlushText();
    for (auto& w : container.Warnings()) res.warnings.push_back(std::move(w));
    res.timedOut = res.timedOut || fetcher.AnyTimedOut();
    if (req.deferTeardown) DeferTeardown(std::move(laid));
    return res;
}

}  // namespace

std::unique_ptr<HtmlEngine> CreateLitehtmlEngine() { return std::make_unique<LitehtmlEngine>(); }

}  // namespace htmlengine
