#!/usr/bin/env bash
# Measures vellumate's window on a private X server (Xvfb, ended with the script):
#  - start-up: from the start of the program to the main window's first paint
#    (median of N starts);
#  - responsiveness: the longest stretch during which the window's event loop
#    did not run while the main dialog converts a long HTML document (made
#    here: 3000 paragraphs and 300 tables, about 1.4 MB).
# Usage: scripts/bench_ui.sh [build folder] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-10}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tool=$build/bin/vellumate_ui_tool

if [ "${VM_BENCH_UI_INNER:-}" = 1 ]; then
  # Inside the X server.
  times=()
  for ((i = 0; i < runs; i++)); do
    VELLUMATE_UI= VELLUMATE_MSGBOX_ANSWER=ok VM_BENCH_T0=$(date +%s%N) "$tool" startup >"$TMPDIR/t" 2>/dev/null || true
    times+=("$(cat "$TMPDIR/t")")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {
    printf "start to main window shown: median %.1f ms, min %.1f ms, max %.1f ms (%d starts)\n",
      (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2, a[1], a[NR], NR }'
  "$tool" responsive "$TMPDIR/long.html" 2>"$TMPDIR/gaps"; [ -z "${VM_BENCH_GAPS:-}" ] || cat "$TMPDIR/gaps"
  exit 0
fi

cmake --build "$build" --target vellumate_ui_tool corvanth tessaline regsvr >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELLUMATE_REGISTRY=$work/registry HOME=$work XDG_RUNTIME_DIR=$work TMPDIR=$work VELLUMATE_UI=none
export VELLUMATE_MSGBOX_LOG=$work/boxes.log
unset QT_QPA_PLATFORM
mkdir -p "$VELLUMATE_REGISTRY"
"$build/bin/regsvr" "$build/lib/libcorvanth.so" >/dev/null
"$build/bin/regsvr" "$build/lib/libtessaline.so" >/dev/null
python3 - "$work/long.html" <<'PY'
import sys
parts = ["<!DOCTYPE html><html><head><title>Long</title></head><body><h1>A long document</h1>"]
for i in range(3000):
    parts.append(f"<p>Paragraph {i}: " + "the quick brown fox jumps over the lazy dog " * 8 + "</p>")
    if i % 10 == 0:
        rows = "".join(f"<tr><td>{i}.{r}</td><td>cell</td><td>{r * i}</td></tr>" for r in range(8))
        parts.append(f"<table border=1>{rows}</table>")
parts.append("</body></html>")
open(sys.argv[1], "w").write("\n".join(parts))
PY
VM_BENCH_UI_INNER=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$top/scripts/bench_ui.sh" "$build" "$runs"
