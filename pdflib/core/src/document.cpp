#include "pdfcore/document.h"


#include <nettle/sha2.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "pdfcore/flatten.h"
#include "pdfcore/pdf_writer.h"
#include "pdfcore/protection.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace pdfcore {

namespace {

constexpr double kMm = 72.0 / 25.4;

struct PaperSize {
    double w, h;  // points, portrait
};

// Index order of the converter's settings table.
constexpr PaperSize kPapers[20] = {
    {210 * kMm, 297 * kMm},  // 0 user defined: A4
    {612, 792},              // 1 Letter
    {210 * kMm, 297 * kMm},  // 2 A4
    {297 * kMm, 420 * kMm},  // 3 A3
    {612, 1008},             // 4 Legal
    {182 * kMm, 257 * kMm},  // 5 B5 (JIS)
    {162 * kMm, 229 * kMm},  // 6 C5
    {576, 792},              // 7 8 x 11 in
    {257 * kMm, 364 * kMm},  // 8 B4 (JIS)
    {148 * kMm, 210 * kMm},  // 9 A5
    {612, 936},              // 10 Folio 8.5 x 13 in
    {522, 756},              // 11 Executive 7.25 x 10.5 in
    {250 * kMm, 353 * kMm},  // 12 envelope B4
    {176 * kMm, 250 * kMm},  // 13 envelope B5
    {114 * kMm, 162 * kMm},  // 14 envelope C6
    {110 * kMm, 220 * kMm},  // 15 envelope DL
    {279, 540},              // 16 envelope Monarch 3.875 x 7.5 in
    {279, 639},              // 17 envelope #9 3.875 x 8.875 in
    {297, 684},              // 18 envelope #10 4.125 x 9.5 in
    {324, 747},              // 19 envelope #11 4.5 x 10.375 in
};

std::string PdfDate(const Settings::Date& d) {
    char buf[64];
    int off = d.utcOffsetMinutes;
    if (off == 0) {
        std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02dZ", d.year, d.month, d.day, d.hour, d.minute,
                      d.second);
    } else {
        char sign = off < 0 ? '-' : '+';
        off = std::abs(off);
        std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02d%c%02d'%02d'", d.year, d.month, d.day, d.hour,
                      d.minute, d.second, sign, off / 60, off % 60);
    }
    return buf;
}

Settings::Date Now() {
    std::time_t t = std::time(nullptr);
    std::tm lt{};
    localtime_r(&t, &lt);
    Settings::Date d{lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec,
                     static_cast<int>(lt.tm_gmtoff / 60)};
    return d;
}

// A PDF text string: ASCII as it is, anything else UTF-16BE with its BOM.
std::string TextString(const std::string& utf8) {
    bool ascii = true;
    for (unsigned char c : utf8) ascii = ascii && c < 0x80;
    if (ascii) return utf8;
    std::string out = "\xFE\xFF";
    for (char16_t u : platform::Utf16FromUtf8(utf8)) {
        out.push_back(static_cast<char>(u >> 8));
        out.push_back(static_cast<char>(u & 0xFF));
    }
    return out;
}

struct Form {
    ContentBuilder content;
    Rect bbox;
    Matrix matrix;
};

}  // namespace

bool PaperSizePoints(int index, double* width, double* height) {
    if (index < 0 || index >= 20) return false;
    *width = kPapers[index].w;
    *height = kPapers[index].h;
    return true;
}

struct Document::Impl {
    Settings settings;
    FontCache fonts;
    std::vector<Page> pages;
    std::map<std::string, std::shared_ptr<const EncodedImage>> images;
    std::map<std::string, Form> forms;
    int imageCount = 0;
    std::map<std::string, std::string> imageByDigest;
    // id = index + 1. A deque: a converter run makes one per link, a million
    // or more, and a vector would hold two copies while it grows.
    std::deque<Action> actions;
    struct Dest {
        int page;
        double top;
    };
    std::vector<Dest> dests;  // id = index + 1
    std::vector<Outline> outlines;
    std::vector<int> topOutlines;
    // Finished page content: an unnamed file of the temporary folder (unlinked
    // as soon as it is made, so nothing is left behind on any path).
    int spool = -1;
    std::uint64_t spoolEnd = 0;

    ~Impl() {
        if (spool >= 0) close(spool);
    }

    void SpoolSegment(Page& page, const std::string& data, bool compressed);

    // ---- writing
    struct Out {
        explicit Out(ObjectWriter& writer) : w(writer) {}
        ObjectWriter& w;
        int firstPage = 3;  // page i is object firstPage + i
        std::map<std::string, int> fontNums, imageNums;
        struct FormState {
            int num = 0, resources = 0;
            bool busy = false;
        };
        std::map<std::string, FormState> formStates;
        std::map<std::string, int> resourceNums;  // dictionary text -> object
        std::map<std::string, int> flipNums;      // flip operators -> object
        std::vector<std::uint32_t> actionUses;
        std::vector<int> sharedActions;  // action index -> object, 0: written inline
        bool softMasks = true;           // PDF 1.4: pictures keep their alpha masks
    };
    int Resources(Out& o, const ContentBuilder& c, int depth);
    int FormNumber(Out& o, const std::string& name, int depth);
    int FlipStream(Out& o, double height);
    void DestArray(Out& o, int page, double top);
    void ActionValue(Out& o, int id);  // "/A ..." inline or as a reference
    void InlineAction(Out& o, const Action& a);
    void WritePage(Out& o, size_t index);
    int WriteOutlines(Out& o);
    void WriteImage(Out& o, int num, const EncodedImage& im);
    void WriteBody(ObjectWriter& w, const std::string& id);
};

Document::Document() : impl_(std::make_unique<Impl>()) {}
Document::~Document() = default;

Settings& Document::GetSettings() { return impl_->settings; }
FontCache& Document::Fonts() { return impl_->fonts; }

int Document::AddPage(double width, double height) {
    Page p;
    p.width = width;
    p.height = height;
    impl_->pages.push_back(std::move(p));
    return static_cast<int>(impl_->pages.size()) - 1;
}

int Document::PageCount() const { return static_cast<int>(impl_->pages.size()); }
Page& Document::GetPage(int index) { return impl_->pages.at(static_cast<size_t>(index)); }

void Document::Impl::SpoolSegment(Page& page, const std::string& data, bool compressed) {
    if (spool < 0) {
        std::string tmpl = platform::TempFolder() + "/vellumate-pages.XXXXXX";
        spool = mkstemp(tmpl.data());
        if (spool < 0)
            throw std::runtime_error("cannot create a spool file in " + platform::TempFolder() + ": " +
                                     std::strerror(errno));
        unlink(tmpl.c_str());
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = pwrite(spool, data.data() + done, data.size() - done, static_cast<off_t>(spoolEnd + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error(std::string("cannot write the page spool file: ") + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
    page.finished.push_back({spoolEnd, data.size(), compressed});
    spoolEnd += data.size();
}

void Document::FinishPageContent(int index) {
    Page& p = GetPage(index);
    if (p.content.Empty()) return;
    // The content leaves the builder only once it is safely in the spool: a
    // full disk fails the call, not the page.
    if (impl_->settings.compress) {
        impl_->SpoolSegment(p, Deflate(p.content.Data()), true);
    } else {
        impl_->SpoolSegment(p, p.content.Data(), false);
    }
    p.content.TakeData();
}

std::string Document::AddImage(EncodedImage image) {
    if (image.width <= 0 || image.height <= 0) throw std::invalid_argument("image without size");
    std::string name = "Im" + std::to_string(++impl_->imageCount);
    impl_->images[name] = std::make_shared<const EncodedImage>(std::move(image));
    return name;
}

std::string Document::AddImage(const std::string& digest, const std::function<EncodedImage()>& encode) {
    if (auto it = impl_->imageByDigest.find(digest); it != impl_->imageByDigest.end()) return it->second;
    EncodedImage image = encode();
    if (image.data.empty()) return {};
    std::string name = AddImage(std::move(image));
    impl_->imageByDigest.emplace(digest, name);
    return name;
}

std::string ImageDigest(std::initializer_list<std::string_view> parts) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    for (std::string_view part : parts) {
        const std::uint64_t n = part.size();
        sha256_update(&ctx, sizeof n, reinterpret_cast<const std::uint8_t*>(&n));
        sha256_update(&ctx, part.size(), reinterpret_cast<const std::uint8_t*>(part.data()));
    }
    std::string digest(SHA256_DIGEST_SIZE, '\0');
    sha256_digest(&ctx, SHA256_DIGEST_SIZE, reinterpret_cast<std::uint8_t*>(digest.data()));
    return digest;
}

std::string Document::AddForm(ContentBuilder content, const Rect& bbox, const Matrix& matrix) {
    std::string name = "Fm" + std::to_string(impl_->forms.size() + 1);
    impl_->forms[name] = Form{std::move(content), bbox, matrix};
    return name;
}

int Document::AddAction(Action action) {
    impl_->actions.push_back(std::move(action));
    return static_cast<int>(impl_->actions.size());
}
bool Document::HasAction(int id) const { return id >= 1 && id <= static_cast<int>(impl_->actions.size()); }

int Document::AddDestination(int page, double top) {
    impl_->dests.push_back({page, top});
    return static_cast<int>(impl_->dests.size());
}
bool Document::HasDestination(int id) const { return id >= 1 && id <= static_cast<int>(impl_->dests.size()); }

int Document::AddOutlineAfter(int after, std::string title, int action) {
    Outline o;
    o.title = std::move(title);
    o.action = action;
    int id = static_cast<int>(impl_->outlines.size());
    if (after >= 0 && after < id) o.parent = impl_->outlines[after].parent;
    int parent = o.parent;
    impl_->outlines.push_back(std::move(o));
    // Looked up only now: the push may have moved the outlines.
    std::vector<int>& list = parent >= 0 ? impl_->outlines[parent].children : impl_->topOutlines;
    auto it = after >= 0 && after < id ? std::find(list.begin(), list.end(), after) : list.end();
    list.insert(it == list.end() ? list.end() : it + 1, id);
    return id;
}

int Document::AddOutlineFirstChild(int parent, std::string title, int action) {
    Outline o;
    o.title = std::move(title);
    o.action = action;
    int id = static_cast<int>(impl_->outlines.size());
    bool valid = parent >= 0 && parent < id;
    o.parent = valid ? parent : -1;
    impl_->outlines.push_back(std::move(o));
    std::vector<int>& list = valid ? impl_->outlines[parent].children : impl_->topOutlines;
    list.insert(list.begin(), id);
    return id;
}

int Document::OutlineCount() const { return static_cast<int>(impl_->outlines.size()); }
Outline& Document::GetOutline(int id) { return impl_->outlines.at(static_cast<size_t>(id)); }

// ---- writing -------------------------------------------------------------------

// Resource dictionaries hold no strings, so equal text means an equal
// dictionary even under encryption: pages with the same fonts share one.
int Document::Impl::Resources(Out& o, const ContentBuilder& c, int depth) {
    std::string r = "<</ProcSet[/PDF/Text/ImageB/ImageC/ImageI]";
    auto ref = [&r](const std::string& name, int num) {
        r += "/" + name + " " + std::to_string(num) + " 0 R";
    };
    if (!c.Fonts().empty()) {
        r += "/Font<<";
        for (const std::string& n : c.Fonts()) {
            if (auto it = o.fontNums.find(n); it != o.fontNums.end()) {
                ref(n, it->second);
                continue;
            }
            for (const auto& f : fonts.All()) {
                if (f->ResourceName() != n) continue;
                int num = o.w.NewObject();
                o.fontNums[n] = num;
                ref(n, num);
                break;
            }
        }
        r += ">>";
    }
    if (!c.XObjects().empty()) {
        r += "/XObject<<";
        for (const std::string& n : c.XObjects()) {
            if (images.count(n)) {
                int& num = o.imageNums[n];
                if (!num) num = o.w.NewObject();
                ref(n, num);
            } else if (int num = FormNumber(o, n, depth)) {
                ref(n, num);
            }
        }
        r += ">>";
    }
    if (!c.ExtGStates().empty()) {
        r += "/ExtGState<<";
        for (const std::string& n : c.ExtGStates()) {
            if (n == "GSdiff") {
                r += "/GSdiff<</Type/ExtGState/BM/Difference>>";
                continue;
            }
            int fill = 1000, stroke = 1000;
            if (std::sscanf(n.c_str(), "GSa%ds%d", &fill, &stroke) != 2) continue;
            r += "/" + n + "<</Type/ExtGState/ca ";
            AppendNumber(r, std::clamp(fill, 0, 1000) / 1000.0);
            r += "/CA ";
            AppendNumber(r, std::clamp(stroke, 0, 1000) / 1000.0);
            r += ">>";
        }
        r += ">>";
    }
    r += ">>";
    auto [it, fresh] = o.resourceNums.emplace(std::move(r), 0);
    if (fresh) {
        it->second = o.w.NewObject();
        o.w.Begin(it->second);
        o.w.Raw(it->first);
        o.w.End();
    }
    return it->second;
}

// A form's number, its resources settled (and written) now; the form itself
// is written at the end. A form that draws itself, directly or through
// others, does not find itself among its resources (no endless recursion in
// viewers), nor does a form nested deeper than 8.
int Document::Impl::FormNumber(Out& o, const std::string& name, int depth) {
    if (auto it = o.formStates.find(name); it != o.formStates.end()) return it->second.busy ? 0 : it->second.num;
    auto f = forms.find(name);
    if (f == forms.end() || depth > 8) return 0;
    o.formStates[name].busy = true;
    int res = Resources(o, f->second.content, depth + 1);
    Out::FormState& st = o.formStates[name];
    st.busy = false;
    st.resources = res;
    st.num = o.w.NewObject();
    return st.num;
}

// Page content is drawn top-down; this stream, in front of a page's own,
// puts the origin at the top-left. Pages of one height share it.
int Document::Impl::FlipStream(Out& o, double height) {
    std::string flip = "1 0 0 -1 0 ";
    AppendNumber(flip, height);
    flip += " cm\n";
    auto [it, fresh] = o.flipNums.emplace(std::move(flip), 0);
    if (fresh) {
        it->second = o.w.NewObject();
        o.w.Begin(it->second);
        o.w.EndStream(it->first, false);
    }
    return it->second;
}

void Document::Impl::DestArray(Out& o, int page, double top) {
    page = std::clamp(page, 0, static_cast<int>(pages.size()) - 1);
    double h = pages[page].height;
    o.w.Raw("[");
    o.w.Ref(o.firstPage + page);
    o.w.Raw("/XYZ null");
    double y = h - top;  // kept on the page, whatever the values
    if (!(y <= h)) y = h;
    if (!(y >= 0)) y = 0;
    o.w.ShortNum(y);
    o.w.Raw(" null]");
}

namespace {
// A URI action's address is 7-bit ASCII: bytes outside it (UTF-8 letters),
// blanks, controls and the characters an address may not hold literally are
// written percent-encoded. An escape already in the address stays as it is.
std::string UriText(std::string_view address) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(address.size());
    for (unsigned char c : address) {
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
}  // namespace

void Document::Impl::InlineAction(Out& o, const Action& a) {
    switch (a.kind) {
    case Action::Kind::GoTo:
        o.w.Raw("<</S/GoTo/D");
        DestArray(o, a.page, a.top);
        break;
    case Action::Kind::Uri:
        o.w.Raw("<</S/URI/URI");
        o.w.String(UriText(a.text));
        break;
    case Action::Kind::JavaScript:
        o.w.Raw("<</S/JavaScript/JS");
        o.w.String(TextString(a.text));
        break;
    }
    o.w.Raw(">>");
}

// Most actions belong to one link and sit inside it; one that many links or
// outlines use is one object they all refer to, when that is smaller.
void Document::Impl::ActionValue(Out& o, int id) {
    const Action& a = actions[id - 1];
    std::uint32_t uses = o.actionUses[id - 1];
    size_t inlineSize = a.kind == Action::Kind::GoTo ? 40 : 16 + a.text.size();
    bool share = uses > 1 && (uses - 1) * inlineSize > 40 + uses * 8;
    o.w.Raw("/A");
    if (!share) {
        InlineAction(o, a);
        return;
    }
    int& num = o.sharedActions[id - 1];
    if (!num) num = o.w.NewObject();
    o.w.Ref(num);
}

void Document::Impl::WritePage(Out& o, size_t index) {
    Page& p = pages[index];
    int res = Resources(o, p.content, 0);
    int flip = FlipStream(o, p.height);
    int firstSegment = o.w.ObjectCount() + 1;
    for (size_t k = 0; k < p.finished.size(); ++k) o.w.NewObject();
    auto valid = [&](const Link& l) {
        return (l.action >= 1 && l.action <= static_cast<int>(actions.size())) ||
               (l.destination >= 1 && l.destination <= static_cast<int>(dests.size()));
    };
    size_t linkCount = 0;
    for (const Link& l : p.links) linkCount += valid(l);
    int firstLink = o.w.ObjectCount() + 1;
    for (size_t k = 0; k < linkCount; ++k) o.w.NewObject();

    ObjectWriter& w = o.w;
    w.Begin(o.firstPage + static_cast<int>(index));
    w.Raw("<</Type/Page/Parent 2 0 R/MediaBox[0 0");
    w.Num(p.width);
    w.Num(p.height);
    w.Raw("]");
    if (p.rotation) {
        w.Raw("/Rotate");
        w.Int(p.rotation);
    }
    w.Raw("/Resources");
    w.Ref(res);
    w.Raw("/Contents[");
    w.Ref(flip);
    for (size_t k = 0; k < p.finished.size(); ++k) w.Ref(firstSegment + static_cast<int>(k));
    w.Raw("]");
    if (linkCount) {
        w.Raw("/Annots[");
        for (size_t k = 0; k < linkCount; ++k) w.Ref(firstLink + static_cast<int>(k));
        w.Raw("]");
    }
    w.Raw(">>");
    w.End();

    for (size_t k = 0; k < p.finished.size(); ++k) {
        const Page::Segment& seg = p.finished[k];
        w.Begin(firstSegment + static_cast<int>(k));
        if (seg.compressed) w.Raw("/Filter/FlateDecode");
        w.EndStreamFromFile(spool, seg.offset, seg.length);
    }

    int num = firstLink;
    for (const Link& l : p.links) {
        if (!valid(l)) continue;
        double x0 = std::min(l.rect.left, l.rect.right), x1 = std::max(l.rect.left, l.rect.right);
        double y0 = p.height - std::max(l.rect.top, l.rect.bottom);
        double y1 = p.height - std::min(l.rect.top, l.rect.bottom);
        w.Begin(num++);
        // /Type is optional in an annotation (its /Subtype says what it is):
        // left out, a million links are 11 MB shorter.
        w.Raw("<</Subtype/Link/Rect[");
        w.ShortNum(x0);
        w.ShortNum(y0);
        w.ShortNum(x1);
        w.ShortNum(y1);
        w.Raw("]/Border[0 0 0]");
        if (l.action >= 1 && l.action <= static_cast<int>(actions.size())) {
            ActionValue(o, l.action);
        } else {
            const Dest& ds = dests[l.destination - 1];
            w.Raw("/Dest");
            DestArray(o, ds.page, ds.top);
        }
        w.Raw(">>");
        w.End();
    }
}

// Outline items are numbered in one block after the outline root. Children
// always have larger ids than their parent, so open counts are summed from
// the last id down (no recursion, however deep the tree).
int Document::Impl::WriteOutlines(Out& o) {
    if (topOutlines.empty()) return 0;
    ObjectWriter& w = o.w;
    const int n = static_cast<int>(outlines.size());
    int top = w.NewObject();
    int first = w.ObjectCount() + 1;
    for (int i = 0; i < n; ++i) w.NewObject();
    auto inRange = [n](int c) { return c >= 0 && c < n; };
    // Visible descendants when open; prev/next siblings and parent object.
    std::vector<int> visible(n, 0), prev(n, -1), next(n, -1), parentObj(n, top);
    for (int i = n - 1; i >= 0; --i)
        for (int c : outlines[i].children)
            if (inRange(c) && c > i) visible[i] += 1 + (outlines[c].open ? visible[c] : 0);
    auto siblings = [&](const std::vector<int>& kids, int parentNum) {
        int before = -1;
        for (int c : kids) {
            if (!inRange(c)) continue;
            parentObj[c] = parentNum;
            prev[c] = before;
            if (before >= 0) next[before] = c;
            before = c;
        }
    };
    siblings(topOutlines, top);
    for (int i = 0; i < n; ++i) siblings(outlines[i].children, first + i);
    auto firstLast = [&](const std::vector<int>& kids) {
        int a = -1, b = -1;
        for (int c : kids)
            if (inRange(c)) {
                if (a < 0) a = c;
                b = c;
            }
        if (a < 0) return;
        w.Raw("/First");
        w.Ref(first + a);
        w.Raw("/Last");
        w.Ref(first + b);
    };

    int total = 0;
    for (int t : topOutlines)
        if (inRange(t)) total += 1 + (outlines[t].open ? visible[t] : 0);
    w.Begin(top);
    w.Raw("<</Type/Outlines");
    firstLast(topOutlines);
    w.Raw("/Count");
    w.Int(total);
    w.Raw(">>");
    w.End();

    for (int i = 0; i < n; ++i) {
        const Outline& ol = outlines[i];
        w.Begin(first + i);
        w.Raw("<</Title");
        w.String(TextString(ol.title));
        w.Raw("/Parent");
        w.Ref(parentObj[i]);
        if (prev[i] >= 0) {
            w.Raw("/Prev");
            w.Ref(first + prev[i]);
        }
        if (next[i] >= 0) {
            w.Raw("/Next");
            w.Ref(first + next[i]);
        }
        firstLast(ol.children);
        if (visible[i]) {
            // Closed: minus the number that opening it would show.
            w.Raw("/Count");
            w.Int(ol.open ? visible[i] : -visible[i]);
        }
        if (ol.action >= 1 && ol.action <= static_cast<int>(actions.size())) ActionValue(o, ol.action);
        w.Raw(">>");
        w.End();
    }
    return top;
}

void Document::Impl::WriteImage(Out& o, int num, const EncodedImage& im) {
    if (im.softMask && !o.softMasks) {
        // PDF 1.3 has no soft masks: the picture on white, or without its
        // transparency where its samples cannot be read back.
        if (std::optional<EncodedImage> flat = OnWhite(im)) return WriteImage(o, num, *flat);
        EncodedImage opaque = im;
        opaque.softMask.reset();
        return WriteImage(o, num, opaque);
    }
    ObjectWriter& w = o.w;
    int maskNum = im.softMask ? w.NewObject() : 0;
    int iccNum = !im.imageMask && !im.iccProfile.empty() ? w.NewObject() : 0;
    std::string cs = im.colorSpace.empty() ? "/DeviceRGB" : im.colorSpace;
    bool csIsName = cs.size() > 1 && cs[0] == '/' && cs.find_first_of(" []<>()/", 1) == std::string::npos;
    w.Begin(num);
    w.Raw("/Type/XObject/Subtype/Image/Width");
    w.Int(im.width);
    w.Raw("/Height");
    w.Int(im.height);
    if (im.imageMask) {
        w.Raw("/ImageMask true");
    } else {
        w.Raw("/BitsPerComponent");
        w.Int(im.bitsPerComponent);
        w.Raw("/ColorSpace");
        if (iccNum) {
            w.Raw("[/ICCBased");
            w.Ref(iccNum);
            w.Raw("]");
        } else {
            w.ObjectText(cs);
        }
    }
    if (!im.decode.empty()) {
        w.Raw("/Decode[");
        for (double v : im.decode) w.Num(v);
        w.Raw("]");
    }
    if (im.interpolate) w.Raw("/Interpolate true");
    if (maskNum) {
        w.Raw("/SMask");
        w.Ref(maskNum);
    }
    if (!im.filter.empty()) {
        w.Raw("/Filter");
        w.Name(im.filter);
    }
    if (!im.decodeParms.empty()) {
        w.Raw("/DecodeParms");
        w.ObjectText(im.decodeParms);
    }
    w.EndStream(im.data, im.filter.empty());
    if (maskNum) WriteImage(o, maskNum, *im.softMask);
    if (iccNum) {
        w.Begin(iccNum);
        w.Raw("/N");
        w.Int(im.iccComponents);
        if (csIsName) {
            w.Raw("/Alternate");
            w.Raw(cs);
        }
        w.EndStream(im.iccProfile, true);
    }
}

namespace {

// The key-derivation inputs of the standard security handler.
struct Protection {
    int v = 1, r = 2, keyBytes = 5, p = 0;
    std::string o, u, key;
};

Protection MakeProtection(const Settings& s, const std::string& id1) {
    Protection pr;
    std::string user = s.userPassword;
    std::string owner = s.ownerPassword;
    if (owner.empty()) {
        // Without an owner password anyone who opens the file could lift the
        // permissions; a random one keeps them in force.
        std::string seed;
        if (s.deterministic) {
            seed = "vellumate-owner";
        } else {
            std::random_device rd;
            for (int i = 0; i < 4; ++i) seed += std::to_string(rd());
        }
        owner = "~" + seed + user;
    }
    // Permission bits cleared, numbered from 1 as the format counts them;
    // bits 1 and 2 are always clear.
    std::uint32_t mask = 3;
    auto clear = [&mask](std::initializer_list<int> bits) {
        for (int b : bits) mask |= 1u << (b - 1);
    };
    if (s.key128) {
        pr.v = 2, pr.r = 3, pr.keyBytes = 16;
        if (!s.allowCopy) clear({5});
        if (!s.allowModify) clear({4, 6, 9, 11});
        if (!s.allowPrint) clear({3, 12});
    } else {
        if (!s.allowPrint) clear({3});
        if (!s.allowModify) clear({4, 6});
        if (!s.allowCopy) clear({5});
    }
    pr.p = static_cast<int>(~mask);
    ProtectionKeys keys = ComputeProtectionKeys(user, owner, pr.v, pr.r, pr.keyBytes, pr.p, id1);
    pr.o = std::move(keys.o), pr.u = std::move(keys.u), pr.key = std::move(keys.key);
    return pr;
}

std::string FileId(const Settings& s, const std::string& path) {
    std::string id(16, '\0');
    if (s.deterministic) {
        static const char kFixed[] = "vellumate-static";
        std::memcpy(id.data(), kFixed, 16);
        return id;
    }
    // Unique, not secret: random bits mixed with the time and the name.
    std::random_device rd;
    std::uint64_t h = 1469598103934665603ull ^ static_cast<std::uint64_t>(std::time(nullptr));
    for (char c : path) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    for (int i = 0; i < 16; i += 4) {
        std::uint32_t r = rd() ^ static_cast<std::uint32_t>(h >> (i * 2));
        std::memcpy(id.data() + i, &r, 4);
    }
    return id;
}

std::string Hex(const std::string& bytes) {
    static const char* kHex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += kHex[c >> 4], out += kHex[c & 15];
    return out;
}

}  // namespace

namespace {
// Subsets and their compression are made on as many threads as there are
// cores, a font each; the fonts are then written in order.
void PrepareFonts(const std::vector<std::pair<Font*, int>>& fonts, bool embed, bool compress) {
    if (fonts.size() < 2) return;  // made as it is written
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next++) < fonts.size();) fonts[i].first->PrepareWrite(embed, compress);
    };
    const std::size_t helpers = std::min<std::size_t>(fonts.size(), std::max(1u, std::thread::hardware_concurrency())) - 1;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < helpers; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // this thread does the rest
        }
    }
    work();
    for (std::thread& t : threads) t.join();
}
}  // namespace

void Document::Impl::WriteBody(ObjectWriter& w, const std::string& id) {
    const Settings& s = settings;
    bool v14 = s.pdfVersion != 0 || (s.encrypt && s.key128);
    w.Header(v14 ? "1.4" : "1.3");
    Protection pr;
    if (s.encrypt) {
        pr = MakeProtection(s, id);
        w.SetEncryption(pr.key, pr.v, pr.r);
    }
    int catalog = w.NewObject(), pagesRoot = w.NewObject();
    Out o(w);
    o.softMasks = v14;
    o.firstPage = w.ObjectCount() + 1;
    for (size_t i = 0; i < pages.size(); ++i) w.NewObject();

    o.actionUses.assign(actions.size(), 0);
    o.sharedActions.assign(actions.size(), 0);
    auto use = [&](int a) {
        if (a >= 1 && a <= static_cast<int>(actions.size())) ++o.actionUses[a - 1];
    };
    for (const Page& p : pages)
        for (const Link& l : p.links) use(l.action);
    for (const Outline& ol : outlines) use(ol.action);

    for (size_t i = 0; i < pages.size(); ++i) WritePage(o, i);
    int outlineRoot = WriteOutlines(o);

    for (size_t i = 0; i < actions.size(); ++i) {
        if (!o.sharedActions[i]) continue;
        w.Begin(o.sharedActions[i]);
        InlineAction(o, actions[i]);
        w.End();
    }
    for (const auto& [name, st] : o.formStates) {
        if (!st.num) continue;
        const Form& f = forms.at(name);
        w.Begin(st.num);
        w.Raw("/Type/XObject/Subtype/Form/BBox[");
        for (double v : {f.bbox.left, f.bbox.top, f.bbox.right, f.bbox.bottom}) w.Num(v);
        w.Raw("]/Matrix[");
        const Matrix& m = f.matrix;
        for (double v : {m.a, m.b, m.c, m.d, m.e, m.f}) w.Num(v);
        w.Raw("]/Resources");
        w.Ref(st.resources);
        w.EndStream(f.content.Data(), true);
    }
    for (const auto& [name, num] : o.imageNums) WriteImage(o, num, *images.at(name));
    bool embed = s.fontEmbedding != 3;
    std::vector<std::pair<Font*, int>> written;
    for (const auto& [name, num] : o.fontNums) {
        for (const auto& f : fonts.All()) {
            if (f->ResourceName() != name) continue;
            written.emplace_back(f.get(), num);
            break;
        }
    }
    PrepareFonts(written, embed, s.compress);
    for (auto [f, num] : written) {
        try {
            f->WriteTo(w, num, embed, s.deterministic);
        } catch (const std::runtime_error&) {
            if (!embed) throw;
            f->WriteTo(w, num, false, s.deterministic);  // a font we cannot subset still shows
        }
    }

    w.Begin(pagesRoot);
    w.Raw("<</Type/Pages/Count");
    w.Int(static_cast<long long>(pages.size()));
    w.Raw("/Kids[");
    for (size_t i = 0; i < pages.size(); ++i) w.Ref(o.firstPage + static_cast<int>(i));
    w.Raw("]>>");
    w.End();

    static const char* kLayouts[] = {"/SinglePage", "/OneColumn", "/TwoColumnLeft", "/TwoColumnRight"};
    static const char* kModes[] = {"/UseNone", "/UseOutlines", "/UseThumbs", "/FullScreen"};
    w.Begin(catalog);
    w.Raw("<</Type/Catalog/Pages");
    w.Ref(pagesRoot);
    if (outlineRoot) {
        w.Raw("/Outlines");
        w.Ref(outlineRoot);
    }
    w.Raw("/PageLayout");
    w.Raw(kLayouts[std::clamp(s.pageLayout, 0, 3)]);
    w.Raw("/PageMode");
    w.Raw(kModes[std::clamp(s.pageMode, 0, 3)]);
    std::string prefs;
    if (s.hideToolBar) prefs += "/HideToolbar true";
    if (s.hideMenuBar) prefs += "/HideMenubar true";
    if (s.hideWindowUI) prefs += "/HideWindowUI true";
    if (s.fitWindow) prefs += "/FitWindow true";
    if (s.centerWindow) prefs += "/CenterWindow true";
    if (!prefs.empty()) w.Raw("/ViewerPreferences<<" + prefs + ">>");
    w.Raw(">>");
    w.End();

    int info = w.NewObject();
    w.Begin(info);
    w.Raw("<<");
    auto text = [&](const char* key, const std::string& v) {
        if (v.empty()) return;
        w.Raw(key);
        w.String(TextString(v));
    };
    text("/Title", s.title);
    text("/Author", s.author);
    text("/Subject", s.subject);
    text("/Keywords", s.keywords);
    w.Raw("/Producer");
    w.String("Vellumate");
    Settings::Date fixed{2000, 1, 1, 0, 0, 0, 0};
    Settings::Date now = s.deterministic ? fixed : Now();
    Settings::Date created = s.deterministic ? fixed : s.creationDate.value_or(now);
    w.Raw("/CreationDate");
    w.String(PdfDate(created));
    w.Raw("/ModDate");
    w.String(PdfDate(now));
    w.Raw(">>");
    w.End();

    std::string trailer = "/Root " + std::to_string(catalog) + " 0 R/Info " + std::to_string(info) + " 0 R/ID[<" +
                          Hex(id) + "><" + Hex(id) + ">]";
    if (s.encrypt) {
        int enc = w.NewObject();
        w.NextObjectPlain();
        w.Begin(enc);
        w.Raw("<</Filter/Standard/V");
        w.Int(pr.v);
        w.Raw("/R");
        w.Int(pr.r);
        if (pr.v >= 2) {
            w.Raw("/Length");
            w.Int(pr.keyBytes * 8);
        }
        w.Raw("/O");
        w.String(pr.o);
        w.Raw("/U");
        w.String(pr.u);
        w.Raw("/P");
        w.Int(pr.p);
        w.Raw(">>");
        w.End();
        trailer += "/Encrypt " + std::to_string(enc) + " 0 R";
    }
    w.Finish(trailer);
}

void Document::Write(const std::string& path) {
    Impl& d = *impl_;
    if (d.pages.empty()) AddPage(kPapers[0].w, kPapers[0].h);
    for (size_t i = 0; i < d.pages.size(); ++i) FinishPageContent(static_cast<int>(i));

    // Written beside the target and renamed, so a failure never leaves a
    // half-written file under the output's name.
    std::string tmpl = path + ".XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0) throw std::runtime_error("cannot create a file beside " + path + ": " + std::strerror(errno));
    FILE* out = fdopen(fd, "wb");
    if (!out) {
        close(fd);
        unlink(tmpl.c_str());
        throw std::runtime_error("cannot open " + tmpl);
    }
    // Left uninitialised: a small file touches only the pages it fills.
    constexpr std::size_t kBuffer = 1 << 20;
    std::unique_ptr<char[]> buffer(new char[kBuffer]);
    std::setvbuf(out, buffer.get(), _IOFBF, kBuffer);
    try {
        ObjectWriter w(out, d.settings.compress);
        d.WriteBody(w, FileId(d.settings, path));
        if (std::fflush(out) != 0 || fsync(fileno(out)) != 0 || std::ferror(out))
            throw std::runtime_error(std::string("cannot write ") + path + ": " + std::strerror(errno));
    } catch (const std::exception& e) {
        std::fclose(out);
        unlink(tmpl.c_str());
        throw std::runtime_error(e.what());
    }
    if (std::fclose(out) != 0) {
        unlink(tmpl.c_str());
        throw std::runtime_error("cannot write " + path);
    }
    // mkstemp makes the file private; give it the mode a new file would get.
    mode_t mask = umask(0);
    umask(mask);
    chmod(tmpl.c_str(), 0666 & ~mask);
    if (std::rename(tmpl.c_str(), path.c_str()) != 0) {
        int err = errno;
        unlink(tmpl.c_str());
        throw std::runtime_error("cannot rename the written file to " + path + ": " + std::strerror(err));
    }
}

}  // namespace pdfcore
