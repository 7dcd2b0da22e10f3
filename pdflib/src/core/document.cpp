#include "core/document.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>
#include <zlib.h>

#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <stdexcept>

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

std::string Deflate(const std::string& in) {
    uLongf cap = compressBound(in.size());
    std::string out(cap, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &cap, reinterpret_cast<const Bytef*>(in.data()), in.size(),
                  6) != Z_OK)
        throw std::runtime_error("cannot compress page content");
    out.resize(cap);
    out.shrink_to_fit();  // pages are kept until the end: keep only what they need
    return out;
}

QPDFObjectHandle Num(double v) {
    std::string s;
    AppendNumber(s, v);
    return QPDFObjectHandle::parse(s);
}

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

// Passwords of the RC4 handlers are PDFDocEncoding bytes.
std::string PasswordBytes(const std::string& utf8) {
    std::string out;
    QUtil::utf8_to_pdf_doc(utf8, out, '?');
    return out;
}

// A PDF text string: ASCII as it is, anything else UTF-16BE with its BOM.
QPDFObjectHandle TextString(const std::string& utf8) {
    for (unsigned char c : utf8)
        if (c >= 0x80) return QPDFObjectHandle::newString(QUtil::utf8_to_utf16(utf8));
    return QPDFObjectHandle::newString(utf8);
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
    QPDF pdf;
    std::vector<Page> pages;
    std::map<std::string, QPDFObjectHandle> images;
    std::map<std::string, Form> forms;
    int imageCount = 0;
    std::vector<Action> actions;  // id = index + 1
    struct Dest {
        int page;
        double top;
    };
    std::vector<Dest> dests;  // id = index + 1
    std::vector<Outline> outlines;
    std::vector<int> topOutlines;

    Impl() { pdf.emptyPDF(); }

    QPDFObjectHandle Resources(const ContentBuilder& c, std::map<std::string, QPDFObjectHandle>& fontObjs,
                               std::map<std::string, QPDFObjectHandle>& formObjs);
    QPDFObjectHandle FontObject(const std::string& name, std::map<std::string, QPDFObjectHandle>& fontObjs);
    QPDFObjectHandle FormObject(const std::string& name, std::map<std::string, QPDFObjectHandle>& fontObjs,
                                std::map<std::string, QPDFObjectHandle>& formObjs, int depth);
    QPDFObjectHandle Resources(const ContentBuilder& c, std::map<std::string, QPDFObjectHandle>& fontObjs,
                               std::map<std::string, QPDFObjectHandle>& formObjs, int depth);
    void BuildOutlines(QPDFObjectHandle root, const std::vector<QPDFObjectHandle>& pageObjs,
                       const std::vector<QPDFObjectHandle>& actionObjs);
    int VisibleCount(int id) const;
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

void Document::FinishPageContent(int index) {
    Page& p = GetPage(index);
    if (p.content.Empty()) return;
    Page::Segment seg;
    std::string raw = p.content.TakeData();
    if (impl_->settings.compress) {
        seg.data = Deflate(raw);
        seg.compressed = true;
    } else {
        seg.data = std::move(raw);
    }
    p.finished.push_back(std::move(seg));
}

std::string Document::AddImage(EncodedImage image) {
    QPDF& pdf = impl_->pdf;
    auto make = [&pdf](const EncodedImage& im, auto& self) -> QPDFObjectHandle {
        QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
        dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
        dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
        dict.replaceKey("/Width", QPDFObjectHandle::newInteger(im.width));
        dict.replaceKey("/Height", QPDFObjectHandle::newInteger(im.height));
        if (im.imageMask) {
            dict.replaceKey("/ImageMask", QPDFObjectHandle::newBool(true));
        } else {
            dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(im.bitsPerComponent));
            QPDFObjectHandle cs = QPDFObjectHandle::parse(im.colorSpace.empty() ? "/DeviceRGB" : im.colorSpace);
            if (!im.iccProfile.empty()) {
                QPDFObjectHandle icc = pdf.newStream(im.iccProfile);
                icc.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(im.iccComponents));
                if (cs.isName()) icc.getDict().replaceKey("/Alternate", cs);
                cs = QPDFObjectHandle::newArray({QPDFObjectHandle::newName("/ICCBased"), icc});
            }
            dict.replaceKey("/ColorSpace", cs);
        }
        if (!im.decode.empty()) {
            QPDFObjectHandle arr = QPDFObjectHandle::newArray();
            for (double v : im.decode) arr.appendItem(Num(v));
            dict.replaceKey("/Decode", arr);
        }
        if (im.interpolate) dict.replaceKey("/Interpolate", QPDFObjectHandle::newBool(true));
        if (im.softMask) dict.replaceKey("/SMask", self(*im.softMask, self));
        QPDFObjectHandle stream = pdf.newStream();
        QPDFObjectHandle filter = im.filter.empty() ? QPDFObjectHandle::newNull()
                                                    : QPDFObjectHandle::newName("/" + im.filter);
        QPDFObjectHandle parms =
            im.decodeParms.empty() ? QPDFObjectHandle::newNull() : QPDFObjectHandle::parse(im.decodeParms);
        stream.replaceStreamData(im.data, filter, parms);
        for (const std::string& key : dict.getKeys()) stream.getDict().replaceKey(key, dict.getKey(key));
        return stream;
    };
    if (image.width <= 0 || image.height <= 0) throw std::invalid_argument("image without size");
    std::string name = "Im" + std::to_string(++impl_->imageCount);
    impl_->images[name] = make(image, make);
    return name;
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

QPDFObjectHandle Document::Impl::FontObject(const std::string& name,
                                            std::map<std::string, QPDFObjectHandle>& fontObjs) {
    if (auto it = fontObjs.find(name); it != fontObjs.end()) return it->second;
    for (const auto& f : fonts.All()) {
        if (f->ResourceName() != name) continue;
        QPDFObjectHandle obj;
        bool embed = settings.fontEmbedding != 3;
        try {
            obj = f->WriteTo(pdf, embed, settings.deterministic);
        } catch (const std::exception&) {
            if (!embed) throw;
            obj = f->WriteTo(pdf, false, settings.deterministic);  // a font we cannot subset still shows
        }
        fontObjs[name] = obj;
        return obj;
    }
    return QPDFObjectHandle::newNull();
}

QPDFObjectHandle Document::Impl::FormObject(const std::string& name,
                                            std::map<std::string, QPDFObjectHandle>& fontObjs,
                                            std::map<std::string, QPDFObjectHandle>& formObjs, int depth) {
    if (auto it = formObjs.find(name); it != formObjs.end()) return it->second;
    auto it = forms.find(name);
    if (it == forms.end() || depth > 8) return QPDFObjectHandle::newNull();
    // Reserve first: a form that draws itself must not recurse forever.
    formObjs[name] = QPDFObjectHandle::newNull();
    const Form& f = it->second;
    QPDFObjectHandle stream = pdf.newStream(f.content.Data());
    QPDFObjectHandle d = stream.getDict();
    d.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    d.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    d.replaceKey("/BBox", QPDFObjectHandle::newArray({Num(f.bbox.left), Num(f.bbox.top), Num(f.bbox.right),
                                                       Num(f.bbox.bottom)}));
    const Matrix& m = f.matrix;
    d.replaceKey("/Matrix", QPDFObjectHandle::newArray({Num(m.a), Num(m.b), Num(m.c), Num(m.d), Num(m.e), Num(m.f)}));
    d.replaceKey("/Resources", Resources(f.content, fontObjs, formObjs, depth + 1));
    formObjs[name] = stream;
    return stream;
}

QPDFObjectHandle Document::Impl::Resources(const ContentBuilder& c,
                                           std::map<std::string, QPDFObjectHandle>& fontObjs,
                                           std::map<std::string, QPDFObjectHandle>& formObjs) {
    return Resources(c, fontObjs, formObjs, 0);
}

QPDFObjectHandle Document::Impl::Resources(const ContentBuilder& c,
                                           std::map<std::string, QPDFObjectHandle>& fontObjs,
                                           std::map<std::string, QPDFObjectHandle>& formObjs, int depth) {
    QPDFObjectHandle res = QPDFObjectHandle::newDictionary();
    res.replaceKey("/ProcSet", QPDFObjectHandle::parse("[/PDF /Text /ImageB /ImageC /ImageI]"));
    if (!c.Fonts().empty()) {
        QPDFObjectHandle fd = QPDFObjectHandle::newDictionary();
        for (const std::string& n : c.Fonts()) {
            QPDFObjectHandle f = FontObject(n, fontObjs);
            if (!f.isNull()) fd.replaceKey("/" + n, f);
        }
        res.replaceKey("/Font", fd);
    }
    if (!c.XObjects().empty()) {
        QPDFObjectHandle xd = QPDFObjectHandle::newDictionary();
        for (const std::string& n : c.XObjects()) {
            if (auto it = images.find(n); it != images.end()) {
                xd.replaceKey("/" + n, it->second);
            } else {
                QPDFObjectHandle f = FormObject(n, fontObjs, formObjs, depth);
                if (!f.isNull()) xd.replaceKey("/" + n, f);
            }
        }
        res.replaceKey("/XObject", xd);
    }
    if (!c.ExtGStates().empty()) {
        QPDFObjectHandle gd = QPDFObjectHandle::newDictionary();
        for (const std::string& n : c.ExtGStates()) {
            if (n == "GSdiff") {
                QPDFObjectHandle g = QPDFObjectHandle::newDictionary();
                g.replaceKey("/Type", QPDFObjectHandle::newName("/ExtGState"));
                g.replaceKey("/BM", QPDFObjectHandle::newName("/Difference"));
                gd.replaceKey("/GSdiff", g);
                continue;
            }
            int fill = 1000, stroke = 1000;
            if (std::sscanf(n.c_str(), "GSa%ds%d", &fill, &stroke) != 2) continue;
            QPDFObjectHandle g = QPDFObjectHandle::newDictionary();
            g.replaceKey("/Type", QPDFObjectHandle::newName("/ExtGState"));
            g.replaceKey("/ca", Num(fill / 1000.0));
            g.replaceKey("/CA", Num(stroke / 1000.0));
            gd.replaceKey("/" + n, g);
        }
        res.replaceKey("/ExtGState", gd);
    }
    return res;
}

int Document::Impl::VisibleCount(int id) const {
    int n = 0;
    for (int c : outlines[id].children) {
        ++n;
        if (outlines[c].open) n += VisibleCount(c);
    }
    return n;
}

void Document::Impl::BuildOutlines(QPDFObjectHandle root, const std::vector<QPDFObjectHandle>& pageObjs,
                                   const std::vector<QPDFObjectHandle>& actionObjs) {
    (void)pageObjs;
    if (topOutlines.empty()) return;
    std::vector<QPDFObjectHandle> items(outlines.size());
    for (size_t i = 0; i < outlines.size(); ++i)
        items[i] = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    QPDFObjectHandle top = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Outlines >>"));
    auto link = [&](QPDFObjectHandle parent, const std::vector<int>& kids) {
        for (size_t k = 0; k < kids.size(); ++k) {
            QPDFObjectHandle it = items[kids[k]];
            it.replaceKey("/Parent", parent);
            if (k > 0) it.replaceKey("/Prev", items[kids[k - 1]]);
            if (k + 1 < kids.size()) it.replaceKey("/Next", items[kids[k + 1]]);
        }
        if (!kids.empty()) {
            parent.replaceKey("/First", items[kids.front()]);
            parent.replaceKey("/Last", items[kids.back()]);
        }
    };
    link(top, topOutlines);
    int total = 0;
    for (int t : topOutlines) total += 1 + (outlines[t].open ? VisibleCount(t) : 0);
    top.replaceKey("/Count", QPDFObjectHandle::newInteger(total));
    for (size_t i = 0; i < outlines.size(); ++i) {
        const Outline& o = outlines[i];
        QPDFObjectHandle it = items[i];
        it.replaceKey("/Title", TextString(o.title));
        if (o.action >= 1 && o.action <= static_cast<int>(actionObjs.size()))
            it.replaceKey("/A", actionObjs[o.action - 1]);
        link(it, o.children);
        if (!o.children.empty()) {
            int n = VisibleCount(static_cast<int>(i));
            it.replaceKey("/Count", QPDFObjectHandle::newInteger(o.open ? n : -static_cast<int>(o.children.size())));
        }
    }
    root.replaceKey("/Outlines", top);
}

void Document::Write(const std::string& path) {
    Impl& d = *impl_;
    QPDF& pdf = d.pdf;
    const Settings& s = d.settings;
    if (d.pages.empty()) AddPage(kPapers[0].w, kPapers[0].h);

    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle pagesNode = root.getKey("/Pages");
    QPDFObjectHandle kids = QPDFObjectHandle::newArray();
    std::map<std::string, QPDFObjectHandle> fontObjs, formObjs;
    std::vector<QPDFObjectHandle> pageObjs;
    pageObjs.reserve(d.pages.size());

    for (size_t i = 0; i < d.pages.size(); ++i) {
        FinishPageContent(static_cast<int>(i));
        Page& p = d.pages[i];
        QPDFObjectHandle page = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        page.replaceKey("/Parent", pagesNode);
        page.replaceKey("/MediaBox", QPDFObjectHandle::newArray({QPDFObjectHandle::newInteger(0),
                                                                  QPDFObjectHandle::newInteger(0), Num(p.width),
                                                                  Num(p.height)}));
        if (p.rotation) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(p.rotation));
        page.replaceKey("/Resources", d.Resources(p.content, fontObjs, formObjs));
        // Page content is drawn top-down; this puts the origin at the top-left.
        std::string flip = "1 0 0 -1 0 ";
        AppendNumber(flip, p.height);
        flip += " cm\n";
        QPDFObjectHandle contents = QPDFObjectHandle::newArray();
        contents.appendItem(pdf.newStream(flip));
        for (Page::Segment& seg : p.finished) {
            QPDFObjectHandle st = pdf.newStream();
            st.replaceStreamData(seg.data,
                                 seg.compressed ? QPDFObjectHandle::newName("/FlateDecode")
                                                : QPDFObjectHandle::newNull(),
                                 QPDFObjectHandle::newNull());
            std::string().swap(seg.data);
            contents.appendItem(st);
        }
        page.replaceKey("/Contents", contents);
        kids.appendItem(page);
        pageObjs.push_back(page);
    }
    pagesNode.replaceKey("/Kids", kids);
    pagesNode.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(d.pages.size())));

    auto pageTop = [&](int page, double top) {
        return Num(std::clamp(d.pages[page].height - top, 0.0, d.pages[page].height));
    };
    auto destArray = [&](int page, double top) {
        return QPDFObjectHandle::newArray({pageObjs[page], QPDFObjectHandle::newName("/XYZ"),
                                           QPDFObjectHandle::newNull(), pageTop(page, top),
                                           QPDFObjectHandle::newNull()});
    };

    std::vector<QPDFObjectHandle> actionObjs;
    for (const Action& a : d.actions) {
        QPDFObjectHandle obj = QPDFObjectHandle::newDictionary();
        obj.replaceKey("/Type", QPDFObjectHandle::newName("/Action"));
        switch (a.kind) {
        case Action::Kind::GoTo: {
            int page = std::clamp(a.page, 0, static_cast<int>(d.pages.size()) - 1);
            obj.replaceKey("/S", QPDFObjectHandle::newName("/GoTo"));
            obj.replaceKey("/D", destArray(page, a.top));
            break;
        }
        case Action::Kind::Uri:
            obj.replaceKey("/S", QPDFObjectHandle::newName("/URI"));
            obj.replaceKey("/URI", QPDFObjectHandle::newString(a.text));
            break;
        case Action::Kind::JavaScript:
            obj.replaceKey("/S", QPDFObjectHandle::newName("/JavaScript"));
            obj.replaceKey("/JS", TextString(a.text));
            break;
        }
        actionObjs.push_back(pdf.makeIndirectObject(obj));
    }

    for (size_t i = 0; i < d.pages.size(); ++i) {
        Page& p = d.pages[i];
        if (p.links.empty()) continue;
        QPDFObjectHandle annots = QPDFObjectHandle::newArray();
        for (const Link& l : p.links) {
            QPDFObjectHandle an = QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Link /Border [0 0 0] >>");
            double x0 = std::min(l.rect.left, l.rect.right), x1 = std::max(l.rect.left, l.rect.right);
            double y0 = p.height - std::max(l.rect.top, l.rect.bottom);
            double y1 = p.height - std::min(l.rect.top, l.rect.bottom);
            an.replaceKey("/Rect", QPDFObjectHandle::newArray({Num(x0), Num(y0), Num(x1), Num(y1)}));
            if (l.action >= 1 && l.action <= static_cast<int>(actionObjs.size())) {
                an.replaceKey("/A", actionObjs[l.action - 1]);
            } else if (l.destination >= 1 && l.destination <= static_cast<int>(d.dests.size())) {
                const auto& ds = d.dests[l.destination - 1];
                int page = std::clamp(ds.page, 0, static_cast<int>(d.pages.size()) - 1);
                an.replaceKey("/Dest", destArray(page, ds.top));
            } else {
                continue;
            }
            an.replaceKey("/P", pageObjs[i]);
            annots.appendItem(pdf.makeIndirectObject(an));
        }
        pageObjs[i].replaceKey("/Annots", annots);
    }

    d.BuildOutlines(root, pageObjs, actionObjs);

    static const char* kLayouts[] = {"/SinglePage", "/OneColumn", "/TwoColumnLeft", "/TwoColumnRight"};
    static const char* kModes[] = {"/UseNone", "/UseOutlines", "/UseThumbs", "/FullScreen"};
    root.replaceKey("/PageLayout", QPDFObjectHandle::newName(kLayouts[std::clamp(s.pageLayout, 0, 3)]));
    root.replaceKey("/PageMode", QPDFObjectHandle::newName(kModes[std::clamp(s.pageMode, 0, 3)]));
    QPDFObjectHandle prefs = QPDFObjectHandle::newDictionary();
    auto pref = [&](const char* key, bool on) {
        if (on) prefs.replaceKey(key, QPDFObjectHandle::newBool(true));
    };
    pref("/HideToolbar", s.hideToolBar);
    pref("/HideMenubar", s.hideMenuBar);
    pref("/HideWindowUI", s.hideWindowUI);
    pref("/FitWindow", s.fitWindow);
    pref("/CenterWindow", s.centerWindow);
    if (!prefs.getKeys().empty()) root.replaceKey("/ViewerPreferences", prefs);

    QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
    auto text = [&](const char* key, const std::string& v) {
        if (!v.empty()) info.replaceKey(key, TextString(v));
    };
    text("/Title", s.title);
    text("/Author", s.author);
    text("/Subject", s.subject);
    text("/Keywords", s.keywords);
    info.replaceKey("/Producer", QPDFObjectHandle::newString("Vellumate"));
    Settings::Date fixed{2000, 1, 1, 0, 0, 0, 0};
    Settings::Date now = s.deterministic ? fixed : Now();
    Settings::Date created = s.deterministic ? fixed : s.creationDate.value_or(now);
    info.replaceKey("/CreationDate", QPDFObjectHandle::newString(PdfDate(created)));
    info.replaceKey("/ModDate", QPDFObjectHandle::newString(PdfDate(now)));
    pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));

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
    try {
        QPDFWriter w(pdf);
        w.setOutputFile(path.c_str(), out, false);
        w.setDecodeLevel(qpdf_dl_none);
        w.setCompressStreams(s.compress);
        w.setObjectStreamMode(qpdf_o_disable);
        w.setMinimumPDFVersion(s.pdfVersion == 0 ? "1.3" : "1.4");
        if (s.deterministic) w.setStaticID(true);
        if (s.encrypt) {
            std::string user = PasswordBytes(s.userPassword);
            std::string owner = PasswordBytes(s.ownerPassword);
            if (owner.empty()) {
                // Without an owner password anyone who opens the file could
                // lift the permissions; a random one keeps them in force.
                std::string seed;
                if (s.deterministic) {
                    seed = "vellumate-owner";
                } else {
                    std::random_device rd;
                    for (int i = 0; i < 4; ++i) seed += std::to_string(rd());
                }
                owner = "~" + seed + user;
            }
            if (s.key128) {
                w.setR3EncryptionParametersInsecure(user.c_str(), owner.c_str(), true, s.allowCopy, s.allowModify,
                                                    s.allowModify, s.allowModify, s.allowModify,
                                                    s.allowPrint ? qpdf_r3p_full : qpdf_r3p_none);
            } else {
                w.setR2EncryptionParametersInsecure(user.c_str(), owner.c_str(), s.allowPrint, s.allowModify,
                                                    s.allowCopy, s.allowModify);
            }
        }
        w.write();
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
