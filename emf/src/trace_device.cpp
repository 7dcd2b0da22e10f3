#include "emf/trace_device.h"

#include <charconv>
#include <cstdio>

#include "platform/text.h"

namespace emf {

std::string TraceDevice::Num(double v) {
    if (v > -1e-9 && v < 1e-9) v = 0;  // no "-0", no rounding noise
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return std::string(buf, r.ptr);
}

std::string TraceDevice::ColorText(const Color& c) {
    char buf[16];
    if (c.a == 255)
        std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
    else
        std::snprintf(buf, sizeof buf, "#%02x%02x%02x%02x", c.r, c.g, c.b, c.a);
    return buf;
}

std::string TraceDevice::MatrixText(const Matrix& m) {
    if (m == Matrix{}) return "[]";
    return "[" + Num(m.a) + " " + Num(m.b) + " " + Num(m.c) + " " + Num(m.d) + " " + Num(m.e) + " " + Num(m.f) + "]";
}

std::string TraceDevice::PathText(const Path& p) {
    std::string s;
    std::size_t i = 0;
    auto pt = [&] {
        const Point& q = p.Points()[i++];
        s += " " + Num(q.x) + " " + Num(q.y);
    };
    for (auto op : p.Ops()) {
        switch (op) {
        case Path::Op::Move: s += " M", pt(); break;
        case Path::Op::Line: s += " L", pt(); break;
        case Path::Op::Cubic: s += " C", pt(), pt(), pt(); break;
        case Path::Op::Close: s += " Z"; break;
        }
    }
    return s;
}

namespace {
const char* RuleText(FillRule r) { return r == FillRule::EvenOdd ? "evenodd" : "nonzero"; }
const char* CapText(LineCap c) { return c == LineCap::Butt ? "butt" : c == LineCap::Round ? "round" : "square"; }
const char* JoinText(LineJoin j) { return j == LineJoin::Miter ? "miter" : j == LineJoin::Round ? "round" : "bevel"; }

// Text as a quoted trace field: UTF-8 with quotes, backslashes and control
// characters escaped.
std::string Utf8(const std::u16string& s) {
    std::string o;
    for (char c : platform::Utf8FromUtf16(s)) {
        if (c == '"' || c == '\\') o += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", static_cast<unsigned>(c));
            o += b;
        } else {
            o += c;
        }
    }
    return o;
}
}  // namespace

void TraceDevice::BeginPage(const PageInfo& p) {
    text_ += "begin_page " + Num(p.width) + "x" + Num(p.height) + " dpi=" + Num(p.dpi) + "\n";
}
void TraceDevice::EndPage() { text_ += "end_page\n"; }

void TraceDevice::FillPath(const Path& path, FillRule rule, const Paint& paint, const Matrix& ctm) {
    text_ += "fill ";
    text_ += RuleText(rule);
    switch (paint.kind) {
    case Paint::Kind::Solid: text_ += " solid " + ColorText(paint.color); break;
    case Paint::Kind::Hatched:
        text_ += " hatch" + std::to_string(int(paint.hatch)) + " " + ColorText(paint.color);
        if (paint.opaqueBackground) text_ += " on " + ColorText(paint.background);
        break;
    case Paint::Kind::Pattern:
        text_ += " pattern";
        if (paint.pattern) text_ += " " + std::to_string(paint.pattern->width) + "x" + std::to_string(paint.pattern->height);
        break;
    }
    text_ += " ctm=" + MatrixText(ctm) + PathText(path) + "\n";
}

void TraceDevice::StrokePath(const Path& path, const StrokeStyle& s, const Color& c, const Matrix& ctm) {
    text_ += "stroke w=" + Num(s.width) + " " + CapText(s.cap) + " " + JoinText(s.join);
    if (s.join == LineJoin::Miter) text_ += " miter=" + Num(s.miterLimit);
    if (!s.dashes.empty()) {
        text_ += " dash=";
        for (std::size_t i = 0; i < s.dashes.size(); ++i) text_ += (i ? "," : "") + Num(s.dashes[i]);
        if (s.dashPhase != 0) text_ += "@" + Num(s.dashPhase);
    }
    text_ += " " + ColorText(c) + " ctm=" + MatrixText(ctm) + PathText(path) + "\n";
}

void TraceDevice::DrawText(const TextRun& t, const Matrix& ctm) {
    text_ += "text \"" + Utf8(t.text) + "\" at " + Num(t.origin.x) + " " + Num(t.origin.y) + " face=\"" + t.face +
             "\" em=" + Num(t.emHeight);
    if (t.weight != 400) text_ += " weight=" + std::to_string(t.weight);
    if (t.italic) text_ += " italic";
    if (t.underline) text_ += " underline";
    if (t.strikeout) text_ += " strikeout";
    if (t.charset != 1) text_ += " charset=" + std::to_string(t.charset);
    if (t.angle != 0) text_ += " angle=" + Num(t.angle);
    if (t.rtl) text_ += " rtl";
    if (t.glyphIndices) text_ += " glyphs";
    text_ += " " + ColorText(t.color);
    if (!t.advances.empty()) {
        text_ += " adv=";
        for (std::size_t i = 0; i < t.advances.size(); ++i) text_ += (i ? "," : "") + Num(t.advances[i]);
    }
    text_ += " ctm=" + MatrixText(ctm) + "\n";
}

void TraceDevice::DrawImage(const Image& img, const Matrix& ctm) {
    static const char* const kFormats[] = {"gray8", "rgb8", "rgba8", "cmyk8", "jpeg", "png"};
    text_ += "image " + std::to_string(img.width) + "x" + std::to_string(img.height) + " " +
             kFormats[int(img.format)] + " ctm=" + MatrixText(ctm) + "\n";
}

void TraceDevice::DefineFont(const FontProgram& f) {
    std::string face;
    for (char16_t c : f.face) face += c < 0x80 ? char(c) : '?';
    text_ += "font \"" + face + "\" " + std::to_string(f.bytes.size()) + " bytes\n";
}

void TraceDevice::PushClip(const Path& path, FillRule rule, const Matrix& ctm) {
    text_ += std::string("push_clip ") + RuleText(rule) + " ctm=" + MatrixText(ctm) + PathText(path) + "\n";
}
void TraceDevice::PopClip() { text_ += "pop_clip\n"; }

}  // namespace emf
