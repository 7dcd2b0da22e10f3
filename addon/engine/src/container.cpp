#include "container.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cwctype>
#include <locale.h>

#include "htmlengine/encoding.h"
#include "htmlengine/url.h"
#include "optional_modules.h"
#include "pictures.h"
#include "platform/text.h"
#include "sanitize.h"
#include "style_text.h"

namespace htmlengine {
namespace {

constexpr double kKappa = 0.5522847498;
constexpr std::size_t kMaxPictureBytes = 256u << 20;  // all pictures of one document, decoded

emf::Color ToColor(const litehtml::web_color& c) { return {c.red, c.green, c.blue, c.alpha}; }

emf::Paint Solid(const emf::Color& c) {
    emf::Paint p;
    p.color = c;
    return p;
}

emf::StrokeStyle Pen(double width) {
    emf::StrokeStyle s;
    s.width = width;
    return s;
}

Font* AsFont(litehtml::uint_ptr h) { return reinterpret_cast<Font*>(h); }

emf::Device* DeviceOf(litehtml::uint_ptr hdc) {
    auto* t = reinterpret_cast<DrawTarget*>(hdc);
    return t ? t->device : nullptr;
}

emf::Path Polygon(std::initializer_list<emf::Point> pts) {
    emf::Path p;
    bool first = true;
    for (auto pt : pts) {
        if (first) p.MoveTo(pt), first = false;
        else p.LineTo(pt);
    }
    p.Close();
    return p;
}

emf::Color Shade(emf::Color c, double f) {
    auto s = [f](std::uint8_t v) { return static_cast<std::uint8_t>(std::clamp(v * f, 0.0, 255.0)); };
    return {s(c.r), s(c.g), s(c.b), c.a};
}

std::string ToRoman(int n, bool upper) {
    if (n <= 0 || n >= 4000) return std::to_string(n);
    static const std::pair<int, const char*> table[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"},
                                                        {90, "xc"},  {50, "l"},   {40, "xl"}, {10, "x"},   {9, "ix"},
                                                        {5, "v"},    {4, "iv"},   {1, "i"}};
    std::string r;
    for (auto [v, s] : table)
        while (n >= v) r += s, n -= v;
    return upper ? platform::ToUpperAscii(r) : r;
}

std::string ToAlpha(int n, bool upper) {
    if (n <= 0) return std::to_string(n);
    std::string r;
    while (n > 0) {
        --n;
        r.insert(r.begin(), static_cast<char>((upper ? 'A' : 'a') + n % 26));
        n /= 26;
    }
    return r;
}

std::string MarkerText(const litehtml::list_marker& m) {
    switch (m.marker_type) {
        case litehtml::list_style_type_decimal: return std::to_string(m.index) + ".";
        case litehtml::list_style_type_decimal_leading_zero:
            return (m.index < 10 ? "0" : "") + std::to_string(m.index) + ".";
        case litehtml::list_style_type_lower_alpha:
        case litehtml::list_style_type_lower_latin: return ToAlpha(m.index, false) + ".";
        case litehtml::list_style_type_upper_alpha:
        case litehtml::list_style_type_upper_latin: return ToAlpha(m.index, true) + ".";
        case litehtml::list_style_type_lower_roman: return ToRoman(m.index, false) + ".";
        case litehtml::list_style_type_upper_roman: return ToRoman(m.index, true) + ".";
        case litehtml::list_style_type_lower_greek:
            if (m.index >= 1 && m.index <= 24) return platform::Utf8FromUtf32(std::u32string(1, U'\u03B1' + (m.index - 1) + (m.index > 17 ? 1 : 0))) + ".";
            return std::to_string(m.index) + ".";
        default: return std::to_string(m.index) + ".";
    }
}

// Parses "#rrggbb", "#rgb", "rgb(...)", "rgba(...)" and a few names for gradient stops.
bool ParseColor(std::string s, emf::Color& out) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.erase(0, 1);
    if (s.empty()) return false;
    litehtml::web_color c = litehtml::web_color::from_string(s.c_str(), nullptr);
    out = ToColor(c);
    return true;
}

}  // namespace

emf::Path RoundedRect(double l, double t, double r, double b, const litehtml::border_radiuses& rr) {
    emf::Path p;
    double w = r - l, h = b - t;
    auto fit = [](double v, double lim) { return std::clamp(v, 0.0, std::max(0.0, lim)); };
    double tlx = fit(rr.top_left_x, w / 2), tly = fit(rr.top_left_y, h / 2);
    double trx = fit(rr.top_right_x, w / 2), try_ = fit(rr.top_right_y, h / 2);
    double brx = fit(rr.bottom_right_x, w / 2), bry = fit(rr.bottom_right_y, h / 2);
    double blx = fit(rr.bottom_left_x, w / 2), bly = fit(rr.bottom_left_y, h / 2);
    p.MoveTo({l + tlx, t});
    p.LineTo({r - trx, t});
    if (trx > 0 || try_ > 0) p.CubicTo({r - trx + trx * kKappa, t}, {r, t + try_ - try_ * kKappa}, {r, t + try_});
    p.LineTo({r, b - bry});
    if (brx > 0 || bry > 0) p.CubicTo({r, b - bry + bry * kKappa}, {r - brx + brx * kKappa, b}, {r - brx, b});
    p.LineTo({l + blx, b});
    if (blx > 0 || bly > 0) p.CubicTo({l + blx - blx * kKappa, b}, {l, b - bly + bly * kKappa}, {l, b - bly});
    p.LineTo({l, t + tly});
    if (tlx > 0 || tly > 0) p.CubicTo({l, t + tly - tly * kKappa}, {l + tlx - tlx * kKappa, t}, {l + tlx, t});
    p.Close();
    return p;
}

Container::Container(FontManager& fonts, ResourceFetcher& fetcher) : fonts_(fonts), fetcher_(fetcher) {}

std::string Container::Resolve(const std::string& ref, const std::string& base) const {
    return ResolveUrl(base.empty() ? baseUrl_ : base, ref);
}

litehtml::uint_ptr Container::create_font(const litehtml::tchar_t* faceName, int size, int weight,
                                          litehtml::font_style italic, unsigned int decoration,
                                          litehtml::font_metrics* fm) {
    Font* f = fonts_.Create(faceName ? faceName : "", size, weight, italic == litehtml::fontStyleItalic, decoration);
    if (fm) {
        fm->ascent = f->ascent;
        fm->descent = f->descent;
        fm->height = f->height;
        fm->x_height = f->xHeight;
        fm->draw_spaces = italic == litehtml::fontStyleItalic || decoration != 0;
    }
    return reinterpret_cast<litehtml::uint_ptr>(f);
}

void Container::delete_font(litehtml::uint_ptr hFont) {
    if (hFont) fonts_.Release(AsFont(hFont));
}

int Container::text_width(const litehtml::tchar_t* text, litehtml::uint_ptr hFont) {
    if (!text || !hFont) return 0;
    return fonts_.Width(*AsFont(hFont), text);
}

void Container::DrawTextAt(emf::Device& dev, const std::string& text, Font& font, const emf::Color& color, double x,
                           double baseline) {
    for (auto& run : fonts_.Shape(font, text)) {
        emf::TextRun t;
        t.text = std::move(run.text);
        t.advances = std::move(run.advances);
        t.origin = {x, baseline};
        t.face = run.family;
        t.emHeight = font.pixelSize;
        t.weight = font.weight;
        t.italic = font.italic;
        t.underline = (font.decoration & litehtml::font_decoration_underline) != 0;
        t.strikeout = (font.decoration & litehtml::font_decoration_linethrough) != 0;
        t.color = color;
        x += run.width;
        EmitText(dev, std::move(t), fonts_.Width(font, " "));
    }
    if (font.decoration & litehtml::font_decoration_overline) {
        FlushText();
        double w = fonts_.Width(font, text);
        emf::Path p;
        p.AddRect({x - w, baseline - font.ascent, x, baseline - font.ascent + std::max(1, font.pixelSize / 16)});
        dev.FillPath(p, emf::FillRule::NonZero, Solid(color), {});
    }
}

void Container::EmitText(emf::Device& dev, emf::TextRun run, double spaceWidth) {
    double width = 0;
    for (double a : run.advances) width += a;
    if (pendingDevice_ == &dev && !run.text.empty()) {
        const emf::TextRun& p = pending_;
        double gap = run.origin.x - pendingEnd_;
        bool same = p.face == run.face && p.emHeight == run.emHeight && p.weight == run.weight &&
                    p.italic == run.italic && p.underline == run.underline && p.strikeout == run.strikeout &&
                    p.color == run.color && std::abs(p.origin.y - run.origin.y) < 0.01;
        // Pieces of one word, or a word and the spaces litehtml draws itself
        // (its positions are whole pixels, the advances are not).
        if (same && std::abs(gap) < 1.0) {
            if (!pending_.advances.empty()) pending_.advances.back() += gap;
            pending_.text += run.text;
            pending_.advances.insert(pending_.advances.end(), run.advances.begin(), run.advances.end());
            pendingEnd_ = run.origin.x + width;
            return;
        }
        if (same && gap > 0 && gap < 3 * std::max(1.0, pendingSpace_)) {  // the next word after a space
            pending_.text += u' ';
            pending_.advances.push_back(gap);
            pending_.text += run.text;
            pending_.advances.insert(pending_.advances.end(), run.advances.begin(), run.advances.end());
            pendingEnd_ = run.origin.x + width;
            return;
        }
    }
    FlushText();
    pendingEnd_ = run.origin.x + width;
    pendingSpace_ = spaceWidth;
    pending_ = std::move(run);
    pendingDevice_ = &dev;
}

void Container::FlushText() {
    if (!pendingDevice_) return;
    emf::Device* dev = pendingDevice_;
    pendingDevice_ = nullptr;
    if (!pending_.text.empty()) dev->DrawText(pending_, {});
    pending_ = {};
}

void Container::draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr hFont,
                          litehtml::web_color color, const litehtml::position& pos) {
    emf::Device* dev = DeviceOf(hdc);
    if (!dev || !text || !hFont) return;
    Font& f = *AsFont(hFont);
    DrawTextAt(*dev, text, f, ToColor(color), pos.x, pos.bottom() - f.descent);
}

void Container::draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& m) {
    FlushText();
    emf::Device* dev = DeviceOf(hdc);
    if (!dev) return;
    if (!m.image.empty()) {
        const Picture& pic = GetPicture(Resolve(m.image, m.baseurl ? m.baseurl : ""));
        if (pic.image) {
            dev->DrawImage(*pic.image, {double(m.pos.width), 0, 0, double(m.pos.height), double(m.pos.x), double(m.pos.y)});
            return;
        }
    }
    emf::Color color = ToColor(m.color);
    const auto& p = m.pos;
    switch (m.marker_type) {
        case litehtml::list_style_type_none: return;
        case litehtml::list_style_type_circle:
        case litehtml::list_style_type_disc: {
            litehtml::border_radiuses r;
            r.top_left_x = r.top_left_y = r.top_right_x = r.top_right_y = p.width / 2;
            r.bottom_left_x = r.bottom_left_y = r.bottom_right_x = r.bottom_right_y = p.width / 2;
            emf::Path path = RoundedRect(p.x, p.y, p.x + p.width, p.y + p.height, r);
            if (m.marker_type == litehtml::list_style_type_disc)
                dev->FillPath(path, emf::FillRule::NonZero, Solid(color), {});
            else
                dev->StrokePath(path, Pen(1), color, {});
            return;
        }
        case litehtml::list_style_type_square: {
            emf::Path path;
            path.AddRect({double(p.x), double(p.y), double(p.right()), double(p.bottom())});
            dev->FillPath(path, emf::FillRule::NonZero, Solid(color), {});
            return;
        }
        default: {
            // Numbered markers: the text ends a little before the item's box.
            Font* f = m.font ? AsFont(m.font) : nullptr;
            if (!f) return;
            std::string text = MarkerText(m);
            int w = fonts_.Width(*f, text);
            double baseline = p.bottom() + f->descent / 2.0;
            baseline = p.y + p.height / 2.0 + (f->ascent - f->descent) / 2.0;
            DrawTextAt(*dev, text, *f, color, p.x + p.width - w, baseline);
        }
    }
}

// An inline SVG's picture. Its text is drawn as text when the SVG library
// places every text element: the picture without it, the text over it.
Container::Picture Container::InlinePicture(const InlineSvg& svg, litehtml::document_container& colours) {
    Picture pic;
    constexpr std::size_t kMaxPixels = 64u << 20;
    if (!svg.texts.empty() && !svg.withoutText.empty()) {
        std::string ids;
        for (const auto& t : svg.texts) ids.append(t.id).push_back('\0');
        std::vector<double> boxes(4 * svg.texts.size());
        SvgBoxQuery query{ids.data(), svg.texts.size(), boxes.data()};
        pic.image = DecodeSvg(svg.withoutText, kMaxPixels, &query);
        const bool placed = pic.image && std::all_of(boxes.begin(), boxes.end(), [](double v) { return std::isfinite(v); });
        for (std::size_t k = 0; placed && k < svg.texts.size(); ++k) {
            const auto& t = svg.texts[k];
            if (t.fill == "none") continue;
            Picture::Text out;
            out.text = t.text;
            out.family = t.family.empty() ? "serif" : t.family;
            out.color = t.fill.empty() ? emf::Color{0, 0, 0, 255} : ToColor(litehtml::web_color::from_string(t.fill.c_str(), &colours));
            out.weight = t.weight;
            out.italic = t.italic;
            out.size = t.size;
            out.x = boxes[4 * k], out.y = boxes[4 * k + 1], out.width = boxes[4 * k + 2], out.height = boxes[4 * k + 3];
            pic.texts.push_back(std::move(out));
        }
        if (placed) return pic;
        pic = {};
    }
    pic.image = DecodeSvg(svg.document, kMaxPixels, nullptr);
    return pic;
}

// The text of an inline SVG over its picture drawn at (x, y), w x h: each
// text at the box the SVG library gave it, its advances fitted to the box.
void Container::DrawPictureText(emf::Device& dev, const Picture& pic, double x, double y, double w, double h) {
    if (pic.texts.empty() || !pic.image || pic.image->width <= 0 || pic.image->height <= 0) return;
    FlushText();
    const double sx = w / pic.image->width, sy = h / pic.image->height;
    for (const auto& t : pic.texts) {
        // The library's boxes are its glyphs' ink: the size comes from the
        // width the text takes (a given size that agrees with it is kept),
        // the baseline from the bottom, above any descender.
        Font* probe = fonts_.Create(t.family, 16, t.weight, t.italic, 0);
        const double at16 = fonts_.Width(*probe, t.text);
        fonts_.Release(probe);
        double px = at16 > 0 ? 16 * t.width * sx / at16 : t.height * sy;
        if (t.size > 0 && std::abs(t.size * sy - px) < 0.4 * px) px = t.size * sy;
        if (!(px >= 1) || px > 2000) continue;
        Font* font = fonts_.Create(t.family, static_cast<int>(std::lround(px)), t.weight, t.italic, 0);
        const bool descends = t.text.find_first_of("gjpqy(),;[]{}|_@$") != std::string::npos;
        const double baseline = y + (t.y + t.height) * sy - (descends ? font->descent : 0);
        double pen = x + t.x * sx;
        const double natural = fonts_.Width(*font, t.text);
        const double fit = natural > 0 ? t.width * sx / natural : 1;
        for (auto& run : fonts_.Shape(*font, t.text)) {
            emf::TextRun r;
            r.text = std::move(run.text);
            r.advances = std::move(run.advances);
            // Our face may be wider or narrower than the one the SVG library
            // used: the text keeps to its box within reason.
            if (fit > 0.7 && fit < 1.4)
                for (double& a : r.advances) a *= fit;
            r.origin = {pen, baseline};
            r.face = run.family;
            r.emHeight = font->pixelSize;
            r.weight = t.weight;
            r.italic = t.italic;
            r.color = t.color;
            for (double a : r.advances) pen += a;
            dev.DrawText(r, {});
        }
        fonts_.Release(font);
    }
}

const Container::Picture& Container::GetPicture(const std::string& url) {
    auto it = pictures_.find(url);
    if (it != pictures_.end()) return it->second;
    Picture pic;
    if (url.starts_with(kGradientScheme)) return pictures_.emplace(url, std::move(pic)).first->second;
    if (url.starts_with(kInlineSvgScheme)) {
        auto found = inline_.find(url);
        if (found != inline_.end()) pic = InlinePicture(found->second, *this);
        if (pic.image) pictureBytes_ += pic.image->pixels.size();
        else warnings_.push_back("inline picture not drawn: " + url);
    } else if (pictureBytes_ < kMaxPictureBytes) {
        FetchResult r = fetcher_.Fetch(url);
        if (r.ok && !r.body.empty()) {
            pic.image = DecodePicture(r.body);
            if (pic.image) pictureBytes_ += pic.image->pixels.size() + pic.image->encoded.size();
            else warnings_.push_back("picture not decoded: " + url);
        } else {
            warnings_.push_back("picture not loaded: " + url + (r.error.empty() ? "" : " (" + r.error + ")"));
        }
    } else {
        warnings_.push_back("picture skipped, picture memory used up: " + url);
    }
    return pictures_.emplace(url, std::move(pic)).first->second;
}

void Container::load_image(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, bool) {
    if (!src || !*src) return;
    GetPicture(Resolve(src, baseurl ? baseurl : ""));
}

void Container::get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t* baseurl, litehtml::size& sz) {
    sz.width = sz.height = 0;
    if (!src || !*src) return;
    std::string url = Resolve(src, baseurl ? baseurl : "");
    if (url.starts_with(kGradientScheme)) {
        sz.width = sz.height = 1;  // any size: the gradient fills the box
        return;
    }
    const Picture& pic = GetPicture(url);
    if (pic.image) {
        sz.width = pic.image->width;
        sz.height = pic.image->height;
        return;
    }
    if (auto a = alt_.find(url); a != alt_.end() && !a->second.empty()) {
        if (!altFont_) altFont_ = fonts_.Create("sans-serif", 13, 400, false, 0);
        sz.width = fonts_.Width(*altFont_, a->second) + 4;
        sz.height = altFont_->height + 4;
    }
}

bool Container::DrawGradient(emf::Device& dev, const litehtml::background_paint& bg) {
    // litehtml keeps the value of background-image as written when it is no url():
    // "linear-gradient(to right, #fff, #000)" and the like.
    if (!bg.image.starts_with(kGradientScheme)) return false;
    std::string v = bg.image.substr(kGradientScheme.size());
    for (char& c : v) c = c == '[' ? '(' : c == ']' ? ')' : c;
    auto open = v.find('(');
    if (open == std::string::npos || v.back() != ')') return false;
    const std::string fn = platform::ToLowerAscii(v.substr(0, open));
    bool linear = fn == "linear-gradient" || fn == "-webkit-linear-gradient" || fn == "repeating-linear-gradient";
    bool radial = fn == "radial-gradient" || fn == "-webkit-radial-gradient";
    if (!linear && !radial) return false;
    std::vector<std::string> args;
    std::string cur;
    int depth = 0;
    for (std::size_t i = open + 1; i + 1 < v.size(); ++i) {
        char c = v[i];
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (c == ',' && depth == 0) args.push_back(cur), cur.clear();
        else cur += c;
    }
    args.push_back(cur);
    double angle = 180;  // to bottom
    std::size_t first = 0;
    if (linear && !args.empty()) {
        std::string a = args[0];
        while (!a.empty() && a.front() == ' ') a.erase(0, 1);
        if (a.starts_with("to ")) {
            bool l = a.find("left") != std::string::npos, r = a.find("right") != std::string::npos;
            bool t = a.find("top") != std::string::npos, b = a.find("bottom") != std::string::npos;
            angle = r ? (t ? 45 : b ? 135 : 90) : l ? (t ? 315 : b ? 225 : 270) : t ? 0 : 180;
            first = 1;
        } else if (a.find("deg") != std::string::npos) {
            angle = std::atof(a.c_str());
            first = 1;
        } else if (a.find("turn") != std::string::npos) {
            angle = std::atof(a.c_str()) * 360;
            first = 1;
        }
    } else if (radial && !args.empty() && (args[0].find("circle") != std::string::npos || args[0].find("ellipse") != std::string::npos ||
                                          args[0].find(" at ") != std::string::npos)) {
        first = 1;
    }
    struct Stop { emf::Color color; double pos; bool hasPos; };
    std::vector<Stop> stops;
    for (std::size_t i = first; i < args.size(); ++i) {
        std::string s = args[i];
        // A stop is a colour and an optional position ("red 30%").
        std::string pos;
        auto close = s.rfind(')');
        auto sp = s.find_last_of(' ');
        if (sp != std::string::npos && (close == std::string::npos || sp > close) && sp + 1 < s.size() &&
            (std::isdigit(static_cast<unsigned char>(s[sp + 1])) || s[sp + 1] == '.')) {
            pos = s.substr(sp + 1);
            s = s.substr(0, sp);
        }
        Stop st{};
        if (!ParseColor(s, st.color)) continue;
        st.hasPos = !pos.empty() && pos.back() == '%';
        st.pos = st.hasPos ? std::atof(pos.c_str()) / 100 : 0;
        stops.push_back(st);
    }
    if (stops.empty()) return true;
    if (stops.size() == 1) stops.push_back(stops[0]);
    stops.front().pos = stops.front().hasPos ? stops.front().pos : 0;
    stops.back().pos = stops.back().hasPos ? stops.back().pos : 1;
    for (std::size_t i = 1; i + 1 < stops.size(); ++i)
        if (!stops[i].hasPos) stops[i].pos = stops[i - 1].pos + (stops.back().pos - stops[i - 1].pos) / double(stops.size() - i);
    auto colorAt = [&](double t) {
        if (t <= stops.front().pos) return stops.front().color;
        for (std::size_t i = 1; i < stops.size(); ++i) {
            if (t <= stops[i].pos) {
                double span = stops[i].pos - stops[i - 1].pos;
                double f = span > 0 ? (t - stops[i - 1].pos) / span : 1;
                auto mix = [f](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(std::lround(a + (b - a) * f)); };
                const auto &a = stops[i - 1].color, &b = stops[i].color;
                return emf::Color{mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b), mix(a.a, b.a)};
            }
        }
        return stops.back().color;
    };

    const auto& box = bg.clip_box;
    if (box.width <= 0 || box.height <= 0) return true;
    dev.PushClip(RoundedRect(box.x, box.y, box.right(), box.bottom(), bg.border_radius), emf::FillRule::NonZero, {});
    const auto& ob = bg.origin_box.width > 0 ? bg.origin_box : bg.border_box;
    double cx = ob.x + ob.width / 2.0, cy = ob.y + ob.height / 2.0;
    // Bands of one colour each, about two pixels wide: a metafile has no gradient fill.
    if (linear) {
        double rad = angle * M_PI / 180;
        double dx = std::sin(rad), dy = -std::cos(rad);
        double len = std::abs(ob.width * dx) + std::abs(ob.height * dy);
        int bands = std::clamp(static_cast<int>(len / 2), 1, 256);
        double diag = std::hypot(ob.width, ob.height) + 2;
        for (int k = 0; k < bands; ++k) {
            double t0 = double(k) / bands, t1 = double(k + 1) / bands;
            double a0 = -len / 2 + t0 * len, a1 = -len / 2 + t1 * len + 0.5;
            if (k == bands - 1) a1 += diag;  // the last band covers what is beyond
            if (k == 0) a0 -= diag;
            double px = -dy, py = dx;  // along the band
            emf::Path band = Polygon({{cx + dx * a0 + px * diag, cy + dy * a0 + py * diag},
                                      {cx + dx * a1 + px * diag, cy + dy * a1 + py * diag},
                                      {cx + dx * a1 - px * diag, cy + dy * a1 - py * diag},
                                      {cx + dx * a0 - px * diag, cy + dy * a0 - py * diag}});
            dev.FillPath(band, emf::FillRule::NonZero, Solid(colorAt((t0 + t1) / 2)), {});
        }
    } else {
        double rx = std::hypot(ob.width, ob.height) / 2, ry = rx;
        if (args.empty() || args[0].find("circle") == std::string::npos)
            rx = ob.width / std::sqrt(2.0) + 1, ry = ob.height / std::sqrt(2.0) + 1;
        int rings = std::clamp(static_cast<int>(std::max(rx, ry) / 2), 1, 128);
        litehtml::border_radiuses none;
        emf::Path outer;
        outer.AddRect({double(box.x), double(box.y), double(box.right()), double(box.bottom())});
        dev.FillPath(outer, emf::FillRule::NonZero, Solid(stops.back().color), {});
        for (int k = rings; k >= 1; --k) {
            double f = double(k) / rings;
            litehtml::border_radiuses r;
            r.top_left_x = r.top_right_x = r.bottom_left_x = r.bottom_right_x = static_cast<int>(rx * f);
            r.top_left_y = r.top_right_y = r.bottom_left_y = r.bottom_right_y = static_cast<int>(ry * f);
            emf::Path e = RoundedRect(cx - rx * f, cy - ry * f, cx + rx * f, cy + ry * f, r);
            dev.FillPath(e, emf::FillRule::NonZero, Solid(colorAt(f)), {});
        }
        (void)none;
    }
    dev.PopClip();
    return true;
}

void Container::draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) {
    FlushText();
    emf::Device* dev = DeviceOf(hdc);
    if (!dev) return;
    const auto& box = bg.clip_box;
    if (bg.color.alpha > 0 && box.width > 0 && box.height > 0) {
        dev->FillPath(RoundedRect(box.x, box.y, box.right(), box.bottom(), bg.border_radius), emf::FillRule::NonZero,
                      Solid(ToColor(bg.color)), {});
    }
    if (bg.image.empty()) return;
    if (DrawGradient(*dev, bg)) return;
    std::string url = Resolve(bg.image, bg.baseurl);
    const Picture& pic = GetPicture(url);
    if (!pic.image) {
        // A missing <img> shows its alternative text in its box.
        auto a = alt_.find(url);
        if (a != alt_.end() && !a->second.empty() && box.width > 0 && box.height > 0) {
            if (!altFont_) altFont_ = fonts_.Create("sans-serif", 13, 400, false, 0);
            dev->PushClip(RoundedRect(box.x, box.y, box.right(), box.bottom(), {}), emf::FillRule::NonZero, {});
            emf::Path frame;
            frame.AddRect({box.x + 0.5, box.y + 0.5, box.right() - 0.5, box.bottom() - 0.5});
            dev->StrokePath(frame, Pen(1), {160, 160, 160, 255}, {});
            DrawTextAt(*dev, a->second, *altFont_, {0, 0, 0, 255}, box.x + 2, box.y + 2 + altFont_->ascent);
            FlushText();
            dev->PopClip();
        }
        return;
    }
    int w = bg.image_size.width > 0 ? bg.image_size.width : pic.image->width;
    int h = bg.image_size.height > 0 ? bg.image_size.height : pic.image->height;
    if (w <= 0 || h <= 0 || box.width <= 0 || box.height <= 0) return;
    bool rx = bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_x;
    bool ry = bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_y;
    int x0 = bg.position_x, y0 = bg.position_y;
    if (rx) x0 -= ((x0 - box.x) / w + 1) * w;
    if (ry) y0 -= ((y0 - box.y) / h + 1) * h;
    int x1 = rx ? box.right() : x0 + 1, y1 = ry ? box.bottom() : y0 + 1;
    long tiles = (static_cast<long>(x1 - x0) / w + 1) * (static_cast<long>(y1 - y0) / h + 1);
    dev->PushClip(RoundedRect(box.x, box.y, box.right(), box.bottom(), bg.border_radius), emf::FillRule::NonZero, {});
    if (tiles > 4000) {
        // Tiny tiles over a large area: one pattern fill instead of thousands of pictures.
        emf::Paint paint;
        paint.kind = emf::Paint::Kind::Pattern;
        paint.pattern = pic.image;
        emf::Path area;
        area.AddRect({double(box.x), double(box.y), double(box.right()), double(box.bottom())});
        dev->FillPath(area, emf::FillRule::NonZero, paint, {});
    } else {
        for (int y = y0; y < y1 && y < box.bottom(); y += h) {
            if (y + h <= box.y) continue;
            for (int x = x0; x < x1 && x < box.right(); x += w) {
                if (x + w <= box.x) continue;
                dev->DrawImage(*pic.image, {double(w), 0, 0, double(h), double(x), double(y)});
                DrawPictureText(*dev, pic, x, y, w, h);
                if (!rx) break;
            }
            if (!ry) break;
        }
    }
    dev->PopClip();
}

void Container::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& b, const litehtml::position& pos, bool) {
    FlushText();
    emf::Device* dev = DeviceOf(hdc);
    if (!dev || pos.width <= 0 || pos.height <= 0) return;
    const double l = pos.x, t = pos.y, r = pos.right(), btm = pos.bottom();
    const double wl = b.left.width, wt = b.top.width, wr = b.right.width, wb = b.bottom.width;
    auto visible = [](const litehtml::border& s) {
        return s.width > 0 && s.style != litehtml::border_style_none && s.style != litehtml::border_style_hidden &&
               s.color.alpha > 0;
    };
    bool rounded = b.radius.top_left_x || b.radius.top_right_x || b.radius.bottom_left_x || b.radius.bottom_right_x ||
                   b.radius.top_left_y || b.radius.top_right_y || b.radius.bottom_left_y || b.radius.bottom_right_y;
    auto same = [](const litehtml::border& x, const litehtml::border& y) {
        return x.width == y.width && x.style == y.style && x.color.red == y.color.red && x.color.green == y.color.green &&
               x.color.blue == y.color.blue && x.color.alpha == y.color.alpha;
    };
    if (rounded && visible(b.top) && same(b.top, b.left) && same(b.top, b.right) && same(b.top, b.bottom) &&
        (b.top.style == litehtml::border_style_solid || b.top.style == litehtml::border_style_double ||
         b.top.style == litehtml::border_style_inset || b.top.style == litehtml::border_style_outset ||
         b.top.style == litehtml::border_style_groove || b.top.style == litehtml::border_style_ridge)) {
        // One ring between the outer and the inner rounded outline.
        emf::Path ring = RoundedRect(l, t, r, btm, b.radius);
        litehtml::border_radiuses inner = b.radius;
        litehtml::margins m;
        m.left = int(wl), m.top = int(wt), m.right = int(wr), m.bottom = int(wb);
        inner -= m;
        emf::Path in = RoundedRect(l + wl, t + wt, r - wr, btm - wb, inner);
        for (std::size_t i = 0, k = 0; i < in.Ops().size(); ++i) {
            auto op = in.Ops()[i];
            const auto& pts = in.Points();
            if (op == emf::Path::Op::Move) ring.MoveTo(pts[k++]);
            else if (op == emf::Path::Op::Line) ring.LineTo(pts[k++]);
            else if (op == emf::Path::Op::Cubic) ring.CubicTo(pts[k], pts[k + 1], pts[k + 2]), k += 3;
            else ring.Close();
        }
        dev->FillPath(ring, emf::FillRule::EvenOdd, Solid(ToColor(b.top.color)), {});
        return;
    }

    // Each side a trapezoid (mitred at the corners), or a dashed line along its middle.
    struct Side {
        const litehtml::border& s;
        emf::Point o0, o1, i1, i0;  // outer start/end, inner end/start
        bool lightIsInset;          // top and left are the shaded sides of inset
    };
    Side sides[4] = {
        {b.top, {l, t}, {r, t}, {r - wr, t + wt}, {l + wl, t + wt}, true},
        {b.right, {r, t}, {r, btm}, {r - wr, btm - wb}, {r - wr, t + wt}, false},
        {b.bottom, {r, btm}, {l, btm}, {l + wl, btm - wb}, {r - wr, btm - wb}, false},
        {b.left, {l, btm}, {l, t}, {l + wl, t + wt}, {l + wl, btm - wb}, true},
    };
    auto lerp = [](emf::Point a, emf::Point c, double f) { return emf::Point{a.x + (c.x - a.x) * f, a.y + (c.y - a.y) * f}; };
    for (const Side& sd : sides) {
        if (!visible(sd.s)) continue;
        emf::Color c = ToColor(sd.s.color);
        double width = sd.s.width;
        switch (sd.s.style) {
            case litehtml::border_style_dotted:
            case litehtml::border_style_dashed: {
                emf::Point a = lerp(sd.o0, sd.i0, 0.5), z = lerp(sd.o1, sd.i1, 0.5);
                emf::Path line;
                line.MoveTo(a), line.LineTo(z);
                emf::StrokeStyle st;
                st.width = width;
                bool dotted = sd.s.style == litehtml::border_style_dotted;
                st.cap = emf::LineCap::Butt;
                st.dashes = dotted ? std::vector<double>{width, width} : std::vector<double>{3 * width, 3 * width};
                dev->StrokePath(line, st, c, {});
                break;
            }
            case litehtml::border_style_double: {
                if (width < 3) {
                    dev->FillPath(Polygon({sd.o0, sd.o1, sd.i1, sd.i0}), emf::FillRule::NonZero, Solid(c), {});
                    break;
                }
                dev->FillPath(Polygon({sd.o0, sd.o1, lerp(sd.o1, sd.i1, 1 / 3.0), lerp(sd.o0, sd.i0, 1 / 3.0)}),
                              emf::FillRule::NonZero, Solid(c), {});
                dev->FillPath(Polygon({lerp(sd.o0, sd.i0, 2 / 3.0), lerp(sd.o1, sd.i1, 2 / 3.0), sd.i1, sd.i0}),
                              emf::FillRule::NonZero, Solid(c), {});
                break;
            }
            case litehtml::border_style_groove:
            case litehtml::border_style_ridge: {
                bool groove = sd.s.style == litehtml::border_style_groove;
                emf::Color outer = (groove == sd.lightIsInset) ? Shade(c, 0.6) : Shade(c, 1.3);
                emf::Color inner = (groove == sd.lightIsInset) ? Shade(c, 1.3) : Shade(c, 0.6);
                emf::Point m0 = lerp(sd.o0, sd.i0, 0.5), m1 = lerp(sd.o1, sd.i1, 0.5);
                dev->FillPath(Polygon({sd.o0, sd.o1, m1, m0}), emf::FillRule::NonZero, Solid(outer), {});
                dev->FillPath(Polygon({m0, m1, sd.i1, sd.i0}), emf::FillRule::NonZero, Solid(inner), {});
                break;
            }
            case litehtml::border_style_inset:
            case litehtml::border_style_outset: {
                bool dark = (sd.s.style == litehtml::border_style_inset) == sd.lightIsInset;
                dev->FillPath(Polygon({sd.o0, sd.o1, sd.i1, sd.i0}), emf::FillRule::NonZero,
                              Solid(dark ? Shade(c, 0.6) : Shade(c, 1.25)), {});
                break;
            }
            default:
                dev->FillPath(Polygon({sd.o0, sd.o1, sd.i1, sd.i0}), emf::FillRule::NonZero, Solid(c), {});
        }
    }
}

void Container::set_base_url(const litehtml::tchar_t* base_url) {
    if (base_url && *base_url) baseUrl_ = Resolve(base_url);
}

void Container::transform_text(litehtml::tstring& text, litehtml::text_transform tt) {
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::u32string s = platform::Utf32FromUtf8(text);
    bool start = true;
    for (char32_t& c : s) {
        bool space = c == ' ' || c == '\t' || c == '\n' || c == '-';
        wint_t w = static_cast<wint_t>(c);
        switch (tt) {
            case litehtml::text_transform_uppercase: w = utf8 ? towupper_l(w, utf8) : towupper(w); break;
            case litehtml::text_transform_lowercase: w = utf8 ? towlower_l(w, utf8) : towlower(w); break;
            case litehtml::text_transform_capitalize:
                if (start && !space) w = utf8 ? towupper_l(w, utf8) : towupper(w);
                break;
            default: break;
        }
        c = static_cast<char32_t>(w);
        start = space;
    }
    text = platform::Utf8FromUtf32(s);
}

void Container::import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) {
    std::string resolved = Resolve(url, baseurl);
    FetchResult r = fetcher_.Fetch(resolved);
    if (!r.ok) {
        warnings_.push_back("style sheet not loaded: " + resolved + (r.error.empty() ? "" : " (" + r.error + ")"));
        text.clear();
        return;
    }
    text = PrepareStyleSheet(DecodeCss(r.body, CharsetFromContentType(r.contentType), documentEncoding_));
    baseurl = r.finalUrl.empty() ? resolved : r.finalUrl;
}

void Container::set_clip(const litehtml::position& pos, const litehtml::border_radiuses& radius, bool valid_x,
                         bool valid_y) {
    FlushText();
    if (!currentDevice_) return;
    constexpr double kFar = 1e7;
    double l = valid_x ? pos.x : -kFar, r = valid_x ? pos.right() : kFar;
    double t = valid_y ? pos.y : -kFar, b = valid_y ? pos.bottom() : kFar;
    currentDevice_->PushClip(RoundedRect(l, t, r, b, radius), emf::FillRule::NonZero, {});
    clipDevices_.push_back(currentDevice_);
}

void Container::del_clip() {
    FlushText();
    if (clipDevices_.empty()) return;
    clipDevices_.back()->PopClip();
    clipDevices_.pop_back();
}

void Container::get_client_rect(litehtml::position& client) const {
    client.x = client.y = 0;
    client.width = viewportWidth_;
    client.height = viewportHeight_;
}

void Container::get_media_features(litehtml::media_features& media) const {
    media.type = litehtml::media_type_screen;
    media.width = viewportWidth_;
    media.height = viewportHeight_;
    media.device_width = 1920;
    media.device_height = 1080;
    media.color = 8;
    media.color_index = 256;
    media.monochrome = 0;
    media.resolution = 96;
}

void Container::get_language(litehtml::tstring& language, litehtml::tstring& culture) const {
    language = "en";
    culture = "en-US";
}

void Container::split_text(const char* text, const std::function<void(const litehtml::tchar_t*)>& on_word,
                           const std::function<void(const litehtml::tchar_t*)>& on_space) {
    // Words end at white space and at zero-width spaces (which are not
    // drawn); CJK characters are words of their own, so lines of Chinese or
    // Japanese text can break between any two of them.
    std::u32string s = platform::Utf32FromUtf8(text ? text : "");
    std::u32string word;
    auto flush = [&]() {
        if (!word.empty()) on_word(platform::Utf8FromUtf32(word).c_str()), word.clear();
    };
    for (char32_t c : s) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            flush();
            on_space(platform::Utf8FromUtf32(std::u32string(1, c)).c_str());
        } else if (c == 0x200B) {
            flush();
        } else if ((c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFF60) ||
                   (c >= 0x20000 && c <= 0x2FFFF)) {
            flush();
            on_word(platform::Utf8FromUtf32(std::u32string(1, c)).c_str());
        } else {
            word += c;
        }
    }
    flush();
}

}  // namespace htmlengine
