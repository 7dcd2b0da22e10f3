#include "pdfcore/content.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pdfcore/fonts.h"

namespace pdfcore {

Matrix Matrix::Rotate(double degreesCcw) {
    double r = degreesCcw * M_PI / 180.0;
    double c = std::cos(r), s = std::sin(r);
    return {c, s, -s, c, 0, 0};
}

void AppendNumber(std::string& out, double v) {
    if (!std::isfinite(v)) v = 0;
    // Viewers choke on numbers far beyond what a page can hold.
    if (v > 1e9) v = 1e9;
    if (v < -1e9) v = -1e9;
    // Fixed point with 4 decimals, by hand: this is the hottest call of
    // content writing, and to_chars of a double is several times slower.
    long long scaled = std::llround(v * 10000.0);
    if (scaled == 0) {
        out.push_back('0');
        return;
    }
    char buf[32];
    char* end = buf + sizeof buf;
    char* p = end;
    unsigned long long mag = static_cast<unsigned long long>(scaled < 0 ? -scaled : scaled);
    unsigned frac = static_cast<unsigned>(mag % 10000);
    unsigned long long whole = mag / 10000;
    if (frac) {
        int digits = 4;
        while (frac % 10 == 0) frac /= 10, --digits;
        for (int i = 0; i < digits; ++i) *--p = static_cast<char>('0' + frac % 10), frac /= 10;
        *--p = '.';
    }
    do {
        *--p = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole);
    if (scaled < 0) *--p = '-';
    out.append(p, end - p);
}

std::string AlphaStateName(double fill, double stroke) {
    auto q = [](double a) { return static_cast<int>(std::lround(std::clamp(a, 0.0, 1.0) * 1000)); };
    char buf[40];
    std::snprintf(buf, sizeof buf, "GSa%ds%d", q(fill), q(stroke));
    return buf;
}

void ContentBuilder::Num(double v) {
    AppendNumber(data_, v);
    data_.push_back(' ');
}

void ContentBuilder::Op(std::string_view op) {
    data_.append(op);
    data_.push_back('\n');
}

void ContentBuilder::Save() { Op("q"); }
void ContentBuilder::Restore() { Op("Q"); }

void ContentBuilder::Concat(const Matrix& m) {
    Num(m.a), Num(m.b), Num(m.c), Num(m.d), Num(m.e), Num(m.f);
    Op("cm");
}

void ContentBuilder::SetLineWidth(double w) {
    Num(w < 0 ? 0 : w);
    Op("w");
}
void ContentBuilder::SetLineCap(int cap) {
    Num(std::clamp(cap, 0, 2));
    Op("J");
}
void ContentBuilder::SetLineJoin(int join) {
    Num(std::clamp(join, 0, 2));
    Op("j");
}
void ContentBuilder::SetMiterLimit(double limit) {
    Num(limit < 1 ? 1 : limit);
    Op("M");
}

void ContentBuilder::SetDash(std::span<const double> onOff, double phase) {
    bool allZero = true;
    for (double d : onOff)
        if (d > 0) allZero = false;
    data_.push_back('[');
    if (!allZero) {
        for (size_t i = 0; i < onOff.size(); ++i) {
            if (i) data_.push_back(' ');
            AppendNumber(data_, std::fabs(onOff[i]));
        }
    }
    data_.append("] ");
    Num(allZero ? 0 : phase);
    Op("d");
}

static double Clamp01(double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; }

void ContentBuilder::SetFillColor(const Rgb& c) {
    Num(Clamp01(c.r)), Num(Clamp01(c.g)), Num(Clamp01(c.b));
    Op("rg");
}
void ContentBuilder::SetStrokeColor(const Rgb& c) {
    Num(Clamp01(c.r)), Num(Clamp01(c.g)), Num(Clamp01(c.b));
    Op("RG");
}

void ContentBuilder::SetDifferenceBlend() {
    data_.append("/GSdiff gs\n");
    gstates_.insert("GSdiff");
}

void ContentBuilder::SetAlpha(double fill, double stroke) {
    std::string name = AlphaStateName(fill, stroke);
    data_.push_back('/');
    data_.append(name);
    data_.append(" gs\n");
    gstates_.insert(std::move(name));
}

void ContentBuilder::MoveTo(double x, double y) {
    Num(x), Num(y);
    Op("m");
}
void ContentBuilder::LineTo(double x, double y) {
    Num(x), Num(y);
    Op("l");
}
void ContentBuilder::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    Num(x1), Num(y1), Num(x2), Num(y2), Num(x3), Num(y3);
    Op("c");
}
void ContentBuilder::ClosePath() { Op("h"); }
void ContentBuilder::Rectangle(double x, double y, double w, double h) {
    Num(x), Num(y), Num(w), Num(h);
    Op("re");
}
void ContentBuilder::Fill(FillRule rule) { Op(rule == FillRule::EvenOdd ? "f*" : "f"); }
void ContentBuilder::Stroke() { Op("S"); }
void ContentBuilder::FillStroke(FillRule rule) { Op(rule == FillRule::EvenOdd ? "B*" : "B"); }
void ContentBuilder::EndPath() { Op("n"); }
void ContentBuilder::Clip(FillRule rule) { Op(rule == FillRule::EvenOdd ? "W* n" : "W n"); }

void ContentBuilder::DrawXObject(std::string_view name) {
    data_.push_back('/');
    data_.append(name);
    data_.append(" Do\n");
    xobjects_.insert(std::string(name));
}

void ContentBuilder::Raw(std::string_view ops) {
    data_.append(ops);
    if (!ops.empty() && ops.back() != '\n') data_.push_back('\n');
}

std::string ContentBuilder::TakeData() {
    std::string out;
    out.swap(data_);
    return out;
}

void ContentBuilder::ShowGlyphs(Font& font, double size, const Matrix& textMatrix,
                                std::span<const PlacedGlyph> glyphs, const Rgb& color, double slack) {
    if (glyphs.empty() || !(size > 0) || !std::isfinite(size)) return;
    fonts_.insert(font.ResourceName());
    Matrix tm = textMatrix;
    if (font.SyntheticItalic()) tm = Matrix{1, 0, 0.21, 1, 0, 0}.Then(tm);
    Op("BT");
    if (font.SyntheticBold()) {
        SetStrokeColor(color);
        Num(size * 0.03);
        Op("w 2 Tr");
    }
    data_.push_back('/');
    data_.append(font.ResourceName());
    data_.push_back(' ');
    Num(size);
    Op("Tf");
    SetFillColor(color);

    // Runs of glyphs on one y each get their own text position.
    size_t i = 0;
    while (i < glyphs.size()) {
        double y0 = glyphs[i].y;
        double x0 = glyphs[i].x;
        Matrix m = Matrix::Translate(x0, y0).Then(tm);
        Num(m.a), Num(m.b), Num(m.c), Num(m.d), Num(m.e), Num(m.f);
        data_.append("Tm\n[(");
        double pen = x0;  // where the font's own advances put the next glyph
        for (; i < glyphs.size() && glyphs[i].y == y0; ++i) {
            const PlacedGlyph& g = glyphs[i];
            // TJ numbers are thousandths of an em, subtracted from the position.
            double adjust = std::round((pen - g.x) * 1000.0 / size);
            if (adjust != 0 && std::fabs(pen - g.x) > slack) {
                data_.push_back(')');
                AppendNumber(data_, adjust);
                data_.push_back('(');
                pen -= adjust * size / 1000.0;
            }
            // Two-byte codes as a literal string: half the size of hex.
            std::uint16_t code = font.UseGlyph(g.gid);
            for (unsigned char byte : {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code & 0xFF)}) {
                switch (byte) {
                case '(': case ')': case '\\': data_.push_back('\\'); data_.push_back(static_cast<char>(byte)); break;
                case '\r': data_.append("\\r"); break;
                case '\n': data_.append("\\n"); break;
                default: data_.push_back(static_cast<char>(byte));
                }
            }
            pen += font.GlyphAdvance(g.gid) * size;
        }
        data_.append(")] TJ\n");
    }
    if (font.SyntheticBold()) Op("0 Tr");
    Op("ET");
}

}  // namespace pdfcore
