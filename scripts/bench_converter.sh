#!/usr/bin/env bash
# Times vellumate: start-up to exit for a malformed command line, and a whole
# run for a one-page input (a picture) when the components are built.
# Usage: scripts/bench_converter.sh [build folder] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-20}
bin=$build/bin/vellumate
[ -x "$bin" ] || { echo "no $bin; build the vellumate target first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELLUMATE_REGISTRY=$work/registry VELLUMATE_UI=none VELLUMATE_MSGBOX_LOG=$work/boxes.log
export HOME=$work XDG_RUNTIME_DIR=$work TMPDIR=$work
mkdir -p "$VELLUMATE_REGISTRY"

# Median wall time in milliseconds of `runs` runs of the command.
median_ms() {
  local times=() t0 t1
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.2f", m/1000}'
}

echo "bad command line (exit 255), median of $runs: $(median_ms "$bin" /inlist) ms"

lib=$build/lib
if [ -f "$lib/libcorvanth.so" ] && [ -f "$lib/libtessaline.so" ] && [ -x "$build/bin/regsvr" ]; then
  "$build/bin/regsvr" "$lib/libcorvanth.so" >/dev/null
  "$build/bin/regsvr" "$lib/libtessaline.so" >/dev/null
  picture=$(cd "$(dirname "$0")/.." && pwd)/samples/colour-bars.png
  out=$work/one-page.pdf
  if "$bin" "$picture" "$out" >/dev/null 2>&1 && [ -s "$out" ]; then
    echo "one-page picture to PDF, median of $runs: $(median_ms "$bin" "$picture" "$out") ms"
    page=$work/one-page.html
    printf '<!DOCTYPE html><html><body><h1>One page</h1><p>A short paragraph of text.</p></body></html>\n' > "$page"
    if "$bin" "$page" "$out" >/dev/null 2>&1; then
      echo "one-page HTML to PDF, median of $runs: $(median_ms "$bin" "$page" "$out") ms"
    fi
  else
    echo "one-page run: no converter makes a page yet (exit status $("$bin" "$picture" "$out" >/dev/null 2>&1; echo $?))"
  fi
else
  echo "one-page run: libcorvanth.so, libtessaline.so or regsvr not built in $build"
fi
