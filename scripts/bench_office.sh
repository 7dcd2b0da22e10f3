#!/usr/bin/env bash
# Office documents: seconds per document and output bytes of vellumate through
# the whole printing chain (private cupsd, backend, agent, pathprobe, as the
# user nobody), beside LibreOffice's own --convert-to pdf (cold: one process
# per file) and its export through UNO in one running office (warm).
# ours_s: one vellumate run per file (each starts its office); run_s: the
# file's share of one run over the whole list (one office for all; the first
# file carries the office's start), from the outputs' times. Needs root.
#   scripts/bench_office.sh [BUILD_FOLDER]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
[ "$(id -u)" -eq 0 ] || { echo "bench_office: needs root (cupsd, the backend, the user nobody)"; exit 0; }
command -v soffice >/dev/null || { echo "bench_office: LibreOffice is not installed (scripts/install-deps.sh)"; exit 0; }
[ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target vellumate vmoffice corvanth tessaline regsvr reg printagent preprocess progress \
  vmrelay dispatcher pathprobe vellumate-backend office_export_bench >/dev/null
samples=/usr/share/gocode/src/github.com/gabriel-vasile/mimetype/testdata
files=(docx.docx odt.odt doc.doc xlsx.xlsx ods.ods xls.xls pptx.pptx odp.odp ppt.ppt)
work=$(mktemp -d "${TMPDIR:-/tmp}/vmbench-office-XXXXXX")
chmod 0755 "$work"
chain=$top/tests/support/office-chain.sh
cleanup() { "$chain" stop "$work/chain" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
"$chain" start "$work/chain" "$build/bin" "$build/lib" "$top" >/dev/null
docs=$work/chain/docs
for f in "${files[@]}"; do cp "$samples/$f" "$docs/"; done
chown nobody "$docs"/*
now() { date +%s.%N; }
load0=$(cut -d' ' -f1-3 /proc/loadavg)

declare -A ours ours_b cold cold_b warm warm_b
for f in "${files[@]}"; do
  t0=$(now)
  "$chain" run "$work/chain" "$build/bin/vellumate" "$docs/$f" "$docs/$f.pdf" 2>/dev/null || echo "vellumate failed on $f" >&2
  ours[$f]=$(echo "$(now) - $t0" | bc)
  ours_b[$f]=$(stat -c %s "$docs/$f.pdf" 2>/dev/null || echo 0)
done
# One run over the whole list: the office starts once for all files.
printf '%s\n' "${files[@]/#/$docs/}" > "$docs/list.txt"
mkdir -p "$docs/listed"
chown nobody "$docs/list.txt" "$docs/listed"
t0=$(now)
"$chain" run "$work/chain" "$build/bin/vellumate" /inlist "$docs/list.txt" /outdir "$docs/listed" 2>/dev/null ||
  echo "vellumate failed on the list" >&2
list_s=$(echo "$(now) - $t0" | bc)
declare -A run_s
prev=$t0
for f in "${files[@]}"; do
  end=$(stat -c %.9Y "$docs/listed/$f.pdf" 2>/dev/null || echo "$prev")
  run_s[$f]=$(echo "$end - $prev" | bc)
  prev=$end
done
mkdir -p "$work/cold" "$work/warm"
# The cold runs share one profile made by a first run, as a user's would.
HOME=$work/cold soffice --headless -env:UserInstallation="file://$work/cold/profile" --convert-to pdf \
  --outdir "$work/cold" "$samples/odt.odt" >/dev/null 2>&1 || true
for f in "${files[@]}"; do
  t0=$(now)
  HOME=$work/cold soffice --headless -env:UserInstallation="file://$work/cold/profile" --convert-to pdf \
    --outdir "$work/cold" "$samples/$f" >/dev/null 2>&1 || true
  cold[$f]=$(echo "$(now) - $t0" | bc)
  cold_b[$f]=$(stat -c %s "$work/cold/${f%.*}.pdf" 2>/dev/null || echo 0)
done
while IFS=$'\t' read -r path secs bytes; do
  f=$(basename "$path"); warm[$f]=$secs; warm_b[$f]=$bytes
done < <(TMPDIR=$work "$build/bin/office_export_bench" "$work/warm" "${files[@]/#/$samples/}")

echo "load average before: $load0"
printf '%-10s %8s %8s %10s %8s %10s %8s %10s %8s\n' file ours_s run_s ours_B cold_s cold_B warm_s warm_B words
for f in "${files[@]}"; do
  kept=$(python3 - "$docs/$f.pdf" "$work/cold/${f%.*}.pdf" <<'PY'
import subprocess, sys
words = lambda p: set(subprocess.run(["pdftotext", "-q", p, "-"], capture_output=True, text=True).stdout.split())
ours, ref = words(sys.argv[1]), words(sys.argv[2])
print(f"{len(ref & ours)}/{len(ref)}")
PY
)
  printf '%-10s %8.2f %8.2f %10s %8.2f %10s %8.2f %10s %8s\n' "$f" "${ours[$f]}" "${run_s[$f]}" "${ours_b[$f]}" \
    "${cold[$f]}" "${cold_b[$f]}" "${warm[$f]:-0}" "${warm_b[$f]:-0}" "$kept"
done
# The aim's measure: the files after the first (which carries the office's
# start) in the list run against the warm export of the same files.
run_rest=0 warm_rest=0
for f in "${files[@]:1}"; do
  run_rest=$(echo "$run_rest + ${run_s[$f]}" | bc -l)
  warm_rest=$(echo "$warm_rest + ${warm[$f]:-0}" | bc -l)
done
printf 'the %d files after the first: run %.2f s, warm %.2f s, %.2fx\n' "$((${#files[@]} - 1))" "$run_rest" \
  "$warm_rest" "$(echo "if ($warm_rest > 0) $run_rest / $warm_rest else 0" | bc -l)"
printf 'one run over all %d files: %.2f s, %.2f s a file\n' "${#files[@]}" "$list_s" "$(echo "$list_s / ${#files[@]}" | bc -l)"
echo "fonts not embedded in ours: $(for f in "${files[@]}"; do pdffonts "$docs/$f.pdf" 2>/dev/null | tail -n +3 | awk '$(NF-4) != "yes"'; done | wc -l)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
