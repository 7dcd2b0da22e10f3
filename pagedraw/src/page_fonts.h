// The fonts of a PDF as a page's metafile names and carries them.
//
// Every PDF font gets one face name for the whole document (its base name
// without the subset tag, made unique when two fonts share it) and, when the
// PDF embeds a TrueType program for it, that program rebuilt so that any font
// reader can use it on its own: a Unicode character map for the glyphs whose
// text is known (glyphs of unknown text get private-use characters), a name
// table when the PDF left it out, and no layout tables (the page places every
// glyph itself). Type 1, bare CFF and OpenType CFF programs become OpenType
// CFF programs with the same outlines (without hints) and the same glyph
// numbers. Type 3 fonts have no program; their runs fall back to the face name.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <poppler/Object.h>

class GfxFont;
class XRef;

namespace pagedraw {

struct PageFont {
    std::u16string face;          // at most 31 units, as a metafile's font request keeps it
    int weight = 400;
    bool italic = false;
    std::vector<std::uint8_t> program;  // rebuilt TrueType or OpenType CFF program, or empty
    // Character code -> the character that the program maps to the code's
    // glyph (its own text, or a private-use character when the text is
    // unknown or another glyph took it); absent without a program.
    std::unordered_map<std::uint32_t, char32_t> codeChar;
};

class PageFonts {
public:
    explicit PageFonts(XRef* xref, bool carryPrograms) : xref_(xref), carry_(carryPrograms) {}
    // The document-wide description of `font`, made on first use; it lives
    // as long as this object.
    const PageFont& Of(GfxFont& font);

private:
    XRef* xref_;
    bool carry_;
    std::map<std::pair<int, int>, std::unique_ptr<PageFont>> byRef_;
    std::vector<std::unique_ptr<PageFont>> unnamed_;
    std::map<std::u16string, int> faceUses_;
};

// Rebuilds a TrueType program with `cmap` as its only character map, `psName`
// as its name when it has no name table, and without layout tables. Empty
// when the bytes are no TrueType font.
std::vector<std::uint8_t> RebuildTrueType(const std::vector<std::uint8_t>& program,
                                          const std::map<char32_t, std::uint32_t>& cmap, const std::string& psName);

// "ABCDEF+Liberation-Serif,Bold" -> "Liberation-Serif,Bold"
std::string WithoutSubsetTag(const std::string& name);

}  // namespace pagedraw
