// Style text as the engine is given it. litehtml reads some CSS as no
// browser does; these rewrites put the text into a form it lays out as a
// browser prints the page:
// - gradients become picture addresses the container paints (WrapGradients);
// - media features litehtml does not know (prefers-color-scheme, hover, ...)
//   are decided here, for a light colour scheme on a desktop without scripts:
//   a query they make false is dropped, a block with no query left goes;
// - fixed positioning becomes relative, its offsets auto: such furniture is
//   laid out once, where it stands in the flow, and still holds what is
//   positioned inside it;
// - header and footer row groups become plain row groups (litehtml stacks
//   their cells); the markup clean-up moves a footer group to its table's end.
#pragma once

#include <string>
#include <string_view>

namespace htmlengine {

// A whole style sheet (a <style> element's text or a linked sheet).
std::string PrepareStyleSheet(std::string_view css);
// The declarations of a style attribute.
std::string PrepareStyleAttribute(std::string_view declarations);

// Whether a media query list holds for the add-on's device, as far as the
// features litehtml does not evaluate go; the rest is left in `kept` (the
// list without the decided features) for litehtml. False: no query can hold.
bool DecideMediaQueries(std::string_view queries, std::string& kept);

// Whether style text may need one of the rewrites (a quick scan): text
// without any is given to the engine as written.
bool StyleTextNeedsRewrite(std::string_view css);

}  // namespace htmlengine
