// The one drawing interface of the suite. The HTML engine draws into it, the
// metafile recorder implements it (every call becomes metafile records), the
// metafile player drives it (records become calls) and the PDF painter
// implements it (calls become page content). Tests use a trace device that
// writes each call as a line of text.
//
// Every method has an empty default body, so a backend overrides only what it
// can show. Coordinates given to a call are mapped to the device's own space
// by the call's matrix `ctm`; the device space of a page is pixels at the
// resolution the device was made for, origin top-left, y down.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace emf {

struct Point {
    double x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    double left = 0, top = 0, right = 0, bottom = 0;
    double Width() const { return right - left; }
    double Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Affine map: x' = a*x + c*y + e, y' = b*x + d*y + f.
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    Point Apply(Point p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    // (this ∘ then): first this, then `then`.
    Matrix Then(const Matrix& t) const {
        return {a * t.a + b * t.c,       a * t.b + b * t.d,       c * t.a + d * t.c,
                c * t.b + d * t.d,       e * t.a + f * t.c + t.e, e * t.b + f * t.d + t.f};
    }
    static Matrix Translate(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static Matrix Scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    friend bool operator==(const Matrix&, const Matrix&) = default;
};

struct Color {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    friend bool operator==(const Color&, const Color&) = default;
};

// A path of straight and cubic segments; Close() ends the current figure.
class Path {
public:
    enum class Op : std::uint8_t { Move, Line, Cubic, Close };
    void MoveTo(Point p) { ops_.push_back(Op::Move), pts_.push_back(p); }
    void LineTo(Point p) { ops_.push_back(Op::Line), pts_.push_back(p); }
    void CubicTo(Point c1, Point c2, Point p) {
        ops_.push_back(Op::Cubic);
        pts_.insert(pts_.end(), {c1, c2, p});
    }
    void Close() { ops_.push_back(Op::Close); }
    void AddRect(const Rect& r) {
        MoveTo({r.left, r.top}), LineTo({r.right, r.top}), LineTo({r.right, r.bottom}),
            LineTo({r.left, r.bottom}), Close();
    }
    bool Empty() const { return ops_.empty(); }
    const std::vector<Op>& Ops() const { return ops_; }
    const std::vector<Point>& Points() const { return pts_; }  // 1 per Move/Line, 3 per Cubic

private:
    std::vector<Op> ops_;
    std::vector<Point> pts_;
};

enum class FillRule : std::uint8_t { NonZero, EvenOdd };
enum class LineCap : std::uint8_t { Butt, Round, Square };
enum class LineJoin : std::uint8_t { Miter, Round, Bevel };

struct StrokeStyle {
    double width = 1;  // in the call's coordinates; 0 is the thinnest line the device can show
    LineCap cap = LineCap::Round;
    LineJoin join = LineJoin::Round;
    double miterLimit = 10;
    std::vector<double> dashes;  // on/off lengths; empty is solid
    double dashPhase = 0;
};

// Hatch styles as the metafile format numbers them.
enum class Hatch : std::uint8_t { Horizontal, Vertical, FDiagonal, BDiagonal, Cross, DiagCross };

struct Image;

// What fills an area.
struct Paint {
    enum class Kind : std::uint8_t { Solid, Hatched, Pattern } kind = Kind::Solid;
    Color color;                            // solid colour, or the hatch lines' colour
    Hatch hatch = Hatch::Horizontal;        // Hatched
    bool opaqueBackground = false;          // Hatched: fill the gaps with `background`
    Color background{255, 255, 255, 255};
    std::shared_ptr<const Image> pattern;   // Pattern: tiled from the page origin
};

// A raster picture. `pixels` rows are top-down, tightly packed. A JPEG or
// PNG picture keeps its file bytes in `encoded` (format Jpeg or Png) so that
// devices able to embed it unchanged can do so; `pixels` is then empty, and
// devices that need pixels decode it or leave it out.
struct Image {
    enum class Format : std::uint8_t { Gray8, Rgb8, Rgba8, Cmyk8, Jpeg, Png };
    Format format = Format::Rgb8;
    int width = 0, height = 0;
    int components = 3;  // of the colour data (Jpeg: of the encoded picture)
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> encoded;
    std::vector<std::uint8_t> iccProfile;
    double dpiX = 96, dpiY = 96;

    // The picture is a file's bytes in `encoded`, not pixels.
    bool Encoded() const { return format == Format::Jpeg || format == Format::Png; }
};

// One run of text with its font and the place of every character. Text is
// in logical order; the device orders it for display (bidirectional text)
// and shapes it as the script needs, without ligatures or kerning of its own.
struct TextRun {
    std::u16string text;          // UTF-16, one advance per code unit
    std::vector<double> advances; // distance to the next character's origin; may be empty
    bool rtl = false;             // right-to-left reading order (the paragraph's direction)
    bool glyphIndices = false;    // `text` holds glyph indices of the face, not characters
    Point origin;                 // baseline start of the first character
    std::string face;             // font face name as the author gave it ("Arial", "serif")
    double emHeight = 16;         // em size, in the call's coordinates
    int weight = 400;             // 100..900
    bool italic = false, underline = false, strikeout = false;
    int charset = 1;              // character-set code of the font request
    double angle = 0;             // escapement in degrees, counter-clockwise
    Color color;
};

// A font program that the text runs of one face draw with (a page converted
// from a PDF carries the PDF's own fonts). `face` is the run's face name.
struct FontProgram {
    enum class Format : std::uint32_t { Sfnt = 1 };  // TrueType or OpenType file bytes
    std::u16string face;
    Format format = Format::Sfnt;
    std::vector<std::uint8_t> bytes;
};

struct PageInfo {
    double width = 0, height = 0;  // in device pixels
    double dpi = 96;
};

class Device {
public:
    virtual ~Device() = default;

    virtual void BeginPage(const PageInfo&) {}
    virtual void EndPage() {}

    // The advance width of a run as the device would draw it, in the run's
    // own units (those of emHeight); nothing when the device cannot tell.
    virtual std::optional<double> MeasureText(const TextRun&) { return std::nullopt; }

    virtual void FillPath(const Path&, FillRule, const Paint&, const Matrix& /*ctm*/) {}
    virtual void StrokePath(const Path&, const StrokeStyle&, const Color&, const Matrix& /*ctm*/) {}
    virtual void DrawText(const TextRun&, const Matrix& /*ctm*/) {}
    // The image's unit square (0,0)-(1,1), top-left first, mapped by ctm.
    virtual void DrawImage(const Image&, const Matrix& /*ctm*/) {}
    // Text runs of `program.face` that follow use this program. A device that
    // cannot use it draws them with an installed face of that name.
    virtual void DefineFont(const FontProgram& /*program*/) {}

    // Clips nest: each push intersects with what is already in force.
    virtual void PushClip(const Path&, FillRule, const Matrix& /*ctm*/) {}
    virtual void PopClip() {}
};

}  // namespace emf
