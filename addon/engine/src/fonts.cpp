#include "fonts.h"

#include <fontconfig/fontconfig.h>
#include <fontconfig/fcfreetype.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <map>
#include <unordered_map>
#include <utility>

#include "platform/text.h"

namespace htmlengine {

struct FaceHandle {
    FT_Face face = nullptr;
    hb_font_t* hb = nullptr;
    std::string family;
    bool bold = false, italic = false;
};

struct Match {
    std::string file;
    int index = 0;
    FcPattern* request = nullptr;  // for the fallback list, sorted when first needed
    bool sorted = false;
    std::vector<std::pair<std::string, int>> fallbacks;
};

struct FontManager::Impl {
    // Matching is the slow part of making a font; its answer does not depend
    // on the size, so it is kept for every later font of the same request.
    std::map<std::string, std::unique_ptr<Match>> matches;
    FT_Library ft = nullptr;
    FcConfig* config = nullptr;
    std::map<std::string, std::unique_ptr<FaceHandle>> faces;  // file|index|size
    std::vector<std::unique_ptr<Font>> fonts;
    std::vector<FontRequest> newRequests;
    std::size_t prepared = 0;
    // First family name of every font fontconfig knows, by file|index, taken
    // from its caches. Querying the file instead would compute the font's
    // whole character set (a CJK font takes milliseconds).
    std::unordered_map<std::string, std::string> familyOf;
    bool familiesIndexed = false;

    const std::string* CachedFamily(const std::string& fileAndIndex);

    // Shaped text by font request, size and text: the layout measures every
    // word and the drawing shapes it again, and the documents of one run
    // share most of their words. Bounded by the bytes it holds, emptied when full.
    std::unordered_map<std::string, std::vector<ShapedRun>> shapes;
    std::size_t shapeBytes = 0;
};

constexpr std::size_t kMaxShapedTextBytes = 256;        // longer texts are shaped every time
constexpr std::size_t kShapeCacheBytes = std::size_t(4) << 20;

const std::string* FontManager::Impl::CachedFamily(const std::string& fileAndIndex) {
    if (!familiesIndexed) {
        familiesIndexed = true;
        for (FcSetName which : {FcSetSystem, FcSetApplication}) {
            FcFontSet* set = FcConfigGetFonts(config, which);
            for (int k = 0; set && k < set->nfont; ++k) {
                FcChar8* file = nullptr;
                FcChar8* family = nullptr;
                int index = 0;
                if (FcPatternGetString(set->fonts[k], FC_FILE, 0, &file) != FcResultMatch ||
                    FcPatternGetString(set->fonts[k], FC_FAMILY, 0, &family) != FcResultMatch)
                    continue;
                FcPatternGetInteger(set->fonts[k], FC_INDEX, 0, &index);
                familyOf.emplace(reinterpret_cast<char*>(file) + ("|" + std::to_string(index)),
                                 reinterpret_cast<char*>(family));
            }
        }
    }
    auto it = familyOf.find(fileAndIndex);
    return it == familyOf.end() ? nullptr : &it->second;
}

namespace {
// A layout reports at most this many new fonts; a process prepares at most
// this many in all (a page asking for every size of every family must not
// make the long-lived process grow with each load).
constexpr std::size_t kMaxNewRequests = 64;
constexpr std::size_t kMaxPrepared = 256;
constexpr std::size_t kMaxFamilyListBytes = 512;

std::atomic<FontManager*> sharedFonts{nullptr};
}  // namespace

FontManager& SharedFonts() {
    static FontManager* fonts = [] {
        auto* f = new FontManager;
        sharedFonts.store(f);
        return f;
    }();
    return *fonts;
}

FontManager* SharedFontsIfMade() { return sharedFonts.load(); }

std::mutex& SharedFontsLock() {
    static std::mutex lock;
    return lock;
}

std::vector<FontRequest> FontManager::TakeNewRequests() { return std::exchange(impl_->newRequests, {}); }

void FontManager::Prepare(const std::vector<FontRequest>& requests) {
    for (const FontRequest& r : requests) {
        if (impl_->prepared >= kMaxPrepared) return;
        if (r.familyList.size() > kMaxFamilyListBytes) continue;
        ++impl_->prepared;
        Font* f = Create(r.familyList, r.pixelSize, std::clamp(r.weight, 1, 1000), r.italic, 0);
        Shape(*f, "a A 1");
        Release(f);
    }
    impl_->newRequests.clear();
}

namespace {

std::vector<std::string> SplitFamilies(std::string_view list) {
    std::vector<std::string> out;
    std::string cur;
    char quote = 0;
    for (char c : list) {
        if (quote) {
            if (c == quote) quote = 0;
            else cur += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ',') {
            out.push_back(cur), cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    for (auto& f : out) {
        while (!f.empty() && std::isspace(static_cast<unsigned char>(f.back()))) f.pop_back();
        std::size_t i = 0;
        while (i < f.size() && std::isspace(static_cast<unsigned char>(f[i]))) ++i;
        f.erase(0, i);
    }
    out.erase(std::remove(out.begin(), out.end(), std::string()), out.end());
    return out;
}

// CSS generic families as fontconfig knows them.
std::string GenericFamily(const std::string& lower) {
    if (lower == "serif" || lower == "sans-serif" || lower == "monospace") return lower;
    if (lower == "cursive" || lower == "fantasy") return "sans-serif";
    if (lower == "system-ui" || lower == "-apple-system" || lower == "ui-sans-serif") return "sans-serif";
    if (lower == "ui-monospace") return "monospace";
    if (lower == "ui-serif") return "serif";
    return {};
}

int FcWeightOf(int cssWeight) {
    return FcWeightFromOpenType(std::clamp(cssWeight, 1, 1000));
}

}  // namespace

FontManager::FontManager() : impl_(std::make_unique<Impl>()) {
    FT_Init_FreeType(&impl_->ft);
    FcInit();
    impl_->config = FcConfigReference(nullptr);
}

FontManager::~FontManager() {
    for (auto& [k, m] : impl_->matches)
        if (m->request) FcPatternDestroy(m->request);
    for (auto& [k, f] : impl_->faces) {
        if (!f) continue;
        if (f->hb) hb_font_destroy(f->hb);
        if (f->face) FT_Done_Face(f->face);
    }
    if (impl_->config) FcConfigDestroy(impl_->config);
    if (impl_->ft) FT_Done_FreeType(impl_->ft);
}

FaceHandle* FontManager::Open(const std::string& file, int index, int pixelSize) {
    std::string key = file + "|" + std::to_string(index) + "|" + std::to_string(pixelSize);
    auto it = impl_->faces.find(key);
    if (it != impl_->faces.end()) return it->second.get();
    auto h = std::make_unique<FaceHandle>();
    if (FT_New_Face(impl_->ft, file.c_str(), index, &h->face) != 0) {
        impl_->faces[key] = nullptr;
        return nullptr;
    }
    if (FT_IS_SCALABLE(h->face)) FT_Set_Pixel_Sizes(h->face, 0, std::max(1, pixelSize));
    else if (h->face->num_fixed_sizes > 0) FT_Select_Size(h->face, 0);
    h->hb = hb_ft_font_create_referenced(h->face);
    hb_ft_font_set_funcs(h->hb);
    h->family = h->face->family_name ? h->face->family_name : "";
    h->bold = (h->face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    h->italic = (h->face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    // The family as fontconfig names it (first family entry) is better for
    // requests than FreeType's; a font outside fontconfig's caches is queried.
    if (const std::string* family = impl_->CachedFamily(file + "|" + std::to_string(index))) {
        h->family = *family;
    } else if (FcPattern* pat = FcFreeTypeQueryFace(h->face, reinterpret_cast<const FcChar8*>(file.c_str()), index, nullptr)) {
        FcChar8* fam = nullptr;
        if (FcPatternGetString(pat, FC_FAMILY, 0, &fam) == FcResultMatch && fam) h->family = reinterpret_cast<char*>(fam);
        FcPatternDestroy(pat);
    }
    auto* raw = h.get();
    impl_->faces[key] = std::move(h);
    return raw;
}

Font* FontManager::Create(std::string_view familyList, int pixelSize, int weight, bool italic, unsigned decoration) {
    auto font = std::make_unique<Font>();
    font->requested = std::string(familyList);
    font->pixelSize = std::clamp(pixelSize, 1, 2000);
    font->weight = weight;
    font->italic = italic;
    font->decoration = decoration;

    std::string key = platform::ToLowerAscii(familyList) + "|" + std::to_string(weight) + "|" + (italic ? "i" : "r");
    auto cached = impl_->matches.find(key);
    const std::size_t facesBefore = impl_->faces.size();
    const bool matched = cached == impl_->matches.end();
    if (matched) {
        auto match = std::make_unique<Match>();
        auto families = SplitFamilies(familyList);
        for (std::size_t i = 0; i <= families.size() && !match->request; ++i) {
            bool last = i == families.size();
            std::string fam = last ? "sans-serif" : families[i];
            std::string generic = GenericFamily(platform::ToLowerAscii(fam));
            FcPattern* p = FcPatternCreate();
            FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(generic.empty() ? fam.c_str() : generic.c_str()));
            FcPatternAddInteger(p, FC_WEIGHT, FcWeightOf(weight));
            FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
            FcConfigSubstitute(impl_->config, p, FcMatchPattern);
            FcDefaultSubstitute(p);
            FcResult res;
            FcPattern* m = FcFontMatch(impl_->config, p, &res);
            bool accept = false;
            if (m) {
                FcChar8* got = nullptr;
                if (!generic.empty() || last) accept = true;
                // The family itself, or one fontconfig names as its alias (a
                // metric-compatible substitute), counts as a match.
                for (int k = 0; !accept && FcPatternGetString(m, FC_FAMILY, k, &got) == FcResultMatch; ++k)
                    accept = platform::ToLowerAscii(reinterpret_cast<char*>(got)) == platform::ToLowerAscii(fam);
            }
            // A family nobody has: the only named family still decides through
            // fontconfig's own substitution (a missing "Verdana" becomes a sans-serif).
            if (!accept && m && i == 0 && families.size() == 1) accept = true;
            if (accept) {
                FcChar8* file = nullptr;
                FcPatternGetString(m, FC_FILE, 0, &file);
                FcPatternGetInteger(m, FC_INDEX, 0, &match->index);
                if (file) match->file = reinterpret_cast<char*>(file);
                match->request = p;
            } else {
                FcPatternDestroy(p);
            }
            if (m) FcPatternDestroy(m);
        }
        cached = impl_->matches.emplace(key, std::move(match)).first;
    }
    font->match = cached->second.get();
    if (!font->match->file.empty()) {
        if (FaceHandle* h = Open(font->match->file, font->match->index, font->pixelSize)) font->chain.push_back(h);
    }

    if (!font->chain.empty()) {
        FT_Face f = font->chain[0]->face;
        if (FT_IS_SCALABLE(f)) {
            double scale = static_cast<double>(font->pixelSize) / f->units_per_EM;
            auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
            int asc = f->ascender, desc = -f->descender, gap = f->height - f->ascender + f->descender;
            if (os2 && (os2->usWinAscent + os2->usWinDescent) > 0) {
                asc = os2->usWinAscent, desc = os2->usWinDescent, gap = 0;
            }
            font->ascent = static_cast<int>(std::ceil(asc * scale));
            font->descent = static_cast<int>(std::ceil(desc * scale));
            font->height = font->ascent + font->descent + static_cast<int>(std::lround(std::max(0, gap) * scale));
            font->xHeight = os2 && os2->sxHeight > 0 ? static_cast<int>(std::lround(os2->sxHeight * scale))
                                                     : font->pixelSize / 2;
        } else {
            font->ascent = static_cast<int>(f->size->metrics.ascender >> 6);
            font->descent = static_cast<int>(-(f->size->metrics.descender >> 6));
            font->height = static_cast<int>(f->size->metrics.height >> 6);
            font->xHeight = font->pixelSize / 2;
        }
    } else {
        font->ascent = font->pixelSize * 9 / 10;
        font->descent = font->pixelSize / 4;
        font->height = font->ascent + font->descent;
        font->xHeight = font->pixelSize / 2;
    }
    if ((matched || impl_->faces.size() != facesBefore) && impl_->newRequests.size() < kMaxNewRequests)
        impl_->newRequests.push_back({font->requested, font->pixelSize, weight, italic});
    auto* raw = font.get();
    impl_->fonts.push_back(std::move(font));
    return raw;
}

void FontManager::Release(Font* f) {
    auto& v = impl_->fonts;
    v.erase(std::remove_if(v.begin(), v.end(), [f](const auto& p) { return p.get() == f; }), v.end());
}

int FontManager::FaceFor(Font& font, char32_t c) {
    if (auto it = font.faceOfChar.find(c); it != font.faceOfChar.end()) return it->second;
    int found = -1;
    for (std::size_t i = 0; i < font.chain.size(); ++i) {
        if (FT_Get_Char_Index(font.chain[i]->face, c) != 0) {
            found = static_cast<int>(i);
            break;
        }
    }
    Match* m = font.match;
    if (found < 0 && m && m->request && !m->sorted) {
        m->sorted = true;
        FcResult res;
        FcFontSet* set = FcFontSort(impl_->config, m->request, FcTrue, nullptr, &res);
        if (set) {
            for (int k = 0; k < set->nfont && k < 64; ++k) {
                FcChar8* f = nullptr;
                int idx = 0;
                if (FcPatternGetString(set->fonts[k], FC_FILE, 0, &f) != FcResultMatch) continue;
                FcPatternGetInteger(set->fonts[k], FC_INDEX, 0, &idx);
                m->fallbacks.emplace_back(reinterpret_cast<char*>(f), idx);
            }
            FcFontSetDestroy(set);
        }
    }
    while (found < 0 && m && font.nextFallback < m->fallbacks.size()) {
        const auto& [file, index] = m->fallbacks[font.nextFallback++];
        FaceHandle* h = Open(file, index, font.pixelSize);
        if (!h || std::find(font.chain.begin(), font.chain.end(), h) != font.chain.end()) continue;
        font.chain.push_back(h);
        if (FT_Get_Char_Index(h->face, c) != 0) found = static_cast<int>(font.chain.size() - 1);
    }
    font.faceOfChar[c] = found;
    return found;
}

std::vector<ShapedRun> FontManager::Shape(Font& font, std::string_view utf8) {
    // Fonts of one request and size start from the same face and fall back
    // through the same list, each character to the first face that has it, so
    // the result depends on nothing else.
    if (font.chain.empty() || !font.match || utf8.size() > kMaxShapedTextBytes) return ShapeUncached(font, utf8);
    // The match's address names the face: its bytes start the key.
    std::string key(reinterpret_cast<const char*>(&font.match), sizeof font.match);  // NOLINT(bugprone-sizeof-expression)
    key.append(reinterpret_cast<const char*>(&font.pixelSize), sizeof font.pixelSize);
    key.append(utf8);
    if (auto it = impl_->shapes.find(key); it != impl_->shapes.end()) return it->second;
    std::vector<ShapedRun> runs = ShapeUncached(font, utf8);
    std::size_t bytes = key.size() + 64;
    for (const auto& r : runs) bytes += sizeof r + r.family.size() + r.text.size() * 2 + r.advances.size() * sizeof(double);
    if (impl_->shapeBytes + bytes > kShapeCacheBytes) {
        impl_->shapes.clear();
        impl_->shapeBytes = 0;
    }
    impl_->shapeBytes += bytes;
    impl_->shapes.emplace(std::move(key), runs);
    return runs;
}

std::vector<ShapedRun> FontManager::ShapeUncached(Font& font, std::string_view utf8) {
    std::vector<ShapedRun> runs;
    std::u32string text = platform::Utf32FromUtf8(utf8);
    if (text.empty()) return runs;
    if (font.chain.empty()) {
        // No font file at all: an estimate so layout still works.
        ShapedRun r;
        r.family = "sans-serif";
        r.text = platform::Utf16FromUtf8(utf8);
        r.advances.assign(r.text.size(), font.pixelSize * 0.5);
        r.width = font.pixelSize * 0.5 * r.text.size();
        runs.push_back(std::move(r));
        return runs;
    }
    // Split into pieces of one face each; spaces and marks stay with their neighbours.
    std::vector<int> faceOf(text.size());
    int prev = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        bool neutral = c == ' ' || c == 0xA0 || (c >= 0x300 && c < 0x370) || c == 0x200B || c == 0x200C || c == 0x200D;
        if (neutral && FT_Get_Char_Index(font.chain[prev]->face, c) != 0) {
            faceOf[i] = prev;
            continue;
        }
        int f = FaceFor(font, c);
        faceOf[i] = f < 0 ? 0 : f;
        prev = faceOf[i];
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start + 1;
        while (end < text.size() && faceOf[end] == faceOf[start]) ++end;
        FaceHandle* h = font.chain[faceOf[start]];
        std::u32string piece = text.substr(start, end - start);

        hb_buffer_t* buf = hb_buffer_create();
        hb_buffer_add_utf32(buf, reinterpret_cast<const uint32_t*>(piece.data()), static_cast<int>(piece.size()), 0,
                            static_cast<int>(piece.size()));
        hb_buffer_guess_segment_properties(buf);
        // The page image records characters, each drawn with its own glyph at
        // its advance: a ligature glyph would have no character to stand on.
        static const hb_feature_t kNoLigatures[] = {
            {HB_TAG('l', 'i', 'g', 'a'), 0, 0, ~0u},
            {HB_TAG('c', 'l', 'i', 'g'), 0, 0, ~0u},
            {HB_TAG('d', 'l', 'i', 'g'), 0, 0, ~0u},
        };
        hb_shape(h->hb, buf, kNoLigatures, 3);
        unsigned n = 0;
        hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf, &n);
        hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buf, &n);
        std::vector<double> perChar(piece.size(), 0.0);
        for (unsigned g = 0; g < n; ++g) {
            unsigned cl = std::min<unsigned>(info[g].cluster, static_cast<unsigned>(piece.size() - 1));
            perChar[cl] += pos[g].x_advance / 64.0;
        }
        // Text is recorded in logical order, right-to-left text too: whoever
        // draws the page image orders it for display, as text records are.
        hb_buffer_destroy(buf);

        ShapedRun run;
        run.family = h->family;
        run.syntheticBold = font.weight >= 600 && !h->bold;
        run.syntheticItalic = font.italic && !h->italic;
        for (std::size_t k = 0; k < piece.size(); ++k) {
            char32_t c = piece[k];
            if (c >= 0x10000) {
                run.text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                run.text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
                run.advances.push_back(perChar[k]);
                run.advances.push_back(0);
            } else {
                run.text += static_cast<char16_t>(c);
                run.advances.push_back(perChar[k]);
            }
            run.width += perChar[k];
        }
        runs.push_back(std::move(run));
        start = end;
    }
    return runs;
}

int FontManager::Width(Font& font, std::string_view utf8) {
    std::string key(utf8);
    if (auto it = font.widthCache.find(key); it != font.widthCache.end()) return it->second;
    double w = 0;
    for (const auto& r : Shape(font, utf8)) w += r.width;
    int px = static_cast<int>(std::lround(w));
    if (font.widthCache.size() < 20000) font.widthCache.emplace(std::move(key), px);
    return px;
}

}  // namespace htmlengine
