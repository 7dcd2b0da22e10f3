// Fonts of a PDF document: fontconfig finds the file for a face request
// (a face that is not installed falls back to the closest installed one),
// FreeType gives the metrics, HarfBuzz shapes text, and the writer embeds the
// glyphs that were drawn as a subset with a ToUnicode map: TrueType outlines
// as a Type0/CIDFontType2 font, PostScript (CFF) outlines as Type0/CIDFontType0
// with the CFF program itself.
//
// Ownership: a FontCache owns its Font objects; a Font* stays valid for the
// life of the cache. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pdfcore {

class ObjectWriter;

// One glyph out of shaping. Advances and offsets are in ems (multiply by the
// font size); `cluster` is the index of the first UTF-16 unit of the text that
// the glyph stands for.
struct ShapedGlyph {
    std::uint32_t gid = 0;
    std::uint32_t cluster = 0;
    double advance = 0;
    double xOffset = 0, yOffset = 0;
};

// How a run of text is shaped. `plain` leaves out what a metafile's text
// output never does on its own: ligatures and kerning. `script` is an ISO
// 15924 tag as HarfBuzz spells it (HB_SCRIPT_ARABIC, ...); 0 lets the text tell.
struct ShapeStyle {
    bool rtl = false;
    bool plain = false;
    std::uint32_t script = 0;
};

class Font {
public:
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // Page resource name ("F1", "F2", ...).
    const std::string& ResourceName() const;
    // PostScript name of the face ("DejaVuSans-Bold"), the file it came from.
    const std::string& PostScriptName() const;
    const std::string& FilePath() const;
    // Metrics in ems, y up: ascent > 0, descent < 0.
    double Ascent() const;
    double Descent() const;
    double UnderlinePosition() const;  // < 0: below the baseline
    double UnderlineThickness() const;
    double StrikeoutPosition() const;  // > 0: above the baseline
    // The request asked for bold/italic and the file has none: the writer of
    // text emboldens (fill + stroke) or slants the glyphs itself.
    bool SyntheticBold() const;
    bool SyntheticItalic() const;

    // Shapes left-to-right text (kerning and ligatures on). Records which text
    // each glyph stands for, so that glyphs drawn later extract as that text.
    std::vector<ShapedGlyph> Shape(std::u16string_view text);
    // One character of the scripts below U+0590 shaped alone (cluster 0).
    // Text placed character by character asks for the same few again and
    // again: they are kept in a table.
    ShapedGlyph GlyphOf(char16_t c);
    // Shapes one run of one script and direction as `style` says; an RTL
    // run comes out in visual order (left to right), clusters still index
    // the text. Not cached.
    std::vector<ShapedGlyph> Shape(std::u16string_view text, const ShapeStyle& style);
    // Sum of the shaped advances, in ems.
    double Measure(std::u16string_view text);
    // A stand-in glyph for text that no installed font can show: it draws the
    // font's .notdef box and extracts as `text`. Its id lies past GlyphCount()
    // and is good for GlyphAdvance and UseGlyph like any other.
    std::uint32_t PlaceholderGlyph(std::u16string_view text);
    // Gives a glyph that was named by its index (not reached by shaping) the
    // text of a character the font maps to it, so that it extracts.
    void TextFromCharMap(std::uint32_t gid);
    // PostScript (CFF) outlines rather than TrueType ones.
    bool PostScriptOutlines() const;
    // The font's own advance of a glyph (its width in the PDF font), in ems.
    double GlyphAdvance(std::uint32_t gid) const;
    std::uint32_t GlyphCount() const;
    // Whether the font has a glyph for the character.
    bool HasChar(char32_t c) const;

    // Marks a glyph as drawn and gives its code in the PDF font (2 bytes: the
    // glyph id itself, or the glyph's CID in a CID-keyed CFF font).
    std::uint16_t UseGlyph(std::uint32_t gid);
    // Overrides the text a glyph extracts as (first setting wins otherwise).
    void SetGlyphText(std::uint32_t gid, std::u16string_view text);
    bool AnyGlyphUsed() const;

    // Writes the Type0 font dictionary as object `number` of `out`, with its
    // descendant, widths, ToUnicode map and, when `embed`, the subset font
    // program (further objects of out). Throws std::runtime_error before
    // anything is written when the subset cannot be made (the caller can
    // retry without embedding).
    void WriteTo(ObjectWriter& out, int number, bool embed, bool deterministic);
    // Makes ahead what WriteTo with `embed` takes time over (the subset and,
    // with `compress`, the compressed streams). Touches only this font, so
    // several fonts can be prepared at once on threads of their own; a
    // failure is left for WriteTo to meet again.
    void PrepareWrite(bool embed, bool compress);

    struct Impl;

private:
    friend class FontCache;
    struct Prepared;
    std::unique_ptr<Prepared> Prepare(bool embed, bool compress) const;
    std::vector<ShapedGlyph> ShapeRun(std::u16string_view text, const ShapeStyle* style);
    struct CodeEntry;
    std::vector<CodeEntry> UsedCodes() const;
    static std::string ToUnicodeMap(const std::vector<CodeEntry>& sorted);
    explicit Font(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<Prepared> prepared_;
};

class FontCache {
public:
    FontCache();
    ~FontCache();
    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;

    // The installed font closest to (face, weight 100..900, italic). Requests
    // that resolve to the same file share one Font. Never null: when nothing
    // matches at all, the first font fontconfig knows is taken; throws
    // std::runtime_error only when no font can be loaded at all.
    Font* Resolve(std::string_view face, int weight, bool italic);

    // An installed font that has a glyph for `c`, as close to the request as
    // fontconfig finds; null when none has it. For text that the chosen font
    // cannot show (CJK in a Latin face, say).
    Font* ResolveFor(char32_t c, int weight, bool italic);

    // A TrueType or OpenType font given as its file's bytes (a font program
    // that came with a metafile page). Equal bytes share one Font. Null when
    // the bytes are no usable font.
    Font* LoadProgram(std::span<const std::uint8_t> bytes);

    // Fonts in the order they were first resolved.
    const std::vector<std::unique_ptr<Font>>& All() const;

private:
    Font* ResolveRequest(std::string_view face, int weight, bool italic);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pdfcore
