// The engine's own default style sheet: what every element looks like before
// the page's sheets apply. Screen rendering of HTML 4 and common HTML5 markup.
#include "user_agent_css.h"

namespace htmlengine {

const char* UserAgentStyleSheet() {
    return R"css(
html { display: block; }
head, script, style, title, meta, link, base, noscript, template, datalist, param, source, track,
area, map, noframes, noembed, input[type="hidden"], [hidden] { display: none; }
body { display: block; margin: 8px; }
address, article, aside, blockquote, center, dd, details, dialog, dir, div, dl, dt, fieldset, figcaption,
figure, footer, form, header, hgroup, hr, legend, listing, main, menu, nav, ol, p, plaintext, pre,
search, section, summary, ul, xmp, frameset, frame, iframe { display: block; }
p, dl, multicol { margin-top: 1em; margin-bottom: 1em; }
dd { margin-left: 40px; }
blockquote, figure { margin: 1em 40px; }
address, i, cite, dfn, em, var { font-style: italic; }
center { text-align: center; }
h1 { display: block; font-size: 2em; margin: 0.67em 0; font-weight: bold; }
h2 { display: block; font-size: 1.5em; margin: 0.83em 0; font-weight: bold; }
h3 { display: block; font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { display: block; font-size: 1em; margin: 1.33em 0; font-weight: bold; }
h5 { display: block; font-size: 0.83em; margin: 1.67em 0; font-weight: bold; }
h6 { display: block; font-size: 0.67em; margin: 2.33em 0; font-weight: bold; }
pre, listing, xmp, plaintext { white-space: pre; font-family: monospace; margin: 1em 0; }
code, kbd, samp, tt, var { font-family: monospace; }
b, strong, th { font-weight: bold; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
big { font-size: larger; }
small { font-size: smaller; }
sub { font-size: smaller; position: relative; top: 0.3em; }
sup { font-size: smaller; position: relative; top: -0.45em; }
nobr { white-space: nowrap; }
mark { background-color: yellow; color: black; }
abbr[title], acronym[title] { text-decoration: underline; }
q:before { content: "\201C"; }
q:after { content: "\201D"; }
a:link, a:visited { color: #0000EE; text-decoration: underline; }
a[href] { color: #0000EE; text-decoration: underline; }
hr { border: 1px inset; margin: 0.5em auto; color: gray; height: 0; }
img { display: inline-block; }
br { display: block; }
wbr { display: inline; }
ul, menu, dir { list-style-type: disc; margin: 1em 0; padding-left: 40px; }
ol { list-style-type: decimal; margin: 1em 0; padding-left: 40px; }
ul ul, ol ul, ul ol, ol ol, ul menu, ol menu, ul dir, ol dir { margin-top: 0; margin-bottom: 0; }
ul ul, ol ul, menu ul, dir ul { list-style-type: circle; }
ul ul ul, ul ol ul, ol ul ul, ol ol ul { list-style-type: square; }
li { display: list-item; }
table { display: table; border-collapse: separate; border-spacing: 2px; text-indent: 0; }
table[border] { border-style: outset; border-width: 1px; }
table[border] td, table[border] th { border: 1px inset gray; }
caption { display: table-caption; text-align: center; }
colgroup { display: table-column-group; }
col { display: table-column; }
thead { display: table-header-group; vertical-align: middle; }
tbody { display: table-row-group; vertical-align: middle; }
tfoot { display: table-footer-group; vertical-align: middle; }
tr { display: table-row; vertical-align: inherit; }
td, th { display: table-cell; vertical-align: inherit; padding: 1px; }
th { text-align: center; }
table > tr { vertical-align: middle; }
fieldset { margin: 0 2px; padding: 0.35em 0.75em 0.625em; border: 2px groove #C0C0C0; }
legend { padding: 0 2px; }
input, select, button, textarea { display: inline-block; font-family: sans-serif; font-size: 13px;
  color: black; }
input, textarea, select { border: 2px inset #E0E0E0; background-color: white; padding: 1px 2px; }
input[type="checkbox"], input[type="radio"] { width: 13px; height: 13px; margin: 3px; padding: 0; }
input[type="submit"], input[type="button"], input[type="reset"], button { border: 2px outset #E0E0E0;
  background-color: #E0E0E0; padding: 1px 6px; }
input[type="image"] { border: none; padding: 0; background-color: transparent; }
span.vm-input { display: inline-block; font-family: sans-serif; font-size: 13px; color: black; white-space: pre;
  border: 2px inset #E0E0E0; background-color: white; padding: 1px 2px; min-width: 8em; height: 1.2em; overflow: hidden; }
span.vm-button { min-width: 0; border: 2px outset #E0E0E0; background-color: #E0E0E0; padding: 1px 6px; }
span.vm-check { min-width: 0; width: 13px; height: 13px; padding: 0; margin: 3px; text-align: center; line-height: 13px; }
textarea { white-space: pre-wrap; font-family: monospace; }
option { display: none; }
optgroup { display: inline; }
select option[selected] { display: inline; }
details > summary { display: list-item; list-style-type: disc; }
summary { font-weight: normal; }
ruby { display: inline; }
rt { font-size: 50%; }
progress, meter { display: inline-block; width: 10em; height: 1em; background-color: #E0E0E0; }
marquee { display: inline-block; }
frameset { display: block; }
)css";
}

}  // namespace htmlengine
