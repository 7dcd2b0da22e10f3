#include "page_fonts.h"

#include <fontconfig/fontconfig.h>
#include <hb-ot.h>
#include <hb.h>

#include <algorithm>
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
std::vector<std::uint8_t> NameTable(const std::string& psName) {
    std::vector<std::uint8_t> str;
    for (char c : psName) Be16(str, std::uint8_t(c));
    std::vector<std::uint8_t> t;
    Be16(t, 0), Be16(t, 2), Be16(t, 6 + 2 * 12);
    for (int id : {1, 6}) Be16(t, 3), Be16(t, 1), Be16(t, 0x409), Be16(t, std::uint32_t(id)), Be16(t, std::uint32_t(str.size())), Be16(t, 0);
    t.insert(t.end(), str.begin(), str.end());
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
    if (!hasName) add(HB_TAG('n', 'a', 'm', 'e'), NameTable(psName));
    HbBlob built{hb_face_reference_blob(out.p)};
    unsigned len = 0;
    const char* data = hb_blob_get_data(built.p, &len);
    if (!data || len == 0) return {};
    return std::vector<std::uint8_t>(data, data + len);
}

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
    const bool carried = carry_ && (kind == fontTrueType || kind == fontTrueTypeOT || kind == fontCIDType2 ||
                                    kind == fontCIDType2OT);
    if (!carried && !KnownFamily(family)) family = StandIn(ps, font);
    std::u16string face = Utf16(family.substr(0, 27));
    // Faces with a program of their own must not share a name: the name is how runs find their program.
    if (int n = ++faceUses_[face]; n > 1 && carried) face += u"~" + Utf16(std::to_string(n));
    pf->face = face;

    Ref embId;
    if (carried && font.getEmbeddedFontID(&embId)) {
        std::optional<std::vector<unsigned char>> bytes = font.readEmbFontFile(xref_);
        if (bytes && !bytes->empty() && bytes->size() < (std::size_t(64) << 20)) {
            std::unique_ptr<FoFiTrueType> ff = FoFiTrueType::make(bytes->data(), int(bytes->size()));
            if (ff) {
                // Code -> glyph, as poppler's own renderers find it.
                std::vector<int> codeToGid;
                if (font.isCIDFont()) {
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
                } else if (int* map = static_cast<Gfx8BitFont&>(font).getCodeToGIDMap(ff.get())) {
                    codeToGid.assign(map, map + 256);
                    gfree(map);
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
                if (!cmap.empty()) pf->program = RebuildTrueType(*bytes, cmap, ps);
                // Readers without the program look the face up by its family
                // name ("Liberation Serif"), which the program knows best.
                if (std::string fam = FamilyOf(pf->program); !fam.empty()) {
                    std::u16string named = Utf16(fam.substr(0, 27));
                    if (int n = ++faceUses_[named]; n > 1) named += u"~" + Utf16(std::to_string(n));
                    pf->face = named;
                }
                if (pf->program.empty()) pf->codeChar.clear();
            }
        }
    }
    // Fonts without an object of their own are described anew each time;
    // every description is kept, since text runs hold on to them.
    if (key.first < 0) return *unnamed_.emplace_back(std::move(pf));
    return *(byRef_[key] = std::move(pf));
}

}  // namespace pagedraw
