#!/usr/bin/env bash
# The page converter (PDF pages to metafiles): pages a second on one core and
# bytes a page, on a 100-page text PDF of ours and on PDFs Debian ships; the
# words kept and the time of pstoedit and Inkscape on the same pages (their
# metafiles drawn back into a PDF by our library, as ours are); and, as root,
# the time from `lp` to the dispatcher's ticket on a private cupsd.
set -uo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/$build/bin"
"$top/scripts/install-deps.sh" "$top/scripts/bench-packages.txt" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
real=(/usr/share/doc/libtasn1-doc/libtasn1.pdf /usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf)

"$bin/pagedraw_bench" --make-text 100 "$work/text100.pdf"
echo "--- page converter, one core (pages converted in memory)"
taskset -c 0 "$bin/pagedraw_bench" "$work/text100.pdf" "${real[@]}"

# Words of a PDF that the text records of metafiles keep, as "kept/all"
# (every EXTTEXTOUTA/W string, whatever reader draws it).
words_kept() {
  python3 - "$1" "$2"/*.emf <<'PY'
import collections, struct, subprocess, sys
t = subprocess.run(["pdftotext", sys.argv[1], "-"], capture_output=True, text=True, errors="replace").stdout
a = collections.Counter(w for w in t.split() if w.strip("."))
text = []
for path in sys.argv[2:]:
    d = open(path, "rb").read()
    at = 0
    while at + 8 <= len(d):
        kind, size = struct.unpack_from("<II", d, at)
        if size < 8 or at + size > len(d): break
        if kind in (83, 84) and size >= 76:
            n, off = struct.unpack_from("<II", d, at + 44)
            raw = d[at + off: at + off + n * (2 if kind == 84 else 1)]
            text.append(raw.decode("utf-16-le" if kind == 84 else "cp1252", errors="replace"))
        at += size
b = collections.Counter(w for w in " ".join(text).split() if w.strip("."))
print("%d/%d" % (sum(a.values()) - sum((a - b).values()), sum(a.values())))
PY
}

pages=${VELLUMATE_BENCH_PAGES:-5}
echo "--- first $pages pages: seconds, words kept in the metafiles' text records, bytes"
for pdf in "$work/text100.pdf" "${real[@]}"; do
  name=$(basename "$pdf")
  qpdf --empty --pages "$pdf" 1-$pages -- "$work/src.pdf"
  rm -rf "$work/ours" && mkdir "$work/ours"
  t0=$(date +%s.%N); "$bin/pdf2emf" "$work/src.pdf" "$work/ours" >/dev/null 2>&1; t1=$(date +%s.%N)
  echo "$name pdf2emf:  $(echo "$t1 - $t0" | bc) s, words $(words_kept "$work/src.pdf" "$work/ours"), $(du -cb "$work"/ours/*.emf | tail -1 | cut -f1) bytes"
  if command -v pstoedit >/dev/null; then
    rm -rf "$work/ps" && mkdir "$work/ps"
    # It reads PostScript (given the PDF it writes empty pages): pdftops first, in its time.
    t0=$(date +%s.%N)
    pdftops "$work/src.pdf" "$work/src.ps" && pstoedit -q -f emf -split "$work/src.ps" "$work/ps/p%d.emf" >/dev/null 2>&1
    t1=$(date +%s.%N)
    if ls "$work"/ps/*.emf >/dev/null 2>&1; then
      echo "$name pstoedit: $(echo "$t1 - $t0" | bc) s, words $(words_kept "$work/src.pdf" "$work/ps"), $(du -cb "$work"/ps/*.emf | tail -1 | cut -f1) bytes"
    else
      echo "$name pstoedit: no metafile"
    fi
  fi
  if command -v inkscape >/dev/null; then
    rm -rf "$work/ink" && mkdir "$work/ink"
    t0=$(date +%s.%N)
    for p in $(seq 1 $pages); do
      inkscape "$work/src.pdf" --pdf-page=$p --export-filename="$work/ink/p$p.emf" >/dev/null 2>&1
    done
    t1=$(date +%s.%N)
    if ls "$work"/ink/*.emf >/dev/null 2>&1; then
      echo "$name inkscape: $(echo "$t1 - $t0" | bc) s, words $(words_kept "$work/src.pdf" "$work/ink"), $(du -cb "$work"/ink/*.emf | tail -1 | cut -f1) bytes"
    else
      echo "$name inkscape: no metafile"
    fi
  fi
done

if [ "$(id -u)" -eq 0 ] && command -v cupsd >/dev/null && [ -x "$bin/dispatcher" ]; then
  echo "--- lp to the ticket's event (private cupsd, user nobody; a one-line text, the 17-page PDF; 5 runs each)"
  cups="$work/cups"
  mkdir -p "$cups" && chmod 0755 "$work" "$cups"
  sh "$top/tests/support/cupsd-fixture.sh" start-printer "$cups" "$bin/vellumate-backend" \
    "$top/printer/driver/vellumate.ppd" "$bin" >/dev/null 2>&1
  uid=$(id -u nobody)
  mkdir -p "$cups/runuser/$uid" && chown nobody "$cups/runuser/$uid" && chmod 0700 "$cups/runuser/$uid"
  spool="$cups/runuser/$uid/vellumate/spool"
  echo "one line" > "$work/one.txt" && chmod 0644 "$work/one.txt"
  cp "${real[1]}" "$work/doc.pdf" && chmod 0644 "$work/doc.pdf"
  for job in one.txt doc.pdf; do
    times=()
    for run in 1 2 3 4 5; do
      before=$(ls "$spool"/*.INI 2>/dev/null | wc -l)
      t0=$(date +%s%N)
      CUPS_SERVER="$cups/cups.sock" lp -d Vellumate -U nobody "$work/$job" >/dev/null
      for _ in $(seq 1 2000); do
        # A new ticket, and the backend's page files gone: the dispatcher has
        # set the event and ended.
        [ "$(ls "$spool"/*.INI 2>/dev/null | wc -l)" -gt "$before" ] && ! ls "$spool"/~emf*.tmp >/dev/null 2>&1 && break
        sleep 0.005
      done
      times+=($(( ($(date +%s%N) - t0) / 1000000 )))
    done
    echo "$job: ${times[*]} ms"
  done
  sh "$top/tests/support/cupsd-fixture.sh" stop "$cups"
fi
