// The litehtml engine: fetches the document, decodes it, bounds its nesting,
// lays it out, reads the facts the page-image logic needs and draws it.
#include <litehtml.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>

#include "chunks.h"
#include "container.h"
#include "fonts.h"
#include "htmlengine/encoding.h"
#include "htmlengine/engine.h"
#include "htmlengine/mht.h"
#include "htmlengine/url.h"
#include "resources.h"
#include "sanitize.h"
#include "platform/text.h"
#include "user_agent_css.h"

namespace htmlengine {
namespace {

// A plain-text document as a browser shows it: monospace, its line breaks
// kept, long lines wrapped, a word longer than a line too. Its lines are
// written in blocks of their own (a long text is laid out in parts, block
// by block); a block ends where a line ends, or inside a very long line
// where it may wrap anyway.
std::string TextAsHtml(std::string_view utf8) {
    constexpr std::size_t kBlockBytes = 16u << 10;  // lines of a block
    constexpr std::size_t kLongLineBytes = 64u << 10;  // of a line without an end
    constexpr int kPiece = 8;  // characters a word may run without a chance to wrap
    const std::string_view open = "<div class=\"vm-text\">";
    std::string out =
        "<!DOCTYPE html><html><head><style>div.vm-text { white-space: pre-wrap; font-family: monospace; margin: 0 }"
        "</style></head><body>";
    out.reserve(out.size() + utf8.size() + utf8.size() / 8 + 64);
    out += open;
    std::size_t block = 0;  // bytes in the open block
    int run = 0;            // characters since the last chance to wrap
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '\r') continue;
        if (c == '\n') {
            run = 0;
            if (block >= kBlockBytes) {
                out += "</div>";
                out += open;
                block = 0;
            } else {
                out += '\n', ++block;
            }
            continue;
        }
        const bool lead = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (c == ' ' || c == '\t') {
            run = 0;
        } else if (lead && ++run > kPiece) {
            if (block >= kLongLineBytes) {
                out += "</div>";
                out += open;
                block = 0;
            } else {
                out += "\xE2\x80\x8B";  // a zero-width space: a chance to wrap, no element
            }
            run = 1;
        }
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
        ++block;
    }
    out += "</div></body></html>";
    return out;
}

std::string PathPart(const std::string& url) {
    std::string u = StripFragment(url);
    if (auto q = u.find('?'); q != std::string::npos) u.erase(q);
    return u;
}

bool IsTextName(const std::string& url) {
    std::string p = PathPart(url);
    return platform::EndsWithNoCaseAscii(p, ".txt") || platform::EndsWithNoCaseAscii(p, ".text") || platform::EndsWithNoCaseAscii(p, ".log");
}

bool IsArchiveName(const std::string& url) {
    std::string p = PathPart(url);
    return platform::EndsWithNoCaseAscii(p, ".mht") || platform::EndsWithNoCaseAscii(p, ".mhtml");
}

IntRect BorderBox(const litehtml::element::ptr& el) {
    litehtml::position p = el->get_placement();
    return {p.x - el->padding_left() - el->border_left(), p.y - el->padding_top() - el->border_top(),
            p.right() + el->padding_right() + el->border_right(), p.bottom() + el->padding_bottom() + el->border_bottom()};
}

// The width a document is fitted to: the right edge of the boxes that ask
// for their width, without what overflows other boxes. A browser scrolls a
// long preformatted line inside its box and prints it clipped at the page's
// edge; measured with its text, one 900-character line would scale every page
// of the document down to a tenth. litehtml stretches a block to its widest
// line, so blocks count only with a width of their own; pictures and tables
// (a table wider than the page is wide content) count as laid out, and text
// that begins beyond all of them. Nothing
// inside a box that clips its overflow counts beyond that box.
int FitWidth(const litehtml::element::ptr& root) {
    int right = 0;
    struct Item {
        const litehtml::element* el;
        int clipRight;
    };
    std::vector<Item> todo;
    if (root) todo.push_back({root.get(), std::numeric_limits<int>::max()});
    while (!todo.empty()) {
        const Item it = todo.back();
        todo.pop_back();
        const litehtml::element* el = it.el;
        const litehtml::style_display display = el->get_display();
        if (display == litehtml::display_none || el->skip()) continue;
        const litehtml::position p = el->get_placement();
        const int edge = p.right() + el->padding_right() + el->border_right();
        const char* tag = el->get_tagName();
        const bool text = !tag || !*tag || display == litehtml::display_inline_text;
        const bool asks = !text && (el->is_replaced() || display == litehtml::display_table ||
                          display == litehtml::display_inline_table || !el->get_css_width().is_predefined());
        if (asks) right = std::max(right, std::min(edge, it.clipRight));
        // Text that starts where no page shows it (lists nested past the
        // page's edge) is content the page must make room for.
        if (text && p.x >= right && p.x < it.clipRight) right = std::max(right, std::min(edge, it.clipRight));
        int clip = it.clipRight;
        if (display != litehtml::display_inline && display != litehtml::display_inline_text &&
            el->get_overflow() != litehtml::overflow_visible)
            clip = std::min(clip, asks ? edge : 0);
        for (std::size_t k = 0, n = el->get_children_count(); k < n; ++k)
            todo.push_back({el->get_child(static_cast<int>(k)).get(), clip});
    }
    return right;
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
    // One render; `cleanUp` lays out the cleaned-up markup even where the
    // markup could be laid out as written. `asWritten`: whether it was.
    RenderResult RenderOnce(const RenderRequest& req, bool cleanUp, bool* asWritten);
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
    std::string type = platform::ToLowerAscii(r.contentType.substr(0, r.contentType.find(';')));
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

// A picture a ::before or ::after rule inserts (content: url(...)) takes the
// width and height the rule gives, as a browser draws it; litehtml puts it
// in as an <img> of its own size, so a small icon came out as large as its
// file. One given side keeps the picture's proportions.
void SizeGeneratedPictures(const litehtml::element::ptr& root) {
    std::vector<litehtml::element*> todo;
    if (root) todo.push_back(root.get());
    while (!todo.empty()) {
        litehtml::element* el = todo.back();
        todo.pop_back();
        const char* tag = el->get_tagName();
        const bool generated = tag && (std::strcmp(tag, "::before") == 0 || std::strcmp(tag, "::after") == 0);
        for (std::size_t k = 0, n = el->get_children_count(); k < n; ++k) {
            const litehtml::element::ptr kid = el->get_child(static_cast<int>(k));
            const char* kidTag = kid->get_tagName();
            if (generated && kidTag && std::strcmp(kidTag, "img") == 0) {
                std::string style;
                for (const char* side : {"width", "height"}) {
                    const char* v = el->get_style_property(side, false, nullptr);
                    if (v && *v && std::strcmp(v, "auto") != 0) style += std::string(side) + ": " + v + "; ";
                }
                if (!style.empty()) {
                    kid->add_style(style, "");
                    kid->parse_styles(true);
                }
            }
            todo.push_back(kid.get());
        }
    }
}

// With `caps`, a tree beyond them is not laid out and the result has no
// document (see PassThroughHtml).
// `windowHeight`: a part of a long document is laid out in a window of no
// height, so that the root's box, which litehtml stretches to the window,
// ends where its content does, as in the whole document.
LaidOut LayOut(FontManager& fonts, ResourceFetcher& fetcher, const std::string& html, const std::string& baseUrl,
               const std::string& encoding, const SanitizedHtml& sane, int width, bool grow,
               const Caps* caps = nullptr, int windowHeight = 1080) {
    LaidOut out;
    out.container = std::make_unique<Container>(fonts, fetcher);
    out.container->SetBaseUrl(baseUrl);
    out.container->SetDocumentEncoding(encoding);
    out.container->SetViewport(width, windowHeight);
    for (const auto& [src, alt] : sane.imageAlts) out.container->SetAltText(out.container->Resolve(src), alt);
    for (std::size_t i = 0; i < sane.inlineSvgs.size(); ++i)
        out.container->SetInlinePicture(std::string(kInlineSvgScheme) + std::to_string(i), sane.inlineSvgs[i]);
    out.context = ContextFor(sane.tags);
    out.doc = litehtml::document::createFromUTF8(html.c_str(), out.container.get(), out.context.get());
    if (!out.doc) return out;
    if (caps && !WithinCaps(out.doc->root(), *caps)) {
        out.doc.reset();
        return out;
    }
    SizeGeneratedPictures(out.doc->root());
    out.doc->render(width);
    int w = std::max(FitWidth(out.doc->root()), width);
    if (grow && w > width) {
        // Content wider than the window: the window grows to it and lays out again.
        out.container->SetViewport(w, 1080);
        out.doc->render(w);
        w = std::max(FitWidth(out.doc->root()), w);
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
    if (parts.empty()) parts.assign(std::max<std::size_t>(1, minCount), "*");
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

// Element facts and anchors of elements and everything below them, in
// document order, moved down by `dy`. Whose facts they are is kept in
// `parentOf` (facts index of the parent, -1 for none), so that a cell marks
// every element around it.
class FactsWalk {
public:
    FactsWalk(RenderResult& res, Container* container) : res_(res), container_(container), anchors_(res.anchors) {}
    void SetContainer(Container* c) { container_ = c; }
    // Walks `top` and below it; `skip`s elements (and what they hold).
    template <class Skip>
    void Walk(const litehtml::element::ptr& top, int parent, int dy, Skip&& skip);
    void Walk(const litehtml::element::ptr& top, int parent, int dy) {
        Walk(top, parent, dy, [](const litehtml::element*) { return false; });
    }
    // Facts index of an element recorded by the last walk, -1 when it was not.
    int IndexOf(const litehtml::element* el) const {
        for (const auto& [e, i] : seen_)
            if (e == el) return i;
        return -1;
    }
    void Watch(std::vector<const litehtml::element*> els) { watched_ = std::move(els); }
    int Bottom() const { return bottom_; }

private:
    RenderResult& res_;
    Container* container_;  // resolves the addresses of anchors
    AnchorPlacer anchors_;  // across parts too: an anchor at a part's end lies in the next
    std::vector<int> parentOf_;
    std::vector<const litehtml::element*> watched_;
    std::vector<std::pair<const litehtml::element*, int>> seen_;
    int bottom_ = 0;
};

template <class Skip>
void FactsWalk::Walk(const litehtml::element::ptr& top, int parentIndex, int dy, Skip&& skip) {
    std::vector<std::pair<litehtml::element::ptr, int>> stack;  // element, parent index in res.elements
    if (top) stack.emplace_back(top, parentIndex);
    while (!stack.empty()) {
        auto [el, parent] = stack.back();
        stack.pop_back();
        if (skip(el.get())) continue;
        const char* tagC = el->get_tagName();
        std::string tag = tagC ? platform::ToUpperAscii(tagC) : "";
        int self = parent;
        if (tag.empty() && anchors_.Waiting() && !el->is_white_space() && !el->is_comment()) {
            std::vector<IntRect> rects = ClientRects(el);
            for (auto& r : rects) r.top += dy, r.bottom += dy;
            anchors_.PlaceAt(rects);
        }
        if (!tag.empty()) {
            ElementFacts f;
            f.tag = tag;
            const char* before = el->get_style_property("page-break-before", false, "auto");
            const char* after = el->get_style_property("page-break-after", false, "auto");
            f.breakBefore = before && platform::ToLowerAscii(before) == "always";
            f.breakAfter = after && platform::ToLowerAscii(after) == "always";
            f.rects = ClientRects(el);
            for (auto& r : f.rects) {
                r.top += dy, r.bottom += dy;
                bottom_ = std::max(bottom_, r.bottom);
            }
            res_.elements.push_back(std::move(f));
            self = static_cast<int>(res_.elements.size() - 1);
            parentOf_.push_back(parent);
            if (std::find(watched_.begin(), watched_.end(), el.get()) != watched_.end()) seen_.emplace_back(el.get(), self);
            if (tag == "TD") {
                for (int p = parent; p >= 0 && !res_.elements[p].containsTd; p = parentOf_[p]) res_.elements[p].containsTd = true;
            }
            const std::vector<IntRect>& rects = res_.elements.back().rects;
            anchors_.PlaceAt(rects);
            const char* name = nullptr;
            if (tag == "A") {
                AnchorFacts a;
                const char* href = el->get_attr("href");
                name = el->get_attr("name");
                if (href) {
                    a.hrefAttr = href;
                    a.href = container_->Resolve(href);
                    std::string scheme = SchemeOf(a.href);
                    a.protocol = scheme.empty() ? "" : scheme + ":";
                }
                if (name) a.name = name;
                a.rects = rects;
                anchors_.Add(std::move(a), IsShown(el));
            }
            // An element's id names it as a link target, at its top-left.
            if (const char* id = el->get_attr("id"); id && *id && !(name && std::string_view(name) == id)) {
                AnchorFacts a;
                a.name = id;
                if (!rects.empty()) a.rects = {{rects.front().left, rects.front().top, rects.front().left, rects.front().top}};
                anchors_.Add(std::move(a), IsShown(el));
            }
        }
        for (std::size_t k = el->get_children_count(); k-- > 0;) stack.emplace_back(el->get_child(static_cast<int>(k)), self);
    }
}

// Tagged children of an element, without the ones litehtml makes itself (::before, ::after).
std::vector<litehtml::element::ptr> ElementChildren(const litehtml::element::ptr& el) {
    std::vector<litehtml::element::ptr> kids;
    for (std::size_t k = 0, n = el->get_children_count(); k < n; ++k) {
        auto kid = el->get_child(static_cast<int>(k));
        const char* tag = kid->get_tagName();
        if (tag && *tag && *tag != ':') kids.push_back(std::move(kid));
    }
    return kids;
}

// Whether a part may begin at `el`: a shown block on its own, not beside a float.
bool StartsABlock(const litehtml::element::ptr& el) {
    if (!IsShown(el) || el->get_float() != litehtml::float_none) return false;
    switch (el->get_display()) {
        case litehtml::display_block:
        case litehtml::display_list_item:
        case litehtml::display_table:
        case litehtml::display_table_row: return true;
        default: return false;
    }
}

// The lowest bottom of an element's box and of the boxes of all inside it.
int LowestBottom(const litehtml::element::ptr& top) {
    int bottom = std::numeric_limits<int>::min();
    std::vector<litehtml::element::ptr> stack{top};
    while (!stack.empty()) {
        auto el = std::move(stack.back());
        stack.pop_back();
        if (IsShown(el)) bottom = std::max(bottom, BorderBox(el).bottom);
        for (std::size_t k = 0, n = el->get_children_count(); k < n; ++k) stack.push_back(el->get_child(static_cast<int>(k)));
    }
    return bottom;
}

// Where a block that begins a part begins. litehtml places a table's rows
// through their cells: a row's top is its highest cell's.
int BlockTop(const litehtml::element::ptr& el) {
    if (el->get_display() != litehtml::display_table_row) return BorderBox(el).top;
    int top = std::numeric_limits<int>::max();
    for (const auto& cell : ElementChildren(el)) top = std::min(top, BorderBox(cell).top);
    return top == std::numeric_limits<int>::max() ? BorderBox(el).top : top;
}

// What a part draws, without the text outside its band: the band's clip
// hides it, but hidden text would still be found in the page twice (list
// markers of the next part's first items are drawn beside them).
class BandDevice final : public emf::Device {
public:
    BandDevice(emf::Device& target, double top, double bottom) : target_(target), top_(top), bottom_(bottom) {}
    void FillPath(const emf::Path& p, emf::FillRule r, const emf::Paint& f, const emf::Matrix& m) override { target_.FillPath(p, r, f, m); }
    void StrokePath(const emf::Path& p, const emf::StrokeStyle& s, const emf::Color& c, const emf::Matrix& m) override {
        target_.StrokePath(p, s, c, m);
    }
    void DrawText(const emf::TextRun& t, const emf::Matrix& m) override {
        if (t.origin.y >= top_ && t.origin.y < bottom_) target_.DrawText(t, m);
    }
    void DrawImage(const emf::Image& i, const emf::Matrix& m) override { target_.DrawImage(i, m); }
    void PushClip(const emf::Path& p, emf::FillRule r, const emf::Matrix& m) override { target_.PushClip(p, r, m); }
    void PopClip() override { target_.PopClip(); }

private:
    emf::Device& target_;
    double top_, bottom_;
};

// The columns of a table whose rows are laid out in parts. The first part
// lays the table out as written; every part after it gets the table's width
// and a hidden row (`TableSetting::ruler`) whose cells are as wide as the
// first part's columns, so that its columns come out the same. A part where
// they do not (a cell that needs more room) widens them, and the parts are
// laid out again with the wider columns, the first one too.
class TableColumns {
public:
    const TableSetting& Setting() const { return setting_; }

    // From the first part: its widest row whose cells each span one column
    // (false when there is none), or its ruler.
    bool Measure(const litehtml::element::ptr& table, const std::vector<litehtml::element::ptr>& rows,
                 std::size_t own, const litehtml::element::ptr& ruler) {
        std::vector<litehtml::element::ptr> best;
        if (ruler) {
            best = ElementChildren(ruler);
        } else {
            for (std::size_t u = 0; u < std::min<std::size_t>(own, 200); ++u) {
                if (rows[u]->get_display() != litehtml::display_table_row) continue;
                auto cells = ElementChildren(rows[u]);
                const bool single = std::all_of(cells.begin(), cells.end(), [](const litehtml::element::ptr& c) {
                    const char* span = c->get_attr("colspan");
                    return c->get_display() == litehtml::display_table_cell && (!span || std::atoi(span) <= 1);
                });
                if (single && cells.size() > best.size()) best = std::move(cells);
            }
        }
        if (best.empty()) return false;
        table_ = BorderBox(table);
        cells_.clear();
        for (const auto& c : best) {
            const IntRect r = BorderBox(c);
            cells_.emplace_back(r.left, r.right);
        }
        if (!ruler) {
            widths_.clear();
            for (const auto& [left, right] : cells_) widths_.push_back(right - left);
            width_ = ContentWidth(table);
            Write();
        }
        return widths_.size() == cells_.size();
    }

    // Whether a later part's table lines up with the first part's.
    bool Matches(const litehtml::element::ptr& table, const litehtml::element::ptr& ruler) const {
        const IntRect box = BorderBox(table);
        if (box.left != table_.left || box.right != table_.right) return false;
        const auto got = ElementChildren(ruler);
        if (got.size() != cells_.size()) return false;
        for (std::size_t c = 0; c < got.size(); ++c) {
            const IntRect r = BorderBox(got[c]);
            if (r.left != cells_[c].first || r.right != cells_[c].second) return false;
        }
        return true;
    }

    // Takes on the wider columns a part needed; false when none grew.
    bool Widen(const litehtml::element::ptr& table, const litehtml::element::ptr& ruler) {
        const auto got = ElementChildren(ruler);
        if (got.size() != widths_.size()) return false;
        bool grew = false;
        for (std::size_t c = 0; c < got.size(); ++c) {
            const IntRect r = BorderBox(got[c]);
            if (r.right - r.left > widths_[c]) widths_[c] = r.right - r.left, grew = true;
        }
        if (ContentWidth(table) > width_) width_ = ContentWidth(table), grew = true;
        Write();
        return grew;
    }

private:
    static int ContentWidth(const litehtml::element::ptr& table) {
        const IntRect box = BorderBox(table);
        const litehtml::margins p = table->get_paddings(), b = table->get_borders();
        return std::max(0, box.right - box.left - p.left - p.right - b.left - b.right);
    }
    void Write() {
        setting_.style = "width:" + std::to_string(width_) + "px";
        setting_.ruler = "<tr style=\"visibility:hidden\">";
        for (int w : widths_)
            setting_.ruler += "<td style=\"padding:0;border:0;height:0\"><div style=\"width:" + std::to_string(w) +
                              "px;height:0\"></div></td>";
        setting_.ruler += "</tr>";
    }

    IntRect table_;                            // the table's border box in the first part
    std::vector<std::pair<int, int>> cells_;   // left, right of each column there
    std::vector<int> widths_;                  // of the ruler's cells
    int width_ = 0;                            // of the table's content
    TableSetting setting_;
};

// A drawing of more calls than this goes to disk as it grows (DisplayList's
// spill file): the layout keeps the part it is on, not the whole document.
constexpr std::size_t kSpillCalls = 1u << 15;

// Children of the next part laid out with a part: where one of them starts is
// where the next part starts.
constexpr std::size_t kLookahead = 4;

// Lays out a long document in parts (chunks.h) and stacks them: each part
// is moved so that its first child lies where the part before placed it,
// and drawn clipped to its own band, so ancestors' backgrounds continue and
// nothing is drawn twice. A part may begin only at a block that nothing
// before it reaches past (no float hangs over it). False, with nothing in
// `res` changed, when the document cannot be laid out so.
bool LayOutInParts(const RenderRequest& req, FontManager& fonts, ResourceFetcher& fetcher, const Loaded& loaded,
                   const SanitizedHtml& sane, RenderResult& res) {
    ChunkPlan plan = PlanChunks(sane, req.layoutPartBytes);
    if (plan.Parts() < 2) return false;
    const std::size_t spineDepth = plan.spine.size();
    int width = std::max(1, req.minimalWidth);
    TableColumns columns;  // of a split table
    int tableTries = 0;
    constexpr int kTableTries = 3;
    for (int attempt = 0; attempt < 3 + kTableTries; ++attempt) {
        RenderResult out;
        out.drawing.SetSpillThreshold(kSpillCalls);
        FactsWalk facts(out, nullptr);
        std::vector<int> spineFacts;  // facts of html, body, ... the split element (first part)
        int seam = 0;                 // where the current part begins, document pixels
        int dy = 0, height = 0, widest = width;
        bool wider = false;
        std::vector<std::string> warnings;
        bool again = false;  // a split table's columns grew: every part once more
        for (std::size_t k = 0; k < plan.Parts(); ++k) {
            const bool last = k + 1 == plan.Parts();
            LaidOut laid = LayOut(fonts, fetcher, ChunkHtml(sane, plan, k, kLookahead, columns.Setting()),
                                  loaded.baseUrl, loaded.encoding, sane, width, false, nullptr, 0);
            if (!laid.doc) return false;
            if (const int fit = FitWidth(laid.doc->root()); fit > width) {
                widest = std::max(widest, fit);
                wider = true;
                break;
            }
            // The elements from the root down to the split one, by tag.
            std::vector<litehtml::element::ptr> chain{laid.doc->root()};
            if (!chain[0]) return false;
            for (std::size_t i = 0; i < spineDepth; ++i) {
                const auto kids = ElementChildren(chain.back());
                litehtml::element::ptr next;
                if (k == 0 && plan.table >= 0 && static_cast<int>(i) == plan.table + 1) {
                    // The table's bodies by count (litehtml leaves its head untagged).
                    std::size_t n = 0;
                    for (const auto& s : sane.spans)
                        if (s.parent == plan.spine[i - 1] && &s < &sane.spans[static_cast<std::size_t>(plan.spine[i])] &&
                            SpanTag(sane, static_cast<int>(&s - sane.spans.data())) == "tbody")
                            ++n;
                    for (const auto& kid : kids)
                        if (std::string_view(kid->get_tagName()) == "tbody" && n-- == 0) {
                            next = kid;
                            break;
                        }
                } else if (k == 0 && i > 0) {
                    // The first part holds the spine's earlier siblings too.
                    std::size_t n = 0;
                    for (const auto& s : sane.spans)
                        if (s.parent == plan.spine[i - 1] && &s < &sane.spans[static_cast<std::size_t>(plan.spine[i])]) ++n;
                    if (n < kids.size()) next = kids[n];
                } else {
                    for (const auto& kid : kids)
                        if (SpanTag(sane, plan.spine[i]) == kid->get_tagName()) {
                            next = kid;
                            // A split table's rows are in the body after the ruler.
                            if (plan.table < 0 || static_cast<int>(i) != plan.table + 1 || k == 0) break;
                        }
                }
                if (!next || SpanTag(sane, plan.spine[i]) != next->get_tagName()) return false;
                chain.push_back(std::move(next));
            }
            auto units = ElementChildren(chain.back());
            const std::size_t padding = ChunkPadding(plan, k);
            if (units.size() < padding) return false;
            units.erase(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(padding));
            // A split table's ruler: after the part's rows, or in the last
            // part the row of the table's first body.
            litehtml::element::ptr ruler;
            if (plan.table >= 0 && !columns.Setting().ruler.empty()) {
                if (!last) {
                    if (units.empty()) return false;
                    ruler = units.back();
                    units.pop_back();
                } else {
                    const auto groups = ElementChildren(chain[static_cast<std::size_t>(plan.table) + 1]);
                    const auto rows = groups.size() < 2 ? groups : ElementChildren(groups.front());
                    if (groups.size() < 2 || rows.empty()) return false;
                    ruler = rows.front();
                }
            }
            const std::size_t first = plan.firstUnit[k];
            const std::size_t own = (last ? plan.units.size() : plan.firstUnit[k + 1]) - first;
            const std::size_t base = k == 0 ? 0 : first;  // unit index of units[0]
            if (units.size() < own + (k == 0 ? first : 0)) return false;
            for (std::size_t u = 0; u < std::min({units.size(), own + 1 + kLookahead, plan.units.size() - base}); ++u)
                if (SpanTag(sane, plan.units[base + u]) != units[u]->get_tagName()) return false;
            if (plan.table >= 0) {
                // A split table's rows line up only under the same columns.
                const litehtml::element::ptr& table = chain[static_cast<std::size_t>(plan.table) + 1];
                if (k == 0) {
                    if (!columns.Measure(table, units, own, ruler)) return false;
                } else if (!columns.Matches(table, ruler)) {
                    // Columns that do not line up and cannot grow never will.
                    if (!columns.Widen(table, ruler) && !again) return false;
                    again = true;
                }
                // Once a part needed wider columns, the rest are only measured.
                if (again) continue;
            }
            if (k > 0) {
                if (!StartsABlock(units[0])) return false;
                dy = seam - BlockTop(units[0]);
            }
            // Where the next part begins: the first of its children (or of
            // the ones after it) that starts a block below everything before.
            int next = std::numeric_limits<int>::max();
            std::size_t nextUnit = plan.units.size();
            std::vector<const litehtml::element*> lookahead;
            if (!last) {
                for (std::size_t u = own; u < units.size(); ++u) lookahead.push_back(units[u].get());
            }
            facts.SetContainer(laid.container.get());
            const std::size_t factsBefore = out.elements.size();
            int ownBottom = std::numeric_limits<int>::min();
            auto walkOwn = [&](int parentFacts) {
                for (std::size_t u = 0; u < own; ++u) facts.Walk(units[u], parentFacts, dy);
            };
            if (k == 0) {
                std::vector<const litehtml::element*> watched;
                for (const auto& c : chain) watched.push_back(c.get());
                facts.Watch(watched);
                facts.Walk(chain[0], -1, dy, [&](const litehtml::element* e) {
                    return e == ruler.get() || std::find(lookahead.begin(), lookahead.end(), e) != lookahead.end();
                });
                for (const auto* c : watched) spineFacts.push_back(facts.IndexOf(c));
                if (std::find(spineFacts.begin(), spineFacts.end(), -1) != spineFacts.end()) return false;
            } else {
                walkOwn(spineFacts.back());
                if (last) {
                    // The rest of the document: what follows each spine element.
                    for (std::size_t i = chain.size() - 1; i-- > 0;) {
                        const auto kids = ElementChildren(chain[i]);
                        auto at = std::find(kids.begin(), kids.end(), chain[i + 1]);
                        for (auto it = at == kids.end() ? at : at + 1; it != kids.end(); ++it)
                            facts.Walk(*it, spineFacts[i], dy);
                    }
                }
            }
            for (std::size_t i = factsBefore; i < out.elements.size(); ++i) {
                if (std::find(spineFacts.begin(), spineFacts.end(), static_cast<int>(i)) != spineFacts.end()) continue;
                for (const auto& r : out.elements[i].rects) ownBottom = std::max(ownBottom, r.bottom);
            }
            if (!last) {
                int reach = ownBottom;  // of everything before the candidate
                for (std::size_t u = own; u < units.size(); ++u) {
                    const int top = BlockTop(units[u]) + dy;
                    if (StartsABlock(units[u]) && top >= reach) {
                        next = top;
                        nextUnit = first + u;
                        break;
                    }
                    reach = std::max(reach, LowestBottom(units[u]) + dy);
                }
                if (nextUnit == plan.units.size()) return false;
                // What the next part's children hold in the first part's
                // walk came from the lookahead; none was walked.
                if (nextUnit != plan.firstUnit[k + 1]) {
                    if (nextUnit > plan.firstUnit[k + 1] && k + 2 < plan.Parts() && nextUnit >= plan.firstUnit[k + 2])
                        return false;
                    // The part grows by the children before that block: walk them too.
                    for (std::size_t u = own; u < nextUnit - first; ++u)
                        facts.Walk(units[u], spineFacts.back(), dy);
                    plan.firstUnit[k + 1] = nextUnit;
                }
            }
            // Drawn within its band only.
            const int bandTop = k == 0 ? std::numeric_limits<int>::min() / 2 : seam;
            const int bandBottom = last ? std::numeric_limits<int>::max() / 2 : next;
            BandDevice inBand(out.drawing, bandTop, bandBottom);
            DrawTarget target{&inBand};
            laid.container->SetDevice(&inBand);
            laid.container->SetViewport(width, std::max(laid.doc->height(), 1));
            emf::Path band;
            band.AddRect({-1e7, double(bandTop), 1e7 + width, double(bandBottom)});
            out.drawing.PushClip(band, emf::FillRule::NonZero, {});
            // litehtml draws what touches its clip: the band ends a pixel
            // early, so that the next part's first block is drawn only there.
            litehtml::position clip(0, std::max(bandTop, -1 << 29), width,
                                    std::min(bandBottom, 1 << 29) - 1 - std::max(bandTop, -1 << 29));
            laid.doc->draw(reinterpret_cast<litehtml::uint_ptr>(&target), 0, dy, &clip);
            laid.container->FlushText();
            out.drawing.PopClip();
            for (auto& w : laid.container->Warnings()) warnings.push_back(std::move(w));
            if (last) {
                // The spine's boxes end where the last part ends them.
                for (std::size_t i = 0; i < chain.size(); ++i) {
                    auto& rects = out.elements[static_cast<std::size_t>(spineFacts[i])].rects;
                    const std::vector<IntRect> lastRects = ClientRects(chain[i]);
                    if (!rects.empty() && !lastRects.empty()) rects.back().bottom = lastRects.back().bottom + dy;
                }
                height = laid.doc->height() + dy;
            }
            seam = next;
        }
        if (wider) {
            width = widest;
            continue;
        }
        if (again) {
            if (++tableTries > kTableTries) return false;
            continue;
        }
        res.layoutWidth = width;
        res.scrollWidth = res.bodyScrollWidth = width;
        res.scrollHeight = height;
        res.elements = std::move(out.elements);
        res.anchors = std::move(out.anchors);
        res.drawing = std::move(out.drawing);
        for (auto& w : warnings) res.warnings.push_back(std::move(w));
        return true;
    }
    return false;
}

// A layout that draws no text of a document that has some is no page to
// hand on: markup laid out as written is laid out once more cleaned up, and
// a cleaned-up layout without text fails its load (RenderOnce).
RenderResult LitehtmlEngine::Render(const RenderRequest& req) {
    bool asWritten = false;
    RenderResult res = RenderOnce(req, false, &asWritten);
    if (asWritten && res.documentAvailable && !res.frameset && res.drawing.TextRunCount() == 0) {
        // What the first render kept is let go first.
        if (req.deferTeardown) ReleaseDeferred();
        res = RenderOnce(req, true, nullptr);
    }
    return res;
}

RenderResult LitehtmlEngine::RenderOnce(const RenderRequest& req, bool cleanUp, bool* usedAsWritten) {
    RenderResult res;
    res.drawing.SetSpillThreshold(kSpillCalls);
    auto deadline = ResourceFetcher::Clock::now() + std::chrono::milliseconds(std::max(0, req.timeoutMs));
    ResourceFetcher fetcher(deadline, req.userAgent, req.maxDocumentBytes);
    FontManager* fonts = &SharedFonts();

    Loaded loaded;
    if (!Fetch(req, fetcher, res, loaded)) return res;
    res.documentAvailable = true;

    // Markup that needs no rewriting is laid out as written, unless its tree
    // turns out deeper than the caps; everything else is cleaned up first.
    // A long document is cleaned up in any case: its parts are cut from the
    // cleaned-up markup.
    LaidOut laid;
    const Caps caps{req.maxDepth, req.maxTableDepth};
    std::optional<SanitizedHtml> asWritten;
    if (!cleanUp && (req.layoutPartBytes == 0 || loaded.html.size() < 2 * req.layoutPartBytes)) asWritten = PassThroughHtml(loaded.html, req.maxDepth);
    if (asWritten)
        laid = LayOut(*fonts, fetcher, asWritten->html, loaded.baseUrl, loaded.encoding, *asWritten,
                      std::max(1, req.minimalWidth), true, &caps);
    if (usedAsWritten) *usedAsWritten = laid.doc != nullptr;
    SanitizedHtml sane = laid.doc ? std::move(*asWritten) : SanitizeHtml(loaded.html, req.maxDepth, req.maxTableDepth);
    std::string().swap(loaded.html);  // what is laid out from here on is `sane`
    // The cleaned-up markup knows whether the document has text to show.
    auto textLost = [&](const RenderResult& r) { return !laid.doc && sane.hasText && r.drawing.TextRunCount() == 0; };
    auto failLost = [&](RenderResult& r) {
        r.documentAvailable = false;
        r.warnings.push_back("the layout drew none of the document's text");
    };    if (sane.depthFlattened)
        res.warnings.push_back("elements nested deeper than " + std::to_string(req.maxDepth) + " laid out flat");
    if (sane.tablesFlattened) res.warnings.push_back("tables nested deeper than " + std::to_string(req.maxTableDepth) + " laid out as blocks");
    res.compatMode = sane.quirks ? "BackCompat" : "CSS1Compat";
    if (sane.frameset) {
        LayoutFrameset(req, fetcher, sane, loaded.baseUrl, res);
        res.timedOut = res.timedOut || fetcher.AnyTimedOut();
        return res;
    }
    if (!laid.doc && LayOutInParts(req, *fonts, fetcher, loaded, sane, res)) {
        res.timedOut = res.timedOut || fetcher.AnyTimedOut();
        if (textLost(res)) failLost(res);
        return res;
    }
    const bool cleanedUp = !laid.doc;

    if (!laid.doc)
        laid = LayOut(*fonts, fetcher, sane.html, loaded.baseUrl, loaded.encoding, sane, std::max(1, req.minimalWidth), true);
    if (!laid.doc) {
        res.documentAvailable = false;
        res.warnings.push_back("document could not be parsed");
        return res;
    }
    Container& container = *laid.container;
    res.layoutWidth = laid.width;
    res.scrollWidth = std::min(laid.doc->width(), laid.width);
    res.scrollHeight = laid.doc->height();
    res.bodyScrollWidth = res.scrollWidth;

    FactsWalk facts(res, &container);
    facts.Walk(laid.doc->root(), -1, 0);
    const int drawHeight = std::max(laid.height, facts.Bottom());

    DrawTarget target{&res.drawing};
    container.SetDevice(&res.drawing);
    container.SetViewport(laid.width, std::max(drawHeight, 1));
    litehtml::position clip(0, 0, laid.width, std::max(drawHeight, 1));
    laid.doc->draw(reinterpret_cast<litehtml::uint_ptr>(&target), 0, 0, &clip);
    container.FlushText();
    for (auto& w : container.Warnings()) res.warnings.push_back(std::move(w));
    res.timedOut = res.timedOut || fetcher.AnyTimedOut();
    if (cleanedUp && sane.hasText && res.drawing.TextRunCount() == 0) failLost(res);
    if (req.deferTeardown) DeferTeardown(std::move(laid));
    return res;
}

}  // namespace

std::unique_ptr<HtmlEngine> CreateLitehtmlEngine() { return std::make_unique<LitehtmlEngine>(); }

}  // namespace htmlengine
