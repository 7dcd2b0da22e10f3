#include "pdf_document.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/shell.h"
#include "platform/text.h"

namespace corvanth {

using com::E_INVALIDARG;
using com::E_NOTIMPL;
using com::E_POINTER;
using com::S_OK;

namespace {

// A page edge of more than a kilometre is a caller's mistake, not a page.
constexpr double kMaxPagePoints = 3e6;

bool Truthy(VARIANT_BOOL v) { return v != 0; }
VARIANT_BOOL Bool(bool v) { return v ? com::VARIANT_TRUE : com::VARIANT_FALSE; }

void CheckOut(const void* p) {
    if (!p) throw Failure(E_POINTER, "null result pointer");
}

void CheckFinite(double v, const char* what) {
    if (!std::isfinite(v)) throw InvalidArgument(std::string(what) + " is not a number");
}

// Text of an information field: UTF-8 as it is, other bytes as the default
// character set (1252) decodes them.
std::string InfoText(BSTR s) { return platform::Utf8FromCharset(com::Utf8FromBstr(s), 1); }

void PutBstr(BSTR* out, const std::string& utf8) {
    CheckOut(out);
    *out = com::BstrFromUtf8(utf8);
    if (!*out && !utf8.empty()) throw std::bad_alloc();
}

// DATE (days since 30 December 1899, local time) to broken-down time.
pdfcore::Settings::Date DateFromOle(com::DATE d) {
    // The years 100..9999, as automation dates allow.
    if (!std::isfinite(d) || d < -657434.0 || d >= 2958466.0) throw InvalidArgument("date out of range");
    double days = std::floor(d);
    double frac = std::fabs(d - days);
    if (d < 0) {
        // Negative dates count days backwards but the time forwards.
        days = std::ceil(d);
        frac = std::fabs(d - days);
    }
    long long secs = std::llround(frac * 86400.0);
    if (secs >= 86400) secs = 86399;
    // Days from 1899-12-30 to civil date (Howard Hinnant's algorithm).
    long long z = static_cast<long long>(days) - 25569 + 719468;  // 25569: 1899-12-30 .. 1970-01-01
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long dd = doy - (153 * mp + 2) / 5 + 1;
    long long mm = mp < 10 ? mp + 3 : mp - 9;
    if (mm <= 2) ++y;
    pdfcore::Settings::Date out;
    out.year = static_cast<int>(y);
    out.month = static_cast<int>(mm);
    out.day = static_cast<int>(dd);
    out.hour = static_cast<int>(secs / 3600);
    out.minute = static_cast<int>(secs / 60 % 60);
    out.second = static_cast<int>(secs % 60);
    std::tm tm{};
    tm.tm_year = out.year - 1900;
    tm.tm_mon = out.month - 1;
    tm.tm_mday = out.day;
    tm.tm_hour = out.hour;
    tm.tm_min = out.minute;
    tm.tm_sec = out.second;
    tm.tm_isdst = -1;
    if (std::mktime(&tm) != static_cast<std::time_t>(-1)) out.utcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
    return out;
}

}  // namespace

// ---- IPdfDocumentCompat part object ---------------------------------------------

class CPdfDocument::Compat final : public IPdfDocumentCompat {
public:
    explicit Compat(CPdfDocument& outer) : o_(outer) {}
    HRESULT QueryInterface(com::REFIID riid, void** ppv) override { return o_.QueryInterface(riid, ppv); }
    std::uint32_t AddRef() override { return o_.AddRef(); }
    std::uint32_t Release() override { return o_.Release(); }

    HRESULT get_Resolution(std::int32_t* dpi) override { return o_.get_Resolution(dpi); }
    HRESULT get_PageWidth(double* w) override { return o_.get_PageWidth(w); }
    HRESULT put_PageWidth(double w) override { return o_.put_PageWidth(w); }
    HRESULT get_PageHeight(double* h) override { return o_.get_PageHeight(h); }
    HRESULT put_PageHeight(double h) override { return o_.put_PageHeight(h); }
    HRESULT get_PageCount(std::int32_t* n) override { return o_.get_PageCount(n); }
    HRESULT get_CurrentPage(std::int32_t* page) override {
        HRESULT hr = o_.get_CurrentPage(page);
        if (com::SUCCEEDED(hr)) *page += 1;
        return hr;
    }
    HRESULT put_CurrentPage(std::int32_t page) override {
        if (page < 1) return o_.Trap([&]() -> HRESULT { throw InvalidArgument("page numbers start at 1"); });
        return o_.put_CurrentPage(page - 1);
    }
    HRESULT NewPage() override { return o_.NewPage(); }
    HRESULT get_PageRotation(std::int32_t* degrees) override { return o_.get_PageRotation(degrees); }
    HRESULT put_PageRotation(std::int32_t degrees) override { return o_.put_PageRotation(degrees); }
    HRESULT DrawEmf(const std::uint8_t* data, std::uint32_t size, double x, double y, double scaleX,
                    double scaleY) override {
        return o_.DrawEmf(data, size, x, y, scaleX, scaleY, 0);
    }
    HRESULT DrawEmfFile(BSTR path, double x, double y, double scaleX, double scaleY) override {
        return o_.DrawEmfFile(path, x, y, scaleX, scaleY);
    }
    HRESULT AddUrlLink(double left, double top, double right, double bottom, BSTR url) override {
        return o_.AddUrlLink(left, top, right, bottom, url);
    }
    HRESULT AddDestination(std::int32_t page, double top, std::int32_t* dest) override {
        if (page < 1) return o_.Trap([&]() -> HRESULT { throw InvalidArgument("page numbers start at 1"); });
        return o_.AddDestination(page - 1, top, dest);
    }
    HRESULT AddDestinationLink(double left, double top, double right, double bottom, std::int32_t dest) override {
        return o_.AddDestinationLink(left, top, right, bottom, dest);
    }

private:
    CPdfDocument& o_;
};

// ---- life ------------------------------------------------------------------------

CPdfDocument::CPdfDocument() : compat_(std::make_unique<Compat>(*this)), doc_(std::make_unique<pdfcore::Document>()) {
    const char* det = std::getenv("VELLUMATE_PDF_DETERMINISTIC");
    doc_->GetSettings().deterministic = det && *det && std::strcmp(det, "0") != 0;
}

CPdfDocument::~CPdfDocument() = default;

void* CPdfDocument::QueryExtra(com::REFIID riid) {
    if (riid == IID_IPdfDocumentCompat) return static_cast<IPdfDocumentCompat*>(compat_.get());
    return nullptr;
}

// ---- helpers ---------------------------------------------------------------------

double CPdfDocument::ToPoints(double units) const { return units * 72.0 / resolution_; }
double CPdfDocument::FromPoints(double points) const { return points * resolution_ / 72.0; }

void CPdfDocument::RequireBegun() const {
    if (!begun_) throw WrongState("the document has not been begun (BeginDoc)");
}

pdfcore::Page& CPdfDocument::CurrentPage() {
    RequireBegun();
    return doc_->GetPage(current_);
}

void CPdfDocument::SelectPage(int index) {
    if (index == current_) return;
    if (current_ >= 0) doc_->FinishPageContent(current_);
    current_ = index;
}

void CPdfDocument::PaperPoints(double* w, double* h) const {
    double pw = 0, ph = 0;
    pdfcore::PaperSizePoints(paperSize_, &pw, &ph);
    if (orientation_ == 1) std::swap(pw, ph);
    *w = pw;
    *h = ph;
}

void CPdfDocument::ApplyPaperToCurrentPage() {
    if (!begun_) return;
    pdfcore::Page& p = CurrentPage();
    PaperPoints(&p.width, &p.height);
}

pdfcore::Rect CPdfDocument::RectPoints(double left, double top, double right, double bottom) const {
    CheckFinite(left, "left"), CheckFinite(top, "top"), CheckFinite(right, "right"), CheckFinite(bottom, "bottom");
    return {ToPoints(left), ToPoints(top), ToPoints(right), ToPoints(bottom)};
}

std::u16string CPdfDocument::TextFromBstr(BSTR s, int charset) const {
    std::u16string text;
    if (!s) return text;
    std::uint32_t n = com::SysStringLen(s);
    bool carried = false;
    for (std::uint32_t i = 0; i < n; ++i)
        if (s[i] >= 0xDC80 && s[i] <= 0xDCFF && (i == 0 || s[i - 1] < 0xD800 || s[i - 1] > 0xDBFF)) carried = true;
    if (carried) {
        // Bytes of an 8-bit code page: decode them with the font's character set.
        text = platform::Utf16FromUtf8(platform::Utf8FromCharset(com::Utf8FromBstr(s), charset));
    } else {
        text.assign(s, n);
    }
    // Control characters have no glyphs; a tab reads as a blank.
    std::u16string clean;
    clean.reserve(text.size());
    for (char16_t c : text) {
        if (c == u'\t') c = u' ';
        if (c < 0x20 || c == 0x7F) continue;
        clean.push_back(c);
    }
    return clean;
}

pdfcore::Font* CPdfDocument::CurrentFont() {
    if (!font_) font_ = doc_->Fonts().Resolve(fontFace_, bold_ ? 700 : 400, italic_);
    return font_;
}

namespace {

struct Run {
    pdfcore::Font* font;
    size_t begin, end;  // UTF-16 units
};

char32_t CodePointAt(std::u16string_view t, size_t i, size_t* len) {
    char16_t c = t[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
        *len = 2;
        return 0x10000 + ((c - 0xD800) << 10) + (t[i + 1] - 0xDC00);
    }
    *len = 1;
    return c;
}

// Splits text into runs of one font: the chosen font where it has the
// characters, otherwise an installed font that has them.
std::vector<Run> Itemize(pdfcore::FontCache& cache, pdfcore::Font* primary, std::u16string_view text, int weight,
                         bool italic) {
    std::vector<Run> runs;
    for (size_t i = 0; i < text.size();) {
        size_t len = 1;
        char32_t cp = CodePointAt(text, i, &len);
        pdfcore::Font* f = primary;
        // Marks and joiners stay with the run before them.
        bool sticky = (cp >= 0x300 && cp <= 0x36F) || cp == 0x200D || cp == 0x200C || (cp >= 0xFE00 && cp <= 0xFE0F);
        if (sticky && !runs.empty()) {
            f = runs.back().font;
        } else if (!primary->HasChar(cp) && cp != u' ') {
            if (pdfcore::Font* alt = cache.ResolveFor(cp, weight, italic)) f = alt;
        }
        if (!runs.empty() && runs.back().font == f && runs.back().end == i) {
            runs.back().end = i + len;
        } else {
            runs.push_back({f, i, i + len});
        }
        i += len;
    }
    return runs;
}

}  // namespace

double CPdfDocument::TextWidthPoints(std::u16string_view text) {
    pdfcore::Font* font = CurrentFont();
    double w = 0;
    for (const Run& r : Itemize(doc_->Fonts(), font, text, bold_ ? 700 : 400, italic_))
        w += r.font->Measure(text.substr(r.begin, r.end - r.begin)) * fontSize_;
    return w;
}

void CPdfDocument::DrawTextLine(std::u16string_view text, double x, double y, double angle) {
    pdfcore::Page& page = CurrentPage();
    pdfcore::Font* font = CurrentFont();
    if (text.empty() || fontSize_ <= 0) return;
    double rad = angle * M_PI / 180.0;
    double c = std::cos(rad), s = std::sin(rad);
    // Top-down page space: the text runs along (c, -s); "down" is (s, c).
    double ox = ToPoints(x) + s * font->Ascent() * fontSize_;
    double oy = ToPoints(y) + c * font->Ascent() * fontSize_;
    pdfcore::Matrix tm{c, -s, -s, -c, ox, oy};

    double pen = 0;
    std::vector<pdfcore::PlacedGlyph> placed;
    for (const Run& r : Itemize(doc_->Fonts(), font, text, bold_ ? 700 : 400, italic_)) {
        placed.clear();
        double start = pen;
        for (const pdfcore::ShapedGlyph& g : r.font->Shape(text.substr(r.begin, r.end - r.begin))) {
            placed.push_back({g.gid, pen + g.xOffset * fontSize_, g.yOffset * fontSize_});
            pen += g.advance * fontSize_;
        }
        (void)start;
        page.content.ShowGlyphs(*r.font, fontSize_, tm, placed, color_);
    }
    auto line = [&](double pos, double thick) {
        page.content.Save();
        page.content.Concat(tm);
        page.content.SetFillColor(color_);
        page.content.Rectangle(0, (pos - thick / 2) * fontSize_, pen, thick * fontSize_);
        page.content.Fill(pdfcore::FillRule::NonZero);
        page.content.Restore();
    };
    if (underline_) line(font->UnderlinePosition(), font->UnderlineThickness());
    if (strikeout_) line(font->StrikeoutPosition(), font->UnderlineThickness());
}

int CPdfDocument::AddOutline(BSTR title, std::int32_t action, std::int32_t charset, bool child) {
    if (action != 0 && !doc_->HasAction(action)) throw InvalidArgument("unknown action " + std::to_string(action));
    std::string text = platform::Utf8FromCharset(com::Utf8FromBstr(title), charset);
    return child ? doc_->AddOutlineFirstChild(currentOutline_, std::move(text), action)
                 : doc_->AddOutlineAfter(currentOutline_, std::move(text), action);
}

// ---- document ----------------------------------------------------------------------

HRESULT CPdfDocument::get_FileName(BSTR* name) {
    return Trap([&] {
        PutBstr(name, fileName_);
        return S_OK;
    });
}

HRESULT CPdfDocument::put_FileName(BSTR name) {
    return Trap([&] {
        fileName_ = com::Utf8FromBstr(name);
        return S_OK;
    });
}

HRESULT CPdfDocument::get_ViewAfterEnd(VARIANT_BOOL* on) {
    return Trap([&] {
        CheckOut(on);
        *on = Bool(viewAfterEnd_);
        return S_OK;
    });
}

HRESULT CPdfDocument::put_ViewAfterEnd(VARIANT_BOOL on) {
    viewAfterEnd_ = Truthy(on);
    return S_OK;
}

HRESULT CPdfDocument::BeginDoc() {
    return Trap([&] {
        if (fileName_.empty()) throw Failure(com::E_FAIL, "no output file name");
        namespace fs = std::filesystem;
        fs::path out(fileName_);
        fs::path dir = out.has_parent_path() ? out.parent_path() : fs::path(".");
        std::error_code ec;
        if (!fs::is_directory(dir, ec))
            throw Failure(com::HResultFromWin32(3), "the folder of " + fileName_ + " does not exist");
        // Ask the file system itself: permissions, read-only mounts and quotas
        // all show in whether a file can be made there.
        std::string probe = (dir / ".vellumate-probe-XXXXXX").string();
        int fd = mkstemp(probe.data());
        if (fd < 0) {
            int err = errno;
            throw Failure(err == EACCES || err == EPERM || err == EROFS ? com::E_ACCESSDENIED : com::E_FAIL,
                          "cannot write in the folder of " + fileName_ + ": " + std::strerror(err));
        }
        close(fd);
        unlink(probe.c_str());
        if (begun_ || doc_->PageCount() > 0) {
            // A second document from the same object starts afresh with the same settings.
            pdfcore::Settings keep = doc_->GetSettings();
            doc_ = std::make_unique<pdfcore::Document>();
            doc_->GetSettings() = keep;
            font_ = nullptr;
            currentOutline_ = -1;
            pictures_.clear();
        }
        double w, h;
        PaperPoints(&w, &h);
        current_ = doc_->AddPage(w, h);
        begun_ = true;
        return S_OK;
    });
}

HRESULT CPdfDocument::EndDoc() {
    return Trap([&] {
        RequireBegun();
        if (fileName_.empty()) throw Failure(com::E_FAIL, "no output file name");
        begun_ = false;  // the document is written once; BeginDoc starts another
        doc_->Write(fileName_);
        // The file is written; a viewer that will not start is no failure of it.
        if (viewAfterEnd_) platform::ShellOpen(fileName_);
        return S_OK;
    });
}

// ---- units and pages ---------------------------------------------------------------

HRESULT CPdfDocument::get_Resolution(std::int32_t* dpi) {
    return Trap([&] {
        CheckOut(dpi);
        *dpi = resolution_;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_Resolution(std::int32_t dpi) {
    return Trap([&] {
        if (dpi < 1 || dpi > 10000) throw InvalidArgument("resolution out of range: " + std::to_string(dpi));
        resolution_ = dpi;
        return S_OK;
    });
}

HRESULT CPdfDocument::get_PageWidth(double* w) {
    return Trap([&] {
        CheckOut(w);
        double pw, ph;
        PaperPoints(&pw, &ph);
        *w = FromPoints(begun_ ? CurrentPage().width : pw);
        return S_OK;
    });
}

HRESULT CPdfDocument::put_PageWidth(double w) {
    return Trap([&] {
        CheckFinite(w, "width");
        if (w <= 0) throw InvalidArgument("page width must be positive");
        if (ToPoints(w) > kMaxPagePoints) throw InvalidArgument("page width too large");
        CurrentPage().width = ToPoints(w);
        return S_OK;
    });
}

HRESULT CPdfDocument::get_PageHeight(double* h) {
    return Trap([&] {
        CheckOut(h);
        double pw, ph;
        PaperPoints(&pw, &ph);
        *h = FromPoints(begun_ ? CurrentPage().height : ph);
        return S_OK;
    });
}

HRESULT CPdfDocument::put_PageHeight(double h) {
    return Trap([&] {
        CheckFinite(h, "height");
        if (h <= 0) throw InvalidArgument("page height must be positive");
        if (ToPoints(h) > kMaxPagePoints) throw InvalidArgument("page height too large");
        CurrentPage().height = ToPoints(h);
        return S_OK;
    });
}

HRESULT CPdfDocument::get_PaperWidth(double* w) {
    return Trap([&] {
        CheckOut(w);
        double pw, ph;
        PaperPoints(&pw, &ph);
        *w = FromPoints(pw);
        return S_OK;
    });
}

HRESULT CPdfDocument::get_PaperHeight(double* h) {
    return Trap([&] {
        CheckOut(h);
        double pw, ph;
        PaperPoints(&pw, &ph);
        *h = FromPoints(ph);
        return S_OK;
    });
}

HRESULT CPdfDocument::get_PageCount(std::int32_t* n) {
    return Trap([&] {
        CheckOut(n);
        *n = begun_ ? doc_->PageCount() : 0;
        return S_OK;
    });
}

HRESULT CPdfDocument::get_CurrentPage(std::int32_t* index) {
    return Trap([&] {
        CheckOut(index);
        RequireBegun();
        *index = current_;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_CurrentPage(std::int32_t index) {
    return Trap([&] {
        RequireBegun();
        if (index < 0 || index >= doc_->PageCount())
            throw InvalidArgument("no page " + std::to_string(index) + " (the document has " +
                                  std::to_string(doc_->PageCount()) + ")");
        SelectPage(index);
        return S_OK;
    });
}

HRESULT CPdfDocument::NewPage() {
    return Trap([&] {
        RequireBegun();
        if (doc_->PageCount() >= 1000000) throw Failure(com::E_FAIL, "too many pages");
        double w, h;
        PaperPoints(&w, &h);
        SelectPage(doc_->AddPage(w, h));
        return S_OK;
    });
}

HRESULT CPdfDocument::get_PageRotation(std::int32_t* degrees) {
    return Trap([&] {
        CheckOut(degrees);
        *degrees = begun_ ? CurrentPage().rotation : 0;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_PageRotation(std::int32_t degrees) {
    return Trap([&] {
        if (degrees % 90 != 0) throw InvalidArgument("rotation must be a multiple of 90 degrees");
        CurrentPage().rotation = ((degrees % 360) + 360) % 360;
        return S_OK;
    });
}

// ---- settings ----------------------------------------------------------------------

namespace {
void InRange(std::int32_t v, std::int32_t lo, std::int32_t hi, const char* what) {
    if (v < lo || v > hi) throw InvalidArgument(std::string(what) + " out of range: " + std::to_string(v));
}
}  // namespace

#define VM_GET_INT(Name, expr)                  \
    HRESULT CPdfDocument::get_##Name(std::int32_t* out) { \
        return Trap([&] {                       \
            CheckOut(out);                      \
            *out = (expr);                      \
            return S_OK;                        \
        });                                     \
    }

VM_GET_INT(Compression, doc_->GetSettings().compress ? 1 : 0)
VM_GET_INT(JpegQuality, jpegQuality_)
VM_GET_INT(PdfVersion, doc_->GetSettings().pdfVersion)
VM_GET_INT(PageLayout, doc_->GetSettings().pageLayout)
VM_GET_INT(PageMode, doc_->GetSettings().pageMode)
VM_GET_INT(FontEmbedding, doc_->GetSettings().fontEmbedding)
VM_GET_INT(Orientation, orientation_)
VM_GET_INT(PaperSize, paperSize_)
#undef VM_GET_INT

HRESULT CPdfDocument::put_Compression(std::int32_t flate) {
    return Trap([&] {
        InRange(flate, 0, 1, "compression");
        doc_->GetSettings().compress = flate == 1;
        return S_OK;
    });
}

// Kept and reported for the callers that set it; nothing is encoded with it:
// no picture is ever re-encoded as JPEG here (JPEG files are embedded byte
// for byte, every other picture and every bitmap of a metafile losslessly).
HRESULT CPdfDocument::put_JpegQuality(std::int32_t q) {
    return Trap([&] {
        InRange(q, 1, 100, "JPEG quality");
        jpegQuality_ = q;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_PdfVersion(std::int32_t v) {
    return Trap([&] {
        InRange(v, 0, 1, "PDF version");
        doc_->GetSettings().pdfVersion = v;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_PageLayout(std::int32_t layout) {
    return Trap([&] {
        InRange(layout, 0, 3, "page layout");
        doc_->GetSettings().pageLayout = layout;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_PageMode(std::int32_t mode) {
    return Trap([&] {
        InRange(mode, 0, 3, "page mode");
        doc_->GetSettings().pageMode = mode;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_FontEmbedding(std::int32_t mode) {
    return Trap([&] {
        InRange(mode, 0, 3, "font embedding mode");
        doc_->GetSettings().fontEmbedding = mode;
        return S_OK;
    });
}

#define VM_TEXT_PROP(Name, field)                              \
    HRESULT CPdfDocument::get_##Name(BSTR* s) {                \
        return Trap([&] {                                      \
            PutBstr(s, doc_->GetSettings().field);             \
            return S_OK;                                       \
        });                                                    \
    }                                                          \
    HRESULT CPdfDocument::put_##Name(BSTR s) {                 \
        return Trap([&] {                                      \
            doc_->GetSettings().field = InfoText(s);           \
            return S_OK;                                       \
        });                                                    \
    }

VM_TEXT_PROP(Author, author)
VM_TEXT_PROP(Subject, subject)
VM_TEXT_PROP(Title, title)
VM_TEXT_PROP(Keywords, keywords)
#undef VM_TEXT_PROP

HRESULT CPdfDocument::get_CreationDate(com::DATE* d) {
    return Trap([&] {
        CheckOut(d);
        *d = creationDate_;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_CreationDate(com::DATE d) {
    return Trap([&] {
        doc_->GetSettings().creationDate = DateFromOle(d);
        creationDate_ = d;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_Orientation(std::int32_t o) {
    return Trap([&] {
        InRange(o, 0, 1, "orientation");
        orientation_ = o;
        ApplyPaperToCurrentPage();
        return S_OK;
    });
}

HRESULT CPdfDocument::put_PaperSize(std::int32_t index) {
    return Trap([&] {
        InRange(index, 0, 19, "paper size");
        paperSize_ = index;
        ApplyPaperToCurrentPage();
        return S_OK;
    });
}

// ---- protection and viewer preferences ---------------------------------------------

#define VM_BOOL_PUT(Name, field)                               \
    HRESULT CPdfDocument::put_##Name(VARIANT_BOOL on) {        \
        doc_->GetSettings().field = Truthy(on);                \
        return S_OK;                                           \
    }

VM_BOOL_PUT(Encrypt, encrypt)
VM_BOOL_PUT(AllowCopy, allowCopy)
VM_BOOL_PUT(AllowModify, allowModify)
VM_BOOL_PUT(AllowPrint, allowPrint)
VM_BOOL_PUT(HideToolBar, hideToolBar)
VM_BOOL_PUT(HideMenuBar, hideMenuBar)
VM_BOOL_PUT(HideWindowUI, hideWindowUI)
VM_BOOL_PUT(FitWindow, fitWindow)
VM_BOOL_PUT(CenterWindow, centerWindow)
#undef VM_BOOL_PUT

HRESULT CPdfDocument::put_UserPassword(BSTR s) {
    return Trap([&] {
        doc_->GetSettings().userPassword = InfoText(s);
        return S_OK;
    });
}

HRESULT CPdfDocument::put_OwnerPassword(BSTR s) {
    return Trap([&] {
        doc_->GetSettings().ownerPassword = InfoText(s);
        return S_OK;
    });
}

HRESULT CPdfDocument::put_KeyLength(std::int32_t index) {
    return Trap([&] {
        InRange(index, 0, 1, "key length index");
        doc_->GetSettings().key128 = index == 1;
        return S_OK;
    });
}

// ---- drawing -----------------------------------------------------------------------

HRESULT CPdfDocument::TextOut(BSTR text, double x, double y, double angle) {
    return Trap([&] {
        CheckFinite(x, "x"), CheckFinite(y, "y"), CheckFinite(angle, "angle");
        RequireBegun();
        DrawTextLine(TextFromBstr(text, charset_), x, y, angle);
        return S_OK;
    });
}

HRESULT CPdfDocument::SetFont(BSTR face, VARIANT_BOOL bold, VARIANT_BOOL italic, VARIANT_BOOL underline,
                              VARIANT_BOOL strikeout, double size, std::int32_t charset) {
    return Trap([&] {
        CheckFinite(size, "font size");
        if (size < 0) throw InvalidArgument("font size must not be negative");
        if (size > 10000) throw InvalidArgument("font size too large");
        std::string name = com::Utf8FromBstr(face);
        if (name.size() > 256) throw InvalidArgument("font name too long");
        fontFace_ = platform::Utf8FromCharset(name, charset);
        bold_ = Truthy(bold);
        italic_ = Truthy(italic);
        underline_ = Truthy(underline);
        strikeout_ = Truthy(strikeout);
        fontSize_ = size;
        charset_ = charset;
        font_ = nullptr;
        CurrentFont();
        return S_OK;
    });
}

HRESULT CPdfDocument::GetTextWidth(BSTR text, double* width) {
    return Trap([&] {
        CheckOut(width);
        *width = FromPoints(TextWidthPoints(TextFromBstr(text, charset_)));
        return S_OK;
    });
}

HRESULT CPdfDocument::SetColor(std::int32_t r, std::int32_t g, std::int32_t b) {
    return Trap([&] {
        InRange(r, 0, 255, "red"), InRange(g, 0, 255, "green"), InRange(b, 0, 255, "blue");
        color_ = {r / 255.0, g / 255.0, b / 255.0};
        return S_OK;
    });
}

HRESULT CPdfDocument::DrawEmf(const std::uint8_t* data, std::uint32_t size, double x, double y, double scaleX,
                              double scaleY, std::int32_t logPixels) {
    if (!data) return Trap([]() -> HRESULT { throw Failure(E_POINTER, "no metafile data"); });
    return DrawEmfAny(data, size, {}, x, y, scaleX, scaleY, logPixels);
}

HRESULT CPdfDocument::DrawEmfFile(BSTR path, double x, double y, double scaleX, double scaleY) {
    std::string p = com::Utf8FromBstr(path);
    if (p.empty()) return Trap([]() -> HRESULT { throw InvalidArgument("no metafile path"); });
    return DrawEmfAny(nullptr, 0, p, x, y, scaleX, scaleY, 0);
}

// ---- actions and links -------------------------------------------------------------

HRESULT CPdfDocument::CreateGoToAction(std::int32_t page, double top, std::int32_t* action) {
    return Trap([&] {
        CheckOut(action);
        RequireBegun();
        CheckFinite(top, "top");
        if (page < 0 || page >= doc_->PageCount()) throw InvalidArgument("no page " + std::to_string(page));
        *action = doc_->AddAction({pdfcore::Action::Kind::GoTo, page, ToPoints(top), {}});
        return S_OK;
    });
}

HRESULT CPdfDocument::CreateUriAction(BSTR uri, std::int32_t* action) {
    return Trap([&] {
        CheckOut(action);
        *action = doc_->AddAction({pdfcore::Action::Kind::Uri, 0, 0, com::Utf8FromBstr(uri)});
        return S_OK;
    });
}

HRESULT CPdfDocument::CreateScriptAction(BSTR script, std::int32_t* action) {
    return Trap([&] {
        CheckOut(action);
        *action = doc_->AddAction({pdfcore::Action::Kind::JavaScript, 0, 0, InfoText(script)});
        return S_OK;
    });
}

HRESULT CPdfDocument::AddLink(double left, double top, double right, double bottom, std::int32_t action) {
    return Trap([&] {
        pdfcore::Rect r = RectPoints(left, top, right, bottom);
        if (!doc_->HasAction(action)) throw InvalidArgument("unknown action " + std::to_string(action));
        CurrentPage().links.push_back({r, action, 0});
        return S_OK;
    });
}

HRESULT CPdfDocument::AddUrlLink(double left, double top, double right, double bottom, BSTR url) {
    return Trap([&] {
        pdfcore::Rect r = RectPoints(left, top, right, bottom);
        pdfcore::Page& page = CurrentPage();
        int action = doc_->AddAction({pdfcore::Action::Kind::Uri, 0, 0, com::Utf8FromBstr(url)});
        page.links.push_back({r, action, 0});
        return S_OK;
    });
}

HRESULT CPdfDocument::AddDestination(std::int32_t page, double top, std::int32_t* dest) {
    return Trap([&] {
        CheckOut(dest);
        RequireBegun();
        CheckFinite(top, "top");
        if (page < 0 || page >= doc_->PageCount()) throw InvalidArgument("no page " + std::to_string(page));
        *dest = doc_->AddDestination(page, ToPoints(top));
        return S_OK;
    });
}

HRESULT CPdfDocument::AddDestinationLink(double left, double top, double right, double bottom, std::int32_t dest) {
    return Trap([&] {
        pdfcore::Rect r = RectPoints(left, top, right, bottom);
        if (!doc_->HasDestination(dest)) throw InvalidArgument("unknown destination " + std::to_string(dest));
        CurrentPage().links.push_back({r, 0, dest});
        return S_OK;
    });
}

// ---- outlines ------------------------------------------------------------------------

HRESULT CPdfDocument::AddOutlineSibling(BSTR title, std::int32_t action, std::int32_t charset,
                                        std::int32_t* outline) {
    return Trap([&] {
        CheckOut(outline);
        *outline = AddOutline(title, action, charset, false);
        return S_OK;
    });
}

HRESULT CPdfDocument::AddOutlineChild(BSTR title, std::int32_t action, std::int32_t charset,
                                      std::int32_t* outline) {
    return Trap([&] {
        CheckOut(outline);
        *outline = AddOutline(title, action, charset, true);
        return S_OK;
    });
}

HRESULT CPdfDocument::put_CurrentOutline(std::int32_t outline) {
    return Trap([&] {
        if (outline < -1 || outline >= doc_->OutlineCount())
            throw InvalidArgument("unknown outline " + std::to_string(outline));
        currentOutline_ = outline;
        return S_OK;
    });
}

HRESULT CPdfDocument::get_CurrentOutlineParent(std::int32_t* outline) {
    return Trap([&] {
        CheckOut(outline);
        *outline = currentOutline_ < 0 ? -1 : doc_->GetOutline(currentOutline_).parent;
        return S_OK;
    });
}

HRESULT CPdfDocument::put_OutlineOpen(VARIANT_BOOL open) {
    return Trap([&] {
        if (currentOutline_ < 0) throw InvalidArgument("no current outline");
        doc_->GetOutline(currentOutline_).open = Truthy(open);
        return S_OK;
    });
}

}  // namespace corvanth
