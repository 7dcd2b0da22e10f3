#!/usr/bin/env python3
"""How close vellumate's PDF of a documentation page comes to the browser's print.

For each page: vellumate converts it, Chromium (headless, offline) prints it,
pages 2 and 3 of both are drawn at 50 dpi side by side into OUT/index.html,
and four measures are taken:

  text    body text height: the median height of the words' boxes over the
          whole document, ours against the browser's (1.00: the same size).
          A document fitted to a width it does not need is scaled down, and
          this falls; below 0.80 the text is smaller than anyone reads.
  order   words in reading order: the share of the source's words (its text
          outside head, script and style) that the PDF's text holds in the
          same order (longest matching blocks). Stacked cells, lost text,
          labels of diagrams run together all lower it.
  overlap words drawn over other words on pages 2 and 3: pairs of word boxes
          that share more than a third of the smaller one. Fixed furniture
          over the text, stacked table cells and oversized icons show here;
          a good page has none.
  ink     the share of dark pixels on pages 2 and 3 at 50 dpi, ours against
          the browser's (1.00: as much ink). A dark colour scheme applied to
          a light page, a blank page or a missing picture moves it far from 1.

Usage: fidelity.py --vellumate BIN [--chromium BIN] [--out DIR] [--tsv]
                   [--check] PAGE...
  --check   exit 1 when a page falls below the limits (text 0.80, order 0.90
            of the browser's order, overlap 2 per page, ink within 0.5 to 2);
            the automatic test uses it on a few pages.
The environment must hold a private registry with both components
registered (scripts/fidelity.sh sets one up).
"""
import argparse
import difflib
import html
import html.parser
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

DPI = 50
PAGES = (2, 3)


class SourceText(html.parser.HTMLParser):
    """The words a reader sees: text outside head, script, style and the like."""
    SKIP = {"head", "script", "style", "title", "noscript", "template"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.depth = 0
        self.parts = []

    def handle_starttag(self, tag, attrs):
        if tag in self.SKIP:
            self.depth += 1

    def handle_endtag(self, tag):
        if tag in self.SKIP and self.depth > 0:
            self.depth -= 1

    def handle_data(self, data):
        if self.depth == 0:
            self.parts.append(data)


def words_of(text):
    return [w for w in (re.sub(r"[^0-9a-z]", "", t.lower()) for t in text.split()) if w]


def source_words(path):
    raw = open(path, "rb").read()
    m = re.search(rb'charset=["\']?([-\w]+)', raw[:4096], re.I)
    enc = m.group(1).decode("ascii", "replace") if m else "utf-8"
    try:
        text = raw.decode(enc, "replace")
    except LookupError:
        text = raw.decode("utf-8", "replace")
    p = SourceText()
    p.feed(text)
    return words_of(" ".join(p.parts))


WORD = re.compile(r'<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)">(.*?)</word>')


def pdf_words(pdf):
    """Per page, the words with their boxes, in the PDF's text order."""
    out = subprocess.run(["pdftotext", "-bbox", pdf, "-"], capture_output=True, timeout=300).stdout.decode("utf-8", "replace")
    pages = []
    for page in out.split("<page ")[1:]:
        words = []
        for m in WORD.finditer(page):
            x0, y0, x1, y1 = (float(m.group(i)) for i in range(1, 5))
            words.append((x0, y0, x1, y1, html.unescape(m.group(5))))
        pages.append(words)
    return pages


def overlaps(words):
    boxes = sorted((w[:4] for w in words if w[2] > w[0] and w[3] > w[1]), key=lambda b: b[1])
    n = 0
    for i, a in enumerate(boxes):
        for b in boxes[i + 1:]:
            if b[1] >= a[3]:
                break
            ix = min(a[2], b[2]) - max(a[0], b[0])
            iy = min(a[3], b[3]) - max(a[1], b[1])
            if ix <= 0 or iy <= 0:
                continue
            small = min((a[2] - a[0]) * (a[3] - a[1]), (b[2] - b[0]) * (b[3] - b[1]))
            if ix * iy > small / 3:
                n += 1
    return n


def order_score(src, ours):
    if not src:
        return 1.0
    src, ours = src[:20000], ours[:40000]
    sm = difflib.SequenceMatcher(None, src, ours, autojunk=False)
    return sum(b.size for b in sm.get_matching_blocks()) / len(src)


def dark_share(pgm):
    data = open(pgm, "rb").read()
    # Binary PGM: "P5", width, height, maxval, one byte a pixel.
    fields, i = [], 0
    while len(fields) < 4:
        while data[i:i + 1].isspace():
            i += 1
        if data[i:i + 1] == b"#":
            i = data.index(b"\n", i)
            continue
        j = i
        while not data[j:j + 1].isspace():
            j += 1
        fields.append(data[i:j])
        i = j
    pixels = data[i + 1:]
    if not pixels:
        return 0.0
    return sum(1 for p in pixels if p < 128) / len(pixels)


def draw_pages(pdf, prefix, count):
    """Pages 2 and 3 as PNG (for people) and PGM (for the ink measure); their names."""
    shown = [p for p in PAGES if p <= count]
    if not shown:
        return []
    first, last = shown[0], shown[-1]
    subprocess.run(["pdftoppm", "-r", str(DPI), "-f", str(first), "-l", str(last), "-png", pdf, prefix], check=True, timeout=300)
    subprocess.run(["pdftoppm", "-r", str(DPI), "-f", str(first), "-l", str(last), "-gray", pdf, prefix + "-g"], check=True, timeout=300)
    names = []
    for p in shown:
        # pdftoppm pads the page number to the width of the last page's.
        for digits in range(1, 5):
            png = "%s-%0*d.png" % (prefix, digits, p)
            if os.path.exists(png):
                names.append((p, png, "%s-g-%0*d.pgm" % (prefix, digits, p)))
                break
    return names


def page_count(pdf):
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, timeout=60).stdout.decode("utf-8", "replace")
    m = re.search(r"^Pages:\s+(\d+)", info, re.M)
    return int(m.group(1)) if m else 0


def run_vellumate(vellumate, page, pdf):
    start = time.monotonic()
    r = subprocess.run([vellumate, page, pdf], capture_output=True, timeout=600)
    return r.returncode, time.monotonic() - start


def run_chromium(chromium, page, pdf, work):
    """Prints `page` with a headless Chromium of its own, started and ended here."""
    profile = tempfile.mkdtemp(dir=work)
    cmd = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-extensions",
           "--disable-background-networking", "--proxy-server=127.0.0.1:9", "--user-data-dir=" + profile,
           "--no-pdf-header-footer", "--print-to-pdf-no-header", "--print-to-pdf=" + pdf, "file://" + page]
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        proc.wait(timeout=120)
    except subprocess.TimeoutExpired:
        pass
    finally:
        # Its helper processes are in the group it leads.
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()
        shutil.rmtree(profile, ignore_errors=True)
    return os.path.exists(pdf) and os.path.getsize(pdf) > 0


def measure(pdf, src_words, prefix):
    pages = pdf_words(pdf)
    count = page_count(pdf)
    heights = [w[3] - w[1] for p in pages for w in p if w[3] > w[1]]
    flat = words_of(" ".join(w[4] for p in pages for w in p))
    shown = draw_pages(pdf, prefix, count)
    over = sum(overlaps(pages[p - 1]) for p, _, _ in shown if p - 1 < len(pages))
    ink = []
    for _, _, g in shown:
        ink.append(dark_share(g))
        os.remove(g)
    return {
        "pages": count,
        "height": statistics.median(heights) if heights else 0.0,
        "order": order_score(src_words, flat),
        "overlap": over,
        "ink": sum(ink) / len(ink) if ink else 0.0,
        "pictures": [(p, png) for p, png, _ in shown],
    }


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vellumate", required=True)
    ap.add_argument("--chromium", default="chromium")
    ap.add_argument("--out", default="out/fidelity")
    ap.add_argument("--tsv", action="store_true")
    ap.add_argument("--check", action="store_true")
    ap.add_argument("pages", nargs="+")
    a = ap.parse_args()
    out = os.path.abspath(a.out)
    os.makedirs(out, exist_ok=True)
    for old in os.listdir(out):  # pictures of an earlier run
        if old.endswith((".png", ".pgm")) or old == "index.html":
            os.remove(os.path.join(out, old))
    work = tempfile.mkdtemp(prefix="fidelity-")
    rows, failed = [], []
    print("page\tpages\tsec/page\ttext\torder\tbrowser-order\toverlap\tbrowser-overlap\tink\tbrowser-ink")
    try:
        for i, page in enumerate(a.pages):
            page = os.path.abspath(page)
            name = "%02d-%s" % (i, re.sub(r"[^\w.-]", "_", os.path.basename(page)))
            src = source_words(page)
            ours_pdf, theirs_pdf = os.path.join(work, name + ".pdf"), os.path.join(work, name + "-browser.pdf")
            rc, seconds = run_vellumate(a.vellumate, page, ours_pdf)
            if rc != 0 or not os.path.exists(ours_pdf):
                print("%s\tconversion failed (%d)" % (page, rc))
                failed.append(page)
                continue
            if not run_chromium(a.chromium, page, theirs_pdf, work):
                print("%s\tthe browser printed nothing" % page)
                failed.append(page)
                continue
            ours = measure(ours_pdf, src, os.path.join(out, name + "-vm"))
            theirs = measure(theirs_pdf, src, os.path.join(out, name + "-browser"))
            text = ours["height"] / theirs["height"] if theirs["height"] else 0.0
            ink = ours["ink"] / theirs["ink"] if theirs["ink"] else (1.0 if not ours["ink"] else 9.99)
            row = dict(page=page, name=name, ours=ours, theirs=theirs, text=text, ink=ink,
                       perpage=seconds / max(1, ours["pages"]))
            rows.append(row)
            print("%s\t%d\t%.3f\t%.2f\t%.3f\t%.3f\t%d\t%d\t%.2f\t%.4f" % (
                page, ours["pages"], row["perpage"], text, ours["order"], theirs["order"], ours["overlap"],
                theirs["overlap"], ink, theirs["ink"]), flush=True)
            shown = max(1, len(ours["pictures"]))
            bad = []
            if text < 0.80:
                bad.append("text %.2f" % text)
            if ours["order"] < 0.90 * theirs["order"]:
                bad.append("order %.3f" % ours["order"])
            if ours["overlap"] > 2 * shown:
                bad.append("overlap %d" % ours["overlap"])
            if ours["pictures"] and theirs["ink"] > 0.002 and not 0.5 <= ink <= 2.0:
                bad.append("ink %.2f" % ink)
            if bad:
                failed.append(page + ": " + ", ".join(bad))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    write_index(out, rows)
    if rows:
        print("mean\t\t%.3f\t%.2f\t%.3f\t%.3f\t%.1f\t%.1f\t%.2f" % (
            statistics.mean(r["perpage"] for r in rows), statistics.mean(r["text"] for r in rows),
            statistics.mean(r["ours"]["order"] for r in rows), statistics.mean(r["theirs"]["order"] for r in rows),
            statistics.mean(r["ours"]["overlap"] for r in rows), statistics.mean(r["theirs"]["overlap"] for r in rows),
            statistics.mean(r["ink"] for r in rows)))
    for f in failed:
        print("below the limits: " + f, file=sys.stderr)
    return 1 if a.check and failed else 0


def write_index(out, rows):
    e = html.escape
    parts = ["<!DOCTYPE html><meta charset=utf-8><title>Fidelity</title><style>"
             "body{font-family:sans-serif} td,th{padding:4px;vertical-align:top;border-bottom:1px solid #ccc}"
             "img{border:1px solid #888;max-width:100%%}</style><h1>Vellumate against the browser's print</h1>"
             "<p>Pages 2 and 3 at %d dpi: vellumate left, the browser right. text: body text height, ours / the "
             "browser's; order: share of the source's words in reading order (the browser's in brackets); overlap: "
             "words drawn over words on these pages; ink: dark pixels, ours / the browser's.</p><table>" % DPI]
    for r in rows:
        o, t = r["ours"], r["theirs"]
        parts.append("<tr><th colspan=4 style='text-align:left'>%s<br><small>%d pages, text %.2f, order %.3f (%.3f), "
                     "overlap %d (%d), ink %.2f, %.2f s a page</small></th></tr><tr>" % (
                         e(r["page"]), o["pages"], r["text"], o["order"], t["order"], o["overlap"], t["overlap"],
                         r["ink"], r["perpage"]))
        theirs = dict(t["pictures"])
        for p, png in o["pictures"]:
            parts.append("<td><img src='%s'></td>" % e(os.path.basename(png)))
            if p in theirs:
                parts.append("<td><img src='%s'></td>" % e(os.path.basename(theirs[p])))
        parts.append("</tr>")
    parts.append("</table>")
    with open(os.path.join(out, "index.html"), "w") as f:
        f.write("".join(parts))


if __name__ == "__main__":
    sys.exit(main())
