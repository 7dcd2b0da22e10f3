#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace htmlengine {
// The default style sheet every document starts from.
const char* UserAgentStyleSheet();

// Lower-case tag named by the subject of one selector (its rightmost compound:
// "td" for "table[border] td", "q" for "q:before"); empty when the subject
// names no tag ("*", ".x", "[hidden]", ":link") or when it cannot be told for
// sure (escapes, namespaces).
std::string SelectorSubjectTag(std::string_view selector);

// A style sheet split into its rules once, so that the part of it a document
// can use is cheap to cut out: a selector whose subject names a tag the
// document does not have matches nothing there.
class PrunableStyleSheet {
public:
    explicit PrunableStyleSheet(std::string_view css);

    // The sheet without the selectors whose subject tag is not in `tags`
    // (sorted, lower-case). Kept rules stay in their order, so the cascade is
    // the one of the whole sheet; a rule left without selectors goes; at-rules
    // (@media, @import, ...) stay whole.
    std::string Prune(const std::vector<std::string>& tags) const;

private:
    struct Selector {
        std::string text;
        std::string tag;  // empty: always kept
    };
    struct Piece {
        std::string verbatim;             // at-rules and text that is not a rule
        std::vector<Selector> selectors;  // a rule when not empty
        std::string block;                // "{ ... }" of the rule
    };
    std::vector<Piece> pieces_;
};

// Tags the HTML parser may make up itself (implied elements, repaired tables)
// even when the markup it is given does not name them.
const std::vector<std::string>& ImpliedTags();
}  // namespace htmlengine
