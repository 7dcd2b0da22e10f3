// Page content for the PDF document library: the operators of a content
// stream, written as text, plus the list of page resources the text refers to.
//
// Coordinate space of page content: points (1/72 inch), origin at the top-left
// corner of the page, y growing downwards. The writer puts the flip into the
// user space of PDF in front of every page, so whoever draws never needs the
// final page height (pages can still change size after drawing). Form XObjects
// use the space their own matrix gives them.
//
// Numbers are written with std::to_chars, so the output never depends on the
// process locale.
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pdfcore {

class Font;

// Affine map in PDF order: x' = a*x + c*y + e, y' = b*x + d*y + f.
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    // First *this, then t.
    Matrix Then(const Matrix& t) const {
        return {a * t.a + b * t.c, a * t.b + b * t.d, c * t.a + d * t.c,
                c * t.b + d * t.d, e * t.a + f * t.c + t.e, e * t.b + f * t.d + t.f};
    }
    static Matrix Translate(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static Matrix Scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    static Matrix Rotate(double degreesCcw);  // in a y-up space
};

// Colour components 0..1.
struct Rgb {
    double r = 0, g = 0, b = 0;
};

enum class FillRule : std::uint8_t { NonZero, EvenOdd };

// One glyph placed along a line of text. x, y are the glyph origin relative to
// the text origin, in text space (units of the text matrix, y up).
struct PlacedGlyph {
    std::uint32_t gid = 0;
    double x = 0, y = 0;
};

// Appends operators to one content stream. Not thread-safe; cheap to move.
// Every call writes exactly the operator it names; nesting of Save/Restore and
// BeginText-free text objects is the caller's business except that ShowGlyphs
// writes a whole BT ... ET object of its own.
class ContentBuilder {
public:
    // ---- graphics state
    void Save();     // q
    void Restore();  // Q
    void Concat(const Matrix& m);  // cm
    void SetLineWidth(double w);
    void SetLineCap(int cap);    // 0 butt, 1 round, 2 square
    void SetLineJoin(int join);  // 0 miter, 1 round, 2 bevel
    void SetMiterLimit(double limit);
    void SetDash(std::span<const double> onOff, double phase);  // empty: solid
    void SetFillColor(const Rgb& c);    // rg
    void SetStrokeColor(const Rgb& c);  // RG
    // Constant alpha through an ExtGState resource (1 = opaque). The name is
    // recorded in ExtGStates(); the document creates the dictionary.
    void SetAlpha(double fill, double stroke);
    // Blend mode Difference through the ExtGState "GSdiff": white painted over
    // a region afterwards turns it into its negative.
    void SetDifferenceBlend();

    // ---- paths
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3);
    void ClosePath();
    void Rectangle(double x, double y, double w, double h);
    void Fill(FillRule rule);        // f / f*
    void Stroke();                   // S
    void FillStroke(FillRule rule);  // B / B*
    void EndPath();                  // n
    // Intersects the clip with the current path and ends the path (W n / W* n).
    void Clip(FillRule rule);

    // ---- text
    // Writes BT, the font and size, the text matrix and the glyphs as one TJ
    // array: the gap between where the font's own advance puts the next glyph
    // and where `glyphs` wants it becomes a TJ adjustment (so kerning and
    // explicit positions survive). A glyph whose y differs from the one before
    // starts a new text position. `size` is the em size in text-space units;
    // `textMatrix` maps text space (y up) into the current user space.
    // The glyphs are marked as used in the font (subset and ToUnicode map).
    // Synthetic bold/italic of the font (Font::SyntheticBold/Italic) is applied.
    // `slack` (text-space units) is how far the caller's positions may be off
    // the font's own advances by rounding alone: a glyph that near where the
    // font puts it gets no adjustment, so text laid out on a coarse grid does
    // not turn into one TJ number per glyph. Adjustments are whole thousandths
    // of an em; the error they leave is carried to the next glyph.
    void ShowGlyphs(Font& font, double size, const Matrix& textMatrix, std::span<const PlacedGlyph> glyphs,
                    const Rgb& color, double slack = 0);

    // ---- external objects: "/name Do" with the unit square (images) or the
    // form's own space mapped by the current matrix.
    void DrawXObject(std::string_view name);

    // Appends operators as they are (for callers that know what they do).
    void Raw(std::string_view ops);

    const std::string& Data() const { return data_; }
    std::string TakeData();  // and empties the builder (resource lists stay)
    bool Empty() const { return data_.empty(); }

    // Resource names referred to so far.
    const std::set<std::string>& Fonts() const { return fonts_; }
    const std::set<std::string>& XObjects() const { return xobjects_; }
    const std::set<std::string>& ExtGStates() const { return gstates_; }

private:
    void Num(double v);
    void Op(std::string_view op);

    std::string data_;
    std::set<std::string> fonts_, xobjects_, gstates_;
};

// Appends v to out as the shortest PDF number that keeps 4 decimals (classic
// locale, no exponent, "-0" written as "0").
void AppendNumber(std::string& out, double v);

// Name of the ExtGState that SetAlpha uses for the two alphas (0..1, kept to
// 3 decimals), e.g. "GSa500s1000".
std::string AlphaStateName(double fill, double stroke);

}  // namespace pdfcore
