#!/usr/bin/env bash
# Metafile benchmarks: reader throughput on a large metafile, drawing a
# text-heavy page onto a PDF page (1 page and 100 pages), peak memory.
# Usage: scripts/bench_emf.sh [BUILD_DIR]   (a RelWithDebInfo or Release build)
set -euo pipefail
build=${1:-build}
bench=$build/bin/emf_bench
[ -x "$bench" ] || cmake --build "$build" --target emf_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" make-large "$work/large.emf" 100
"$bench" make-text "$work/page.emf"
echo "== reader, $(du -h "$work/large.emf" | cut -f1) metafile, 5 rounds"
"$bench" read "$work/large.emf" 5
echo "== reader + player onto an empty device, 3 rounds"
"$bench" play "$work/large.emf" 3
echo "== text-heavy page ($(du -h "$work/page.emf" | cut -f1)) onto one PDF page"
"$bench" pdf "$work/page.emf" 1 "$work/one.pdf"
echo "== the same page 100 times"
"$bench" pdf "$work/page.emf" 100 "$work/hundred.pdf"
ls -l "$work"/*.pdf | awk '{print $5, $9}'
