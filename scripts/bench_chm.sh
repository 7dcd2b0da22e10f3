#!/usr/bin/env bash
# Compiled help files: unpacking speed and peak memory of hh, contents parsing
# and the topic pass of the conversion, on the largest help file installed
# below /usr/share (lazarus-doc ships one of about 20,000 topics) or on the
# file given. With BENCH_PEER=1 and htmldoc installed, also times htmldoc on
# the same topics in contents order (slow: minutes and gigabytes).
# BENCH_TOPICS=N converts only the first N topics of the contents (the whole
# 20,000-topic file takes about ten minutes).
# Usage: scripts/bench_chm.sh [BUILD_DIR] [FILE.chm]
set -euo pipefail
build=${1:-build}
chm=${2:-}
if [ -z "$chm" ]; then
  chm=$(find /usr/share -iname '*.chm' -type f -printf '%s %p\n' 2>/dev/null | sort -n | tail -1 | cut -d' ' -f2-)
fi
if [ -z "$chm" ]; then
  echo "no help file found below /usr/share (install lazarus-doc-2.2, or name one)" >&2
  exit 1
fi
cmake --build "$build" --target hh chm_bench -j2 >/dev/null
echo "== $chm ($(du -h "$chm" | cut -f1))"
"$build/bin/chm_bench" "$build/bin/hh" "$chm"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== hh -decompile under /usr/bin/time"
/usr/bin/time -f 'hh: %e s wall, %M KB peak' "$build/bin/hh" -decompile "$work/out" "$chm"

# BENCH_TOPICS=N converts a help file made of the first N topics of the
# contents instead of the whole file (chmcmd compiles it).
target=$chm
if [ -n "${BENCH_TOPICS:-}" ] && command -v chmcmd >/dev/null; then
  python3 "$(dirname "$0")/chm_subset.py" "$work/out" "$work/subset" "$BENCH_TOPICS"
  (cd "$work/subset" && chmcmd --no-html-scan subset.hhp >/dev/null 2>&1)
  target=$work/subset/subset.chm
  echo "== subset of the first $BENCH_TOPICS topics: $(du -h "$target" | cut -f1)"
fi

if [ -x "$build/bin/vellumate" ] && [ -f "$build/lib/libtessaline.so" ] && [ -f "$build/lib/libcorvanth.so" ]; then
  export VELLUMATE_REGISTRY="$work/registry" VELLUMATE_UI=none
  "$build/bin/regsvr" /s "$build/lib/libcorvanth.so"
  "$build/bin/regsvr" /s "$build/lib/libtessaline.so"
  echo "== vellumate: $(basename "$target") to PDF (time limit ${BENCH_TIMEOUT:-3600} s)"
  start=$(date +%s.%N)
  if timeout "${BENCH_TIMEOUT:-3600}" /usr/bin/time -f 'vellumate: %e s wall, %M KB peak' \
      "$build/bin/vellumate" "$target" "$work/ours.pdf"; then
    end=$(date +%s.%N)
    pages=$(pdfinfo "$work/ours.pdf" | awk '/^Pages:/ {print $2}')
    outlines=$(qpdf --json --json-key=outlines "$work/ours.pdf" | python3 -c '
import json, sys
def count(items, depth):
    n, d = 0, depth
    for o in items:
        k, kd = count(o["kids"], depth + 1)
        n, d = n + 1 + k, max(d, kd)
    return n, d
n, d = count(json.load(sys.stdin)["outlines"], 0)
print(n, "outlines,", d, "levels")')
    echo "vellumate: $pages pages, $(python3 -c "print(round($pages / ($end - $start), 1))") pages/s, $outlines"
  else
    echo "vellumate: failed or out of time"
  fi
fi

if [ "${BENCH_PEER:-0}" = 1 ] && command -v htmldoc >/dev/null; then
  dir=$work/out
  [ "$target" != "$chm" ] && dir=$work/subset
  hhc=$(find "$dir" -maxdepth 1 -iname '*.hhc' | head -1)
  # The same topics we convert: the contents in order, then the pages no
  # contents entry names (ours keeps them as orphan pages).
  { grep -io 'name="local" value="[^"#]*' "$hhc" | sed 's/.*value="//' | sed "s|^|$dir/|"
    find "$dir" -iname '*.htm*' | sort; } | awk '!seen[$0]++' > "$work/topics.txt"
  echo "== htmldoc on $(wc -l < "$work/topics.txt") topics"
  /usr/bin/time -f 'htmldoc: %e s wall, %M KB peak' \
    htmldoc --webpage --quiet -f "$work/peer.pdf" $(cat "$work/topics.txt") || true
  [ -f "$work/peer.pdf" ] && pdfinfo "$work/peer.pdf" | grep -i '^pages'
fi
