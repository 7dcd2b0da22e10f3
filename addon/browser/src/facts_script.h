// The script that reads a laid-out document's facts in the tab. It answers
// one JSON text:
//   {compat, url, sw, sh, bsw, frameset, bottom,
//    el: [[TAG, breakBefore, breakAfter, [[l,t,r,b], ...]], ...],
//    a:  [[href, hrefAttr, protocol, name, [[l,t,r,b], ...]], ...]}
// `el` lists, in document order, only the elements whose breaks count (a
// computed page-break-before or -after of "always") and the pictures (which
// may get a break before them); `bottom` is the greatest bottom of every
// element's boxes but the root's and the body's. `a` lists the anchors and,
// as named targets at their top-left corner, the elements with an id; a
// target without boxes of its own lies where the next thing laid out lies.
// With `measureOnly` the script reads the sizes and nothing else.
#pragma once

#include <string>

namespace browser {

inline std::string FactsScript(bool measureOnly) {
    std::string s = R"JS((() => {
const measureOnly = MEASURE_ONLY;
const de = document.documentElement, body = document.body;
const sx = window.scrollX, sy = window.scrollY;
const R = (r) => [Math.round(r.left + sx), Math.round(r.top + sy), Math.round(r.right + sx), Math.round(r.bottom + sy)];
const out = {compat: document.compatMode, url: location.href, sw: de ? de.scrollWidth : 0,
  sh: de ? de.scrollHeight : 0, bsw: body ? body.scrollWidth : 0,
  frameset: !!document.querySelector('frameset'), bottom: 0, el: [], a: []};
if (!measureOnly) {
  for (const i of document.querySelectorAll('input[type=hidden]')) { i.style.width = '0'; i.style.height = '0'; }
  if (body) body.style.visibility = 'visible';
}
let waiting = [];
const shown = (e) => e.checkVisibility ? e.checkVisibility() : e.getClientRects().length > 0;
for (const e of document.getElementsByTagName('*')) {
  const tag = e.tagName.toUpperCase();
  const rs = Array.from(e.getClientRects(), R);
  if (tag !== 'HTML' && tag !== 'BODY') for (const r of rs) if (r[3] > out.bottom) out.bottom = r[3];
  if (measureOnly) continue;
  if (rs.length && waiting.length) {
    for (const w of waiting) w[4] = [[rs[0][0], rs[0][1], rs[0][0], rs[0][1]]];
    waiting = [];
  }
  const cs = getComputedStyle(e);
  const before = cs.pageBreakBefore === 'always', after = cs.pageBreakAfter === 'always';
  if (before || after || tag === 'IMG') out.el.push([tag, before, after, rs]);
  let name = null;
  if (tag === 'A') {
    const has = e.hasAttribute('href');
    name = e.getAttribute('name');
    const a = [has ? e.href : '', e.getAttribute('href') || '', has ? e.protocol : '', name || '', rs];
    out.a.push(a);
    if (!rs.length && name && shown(e)) waiting.push(a);
  }
  const id = e.id;
  if (id && id !== name) {
    const a = ['', '', '', id, rs.length ? [[rs[0][0], rs[0][1], rs[0][0], rs[0][1]]] : []];
    out.a.push(a);
    if (!rs.length && shown(e)) waiting.push(a);
  }
}
return JSON.stringify(out);
})())JS";
    auto at = s.find("MEASURE_ONLY");
    s.replace(at, 12, measureOnly ? "true" : "false");
    return s;
}

// Put in before printing: the printed page is the screen's layout, so the
// breaks (already read) and the page rules of the document must not split it.
inline const char* kPrintStyle =
    "@page{size:auto;margin:0 !important}"
    "*,*::before,*::after{break-before:auto !important;break-after:auto !important;"
    "break-inside:auto !important;page-break-before:auto !important;page-break-after:auto !important;"
    "page-break-inside:auto !important;orphans:1 !important;widows:1 !important}"
    "html{-webkit-print-color-adjust:exact !important;print-color-adjust:exact !important}";

}  // namespace browser
