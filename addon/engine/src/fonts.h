// Fonts for the layout: CSS family lists matched through fontconfig, metrics
// from FreeType, shaping by HarfBuzz, and per-character fallback to a font
// that has the character (CJK, Greek, Cyrillic, Arabic, symbols).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace htmlengine {

struct FaceHandle;  // one opened font file at one pixel size
struct Match;       // what fontconfig answered for a family list, weight and slant

struct Font {
    std::string requested;   // the family list as the style sheet gave it
    int pixelSize = 16;
    int weight = 400;
    bool italic = false;
    unsigned decoration = 0; // litehtml's decoration bits
    int ascent = 0, descent = 0, height = 0, xHeight = 0;
    // The matched font, then fallbacks in fontconfig's order (opened lazily).
    std::vector<FaceHandle*> chain;
    struct Match* match = nullptr;            // the shared font-configuration answer
    std::size_t nextFallback = 0;             // next of match's fallbacks to open
    std::unordered_map<char32_t, int> faceOfChar;  // index into chain, -1 none has it
    std::unordered_map<std::string, int> widthCache;
};

// A piece of text drawn with one face.
struct ShapedRun {
    std::string family;           // face's family name, as a font request would name it
    std::u16string text;
    std::vector<double> advances; // per UTF-16 code unit
    double width = 0;
    bool syntheticBold = false, syntheticItalic = false;
};

// A font as the layout asked for it, enough to make it again.
struct FontRequest {
    std::string familyList;
    int pixelSize = 16;
    int weight = 400;
    bool italic = false;
};

class FontManager {
public:
    FontManager();
    ~FontManager();
    FontManager(const FontManager&) = delete;
    FontManager& operator=(const FontManager&) = delete;

    // Never null: when nothing matches, the default sans-serif font is used.
    Font* Create(std::string_view familyList, int pixelSize, int weight, bool italic, unsigned decoration);
    void Release(Font*);

    std::vector<ShapedRun> Shape(Font&, std::string_view utf8);
    int Width(Font&, std::string_view utf8);

    // The requests that made this manager ask fontconfig or open a face since
    // the last call (a bounded number). A layout process hands them to the
    // process it was forked from, so that the next layout process finds them
    // ready instead of setting up the same fonts again.
    std::vector<FontRequest> TakeNewRequests();
    // Makes each request once (matching, opening, shaping a sample), up to a
    // limit for the manager's lifetime, so what it keeps stays small.
    void Prepare(const std::vector<FontRequest>& requests);

private:
    std::vector<ShapedRun> ShapeUncached(Font&, std::string_view utf8);
    FaceHandle* Open(const std::string& file, int index, int pixelSize);
    int FaceFor(Font&, char32_t c);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The font manager of the process, made on first use. Layout processes are
// forked from this process and inherit what it has set up.
FontManager& SharedFonts();
// The same, or nullptr when nothing has made it yet.
FontManager* SharedFontsIfMade();
// Held while the shared manager is changed outside a layout, and around the
// fork of a layout process, so that no child inherits it half changed.
std::mutex& SharedFontsLock();

}  // namespace htmlengine
