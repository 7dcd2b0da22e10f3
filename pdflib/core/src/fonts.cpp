#include "pdfcore/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_CID_H
#include <hb-ft.h>
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <unordered_map>
#include <stdexcept>

#include "pdfcore/content.h"
#include "pdfcore/pdf_writer.h"

namespace pdfcore {

namespace {

std::string Hex4(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v & 0xFFFFu);
    return b;
}

// UTF-16 units of `text` as big-endian hex.
std::string HexUtf16(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += Hex4(c);
    return out;
}

struct HbBlob {
    hb_blob_t* p = nullptr;
    ~HbBlob() { hb_blob_destroy(p); }
};

}  // namespace

struct Font::Impl {
    std::string resourceName;
    std::string path;
    int faceIndex = 0;
    std::string psName;
    FT_Face ft = nullptr;
    hb_blob_t* blob = nullptr;
    hb_face_t* face = nullptr;
    hb_font_t* font = nullptr;
    hb_buffer_t* buffer = nullptr;
    unsigned upem = 1000;
    std::uint32_t glyphCount = 0;
    double ascent = 0.8, descent = -0.2, underlinePos = -0.1, underlineThick = 0.05, strikePos = 0.3;
    double capHeight = 0.7;
    double bbox[4] = {0, -0.2, 1, 0.9};
    double italicAngle = 0;
    bool fixedPitch = false;
    bool serif = false;
    bool syntheticBold = false, syntheticItalic = false;
    // Outlines: a CID-keyed CFF font is addressed by CIDs in the PDF (its
    // charset maps them to glyphs); CFF2 (variable) outlines have no PDF form.
    enum class Outline { TrueType, Cff, CffCid, Cff2 } outline = Outline::TrueType;
    std::vector<std::uint16_t> cid;         // gid -> CID, CffCid only
    std::uint32_t topCid = 0;

    // Stand-ins for text no font has: glyph ids from glyphCount on.
    std::vector<std::u16string> placeholders;
    std::map<std::u16string, std::uint32_t> placeholderOf;
    std::vector<std::uint32_t> charOfGlyph;  // reverse character map, made on first use
    std::vector<std::uint8_t> program;  // a font given as bytes: FreeType and HarfBuzz read it in place

    std::vector<double> advance;            // ems, as exact as /W writes them
    // Codes in the PDF font are glyph ids (CID = GID), so that without an
    // embedded program a viewer holding the same font still finds the glyphs.
    std::vector<bool> used;                 // gid -> drawn
    std::vector<std::uint32_t> usedList;    // drawn gids, .notdef first
    std::vector<std::u16string> text;       // gid -> text it stands for
    std::vector<bool> hasText;
    std::unordered_map<std::u16string, std::vector<ShapedGlyph>> wordCache;
    std::u16string key;  // reused for lookups
    static constexpr char16_t kCharTable = 0x0590;
    std::vector<ShapedGlyph> charGlyph;  // GlyphOf's table, made on first use
    std::vector<bool> charKnown;
    std::vector<std::int8_t> charHas;  // HasChar's answers: -1 not asked yet

    ~Impl() {
        if (buffer) hb_buffer_destroy(buffer);
        if (font) hb_font_destroy(font);
        if (face) hb_face_destroy(face);
        if (blob) hb_blob_destroy(blob);
        if (ft) FT_Done_Face(ft);
    }

    void RecordText(std::uint32_t gid, std::u16string_view t) {
        if (gid >= glyphCount || hasText[gid] || t.empty()) return;
        hasText[gid] = true;
        text[gid] = std::u16string(t);
    }
};

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
struct Font::Prepared {
    bool embed = false;
    std::string name, widths, cmap, program, map;
    std::string cmapPacked, programPacked, mapPacked;  // PackStream of each
};

Font::~Font() = default;

const std::string& Font::ResourceName() const { return impl_->resourceName; }
const std::string& Font::PostScriptName() const { return impl_->psName; }
const std::string& Font::FilePath() const { return impl_->path; }
double Font::Ascent() const { return impl_->ascent; }
double Font::Descent() const { return impl_->descent; }
double Font::UnderlinePosition() const { return impl_->underlinePos; }
double Font::UnderlineThickness() const { return impl_->underlineThick; }
double Font::StrikeoutPosition() const { return impl_->strikePos; }
bool Font::SyntheticBold() const { return impl_->syntheticBold; }
bool Font::SyntheticItalic() const { return impl_->syntheticItalic; }
std::uint32_t Font::GlyphCount() const { return impl_->glyphCount; }

bool Font::PostScriptOutlines() const { return impl_->outline != Impl::Outline::TrueType; }

// The first code of the stand-in glyphs: past every code a real glyph has.
static std::uint32_t PlaceholderBase(const Font::Impl& m) {
    return m.outline == Font::Impl::Outline::CffCid ? m.topCid + 1 : m.glyphCount;
}

std::uint32_t Font::PlaceholderGlyph(std::u16string_view text) {
    Impl& m = *impl_;
    std::u16string key(text);
    if (auto it = m.placeholderOf.find(key); it != m.placeholderOf.end()) return it->second;
    // Codes are two bytes: when they run out, later stand-ins share the last.
    if (PlaceholderBase(m) + m.placeholders.size() >= 0xFFFF || m.placeholders.size() >= 4096)
        return m.placeholders.empty() ? 0 : m.glyphCount + std::uint32_t(m.placeholders.size()) - 1;
    const std::uint32_t gid = m.glyphCount + std::uint32_t(m.placeholders.size());
    m.placeholders.push_back(key);
    m.placeholderOf.emplace(std::move(key), gid);
    return gid;
}

void Font::TextFromCharMap(std::uint32_t gid) {
    Impl& m = *impl_;
    if (gid == 0 || gid >= m.glyphCount || m.hasText[gid]) return;
    if (m.charOfGlyph.empty()) {
        m.charOfGlyph.assign(m.glyphCount, 0);
        FT_UInt g = 0;
        for (FT_ULong c = FT_Get_First_Char(m.ft, &g); g != 0; c = FT_Get_Next_Char(m.ft, c, &g))
            if (g < m.glyphCount && (m.charOfGlyph[g] == 0 || c < m.charOfGlyph[g])) m.charOfGlyph[g] = std::uint32_t(c);
    }
    char32_t c = m.charOfGlyph[gid];
    if (c == 0) return;
    std::u16string t;
    if (c >= 0x10000) t += char16_t(0xD800 + ((c - 0x10000) >> 10)), t += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    else t += char16_t(c);
    m.RecordText(gid, t);
}

bool Font::HasChar(char32_t c) const {
    Impl& m = *impl_;
    if (c < Impl::kCharTable) {
        // Asked for every character drawn: the answers are kept.
        if (m.charHas.empty()) m.charHas.assign(Impl::kCharTable, -1);
        if (m.charHas[c] >= 0) return m.charHas[c] != 0;
    }
    hb_codepoint_t g = 0;
    const bool has = hb_font_get_nominal_glyph(m.font, c, &g) && g != 0;
    if (c < Impl::kCharTable) m.charHas[c] = has ? 1 : 0;
    return has;
}

double Font::GlyphAdvance(std::uint32_t gid) const {
    const Impl& m = *impl_;
    if (gid >= m.glyphCount && gid - m.glyphCount < m.placeholders.size()) gid = 0;  // drawn as .notdef
    return gid < m.advance.size() ? m.advance[gid] : 0.0;
}

std::vector<ShapedGlyph> Font::Shape(std::u16string_view text) {
    Impl& m = *impl_;
    std::vector<ShapedGlyph> out;
    if (text.empty()) return out;
    // Text of the simple left-to-right scripts is shaped word by word through
    // a cache, as documents repeat their words; ligatures and kerning inside
    // a word stay, and no script below U+0590 shapes across a blank.
    bool simple = text.size() > 1;
    for (char16_t c : text)
        if (c >= 0x0590) {
            simple = false;
            break;
        }
    if (simple) {
        out.reserve(text.size());
        size_t i = 0;
        while (i < text.size()) {
            bool blank = text[i] == u' ';
            size_t j = i + 1;
            while (j < text.size() && (text[j] == u' ') == blank) ++j;
            std::u16string_view word = text.substr(i, j - i);
            m.key.assign(word);
            auto it = m.wordCache.find(m.key);
            if (it == m.wordCache.end()) {
                if (m.wordCache.size() > 20000) m.wordCache.clear();
                it = m.wordCache.emplace(m.key, ShapeRun(word, nullptr)).first;
            }
            for (ShapedGlyph g : it->second) {
                g.cluster += static_cast<std::uint32_t>(i);
                out.push_back(g);
            }
            i = j;
        }
        return out;
    }
    return ShapeRun(text, nullptr);
}

ShapedGlyph Font::GlyphOf(char16_t c) {
    Impl& m = *impl_;
    const bool tabled = c < Impl::kCharTable;
    if (tabled && m.charKnown.empty()) m.charGlyph.resize(Impl::kCharTable), m.charKnown.resize(Impl::kCharTable);
    if (tabled && m.charKnown[c]) return m.charGlyph[c];
    std::vector<ShapedGlyph> shaped = ShapeRun(std::u16string_view(&c, 1), nullptr);
    ShapedGlyph g = shaped.empty() ? ShapedGlyph{} : shaped.front();
    g.cluster = 0;
    if (tabled) m.charGlyph[c] = g, m.charKnown[c] = true;
    return g;
}

std::vector<ShapedGlyph> Font::Shape(std::u16string_view text, const ShapeStyle& style) {
    return ShapeRun(text, &style);
}

std::vector<ShapedGlyph> Font::ShapeRun(std::u16string_view text, const ShapeStyle* style) {
    Impl& m = *impl_;
    std::vector<ShapedGlyph> out;
    if (text.empty()) return out;
    hb_buffer_clear_contents(m.buffer);
    hb_buffer_add_utf16(m.buffer, reinterpret_cast<const uint16_t*>(text.data()), static_cast<int>(text.size()),
                        0, static_cast<int>(text.size()));
    if (style) {
        hb_buffer_set_direction(m.buffer, style->rtl ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
        if (style->script) hb_buffer_set_script(m.buffer, static_cast<hb_script_t>(style->script));
    }
    hb_buffer_guess_segment_properties(m.buffer);
    // Ligatures the script needs (required ones, conjuncts, Arabic joining)
    // stay on; those a typesetter adds for looks go.
    static const hb_feature_t kPlain[] = {
        {HB_TAG('l', 'i', 'g', 'a'), 0, 0, ~0u}, {HB_TAG('c', 'l', 'i', 'g'), 0, 0, ~0u},
        {HB_TAG('d', 'l', 'i', 'g'), 0, 0, ~0u}, {HB_TAG('h', 'l', 'i', 'g'), 0, 0, ~0u},
        {HB_TAG('k', 'e', 'r', 'n'), 0, 0, ~0u}};
    const bool plain = style && style->plain;
    hb_shape(m.font, m.buffer, plain ? kPlain : nullptr, plain ? std::size(kPlain) : 0);
    unsigned n = 0;
    hb_glyph_info_t* info = hb_buffer_get_glyph_infos(m.buffer, &n);
    hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(m.buffer, &n);
    out.resize(n);
    double inv = 1.0 / m.upem;
    for (unsigned i = 0; i < n; ++i) {
        out[i].gid = info[i].codepoint;
        out[i].cluster = info[i].cluster;
        out[i].advance = pos[i].x_advance * inv;
        out[i].xOffset = pos[i].x_offset * inv;
        out[i].yOffset = pos[i].y_offset * inv;
    }
    // The text of a cluster goes to its glyphs: a glyph that is the font's
    // own glyph of one of its characters stands for that character (the
    // parts of an Indic syllable, a base and its marks); what is left goes to
    // the first glyph left over (a ligature or a conjunct form), or to the
    // first glyph. Clusters run from their start to the next larger start.
    for (unsigned i = 0; i < n;) {
        const std::uint32_t start = out[i].cluster;
        unsigned j = i + 1;
        while (j < n && out[j].cluster == start) ++j;
        std::uint32_t end = static_cast<std::uint32_t>(text.size());
        for (unsigned k = 0; k < n; ++k)
            if (out[k].cluster > start && out[k].cluster < end) end = out[k].cluster;
        if (start >= end) {
            i = j;
            continue;
        }
        if (j - i == 1) {
            m.RecordText(out[i].gid, text.substr(start, end - start));
            i = j;
            continue;
        }
        std::u16string rest;
        std::vector<bool> taken(j - i, false);
        for (std::uint32_t u = start; u < end;) {
            std::uint32_t len = (text[u] >= 0xD800 && text[u] < 0xDC00 && u + 1 < end) ? 2 : 1;
            char32_t c = len == 2 ? 0x10000 + ((text[u] - 0xD800) << 10) + (text[u + 1] - 0xDC00) : text[u];
            hb_codepoint_t g = 0;
            unsigned hit = j;
            if (hb_font_get_nominal_glyph(m.font, c, &g))
                for (unsigned k = i; k < j && hit == j; ++k)
                    if (!taken[k - i] && out[k].gid == g) hit = k;
            if (hit < j) {
                taken[hit - i] = true;
                m.RecordText(g, text.substr(u, len));
            } else {
                rest += text.substr(u, len);
            }
            u += len;
        }
        if (!rest.empty()) {
            unsigned k = i;
            while (k < j && taken[k - i]) ++k;
            m.RecordText(out[k < j ? k : i].gid, rest);
        }
        i = j;
    }
    return out;
}

double Font::Measure(std::u16string_view text) {
    double w = 0;
    for (const ShapedGlyph& g : Shape(text)) w += g.advance;
    return w;
}

std::uint16_t Font::UseGlyph(std::uint32_t gid) {
    Impl& m = *impl_;
    if (gid >= m.glyphCount && gid - m.glyphCount < m.placeholders.size())
        return static_cast<std::uint16_t>(PlaceholderBase(m) + (gid - m.glyphCount));
    if (gid >= m.glyphCount || gid > 0xFFFF) gid = 0;
    if (!m.used[gid]) {
        m.used[gid] = true;
        m.usedList.push_back(gid);
    }
    return static_cast<std::uint16_t>(m.outline == Impl::Outline::CffCid ? m.cid[gid] : gid);
}

void Font::SetGlyphText(std::uint32_t gid, std::u16string_view text) {
    Impl& m = *impl_;
    if (gid >= m.glyphCount) return;
    m.hasText[gid] = true;
    m.text[gid] = std::u16string(text);
}

bool Font::AnyGlyphUsed() const { return impl_->usedList.size() > 1; }

struct Font::CodeEntry {
    std::uint32_t code = 0;
    std::uint32_t gid = 0;  // what the code draws (0 for a stand-in)
    double advance = 0;     // ems
    const std::u16string* text = nullptr;
};

// Every code drawn, in code order, with what it draws and stands for.
std::vector<Font::CodeEntry> Font::UsedCodes() const {
    const Impl& m = *impl_;
    std::vector<CodeEntry> codes;
    codes.reserve(m.usedList.size() + m.placeholders.size());
    for (std::uint32_t g : m.usedList)
        codes.push_back({m.outline == Impl::Outline::CffCid ? m.cid[g] : g, g, m.advance[g],
                         g != 0 && m.hasText[g] && !m.text[g].empty() ? &m.text[g] : nullptr});
    const std::uint32_t base = PlaceholderBase(m);
    for (std::size_t i = 0; i < m.placeholders.size(); ++i)
        codes.push_back({base + std::uint32_t(i), 0, m.advance[0], &m.placeholders[i]});
    std::sort(codes.begin(), codes.end(), [](const CodeEntry& x, const CodeEntry& y) { return x.code < y.code; });
    return codes;
}

namespace {

// Subsets the face to `gids`; with `retainIds` every glyph keeps its id (the
// rest become empty). Null on failure; `oldToNew` gets the mapping.
hb_face_t* Subset(hb_face_t* face, const std::vector<std::uint32_t>& gids, bool retainIds, hb_subset_plan_t** plan) {
    hb_subset_input_t* input = hb_subset_input_create_or_fail();
    if (!input) return nullptr;
    hb_set_t* glyphs = hb_subset_input_glyph_set(input);
    for (std::uint32_t g : gids) hb_set_add(glyphs, g);
    hb_set_t* drop = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (const char* t : {"GSUB", "GPOS", "GDEF", "kern", "morx", "mort", "BASE", "JSTF", "DSIG", "vhea", "vmtx",
                          "VORG", "hdmx", "LTSH", "VDMX", "PCLT"})
        hb_set_add(drop, hb_tag_from_string(t, 4));
    hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_NO_HINTING | (retainIds ? HB_SUBSET_FLAGS_RETAIN_GIDS : 0));
    *plan = hb_subset_plan_create_or_fail(face, input);
    hb_subset_input_destroy(input);
    if (!*plan) return nullptr;
    hb_face_t* sub = hb_subset_plan_execute_or_fail(*plan);
    if (!sub) {
        hb_subset_plan_destroy(*plan);
        *plan = nullptr;
    }
    return sub;
}

std::string BlobBytes(hb_blob_t* blob) {
    unsigned len = 0;
    const char* bytes = hb_blob_get_data(blob, &len);
    return std::string(bytes ? bytes : "", len);
}

}  // namespace

std::unique_ptr<Font::Prepared> Font::Prepare(bool embed, bool compress) const {
    const Impl& m = *impl_;
    std::vector<std::uint32_t> gids = m.usedList;  // with .notdef
    std::sort(gids.begin(), gids.end());
    const std::vector<CodeEntry> codes = UsedCodes();

    // Subset tag from the glyphs used: equal input, equal tag.
    std::uint32_t h = 2166136261u;
    for (const CodeEntry& c : codes) h = (h ^ c.code) * 16777619u;
    for (char c : m.psName) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    std::string tag;
    for (int i = 0; i < 6; ++i) tag.push_back(static_cast<char>('A' + (h >> (i * 5)) % 26));
    std::string baseName = m.psName.empty() ? std::string("Font") : m.psName;
    auto p = std::make_unique<Prepared>();
    p->embed = embed;
    p->name = embed ? tag + "+" + baseName : baseName;

    // Widths: one run per stretch of consecutive codes.
    std::string& w = p->widths;
    w = "[";
    for (size_t i = 0; i < codes.size(); ++i) {
        if (i == 0 || codes[i].code != codes[i - 1].code + 1) {
            if (i) w += "]";
            w += std::to_string(codes[i].code) + "[";
        } else {
            w.push_back(' ');
        }
        AppendNumber(w, codes[i].advance * 1000);
    }
    w += "]]";

    // Everything that can fail comes before the first byte is written.
    std::string& program = p->program;
    std::string& map = p->map;
    if (embed && m.outline == Impl::Outline::Cff2)
        throw std::runtime_error("variable PostScript outlines cannot be embedded: " + m.path);
    if (embed) {
        // A name-keyed CFF font is addressed by glyph ids, so they must stay
        // (the glyphs left out become empty); a CID-keyed one keeps its CIDs
        // in the subset's charset.
        const bool retain = m.outline == Impl::Outline::Cff;
        hb_subset_plan_t* plan = nullptr;
        hb_face_t* sub = Subset(m.face, gids, retain, &plan);
        if (!sub) throw std::runtime_error("cannot subset font " + m.path);
        if (m.outline == Impl::Outline::TrueType) {
            const hb_map_t* oldToNew = hb_subset_plan_old_to_new_glyph_mapping(plan);
            // Code -> glyph id in the subset; stand-ins draw .notdef.
            map.assign((static_cast<size_t>(codes.back().code) + 1) * 2, '\0');
            for (const CodeEntry& c : codes) {
                hb_codepoint_t ng = c.gid ? hb_map_get(oldToNew, c.gid) : 0;
                if (ng == HB_MAP_VALUE_INVALID) ng = 0;
                map[2 * c.code] = static_cast<char>(ng >> 8);
                map[2 * c.code + 1] = static_cast<char>(ng & 0xFF);
            }
            HbBlob data{hb_face_reference_blob(sub)};
            program = BlobBytes(data.p);
        } else {
            HbBlob cff{hb_face_reference_table(sub, HB_TAG('C', 'F', 'F', ' '))};
            program = BlobBytes(cff.p);
        }
        hb_face_destroy(sub);
        hb_subset_plan_destroy(plan);
        if (program.empty()) throw std::runtime_error("empty font subset for " + m.path);
    }

    p->cmap = ToUnicodeMap(codes);
    if (compress) {
        p->cmapPacked = PackStream(p->cmap);
        p->programPacked = PackStream(program);
        p->mapPacked = PackStream(map);
    }
    return p;
}

void Font::PrepareWrite(bool embed, bool compress) {
    try {
        prepared_ = Prepare(embed, compress);
    } catch (const std::exception&) {
        prepared_.reset();  // WriteTo tries again and reports it
    }
}

void Font::WriteTo(ObjectWriter& out, int number, bool embed, bool /*deterministic*/) {
    Impl& m = *impl_;
    std::unique_ptr<Prepared> p = std::move(prepared_);
    if (!p || p->embed != embed) p = Prepare(embed, false);
    const std::string& name = p->name;
    const std::string& w = p->widths;
    int cidNum = out.NewObject(), descNum = out.NewObject(), cmapNum = out.NewObject();
    const bool cff = m.outline != Impl::Outline::TrueType;
    int fileNum = embed ? out.NewObject() : 0, mapNum = embed && !cff ? out.NewObject() : 0;

    out.Begin(number);
    out.Raw("<</Type/Font/Subtype/Type0/BaseFont");
    out.Name(name);
    out.Raw("/Encoding/Identity-H/DescendantFonts[");
    out.Ref(cidNum);
    out.Raw("]/ToUnicode");
    out.Ref(cmapNum);
    out.Raw(">>");
    out.End();

    out.Begin(cidNum);
    out.Raw(cff ? "<</Type/Font/Subtype/CIDFontType0/BaseFont" : "<</Type/Font/Subtype/CIDFontType2/BaseFont");
    out.Name(name);
    out.Raw("/CIDSystemInfo<</Registry");
    out.String("Adobe");
    out.Raw("/Ordering");
    out.String("Identity");
    out.Raw("/Supplement 0>>/DW 0/W");
    out.Raw(w);
    out.Raw("/FontDescriptor");
    out.Ref(descNum);
    if (mapNum) {
        out.Raw("/CIDToGIDMap");
        out.Ref(mapNum);
    }
    out.Raw(">>");
    out.End();

    int flags = 32;  // non-symbolic
    if (m.fixedPitch) flags |= 1;
    if (m.serif) flags |= 2;
    if (m.italicAngle != 0 || m.syntheticItalic) flags |= 64;
    auto em = [&](double v) { out.Num(std::round(v * 1000)); };
    out.Begin(descNum);
    out.Raw("<</Type/FontDescriptor/FontName");
    out.Name(name);
    out.Raw("/Flags");
    out.Int(flags);
    out.Raw("/FontBBox[");
    for (double v : m.bbox) em(v);
    out.Raw("]/ItalicAngle");
    out.Int(static_cast<int>(m.italicAngle));
    out.Raw("/Ascent");
    em(m.ascent);
    out.Raw("/Descent");
    em(m.descent);
    out.Raw("/CapHeight");
    em(m.capHeight);
    out.Raw("/StemV 80");
    if (embed) {
        out.Raw(cff ? "/FontFile3" : "/FontFile2");
        out.Ref(fileNum);
    }
    out.Raw(">>");
    out.End();

    out.Begin(cmapNum);
    out.EndStream(p->cmap, true, &p->cmapPacked);
    if (embed) {
        out.Begin(fileNum);
        if (cff) {
            out.Raw("/Subtype/CIDFontType0C");
        } else {
            out.Raw("/Length1");
            out.Int(static_cast<long long>(p->program.size()));
        }
        out.EndStream(p->program, true, &p->programPacked);
    }
    if (mapNum) {
        out.Begin(mapNum);
        out.EndStream(p->map, true, &p->mapPacked);
    }
}

std::string Font::ToUnicodeMap(const std::vector<CodeEntry>& sorted) {
    // Codes that stand for text, in code order. A run of codes whose texts are
    // single consecutive UTF-16 units below U+0100 ("a", "b", "c" on glyphs
    // 68, 69, 70) becomes one bfrange entry; the rest are bfchar entries. A
    // range changes only the last byte of its code and of its text. (Ranges
    // of texts past U+00FF extract wrongly in some readers.)
    struct Entry {
        std::uint32_t code;
        const std::u16string* text;
    };
    std::vector<Entry> entries;
    for (const CodeEntry& c : sorted)
        if (c.text && !c.text->empty()) entries.push_back({c.code, c.text});
    std::vector<std::pair<size_t, size_t>> ranges;  // [first, last] indexes into entries
    std::vector<size_t> singles;
    for (size_t i = 0; i < entries.size();) {
        size_t j = i;
        if (entries[i].text->size() == 1 && (*entries[i].text)[0] < 0x100) {
            while (j + 1 < entries.size() && entries[j + 1].text->size() == 1 &&
                   entries[j + 1].code == entries[j].code + 1 && (entries[j + 1].code & 0xFF) != 0 &&
                   (*entries[j + 1].text)[0] == (*entries[j].text)[0] + 1 && ((*entries[j + 1].text)[0] & 0xFF) != 0)
                ++j;
        }
        if (j > i) {
            ranges.emplace_back(i, j);
        } else {
            singles.push_back(i);
        }
        i = j + 1;
    }
    std::string cmap =
        "/CIDInit/ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo<</Registry(Adobe)/Ordering(UCS)/Supplement 0>>def\n"
        "/CMapName/Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000><FFFF>\nendcodespacerange\n";
    for (size_t i = 0; i < singles.size(); i += 100) {
        size_t n = std::min<size_t>(100, singles.size() - i);
        cmap += std::to_string(n) + " beginbfchar\n";
        for (size_t k = i; k < i + n; ++k) {
            const Entry& e = entries[singles[k]];
            cmap += "<" + Hex4(e.code) + "><" + HexUtf16(*e.text) + ">\n";
        }
        cmap += "endbfchar\n";
    }
    for (size_t i = 0; i < ranges.size(); i += 100) {
        size_t n = std::min<size_t>(100, ranges.size() - i);
        cmap += std::to_string(n) + " beginbfrange\n";
        for (size_t k = i; k < i + n; ++k) {
            const Entry& a = entries[ranges[k].first];
            const Entry& b = entries[ranges[k].second];
            cmap += "<" + Hex4(a.code) + "><" + Hex4(b.code) + "><" + HexUtf16(*a.text) + ">\n";
        }
        cmap += "endbfrange\n";
    }
    cmap += "endcmap\nCMapName currentdict/CMap defineresource pop\nend\nend\n";
    return cmap;
}

// ---- FontCache ---------------------------------------------------------------

struct FontCache::Impl {
    FT_Library ft = nullptr;
    std::vector<std::unique_ptr<Font>> fonts;
    std::map<std::string, Font*> byFile;     // "path#index"
    std::map<std::string, Font*> byRequest;  // "face|weight|italic"
    std::map<std::pair<int, bool>, std::vector<Font*>> fallbacks;  // fonts ResolveFor chose, per style
    // The last request Resolve answered: text runs mostly ask for the font
    // of the run before.
    std::string lastFace;
    int lastWeight = 0;
    bool lastItalic = false;
    Font* last = nullptr;

    ~Impl() {
        fonts.clear();
        if (ft) FT_Done_FreeType(ft);
    }

    Font* Load(const std::string& path, int index, bool wantBold, bool wantItalic) {
        std::string key = path + "#" + std::to_string(index) + (wantBold ? "b" : "") + (wantItalic ? "i" : "");
        if (auto it = byFile.find(key); it != byFile.end()) return it->second;
        auto m = std::make_unique<Font::Impl>();
        m->path = path;
        m->faceIndex = index;
        if (FT_New_Face(ft, path.c_str(), index, &m->ft) != 0) return nullptr;
        m->blob = hb_blob_create_from_file_or_fail(path.c_str());
        if (!m->blob) return nullptr;
        return Open(std::move(m), key, wantBold, wantItalic);
    }

    Font* LoadProgram(std::span<const std::uint8_t> bytes) {
        std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        std::string key = "program:" + std::to_string(std::hash<std::string_view>{}(view)) + ":" +
                          std::to_string(bytes.size());
        if (auto it = byFile.find(key); it != byFile.end()) return it->second;
        auto m = std::make_unique<Font::Impl>();
        m->program.assign(bytes.begin(), bytes.end());
        m->path = "an embedded font program";
        if (m->program.empty() || m->program.size() > 0x7FFFFFFF ||
            FT_New_Memory_Face(ft, m->program.data(), FT_Long(m->program.size()), 0, &m->ft) != 0 ||
            !FT_IS_SFNT(m->ft) || !FT_IS_SCALABLE(m->ft))
            return nullptr;
        m->blob = hb_blob_create_or_fail(reinterpret_cast<const char*>(m->program.data()),
                                         unsigned(m->program.size()), HB_MEMORY_MODE_READONLY, nullptr, nullptr);
        if (!m->blob) return nullptr;
        return Open(std::move(m), key, false, false);
    }

    // Reads what the document needs of a face whose FreeType face and blob are open.
    Font* Open(std::unique_ptr<Font::Impl> m, const std::string& key, bool wantBold, bool wantItalic) {
        m->face = hb_face_create(m->blob, static_cast<unsigned>(m->faceIndex));
        m->glyphCount = hb_face_get_glyph_count(m->face);
        if (m->glyphCount == 0) return nullptr;
        m->upem = hb_face_get_upem(m->face);
        if (m->upem == 0) m->upem = 1000;
        m->font = hb_font_create(m->face);
        hb_font_set_scale(m->font, static_cast<int>(m->upem), static_cast<int>(m->upem));
        m->buffer = hb_buffer_create();
        if (const char* ps = FT_Get_Postscript_Name(m->ft)) m->psName = ps;
        // A name object may hold only regular characters.
        std::string clean;
        for (char c : m->psName)
            if (c > 32 && c < 127 && !std::strchr("()<>[]{}/%#", c)) clean.push_back(c);
        m->psName = clean.empty() ? "Font" + std::to_string(fonts.size() + 1) : clean;
        using Outline = Font::Impl::Outline;
        if (HbBlob t{hb_face_reference_table(m->face, HB_TAG('C', 'F', 'F', '2'))}; hb_blob_get_length(t.p) > 0)
            m->outline = Outline::Cff2;
        if (HbBlob t{hb_face_reference_table(m->face, HB_TAG('C', 'F', 'F', ' '))}; hb_blob_get_length(t.p) > 0) {
            m->outline = Outline::Cff;
            FT_Bool cidKeyed = 0;
            if (FT_Get_CID_Is_Internally_CID_Keyed(m->ft, &cidKeyed) == 0 && cidKeyed) {
                m->outline = Outline::CffCid;
                m->cid.resize(m->glyphCount);
                for (std::uint32_t g = 0; g < m->glyphCount; ++g) {
                    FT_UInt c = 0;
                    m->cid[g] = FT_Get_CID_From_Glyph_Index(m->ft, g, &c) == 0 && c <= 0xFFFF ? std::uint16_t(c) : 0;
                    m->topCid = std::max<std::uint32_t>(m->topCid, m->cid[g]);
                }
            }
        }

        FT_Face f = m->ft;
        double u = m->upem;
        if (f->ascender || f->descender) {
            m->ascent = f->ascender / u;
            m->descent = f->descender / u;
        }
        if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2))) {
            if (os2->usWinAscent || os2->usWinDescent) {
                m->ascent = os2->usWinAscent / u;
                m->descent = -static_cast<double>(os2->usWinDescent) / u;
            }
            if (os2->yStrikeoutPosition) m->strikePos = os2->yStrikeoutPosition / u;
            if (os2->version >= 2 && os2->sCapHeight) m->capHeight = os2->sCapHeight / u;
            int family = os2->sFamilyClass >> 8;
            m->serif = family >= 1 && family <= 7;
        }
        if (f->underline_position) m->underlinePos = f->underline_position / u;
        if (f->underline_thickness) m->underlineThick = f->underline_thickness / u;
        m->bbox[0] = f->bbox.xMin / u, m->bbox[1] = f->bbox.yMin / u;
        m->bbox[2] = f->bbox.xMax / u, m->bbox[3] = f->bbox.yMax / u;
        m->fixedPitch = FT_IS_FIXED_WIDTH(f);
        if (auto* post = static_cast<TT_Postscript*>(FT_Get_Sfnt_Table(f, FT_SFNT_POST)))
            m->italicAngle = post->italicAngle / 65536.0;
        m->syntheticBold = wantBold && !(f->style_flags & FT_STYLE_FLAG_BOLD);
        m->syntheticItalic = wantItalic && !(f->style_flags & FT_STYLE_FLAG_ITALIC);

        m->advance.resize(m->glyphCount);
        for (std::uint32_t g = 0; g < m->glyphCount; ++g)
            m->advance[g] = hb_font_get_glyph_h_advance(m->font, g) / u;
        m->used.assign(m->glyphCount, false);
        m->used[0] = true;
        m->usedList.push_back(0);
        m->text.resize(m->glyphCount);
        m->hasText.assign(m->glyphCount, false);
        m->resourceName = "F" + std::to_string(fonts.size() + 1);

        fonts.push_back(std::unique_ptr<Font>(new Font(std::move(m))));
        Font* font = fonts.back().get();
        byFile[key] = font;
        return font;
    }
};

FontCache::FontCache() : impl_(std::make_unique<Impl>()) {
    if (FT_Init_FreeType(&impl_->ft) != 0) throw std::runtime_error("cannot start the font engine");
}
FontCache::~FontCache() = default;

const std::vector<std::unique_ptr<Font>>& FontCache::All() const { return impl_->fonts; }

Font* FontCache::ResolveFor(char32_t c, int weight, bool italic) {
    weight = std::clamp(weight, 1, 1000);
    std::string rkey = "U+" + std::to_string(static_cast<unsigned>(c)) + "|" + std::to_string(weight) + "|" +
                       (italic ? "1" : "0");
    if (auto it = impl_->byRequest.find(rkey); it != impl_->byRequest.end()) return it->second;
    // A font already in use that has the character saves a search through
    // every installed font (CJK text asks for thousands of characters).
    std::vector<Font*>& earlier = impl_->fallbacks[{weight, italic}];
    for (Font* f : earlier) {
        if (f->HasChar(c)) {
            impl_->byRequest[rkey] = f;
            return f;
        }
    }
    FcInit();
    FcPattern* pat = FcPatternCreate();
    FcCharSet* cs = FcCharSetCreate();
    FcCharSetAddChar(cs, c);
    FcPatternAddCharSet(pat, FC_CHARSET, cs);
    FcPatternAddInteger(pat, FC_WEIGHT, static_cast<int>(FcWeightFromOpenTypeDouble(weight)));
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult res = FcResultNoMatch;
    FcFontSet* set = FcFontSort(nullptr, pat, FcFalse, nullptr, &res);
    Font* font = nullptr;
    if (set) {
        for (int i = 0; i < set->nfont && !font; ++i) {
            FcCharSet* has = nullptr;
            if (FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &has) != FcResultMatch ||
                !FcCharSetHasChar(has, c))
                continue;
            FcChar8* file = nullptr;
            int index = 0;
            if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
            FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
            Font* f = impl_->Load(reinterpret_cast<const char*>(file), index, weight >= 600, italic);
            if (f && f->HasChar(c)) font = f;
        }
        FcFontSetDestroy(set);
    }
    FcCharSetDestroy(cs);
    FcPatternDestroy(pat);
    impl_->byRequest[rkey] = font;
    if (font && std::find(earlier.begin(), earlier.end(), font) == earlier.end()) earlier.push_back(font);
    return font;
}

Font* FontCache::LoadProgram(std::span<const std::uint8_t> bytes) { return impl_->LoadProgram(bytes); }

Font* FontCache::Resolve(std::string_view face, int weight, bool italic) {
    weight = std::clamp(weight, 1, 1000);
    Impl& m = *impl_;
    if (m.last && m.lastWeight == weight && m.lastItalic == italic && m.lastFace == face) return m.last;
    Font* font = ResolveRequest(face, weight, italic);
    m.lastFace.assign(face), m.lastWeight = weight, m.lastItalic = italic, m.last = font;
    return font;
}

Font* FontCache::ResolveRequest(std::string_view face, int weight, bool italic) {
    std::string rkey = std::string(face) + "|" + std::to_string(weight) + "|" + (italic ? "1" : "0");
    if (auto it = impl_->byRequest.find(rkey); it != impl_->byRequest.end()) return it->second;

    FcInit();
    std::string family(face.empty() ? std::string_view("sans-serif") : face);
    FcPattern* pat = FcPatternCreate();
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, static_cast<int>(FcWeightFromOpenTypeDouble(weight)));
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    // The best match is nearly always usable: it alone costs much less than
    // sorting every installed font, which is the way on when it is not.
    auto load = [&](FcPattern* candidate) -> Font* {
        FcChar8* file = nullptr;
        int index = 0;
        if (FcPatternGetString(candidate, FC_FILE, 0, &file) != FcResultMatch) return nullptr;
        FcPatternGetInteger(candidate, FC_INDEX, 0, &index);
        // Only outline fonts in a TrueType/OpenType container can be drawn here.
        FcChar8* format = nullptr;
        if (FcPatternGetString(candidate, FC_FONTFORMAT, 0, &format) == FcResultMatch &&
            std::string_view(reinterpret_cast<const char*>(format)) != "TrueType" &&
            std::string_view(reinterpret_cast<const char*>(format)) != "CFF")
            return nullptr;
        return impl_->Load(reinterpret_cast<const char*>(file), index, weight >= 600, italic);
    };
    FcResult res = FcResultNoMatch;
    Font* font = nullptr;
    if (FcPattern* best = FcFontMatch(nullptr, pat, &res)) {
        font = load(best);
        FcPatternDestroy(best);
    }
    FcFontSet* set = font ? nullptr : FcFontSort(nullptr, pat, FcTrue, nullptr, &res);
    if (set) {
        for (int i = 0; i < set->nfont && !font; ++i) font = load(set->fonts[i]);
        FcFontSetDestroy(set);
    }
    FcPatternDestroy(pat);
    if (!font) throw std::runtime_error("no usable font is installed");
    impl_->byRequest[rkey] = font;
    return font;
}

}  // namespace pdfcore
