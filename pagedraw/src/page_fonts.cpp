#include "page_fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include FT_CID_H
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <poppler/GfxFont.h>
#include <poppler/fofi/FoFiTrueType.h>

namespace pagedraw {

namespace {

constexpr char32_t kPrivateUse = 0xF0000;  // plane 15: never real text of a PDF
constexpr std::uint32_t kMaxCodes = 0x10000;

void Be16(std::vector<std::uint8_t>& o, std::uint32_t v) { o.push_back(std::uint8_t(v >> 8)), o.push_back(std::uint8_t(v)); }
void Be32(std::vector<std::uint8_t>& o, std::uint32_t v) { Be16(o, v >> 16), Be16(o, v & 0xFFFF); }

// A cmap table: one format-12 subtable, listed for Windows Unicode (full
// repertoire) and Unicode 2.0.
std::vector<std::uint8_t> CmapTable(const std::map<char32_t, std::uint32_t>& cmap) {
    struct Group {
        std::uint32_t first, last, gid;
    };
    std::vector<Group> groups;
    for (auto [c, g] : cmap) {
        if (!groups.empty() && groups.back().last + 1 == c && groups.back().gid + (c - groups.back().first) == g)
            groups.back().last = c;
        else
            groups.push_back({std::uint32_t(c), std::uint32_t(c), g});
    }
    std::vector<std::uint8_t> t;
    Be16(t, 0), Be16(t, 2);
    Be16(t, 0), Be16(t, 4), Be32(t, 20);  // Unicode full repertoire
    Be16(t, 3), Be16(t, 10), Be32(t, 20);
    Be16(t, 12), Be16(t, 0), Be32(t, std::uint32_t(16 + 12 * groups.size())), Be32(t, 0);
    Be32(t, std::uint32_t(groups.size()));
    for (auto& g : groups) Be32(t, g.first), Be32(t, g.last), Be32(t, g.gid);
    return t;
}

// A name table with the family and the PostScript name (Windows, US English).
std::vector<std::uint8_t> NameTable(const std::string& psName, const std::string& family) {
    std::vector<std::uint8_t> fam, ps;
    for (char c : family) Be16(fam, std::uint8_t(c >= 32 && c < 127 ? c : '_'));
    for (char c : psName) Be16(ps, std::uint8_t(c));
    std::vector<std::uint8_t> t;
    Be16(t, 0), Be16(t, 2), Be16(t, 6 + 2 * 12);
    Be16(t, 3), Be16(t, 1), Be16(t, 0x409), Be16(t, 1), Be16(t, std::uint32_t(fam.size())), Be16(t, 0);
    Be16(t, 3), Be16(t, 1), Be16(t, 0x409), Be16(t, 6), Be16(t, std::uint32_t(ps.size())), Be16(t, std::uint32_t(fam.size()));
    t.insert(t.end(), fam.begin(), fam.end());
    t.insert(t.end(), ps.begin(), ps.end());
    return t;
}

std::u16string Utf16(const std::string& s) {
    std::u16string o;
    for (unsigned char c : s) o += char16_t(c < 0x80 ? c : '_');
    return o;
}

// "Arial,BoldItalic", "TimesNewRomanPS-BoldMT" -> weight and slant from the name.
void StyleFromName(const std::string& name, int& weight, bool& italic) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (lower.find("bold") != std::string::npos || lower.find("black") != std::string::npos ||
        lower.find("heavy") != std::string::npos)
        weight = 700;
    if (lower.find("italic") != std::string::npos || lower.find("oblique") != std::string::npos) italic = true;
}

// Whether fontconfig knows the family (itself or a face it stands in for it
// with): a family it does not know gets the same answer as one that cannot exist.
bool KnownFamily(const std::string& family) {
    FcInit();
    auto match = [](const char* name) {
        std::string file;
        FcPattern* pat = FcPatternCreate();
        FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(name));
        FcConfigSubstitute(nullptr, pat, FcMatchPattern);
        FcDefaultSubstitute(pat);
        FcResult res;
        if (FcPattern* best = FcFontMatch(nullptr, pat, &res)) {
            FcChar8* f = nullptr;
            if (FcPatternGetString(best, FC_FILE, 0, &f) == FcResultMatch) file = reinterpret_cast<const char*>(f);
            FcPatternDestroy(best);
        }
        FcPatternDestroy(pat);
        return file;
    };
    static const std::string fallback = match("VellumateNoSuchFamily");
    return match(family.c_str()) != fallback;
}

// An installed face close in kind to one that is not installed (a TeX font, say).
std::string StandIn(const std::string& name, const GfxFont& font) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    auto has = [&](const char* part) { return lower.find(part) != std::string::npos; };
    if (font.isFixedWidth() || has("mono") || has("courier") || has("cmtt") || has("typewriter") || has("code"))
        return "DejaVu Sans Mono";
    if (has("sans") || has("cmss") || has("helvet") || has("arial") || has("gothic") || has("grotesk"))
        return "DejaVu Sans";
    return "DejaVu Serif";
}

struct HbBlob {
    hb_blob_t* p;
    ~HbBlob() { hb_blob_destroy(p); }
};
struct HbFace {
    hb_face_t* p;
    ~HbFace() { hb_face_destroy(p); }
};

// The family in a font program's name table, printable ASCII only; "" when none.
std::string FamilyOf(const std::vector<std::uint8_t>& program) {
    if (program.empty()) return {};
    HbBlob blob{hb_blob_create(reinterpret_cast<const char*>(program.data()), unsigned(program.size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr)};
    HbFace face{hb_face_create(blob.p, 0)};
    char buf[64] = {};
    unsigned len = sizeof buf;
    hb_ot_name_get_utf8(face.p, HB_OT_NAME_ID_FONT_FAMILY, HB_LANGUAGE_INVALID, &len, buf);
    std::string fam;
    for (const char* c = buf; *c; ++c)
        if (*c >= 32 && *c < 127) fam += *c;
    while (!fam.empty() && fam.back() == ' ') fam.pop_back();
    return fam;
}

}  // namespace

std::string WithoutSubsetTag(const std::string& name) {
    if (name.size() > 7 && name[6] == '+' &&
        std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
        return name.substr(7);
    return name;
}

std::vector<std::uint8_t> RebuildTrueType(const std::vector<std::uint8_t>& program,
                                          const std::map<char32_t, std::uint32_t>& cmap, const std::string& psName) {
    if (program.size() < 12 || program.size() > 0x7FFFFFFF) return {};
    HbBlob blob{hb_blob_create(reinterpret_cast<const char*>(program.data()), unsigned(program.size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr)};
    HbFace face{hb_face_create(blob.p, 0)};
    if (hb_face_get_glyph_count(face.p) == 0) return {};
    hb_tag_t tags[64];
    unsigned count = 64;
    hb_face_get_table_tags(face.p, 0, &count, tags);
    bool hasGlyf = false, hasName = false;
    HbFace out{hb_face_builder_create()};
    for (unsigned i = 0; i < count; ++i) {
        const hb_tag_t t = tags[i];
        if (t == HB_TAG('g', 'l', 'y', 'f')) hasGlyf = true;
        if (t == HB_TAG('n', 'a', 'm', 'e')) hasName = true;
        if (t == HB_TAG('c', 'm', 'a', 'p') || t == HB_TAG('G', 'S', 'U', 'B') || t == HB_TAG('G', 'P', 'O', 'S') ||
            t == HB_TAG('G', 'D', 'E', 'F') || t == HB_TAG('k', 'e', 'r', 'n') || t == HB_TAG('m', 'o', 'r', 'x') ||
            t == HB_TAG('m', 'o', 'r', 't') || t == HB_TAG('D', 'S', 'I', 'G'))
            continue;
        HbBlob table{hb_face_reference_table(face.p, t)};
        hb_face_builder_add_table(out.p, t, table.p);
    }
    if (!hasGlyf) return {};
    auto add = [&](hb_tag_t tag, const std::vector<std::uint8_t>& bytes) {
        HbBlob b{hb_blob_create(reinterpret_cast<const char*>(bytes.data()), unsigned(bytes.size()),
                                HB_MEMORY_MODE_DUPLICATE, nullptr, nullptr)};
        hb_face_builder_add_table(out.p, tag, b.p);
    };
    add(HB_TAG('c', 'm', 'a', 'p'), CmapTable(cmap));
    if (!hasName) add(HB_TAG('n', 'a', 'm', 'e'), NameTable(psName, psName));
    HbBlob built{hb_face_reference_blob(out.p)};
    unsigned len = 0;
    const char* data = hb_blob_get_data(built.p, &len);
    if (!data || len == 0) return {};
    return std::vector<std::uint8_t>(data, data + len);
}

// ---- PostScript-outline programs (Type 1, bare CFF, OpenType CFF) ----------

namespace {

void Be16s(std::vector<std::uint8_t>& o, int v) { Be16(o, std::uint32_t(std::uint16_t(std::int16_t(v)))); }

// A number in a charstring (Type 2).
void CsNum(std::vector<std::uint8_t>& o, long v) {
    v = std::clamp<long>(v, -32768, 32767);
    if (v >= -107 && v <= 107) {
        o.push_back(std::uint8_t(v + 139));
    } else if (v >= 108 && v <= 1131) {
        v -= 108;
        o.push_back(std::uint8_t((v >> 8) + 247)), o.push_back(std::uint8_t(v & 0xFF));
    } else if (v <= -108 && v >= -1131) {
        v = -v - 108;
        o.push_back(std::uint8_t((v >> 8) + 251)), o.push_back(std::uint8_t(v & 0xFF));
    } else {
        o.push_back(28), Be16s(o, int(v));
    }
}

// An integer in a dictionary, always five bytes so that offsets can be
// written before they are known.
void DictInt(std::vector<std::uint8_t>& o, std::int32_t v) { o.push_back(29), Be32(o, std::uint32_t(v)); }

// A real number in a dictionary.
void DictReal(std::vector<std::uint8_t>& o, double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", v);
    std::vector<std::uint8_t> nibbles;
    for (const char* c = text; *c; ++c) {
        if (*c >= '0' && *c <= '9') nibbles.push_back(std::uint8_t(*c - '0'));
        else if (*c == '.') nibbles.push_back(0xA);
        else if (*c == '-') nibbles.push_back(0xE);
        else if (*c == 'e' || *c == 'E') {
            if (c[1] == '-') nibbles.push_back(0xC), ++c;
            else {
                nibbles.push_back(0xB);
                if (c[1] == '+') ++c;
            }
        }
    }
    nibbles.push_back(0xF);
    if (nibbles.size() % 2) nibbles.push_back(0xF);
    o.push_back(30);
    for (std::size_t i = 0; i < nibbles.size(); i += 2) o.push_back(std::uint8_t(nibbles[i] << 4 | nibbles[i + 1]));
}

std::vector<std::uint8_t> Index(const std::vector<std::vector<std::uint8_t>>& items) {
    std::vector<std::uint8_t> o;
    Be16(o, std::uint32_t(items.size()));
    if (items.empty()) return o;
    o.push_back(4);
    std::uint32_t off = 1;
    Be32(o, off);
    for (auto& i : items) Be32(o, off += std::uint32_t(i.size()));
    for (auto& i : items) o.insert(o.end(), i.begin(), i.end());
    return o;
}

std::vector<std::uint8_t> Str(const std::string& s) { return {s.begin(), s.end()}; }

// The outline of the glyph loaded in `face`'s slot as a Type 2 charstring.
std::vector<std::uint8_t> Charstring(FT_Outline& ol) {
    std::vector<std::uint8_t> cs;
    long px = 0, py = 0;
    auto to = [&](const FT_Vector& v) {
        CsNum(cs, long(v.x) - px), CsNum(cs, long(v.y) - py);
        px = v.x, py = v.y;
    };
    int start = 0;
    for (int c = 0; c < ol.n_contours; ++c) {
        const int end = ol.contours[c];
        if (end < start || end >= ol.n_points) break;
        const int n = end - start + 1;
        auto at = [&](int i) { return start + (i % n); };
        // Begin on an on-curve point.
        int first = 0;
        while (first < n && FT_CURVE_TAG(ol.tags[start + first]) != FT_CURVE_TAG_ON) ++first;
        if (first == n) {
            start = end + 1;
            continue;
        }
        to(ol.points[at(first)]);
        cs.push_back(21);  // rmoveto
        for (int i = 1; i <= n;) {
            const int p = at(first + i);
            if (FT_CURVE_TAG(ol.tags[p]) == FT_CURVE_TAG_ON) {
                if (i < n) to(ol.points[p]), cs.push_back(5);  // rlineto; the last one closes by itself
                ++i;
            } else if (FT_CURVE_TAG(ol.tags[p]) == FT_CURVE_TAG_CUBIC && i + 2 <= n) {
                to(ol.points[p]), to(ol.points[at(first + i + 1)]), to(ol.points[at(first + i + 2)]);
                cs.push_back(8);  // rrcurveto
                i += 3;
            } else {
                // A quadratic point: raise it to a cubic.
                const FT_Vector c = ol.points[p];
                const int q = at(first + i + 1);
                FT_Vector e = ol.points[q];
                const bool on = FT_CURVE_TAG(ol.tags[q]) == FT_CURVE_TAG_ON;
                if (!on) e = {(c.x + e.x) / 2, (c.y + e.y) / 2};
                const FT_Vector s{px, py};
                to({s.x + 2 * (c.x - s.x) / 3, s.y + 2 * (c.y - s.y) / 3});
                to({e.x + 2 * (c.x - e.x) / 3, e.y + 2 * (c.y - e.y) / 3});
                to(e);
                cs.push_back(8);
                i += on ? 2 : 1;
            }
        }
        start = end + 1;
    }
    cs.push_back(14);  // endchar
    return cs;
}

std::vector<std::uint8_t> Table(std::initializer_list<std::pair<int, int>> fields) {
    std::vector<std::uint8_t> t;
    for (auto [bytes, v] : fields) {
        if (bytes == 4) Be32(t, std::uint32_t(v));
        else Be16s(t, v);
    }
    return t;
}

std::vector<std::uint8_t> BuildOpenTypeCff(FT_Face face, const std::map<char32_t, std::uint32_t>& cmap,
                                           const std::string& fullName) {
    const std::string psName = fullName.substr(0, 63);  // a CFF font name is at most 127 bytes
    const unsigned glyphs = unsigned(face->num_glyphs);
    if (glyphs == 0 || glyphs > 0xFFFF || !FT_IS_SCALABLE(face)) return {};
    const int upem = face->units_per_EM ? face->units_per_EM : 1000;
    std::vector<std::vector<std::uint8_t>> charstrings, strings;
    std::vector<std::uint16_t> advance(glyphs), lsb(glyphs);
    std::vector<std::uint8_t> charset{0};
    long xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    int maxAdvance = 0;
    for (unsigned g = 0; g < glyphs; ++g) {
        if (FT_Load_Glyph(face, g, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0 ||
            face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
            charstrings.push_back({14});
        } else {
            FT_Outline& ol = face->glyph->outline;
            charstrings.push_back(Charstring(ol));
            FT_BBox box;
            FT_Outline_Get_CBox(&ol, &box);
            if (ol.n_points > 0) {
                xMin = std::min<long>(xMin, box.xMin), yMin = std::min<long>(yMin, box.yMin);
                xMax = std::max<long>(xMax, box.xMax), yMax = std::max<long>(yMax, box.yMax);
                lsb[g] = std::uint16_t(std::int16_t(std::clamp<long>(box.xMin, -32768, 32767)));
            }
            advance[g] = std::uint16_t(std::clamp<long>(face->glyph->metrics.horiAdvance, 0, 0xFFFF));
            maxAdvance = std::max<int>(maxAdvance, advance[g]);
        }
        if (g == 0) continue;
        char name[64] = {};
        if (!FT_HAS_GLYPH_NAMES(face) || FT_Get_Glyph_Name(face, g, name, sizeof name) != 0 || !name[0] ||
            std::strcmp(name, ".notdef") == 0)
            std::snprintf(name, sizeof name, "g%u", g);
        Be16(charset, 391 + std::uint32_t(strings.size()));
        strings.push_back(Str(name));
    }
    const std::string family = face->family_name && *face->family_name ? face->family_name : psName;
    const std::uint32_t familySid = 391 + std::uint32_t(strings.size());
    strings.push_back(Str(family));

    // The top dictionary, with offsets filled in once the layout is known.
    auto topDict = [&](std::uint32_t charsetAt, std::uint32_t charstringsAt, std::uint32_t privateSize,
                       std::uint32_t privateAt) {
        std::vector<std::uint8_t> d;
        DictInt(d, std::int32_t(familySid)), d.push_back(3);
        for (long v : {xMin, yMin, xMax, yMax}) DictInt(d, std::int32_t(v));
        d.push_back(5);
        if (upem != 1000) {
            for (double v : {1.0 / upem, 0.0, 0.0, 1.0 / upem, 0.0, 0.0}) DictReal(d, v);
            d.push_back(12), d.push_back(7);
        }
        DictInt(d, std::int32_t(charsetAt)), d.push_back(15);
        DictInt(d, std::int32_t(charstringsAt)), d.push_back(17);
        DictInt(d, std::int32_t(privateSize)), DictInt(d, std::int32_t(privateAt)), d.push_back(18);
        return d;
    };
    const std::vector<std::uint8_t> priv{139, 20, 139, 21};  // defaultWidthX 0, nominalWidthX 0
    const std::vector<std::uint8_t> header{1, 0, 4, 4};
    const auto names = Index({Str(psName)});
    const auto stringIndex = Index(strings);
    const auto globalSubrs = Index({});
    const auto charstringIndex = Index(charstrings);
    const std::size_t topSize = Index({topDict(0, 0, 0, 0)}).size();
    const std::size_t charsetAt = header.size() + names.size() + topSize + stringIndex.size() + globalSubrs.size();
    const std::size_t charstringsAt = charsetAt + charset.size();
    const std::size_t privateAt = charstringsAt + charstringIndex.size();
    if (privateAt > 0x7FFFFFF0) return {};
    std::vector<std::uint8_t> cff = header;
    auto append = [&cff](const std::vector<std::uint8_t>& part) { cff.insert(cff.end(), part.begin(), part.end()); };
    append(names);
    const auto top = Index({topDict(std::uint32_t(charsetAt), std::uint32_t(charstringsAt),
                                    std::uint32_t(priv.size()), std::uint32_t(privateAt))});
    for (auto* part : {&top, &stringIndex, &globalSubrs, &charstringIndex, &priv}) {
        if (part == &charstringIndex) append(charset);
        append(*part);
    }

    const int ascender = face->ascender ? face->ascender : int(yMax);
    const int descender = face->descender ? face->descender : int(yMin);
    auto clamp16 = [](long v) { return int(std::clamp<long>(v, -32768, 32767)); };
    std::vector<std::uint8_t> head = Table({{4, 0x10000}, {4, 0x10000}, {4, 0}, {4, 0x5F0F3CF5}, {2, 3}, {2, upem},
                                            {4, 0}, {4, 0}, {4, 0}, {4, 0}, {2, clamp16(xMin)}, {2, clamp16(yMin)},
                                            {2, clamp16(xMax)}, {2, clamp16(yMax)},
                                            {2, (face->style_flags & FT_STYLE_FLAG_BOLD ? 1 : 0) |
                                                    (face->style_flags & FT_STYLE_FLAG_ITALIC ? 2 : 0)},
                                            {2, 3}, {2, 2}, {2, 0}, {2, 0}});
    std::vector<std::uint8_t> hhea = Table({{4, 0x10000}, {2, clamp16(ascender)}, {2, clamp16(descender)}, {2, 0},
                                            {2, maxAdvance}, {2, clamp16(xMin)}, {2, 0}, {2, clamp16(xMax)}, {2, 1},
                                            {2, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 0},
                                            {2, int(glyphs)}});
    std::vector<std::uint8_t> maxp = Table({{4, 0x5000}, {2, int(glyphs)}});
    std::vector<std::uint8_t> hmtx;
    for (unsigned g = 0; g < glyphs; ++g) Be16(hmtx, advance[g]), Be16(hmtx, lsb[g]);
    const int underline = face->underline_position ? face->underline_position : -upem / 10;
    const int thickness = face->underline_thickness ? face->underline_thickness : upem / 20;
    std::vector<std::uint8_t> post = Table({{4, 0x30000}, {4, 0}, {2, underline}, {2, thickness},
                                            {4, FT_IS_FIXED_WIDTH(face) ? 1 : 0}, {4, 0}, {4, 0}, {4, 0}, {4, 0}});
    if (TT_Postscript* p = static_cast<TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST)))
        post[4] = std::uint8_t(p->italicAngle >> 24), post[5] = std::uint8_t(p->italicAngle >> 16),
        post[6] = std::uint8_t(p->italicAngle >> 8), post[7] = std::uint8_t(p->italicAngle);

    HbFace out{hb_face_builder_create()};
    auto add = [&](hb_tag_t tag, const std::vector<std::uint8_t>& bytes) {
        HbBlob b{hb_blob_create(reinterpret_cast<const char*>(bytes.data()), unsigned(bytes.size()),
                                HB_MEMORY_MODE_DUPLICATE, nullptr, nullptr)};
        hb_face_builder_add_table(out.p, tag, b.p);
    };
    add(HB_TAG('C', 'F', 'F', ' '), cff);
    add(HB_TAG('c', 'm', 'a', 'p'), CmapTable(cmap));
    add(HB_TAG('h', 'e', 'a', 'd'), head);
    add(HB_TAG('h', 'h', 'e', 'a'), hhea);
    add(HB_TAG('h', 'm', 't', 'x'), hmtx);
    add(HB_TAG('m', 'a', 'x', 'p'), maxp);
    add(HB_TAG('n', 'a', 'm', 'e'), NameTable(psName, family));
    add(HB_TAG('p', 'o', 's', 't'), post);
    HbBlob built{hb_face_reference_blob(out.p)};
    unsigned len = 0;
    const char* data = hb_blob_get_data(built.p, &len);
    if (!data || len == 0) return {};
    return std::vector<std::uint8_t>(data, data + len);
}

// A FreeType face on a font program in memory.
struct FreeType {
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    std::vector<unsigned char> bytes;
    bool Open(const std::vector<unsigned char>& program) {
        bytes = program;
        if (bytes.size() > 0x7FFFFFFF || FT_Init_FreeType(&lib) != 0) return false;
        return FT_New_Memory_Face(lib, bytes.data(), FT_Long(bytes.size()), 0, &face) == 0 && FT_IS_SCALABLE(face) &&
               face->num_glyphs > 0;
    }
    ~FreeType() {
        if (face) FT_Done_Face(face);
        if (lib) FT_Done_FreeType(lib);
    }
};

// Code -> glyph of a program with PostScript outlines: simple fonts by their
// glyph names (then the program's own encoding), CID fonts by CID (the code
// the interpreter hands over for them).
std::vector<int> PostScriptCodeToGid(GfxFont& font, FT_Face face) {
    std::vector<int> codeToGid;
    const long glyphs = face->num_glyphs;
    if (font.isCIDFont()) {
        FT_Bool cidKeyed = 0;
        if (FT_Get_CID_Is_Internally_CID_Keyed(face, &cidKeyed) == 0 && cidKeyed) {
            for (long g = 0; g < glyphs; ++g) {
                FT_UInt c = 0;
                if (FT_Get_CID_From_Glyph_Index(face, FT_UInt(g), &c) != 0 || c >= kMaxCodes) continue;
                if (codeToGid.size() <= c) codeToGid.resize(c + 1, 0);
                codeToGid[c] = int(g);
            }
        } else if (auto& cid = static_cast<GfxCIDFont&>(font); cid.getCIDToGID()) {
            codeToGid.assign(cid.getCIDToGID(), cid.getCIDToGID() + std::min<unsigned>(cid.getCIDToGIDLen(), kMaxCodes));
            for (int& g : codeToGid)
                if (g >= glyphs) g = 0;
        } else {
            for (long g = 0; g < std::min<long>(glyphs, kMaxCodes); ++g) codeToGid.push_back(int(g));
        }
        return codeToGid;
    }
    codeToGid.assign(256, 0);
    char** names = static_cast<Gfx8BitFont&>(font).getEncoding();
    const bool names_ = FT_HAS_GLYPH_NAMES(face);
    FT_CharMap own = nullptr;
    for (int i = 0; i < face->num_charmaps; ++i)
        if (face->charmaps[i]->encoding == FT_ENCODING_ADOBE_CUSTOM || face->charmaps[i]->encoding == FT_ENCODING_ADOBE_STANDARD)
            own = own ? own : face->charmaps[i];
    for (int code = 0; code < 256; ++code) {
        if (names && names[code] && names_) codeToGid[code] = int(FT_Get_Name_Index(face, names[code]));
        if (codeToGid[code] == 0 && own && FT_Set_Charmap(face, own) == 0)
            codeToGid[code] = int(FT_Get_Char_Index(face, FT_ULong(code)));
    }
    return codeToGid;
}

}  // namespace

const PageFont& PageFonts::Of(GfxFont& font) {
    const Ref* id = font.getID();
    const std::pair<int, int> key{id ? id->num : -1, id ? id->gen : -1};
    if (auto it = byRef_.find(key); it != byRef_.end() && key.first >= 0) return *it->second;

    auto pf = std::make_unique<PageFont>();
    const std::string full = font.getName() ? *font.getName() : std::string("Unnamed");
    std::string base = WithoutSubsetTag(full);
    // A PostScript name keeps printable ASCII only.
    std::string ps;
    for (char c : base)
        if (c > 32 && c < 127 && !std::strchr("()<>[]{}/%#", c)) ps.push_back(c);
    if (ps.empty()) ps = "Font";
    StyleFromName(ps, pf->weight, pf->italic);
    if (font.isBold() || font.getWeight() >= GfxFont::W700) pf->weight = 700;
    if (font.isItalic()) pf->italic = true;

    // The family part, unique in the document.
    std::string family = ps.substr(0, std::min(ps.find_first_of(",-"), ps.size()));
    if (family.empty()) family = ps;
    const GfxFontType kind = font.getType();
    const bool trueType = kind == fontTrueType || kind == fontTrueTypeOT || kind == fontCIDType2 || kind == fontCIDType2OT;
    // Type 3 glyphs are drawings of the page's own: they have no program to carry.
    const bool carried = carry_ && kind != fontType3 && kind != fontUnknownType;
    if (!carried && !KnownFamily(family)) family = StandIn(ps, font);
    std::u16string face = Utf16(family.substr(0, 27));
    // Faces with a program of their own must not share a name: the name is how runs find their program.
    if (int n = ++faceUses_[face]; n > 1 && carried) face += u"~" + Utf16(std::to_string(n));
    pf->face = face;

    Ref embId;
    std::optional<std::vector<unsigned char>> bytes;
    if (carried && font.getEmbeddedFontID(&embId)) bytes = font.readEmbFontFile(xref_);
    if (bytes && !bytes->empty() && bytes->size() < (std::size_t(64) << 20)) {
        // Code -> glyph, as poppler's own renderers find it.
        std::vector<int> codeToGid;
        std::unique_ptr<FoFiTrueType> ff;
        FreeType ft;
        if (trueType) {
            ff = FoFiTrueType::make(bytes->data(), int(bytes->size()));
            if (ff && font.isCIDFont()) {
                auto& cid = static_cast<GfxCIDFont&>(font);
                if (cid.getCIDToGID()) {
                    codeToGid.assign(cid.getCIDToGID(), cid.getCIDToGID() + std::min<unsigned>(cid.getCIDToGIDLen(), kMaxCodes));
                } else {
                    HbBlob blob{hb_blob_create(reinterpret_cast<const char*>(bytes->data()), unsigned(bytes->size()),
                                               HB_MEMORY_MODE_READONLY, nullptr, nullptr)};
                    HbFace face{hb_face_create(blob.p, 0)};
                    const unsigned n = std::min(hb_face_get_glyph_count(face.p), kMaxCodes);
                    for (unsigned g = 0; g < n; ++g) codeToGid.push_back(int(g));
                }
            } else if (ff) {
                if (int* map = static_cast<Gfx8BitFont&>(font).getCodeToGIDMap(ff.get())) {
                    codeToGid.assign(map, map + 256);
                    gfree(map);
                }
            }
        } else if (ft.Open(*bytes)) {
            codeToGid = PostScriptCodeToGid(font, ft.face);
        }
        // The text of a code, as the interpreter finds it for a string
        // of that code (two bytes for CID fonts: their usual identity
        // encoding; codes it gives back as another code are left out).
        const bool cid = font.isCIDFont();
        auto textOf = [&](std::uint32_t code, const Unicode*& u) {
            char s[2] = {char(code >> 8), char(code & 0xFF)};
            CharCode got = 0;
            int uLen = 0;
            double dx, dy, ox, oy;
            const int used = cid ? font.getNextChar(s, 2, &got, &u, &uLen, &dx, &dy, &ox, &oy)
                                 : font.getNextChar(s + 1, 1, &got, &u, &uLen, &dx, &dy, &ox, &oy);
            return used > 0 && got == code ? uLen : 0;
        };
        std::map<char32_t, std::uint32_t> cmap;
        std::map<std::uint32_t, char32_t> gidChar;
        // Known text first, so that a glyph keeps its real character.
        for (std::uint32_t code = 0; code < codeToGid.size(); ++code) {
            const int gid = codeToGid[code];
            if (gid <= 0) continue;
            const Unicode* u = nullptr;
            const int n = textOf(code, u);
            if (n == 1 && u[0] > 0x20 && u[0] < kPrivateUse && !(u[0] >= 0xD800 && u[0] < 0xE000) &&
                !cmap.count(u[0]) && !gidChar.count(std::uint32_t(gid))) {
                cmap[u[0]] = std::uint32_t(gid);
                gidChar[std::uint32_t(gid)] = u[0];
            }
        }
        for (std::uint32_t code = 0; code < codeToGid.size(); ++code) {
            const int gid = codeToGid[code];
            if (gid <= 0) continue;
            auto known = gidChar.find(std::uint32_t(gid));
            if (known == gidChar.end()) {
                const char32_t pua = kPrivateUse + code;
                cmap[pua] = std::uint32_t(gid);
                known = gidChar.emplace(std::uint32_t(gid), pua).first;
            }
            pf->codeChar[code] = known->second;
        }
        if (!cmap.empty()) pf->program = trueType ? RebuildTrueType(*bytes, cmap, ps) : BuildOpenTypeCff(ft.face, cmap, ps);
        // Readers without the program look the face up by its family
        // name ("Liberation Serif"), which the program knows best.
        if (std::string fam = FamilyOf(pf->program); !fam.empty()) {
            std::u16string named = Utf16(fam.substr(0, 27));
            if (int n = ++faceUses_[named]; n > 1) named += u"~" + Utf16(std::to_string(n));
            pf->face = named;
        }
        if (pf->program.empty()) pf->codeChar.clear();
    }
    // Fonts without an object of their own are described anew each time;
    // every description is kept, since text runs hold on to them.
    if (key.first < 0) return *unnamed_.emplace_back(std::move(pf));
    return *(byRef_[key] = std::move(pf));
}

}  // namespace pagedraw
