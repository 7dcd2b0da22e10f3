#!/usr/bin/env bash
# Benchmark of the PDF document library: 100 pages x 60 lines of text,
# compressed, with an embedded font subset, plain and with 128-bit protection,
# side by side with wkhtmltopdf printing the same text as a <pre> page; then
# 1,000 pages with time and peak memory; then a run the size of a large
# compiled help file: 26,000 pages with 42 link annotations each (every other
# one an address, the others jumps to other pages), time, peak memory, bytes.
#
#   scripts/bench_pdflib.sh [BUILD_DIR]     (default: build-bench, a Release build)
#   BIG_PAGES=N  pages of the large run (default 26000; 0 skips it)
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

size() { stat -c %s "$1"; }
# Runs a command and prints "wall cpu" in seconds (cpu = user + system).
timed() {
  /usr/bin/time -f "%e %U %S" -o "$work/t.txt" "$@" >/dev/null 2>&1
  awk '{printf "%.3f %.3f\n", $1, $2 + $3}' "$work/t.txt"
}

# Warm the font caches so the first run is not charged for them.
"$bench" --pages 1 --out "$work/warm.pdf" --text "$work/same.html" >/dev/null
"$bench" --pages 100 --out "$work/warm.pdf" --text "$work/same.html" >/dev/null

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
wkhtmltopdf --quiet "$work/same.html" "$work/warm-wk.pdf" >/dev/null 2>&1 || true

read -r ours_t ours_c < <(timed "$bench" --pages 100 --out "$work/ours.pdf")
read -r ours128_t ours128_c < <(timed "$bench" --pages 100 --out "$work/ours128.pdf" --encrypt)
read -r peer_t peer_c < <(timed wkhtmltopdf --quiet "$work/same.html" "$work/peer.pdf")
read -r enc_t enc_c < <(timed qpdf --allow-weak-crypto --encrypt "" owner 128 --use-aes=n --extract=n -- \
  "$work/peer.pdf" "$work/peer128.pdf")
peer128_t=$(echo "$peer_t + $enc_t" | bc -l)
peer128_c=$(echo "$peer_c + $enc_c" | bc -l)

pages_of() { pdfinfo "$1" 2>/dev/null | awk '/^Pages:/ {print $2}'; }
row() { printf '%-34s %8.3f %8.3f %10s %6s\n' "$1" "$2" "$3" "$(size "$4")" "$(pages_of "$4")"; }
ratio() { echo "$1 / $2" | bc -l | awk '{printf "%.1f", $1}'; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
printf '%-34s %8s %8s %10s %6s\n' "100 pages x 60 lines" "wall s" "cpu s" "bytes" "pages"
row "vellumate, Flate + subset" "$ours_t" "$ours_c" "$work/ours.pdf"
row "vellumate, + RC4 128-bit" "$ours128_t" "$ours128_c" "$work/ours128.pdf"
row "wkhtmltopdf (<pre> page)" "$peer_t" "$peer_c" "$work/peer.pdf"
row "wkhtmltopdf + qpdf RC4 128-bit" "$peer128_t" "$peer128_c" "$work/peer128.pdf"
echo "speed-up (wall): $(ratio "$peer_t" "$ours_t")x plain, $(ratio "$peer128_t" "$ours128_t")x protected"
echo "speed-up (cpu):  $(ratio "$peer_c" "$ours_c")x plain, $(ratio "$peer128_c" "$ours128_c")x protected"
pdffonts "$work/ours.pdf" | tail -n +3 | awk '{print "font:", $1, "emb", $(NF-4), "sub", $(NF-3), "uni", $(NF-2)}'

/usr/bin/time -v "$bench" --pages 1000 --out "$work/big.pdf" 2>"$work/time.txt" >/dev/null
wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time.txt")
rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
echo "1000 pages: wall $wall, peak RSS $((rss / 1024)) MB, $(size "$work/big.pdf") bytes"
qpdf --check "$work/big.pdf" >/dev/null && echo "qpdf --check: clean"

big=${BIG_PAGES:-26000}
if [ "$big" -gt 0 ]; then
  /usr/bin/time -f "%e %M" -o "$work/big-time.txt" "$bench" --pages "$big" --links 42 --out "$work/huge.pdf" >/dev/null
  read -r bwall brss <"$work/big-time.txt"
  echo "$big pages x 42 links: wall ${bwall}s, peak RSS $((brss / 1024)) MB, $(size "$work/huge.pdf") bytes" \
    "($(( $(size "$work/huge.pdf") / big )) bytes/page)"
  echo "pages in the file: $(pages_of "$work/huge.pdf")"
  rm -f "$work/huge.pdf"
fi
