#!/usr/bin/env python3
"""Where the in-document links of converted HTML pages land, and what text the
page boundaries lose or double.

For every page of the list the script converts it twice with the given
vellumate: as it is, and as a twin copy whose links to its own anchors are
rewritten to addresses that carry the fragment (with a <base> so that the
layout stays the same). A GoTo link of the first PDF is paired with the URI
link of the twin at the same place, which tells its fragment. The link lands
when its destination page holds the first words of the target's text (the
element with that id, or <a name>) within a line's height of the destination.

Text: the words of the PDF (pdftotext -raw) against those of the same page
converted with its page boundaries elsewhere; lost and doubled are counted
word by word, and a line that ends one page and starts the next is a line
doubled at a boundary.

Usage: measure_links.py --vellumate BIN --work DIR [--tsv] FILE...
(--tsv: one line per file: path, links, landed, lost, doubled, error; the
PDF of the i-th file is DIR/i.pdf)
The caller provides the environment (a registry with both components).
"""
import argparse
import collections
import html.parser
import os
import re
import subprocess
import sys
import urllib.parse

TWIN_HOST = "http://fragment.invalid/"
HERE = os.path.dirname(os.path.abspath(__file__))
PDF_LINKS = os.path.join(HERE, "..", "tests", "html_pdf", "pdf_links.py")


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, **kw)


def norm(word):
    return re.sub(r"[^0-9a-z]", "", word.lower())


def decode(raw):
    m = re.search(rb"charset\s*=\s*[\"']?([A-Za-z0-9_-]+)", raw[:4096], re.I)
    enc = m.group(1).decode() if m else "utf-8"
    try:
        return raw.decode(enc, "replace")
    except LookupError:
        return raw.decode("utf-8", "replace")


class TargetText(html.parser.HTMLParser):
    """The first words of text at or after each id and <a name>."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.waiting = []  # names still wanting words
        self.words = {}
        self.skip = 0

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style", "title", "head"):
            self.skip += 1
        a = dict(attrs)
        for key in ("id",) + (("name",) if tag == "a" else ()):
            name = a.get(key)
            if name and name not in self.words:
                self.words[name] = []
                self.waiting.append(name)
        if tag == "input" and a.get("type") in ("submit", "button") and a.get("value"):
            self.handle_data(a["value"])

    def handle_endtag(self, tag):
        if tag in ("script", "style", "title", "head") and self.skip:
            self.skip -= 1

    def handle_data(self, data):
        if self.skip or not self.waiting:
            return
        tokens = [t for t in (norm(w) for w in data.split()) if t]
        for name in list(self.waiting):
            self.words[name].extend(tokens[: 2 - len(self.words[name])])
            if len(self.words[name]) >= 2:
                self.waiting.remove(name)


def own_fragment(value, own):
    """The fragment of a link to this very page ("" for its top), else None."""
    path, frag = value.split("#", 1) if "#" in value else (value, "")
    if path == "" or os.path.basename(urllib.parse.unquote(path)) == own:
        return urllib.parse.unquote(frag)
    return None


def make_twin(src, dst):
    raw = open(src, "rb").read()
    own = os.path.basename(src).encode()
    base = ('<base href="file://%s/">' % urllib.parse.quote(os.path.dirname(os.path.abspath(src)))).encode()

    def href(m):
        value = m.group(3).decode("latin-1")
        frag = own_fragment(value, own.decode("latin-1"))
        if frag is None:
            return m.group(0)
        return m.group(1) + m.group(2) + (TWIN_HOST + "f" + urllib.parse.quote(frag, safe="")).encode() + m.group(2)

    twin = re.sub(rb"(\bhref\s*=\s*)([\"'])(.*?)\2", href, raw, flags=re.I | re.S)
    m = re.search(rb"<head[^>]*>", twin, re.I)
    at = m.end() if m else 0
    twin = twin[:at] + base + twin[at:]
    with open(dst, "wb") as f:
        f.write(twin)


def links(pdf):
    q = run(["qpdf", "--json", "--json-stream-data=none", pdf])
    out = run([sys.executable, PDF_LINKS], input=q.stdout).stdout.decode()
    result = []
    for line in out.splitlines():
        f = line.split(None, 7)
        if len(f) < 7:
            continue
        if f[1] == "goto":
            rect = tuple(float(v) for v in f[3:7])
            top = float(f[7]) if len(f) > 7 and f[7] != "-" else None
            result.append({"page": int(f[0]), "kind": "goto", "target": int(f[2]), "rect": rect, "top": top})
        else:
            rect = tuple(float(v) for v in f[2:6])
            rest = line.split(None, 6)
            result.append({"page": int(f[0]), "kind": "uri", "rect": rect, "uri": rest[6] if len(rest) > 6 else ""})
    return result


WORD = re.compile(r'<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>')
PAGE = re.compile(r'<page width="([0-9.]+)" height="([0-9.]+)">')


def pages_words(pdf):
    """Per page: (height, [(yMin, yMax, xMin, normalised word)])."""
    pages = []
    for line in run(["pdftotext", "-bbox", pdf, "-"]).stdout.decode("utf-8", "replace").splitlines():
        m = PAGE.search(line)
        if m:
            pages.append((float(m.group(2)), []))
            continue
        m = WORD.search(line)
        if m and pages:
            word = html.unescape(m.group(5))
            pages[-1][1].append((float(m.group(2)), float(m.group(4)), float(m.group(1)), norm(word)))
    return pages


def lands(pages, page, top_from_bottom, first):
    """Whether the target's first words are within a line of the destination."""
    if not first or page < 1 or page > len(pages):
        return False
    height, words = pages[page - 1]
    top = height - top_from_bottom if top_from_bottom is not None else 0
    for i, (y0, y1, _, w) in enumerate(words):
        if not w or not (w.startswith(first[0]) or first[0].startswith(w)):
            continue
        line = max(y1 - y0, 1.0) * 1.25
        if abs(y0 - top) <= line:
            return True
    return False


def pdf_words(pdf):
    raw = run(["pdftotext", "-raw", pdf, "-"]).stdout.decode("utf-8", "replace")
    return raw, collections.Counter(w.lower() for w in re.split(r"[^A-Za-z0-9]+", raw) if w)


def text_check(pdf, shifted):
    """Words lost and doubled at page boundaries: the same page converted with
    its boundaries elsewhere (a deeper top margin) must hold the same words;
    what one of the two lacks or has twice was lost or doubled at a boundary
    of that one. A line that ends a page and starts the next is a line doubled
    at that boundary."""
    raw, have = pdf_words(pdf)
    _, other = pdf_words(shifted)
    lost = sum(max(0, n - have[w]) for w, n in other.items())
    doubled = sum(max(0, n - other[w]) for w, n in have.items())
    boundary = 0
    page_texts = raw.split("\f")
    for a, b in zip(page_texts, page_texts[1:]):
        tail = [l.strip() for l in a.strip().splitlines()[-3:] if len(l.strip()) > 12]
        head = [l.strip() for l in b.strip().splitlines()[:3]]
        boundary += sum(1 for l in tail if l in head)
    return lost, doubled, boundary, sum(have.values())


def measure(vellumate, work, src, index):
    out = os.path.join(work, "%d.pdf" % index)
    twin_html = os.path.join(work, "%d-twin%s" % (index, os.path.splitext(src)[1]))
    twin_pdf = os.path.join(work, "%d-twin.pdf" % index)
    make_twin(src, twin_html)
    shifted = os.path.join(work, "%d-shifted.pdf" % index)
    for html_path, pdf, extra in ((src, out, []), (twin_html, twin_pdf, []),
                                  (src, shifted, ["/margin-top", "311", "/margin-bottom", "0"])):
        r = run([vellumate, os.path.abspath(html_path), pdf, "/compress", "flate"] + extra)
        if r.returncode != 0:
            return {"file": src, "error": "exit %d" % r.returncode}
    raw = open(src, "rb").read()
    parser = TargetText()
    parser.feed(decode(raw))
    first_words = parser.words
    mine, twins = links(out), links(twin_pdf)
    pages = pages_words(out)
    total = landed = unpaired = 0
    misses = []
    for l in mine:
        if l["kind"] != "goto":
            continue
        match = [t for t in twins if t["kind"] == "uri" and t["page"] == l["page"] and t["uri"].startswith(TWIN_HOST)
                 and all(abs(a - b) < 0.6 for a, b in zip(t["rect"], l["rect"]))]
        if not match:
            unpaired += 1
            continue
        frag = urllib.parse.unquote(match[0]["uri"][len(TWIN_HOST) + 1:])
        total += 1
        if frag == "" and l["target"] == 1:
            landed += 1  # "#" alone: the top of the document
        elif lands(pages, l["target"], l["top"], first_words.get(frag, [])):
            landed += 1
        elif len(misses) < 5:
            misses.append("#%s -> page %d top %s %s" % (frag, l["target"], l["top"], first_words.get(frag)))
    lost, doubled, boundary, words = text_check(out, shifted)
    return {"file": src, "pages": len(pages), "links": total, "landed": landed, "unpaired": unpaired,
            "words": words, "lost": lost, "doubled": doubled, "boundaryLines": boundary, "misses": misses}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vellumate", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--tsv", action="store_true")
    ap.add_argument("files", nargs="+")
    a = ap.parse_args()
    results = [measure(a.vellumate, a.work, f, i) for i, f in enumerate(a.files)]
    if a.tsv:
        for r in results:
            print("\t".join(str(r.get(k, "")) for k in ("file", "links", "landed", "lost", "doubled", "error")))
        return
    t = collections.Counter()
    for r in results:
        if "error" in r:
            print("%-70s %s" % (r["file"], r["error"]))
            continue
        print("%-70s links %4d landed %4d (%5.1f%%)  words %5d lost %3d doubled %3d boundary-lines %d" % (
            r["file"][-70:], r["links"], r["landed"], 100.0 * r["landed"] / r["links"] if r["links"] else 100.0,
            r["words"], r["lost"], r["doubled"], r["boundaryLines"]))
        for m in r["misses"]:
            print("    miss: " + m)
        for k in ("links", "landed", "unpaired", "words", "lost", "doubled", "boundaryLines"):
            t[k] += r[k]
    share = 100.0 * t["landed"] / t["links"] if t["links"] else 100.0
    print("TOTAL documents %d  GoTo links %d  landed within a line %d (%.1f%%)  unpaired %d" % (
        len(results), t["links"], t["landed"], share, t["unpaired"]))
    print("TOTAL words %d  lost %d  doubled %d  lines doubled at page boundaries %d" % (
        t["words"], t["lost"], t["doubled"], t["boundaryLines"]))


if __name__ == "__main__":
    main()
