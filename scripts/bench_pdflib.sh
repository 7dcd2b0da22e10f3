#!/usr/bin/env bash
# Benchmark of the PDF document library: 100 pages x 60 lines of text,
# compressed, with an embedded font subset, plain and with 128-bit protection,
# side by side with wkhtmltopdf printing the same text as a <pre> page; then
# 1,000 pages with time and peak memory.
#
#   scripts/bench_pdflib.sh [BUILD_DIR]     (default: build-bench, a Release build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
"$root/scripts/install-deps.sh" "$root/scripts/bench-packages.txt"

if [ ! -x "$build/bin/pdflib_bench" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target pdflib_bench -j2 >/dev/null
fi
bench=$build/bin/pdflib_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
elapsed() { echo "$(echo "$2 - $1" | bc -l)" | awk '{printf "%.3f", $1}'; }
size() { stat -c %s "$1"; }

# Warm the font caches so the first run is not charged for them.
"$bench" --pages 1 --out "$work/warm.pdf" >/dev/null

t0=$(now); "$bench" --pages 100 --out "$work/ours.pdf" --text "$work/same.html" >/dev/null; t1=$(now)
ours_t=$(elapsed "$t0" "$t1")
t0=$(now); "$bench" --pages 100 --out "$work/ours128.pdf" --encrypt >/dev/null; t1=$(now)
ours128_t=$(elapsed "$t0" "$t1")

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
wk=wkhtmltopdf
wkhtmltopdf --quiet "$work/same.html" "$work/warm-wk.pdf" >/dev/null 2>&1 || true
t0=$(now); $wk --quiet "$work/same.html" "$work/peer.pdf" >/dev/null 2>&1; t1=$(now)
peer_t=$(elapsed "$t0" "$t1")
t0=$(now); $wk --quiet "$work/same.html" "$work/peer-tmp.pdf" >/dev/null 2>&1 \
  && qpdf --allow-weak-crypto --encrypt "" owner 128 --use-aes=n --extract=n -- "$work/peer-tmp.pdf" "$work/peer128.pdf"; t1=$(now)
peer128_t=$(elapsed "$t0" "$t1")

pages_of() { pdfinfo "$1" 2>/dev/null | awk '/^Pages:/ {print $2}'; }
printf '%-34s %10s %12s %7s\n' "100 pages x 60 lines" "wall s" "bytes" "pages"
printf '%-34s %10s %12s %7s\n' "vellumate, Flate + subset" "$ours_t" "$(size "$work/ours.pdf")" "$(pages_of "$work/ours.pdf")"
printf '%-34s %10s %12s %7s\n' "vellumate, + RC4 128-bit" "$ours128_t" "$(size "$work/ours128.pdf")" "$(pages_of "$work/ours128.pdf")"
printf '%-34s %10s %12s %7s\n' "wkhtmltopdf (<pre> page)" "$peer_t" "$(size "$work/peer.pdf")" "$(pages_of "$work/peer.pdf")"
printf '%-34s %10s %12s %7s\n' "wkhtmltopdf + qpdf RC4 128-bit" "$peer128_t" "$(size "$work/peer128.pdf")" "$(pages_of "$work/peer128.pdf")"
echo "speed-up: $(echo "$peer_t / $ours_t" | bc -l | awk '{printf "%.1f", $1}')x plain, $(echo "$peer128_t / $ours128_t" | bc -l | awk '{printf "%.1f", $1}')x protected"
pdffonts "$work/ours.pdf" | tail -n +3 | awk '{print "font:", $1, "emb", $(NF-4), "sub", $(NF-3), "uni", $(NF-2)}'

/usr/bin/time -v "$bench" --pages 1000 --out "$work/big.pdf" 2>"$work/time.txt" >/dev/null
wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time.txt")
rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
echo "1000 pages: wall $wall, peak RSS $((rss / 1024)) MB, $(size "$work/big.pdf") bytes"
qpdf --check "$work/big.pdf" >/dev/null && echo "qpdf --check: clean"
