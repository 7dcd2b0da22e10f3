#!/usr/bin/env python3
"""Real metafiles beside the office suite's import of them.

The metafiles are written by the producers Debian ships (gnuplot, fig2dev,
pstoedit) from inputs Debian ships (xfig's example library) or kept here
(plot scripts), plus the two producer fixtures of tests/emf/fixtures.

  metafile_corpus.py make DIR                 writes the metafiles into DIR
  metafile_corpus.py reference DIR TSV        the office suite's words and places (soffice --convert-to pdf)
  metafile_corpus.py check TOOL               make + compare --check against the words kept
                                              in tests/emf/corpus/libreoffice_words.tsv (make check)
  metafile_corpus.py compare DIR TSV TOOL [--check]
      converts each metafile with TOOL ("emf_bench convert IN OUT"), and per
      file prints the words kept, the median label offset (pt, after fitting
      scale and offset per axis) and milliseconds; with --check also that
      every font is embedded and Ghostscript reads the text, and fails when
      a file falls short.
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CORPUS = os.path.join(ROOT, "tests", "emf", "corpus")
XFIG = "/usr/share/xfig/Libraries"
FIGS = ["Examples/flowchart.fig", "Examples/logic.fig", "Examples/arithmetic.fig", "Examples/filenames.fig",
        "Examples/experiment.fig", "UML/Labels.fig", "UML/Association_Multi.fig"]
PLOTS = ["lines.gp", "bars.gp"]
# Files the check passes over, with the reason.
KNOWN = {}
# Writers that spread each string's letters evenly (pstoedit) leave where a
# text reader breaks them into words to chance, and it breaks them
# differently on each page: for these a word is kept when its letters stand
# in our text, blanks aside (the offset is measured on the words that match).
EVEN_LETTERS = {"pstoedit_flowchart.emf"}

WORD = re.compile(r'<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>')


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def make(out):
    os.makedirs(out, exist_ok=True)
    made = []
    for fig in FIGS:
        name = "fig2dev_" + os.path.basename(fig)[:-4] + ".emf"
        run(["fig2dev", "-L", "emf", os.path.join(XFIG, fig), os.path.join(out, name)])
        made.append(name)
    def plot(gp, terminal, target):
        with tempfile.NamedTemporaryFile("w", suffix=".gp") as f:
            f.write('set terminal %s\nset output "%s"\n' % (terminal, target))
            f.write(open(os.path.join(CORPUS, gp)).read())
            f.flush()
            run(["gnuplot", f.name])

    for gp in PLOTS:
        name = "gnuplot_" + gp[:-3] + ".emf"
        plot(gp, 'emf enhanced font "Helvetica,12"', os.path.join(out, name))
        made.append(name)
    # The PostScript converter on the plot and on a drawing turned to PostScript.
    with tempfile.TemporaryDirectory() as tmp:
        eps = os.path.join(tmp, "flowchart.eps")
        run(["fig2dev", "-L", "eps", os.path.join(XFIG, "Examples/flowchart.fig"), eps])
        ps = os.path.join(tmp, "lines.ps")
        plot("lines.gp", 'postscript eps font "Helvetica,12"', ps)
        for src, name in ((eps, "pstoedit_flowchart.emf"), (ps, "pstoedit_lines.emf")):
            run(["pstoedit", "-q", "-f", "emf", src, os.path.join(out, name)])
            made.append(name)
    for f in ("office.emf", "inkscape.emf"):
        shutil.copy(os.path.join(ROOT, "tests", "emf", "fixtures", f), os.path.join(out, "fixture_" + f))
        made.append("fixture_" + f)
    return [m for m in made if os.path.exists(os.path.join(out, m)) and os.path.getsize(os.path.join(out, m)) > 0]


def words(pdf):
    r = run(["pdftotext", "-bbox", pdf, "-"])
    out = []
    for m in WORD.finditer(r.stdout):
        x0, y0, x1, y1 = map(float, m.groups()[:4])
        out.append((m.group(5), (x0 + x1) / 2, (y0 + y1) / 2))
    return out


def reference(out_dir, tsv):
    with tempfile.TemporaryDirectory() as tmp, open(tsv, "w") as f:
        env = dict(os.environ, HOME=tmp)
        for name in sorted(os.listdir(out_dir)):
            if not name.endswith(".emf"):
                continue
            p = subprocess.Popen(["soffice", "--headless", "--convert-to", "pdf", "--outdir", tmp,
                                  os.path.join(out_dir, name)], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            try:
                p.wait(timeout=120)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
            pdf = os.path.join(tmp, name[:-4] + ".pdf")
            for w, x, y in words(pdf) if os.path.exists(pdf) else []:
                f.write("%s\t%s\t%.2f\t%.2f\n" % (name, w, x, y))


def fit(a, b):
    """Least squares b = s*a + t; returns (s, t)."""
    n = len(a)
    ma, mb = sum(a) / n, sum(b) / n
    va = sum((x - ma) ** 2 for x in a)
    s = sum((x - ma) * (y - mb) for x, y in zip(a, b)) / va if va > 0 else 1.0
    return s, mb - s * ma


def pair(ref, ours):
    """Pairs each reference word with a word of ours of the same text: words
    that occur once on both sides fix a first scale and offset, and every
    word then takes the nearest unused one where that fit expects it."""
    mine = {}
    for w, x, y in ours:
        mine.setdefault(w, []).append((x, y))
    theirs = {}
    for w, x, y in ref:
        theirs.setdefault(w, []).append((x, y))
    unique = [(theirs[w][0], mine[w][0]) for w in theirs if len(theirs[w]) == 1 and len(mine.get(w, [])) == 1]
    if len(unique) < 2:
        unique = [(p, mine[w][i]) for w in theirs for i, p in enumerate(theirs[w]) if i < len(mine.get(w, []))]
    if len(unique) >= 2:
        sx, tx = fit([p[0][0] for p in unique], [p[1][0] for p in unique])
        sy, ty = fit([p[0][1] for p in unique], [p[1][1] for p in unique])
    else:
        sx, tx, sy, ty = 1, 0, 1, 0
    pairs = []
    for w, x, y in ref:
        cand = mine.get(w, [])
        if not cand:
            continue
        ex, ey = sx * x + tx, sy * y + ty
        best = min(range(len(cand)), key=lambda i: (cand[i][0] - ex) ** 2 + (cand[i][1] - ey) ** 2)
        pairs.append(((x, y), cand.pop(best)))
    return pairs


def compare(out_dir, tsv, tool, check):
    ref = {}
    for line in open(tsv):
        name, w, x, y = line.rstrip("\n").split("\t")
        ref.setdefault(name, []).append((w, float(x), float(y)))
    failed = []
    print("%-32s %6s %6s %9s %8s" % ("file", "words", "kept", "offset", "ms"))
    with tempfile.TemporaryDirectory() as tmp:
        for name in sorted(ref):
            pdf = os.path.join(tmp, name + ".pdf")
            t0 = time.monotonic()
            r = run(tool.split() + [os.path.join(out_dir, name), pdf])
            ms = (time.monotonic() - t0) * 1000
            m = re.search(r"convert_ms ([0-9.]+)", r.stdout)
            if m:
                ms = float(m.group(1))  # the converter's own time, without starting the process
            ours = words(pdf) if r.returncode == 0 else []
            pairs = pair(ref[name], ours)
            kept = len(pairs) / len(ref[name]) if ref[name] else 1.0
            if name in EVEN_LETTERS and ref[name] and r.returncode == 0:
                text = re.sub(r"\s", "", run(["pdftotext", pdf, "-"]).stdout)
                kept = sum(1 for w, _, _ in ref[name] if w in text) / len(ref[name])
            offset = float("nan")
            if len(pairs) >= 2:
                sx, tx = fit([p[0][0] for p in pairs], [p[1][0] for p in pairs])
                sy, ty = fit([p[0][1] for p in pairs], [p[1][1] for p in pairs])
                # Residuals on the reference page, in points.
                res = [((q[0] - tx) / sx - p[0]) ** 2 + ((q[1] - ty) / sy - p[1]) ** 2 for p, q in pairs]
                offset = statistics.median(res) ** 0.5
            print("%-32s %6d %5.0f%% %7.2fpt %8.1f" % (name, len(ref[name]), kept * 100, offset, ms))
            if check and name in KNOWN:
                print("  (not checked: %s)" % KNOWN[name])
            elif check:
                problems = []
                if kept < 0.9:
                    problems.append("words kept %.0f%%" % (kept * 100))
                if not offset <= 3.0:
                    problems.append("median offset %.2f pt" % offset)
                fonts = run(["pdffonts", pdf]).stdout.splitlines()[2:]
                if any(len(l.split()) >= 5 and l.split()[-5] != "yes" for l in fonts):
                    problems.append("a font not embedded")
                gs = run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=txtwrite", "-sOutputFile=-", pdf]).stdout
                if name in EVEN_LETTERS:
                    gs = re.sub(r"\s", "", gs)
                read = sum(1 for w, _, _ in ref[name] if w in gs)
                if ref[name] and read / len(ref[name]) < 0.9:
                    problems.append("Ghostscript reads %d of %d words" % (read, len(ref[name])))
                if problems:
                    failed.append(name + ": " + ", ".join(problems))
    for f in failed:
        print("FAIL " + f)
    return 1 if failed else 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "make":
        print("\n".join(make(argv[2])))
        return 0
    if len(argv) >= 4 and argv[1] == "reference":
        reference(argv[2], argv[3])
        return 0
    if len(argv) >= 3 and argv[1] == "check":
        with tempfile.TemporaryDirectory() as tmp:
            make(tmp)
            return compare(tmp, os.path.join(CORPUS, "libreoffice_words.tsv"), argv[2], True)
    if len(argv) >= 5 and argv[1] == "compare":
        return compare(argv[2], argv[3], argv[4], "--check" in argv)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
