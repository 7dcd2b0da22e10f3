// Hostile-markup guard: the document is parsed once with gumbo and written
// back as HTML with its nesting bounded, so the layout never recurses without
// end. Also reports what the layout needs to know about the markup.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace htmlengine {

// A frameset and what it holds, in document order: frames and framesets.
struct FrameNode {
    bool isFrame = false;
    std::string src;             // frames
    std::string rows, cols;      // framesets, as written
    std::vector<FrameNode> kids;
};

// Where an element was written: its start tag [open, openEnd), its end tag
// [close, closeEnd) (empty for elements without one), and the element it
// was written in (-1: none).
struct ElementSpan {
    int parent = -1;
    std::size_t open = 0, openEnd = 0, close = 0, closeEnd = 0;
};

// An inline <svg> as a document of its own. Its text is drawn as text where
// the SVG library places every text element: the picture is then drawn from
// `withoutText`, and each text at its place over it.
struct InlineSvg {
    std::string document;     // as written, with an id on each text element
    std::string withoutText;  // the same with its text elements transparent; empty: keep the text in the picture
    struct Text {
        std::string id, text;
        std::string family, fill;  // as the SVG gives them; may be empty
        int weight = 400;
        bool italic = false;
        double size = 0;           // font size in SVG units, 0 when not given
    };
    std::vector<Text> texts;
};

struct SanitizedHtml {
    std::string html;
    bool quirks = false;           // no or an old doctype: "BackCompat"
    bool depthFlattened = false;   // elements beyond the depth cap were left out, their content kept
    bool hasText = false;          // the body holds text that is not only white space
    bool tablesFlattened = false;  // tables beyond the table cap became blocks
    bool frameset = false;
    FrameNode frames;              // the first top-level frameset
    std::vector<std::pair<std::string, std::string>> imageAlts;  // src, alt of <img> elements
    // Inline <svg> elements, each written as an <img> whose address is
    // kInlineSvgScheme and its index here.
    std::vector<InlineSvg> inlineSvgs;
    std::vector<std::string> tags;  // every tag written, lower-case, sorted, once each
    std::vector<ElementSpan> spans;  // every element written, in document order (SanitizeHtml only)
};

// litehtml reads gradients as colours (black). Style text goes through this
// first: every *-gradient(...) becomes url("vm-gradient:...") so the engine
// keeps it as a background image and the container paints it.
std::string WrapGradients(std::string_view css);
inline constexpr std::string_view kGradientScheme = "vm-gradient:";
inline constexpr std::string_view kInlineSvgScheme = "vm-inline-svg:";

SanitizedHtml SanitizeHtml(std::string_view utf8, int maxDepth, int maxTableDepth);

// Most documents need none of SanitizeHtml's rewriting. A scan of the markup
// (no tree is built) tells them: no form fields, lists to choose from,
// frames, pictures, foreign content, templates or gradients; one body tag
// without a style; scripts without comment-like text; nesting that does not
// run away. Such a document comes back as written, its doctype replaced by
// the standards one and its body made visible, as SanitizeHtml writes them,
// with the tags it names. What the scan cannot see, the depth of the tree the
// parser builds, the caller checks on the laid-out tree (WithinCaps in the
// engine) and falls back to SanitizeHtml when it is too deep. nullopt: the
// document needs SanitizeHtml.
std::optional<SanitizedHtml> PassThroughHtml(std::string_view utf8, int maxDepth);

}  // namespace htmlengine
