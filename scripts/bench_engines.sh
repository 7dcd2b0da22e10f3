#!/usr/bin/env bash
# HTML engines side by side on real documentation pages: vellumate with
# /engine auto, light and browser (one run per engine over the whole list,
# so the browser starts once), wkhtmltopdf and Chromium's own --print-to-pdf
# (one process per file). Seconds per document and pages per second, and
# the processor seconds (user and system, every process of the tool) per
# document: on a machine shared with other work the wall time follows the
# load, the processor time much less.
# Usage: scripts/bench_engines.sh [BUILD_DIR]   (default: build)
# BENCH_TABS="1 2 3" adds a browser row for each number of documents the
# browser works on at once (VELLUMATE_BROWSER_TABS; the plain rows use the
# default). BENCH_OTHERS=0 leaves out the other tools' rows (ours only, on a
# busy machine). The load average is printed before and after.
# The pages: tests/html_browser/modern_documents.txt (flex, grid, custom
# properties) and tests/html_pdf/real_documents.txt (classic themes).
# Nothing leaves the machine: the tools run without network (a namespace of
# their own when possible, else a dead loopback proxy).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
for t in vellumate regsvr; do
  [ -x "$build/bin/$t" ] || { echo "build $build first (no $build/bin/$t)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELLUMATE_REGISTRY=$work/registry VELLUMATE_UI=none XDG_RUNTIME_DIR=$work TMPDIR=$work
mkdir -p "$VELLUMATE_REGISTRY"
"$build/bin/regsvr" "$build/lib/libcorvanth.so" >/dev/null
"$build/bin/regsvr" "$build/lib/libtessaline.so" >/dev/null

offline=()
if unshare -n true 2>/dev/null; then offline=(unshare -n); fi
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 ALL_PROXY=http://127.0.0.1:9

docs=()
for list in "$root/tests/html_browser/modern_documents.txt" "$root/tests/html_pdf/real_documents.txt"; do
  while IFS= read -r f; do
    [[ -z $f || $f == \#* ]] && continue
    [ -f "$f" ] && docs+=("$f") || echo "missing: $f (install scripts/packages.txt)" >&2
  done < "$list"
done
n=${#docs[@]}
printf '%s\n' "${docs[@]}" > "$work/in.txt"

now() { date +%s.%N; }
# Processor seconds of the shell's children so far (`times` writes to a file:
# in a pipe it would run in a child of its own, which has none).
cpu_of_children() {
  times > "$work/times"
  tail -n 1 "$work/times" | awk '{ split($1, u, "m"); split($2, s, "m"); sub("s", "", u[2]); sub("s", "", s[2])
    print u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}
pages_in() { local total=0 p; for f in "$1"/*.pdf; do p=$(pdfinfo "$f" 2>/dev/null | awk '/^Pages:/{print $2}'); total=$((total + ${p:-0})); done; echo $total; }
report() {  # name seconds pages cpu-seconds
  printf '%-24s %8.2f s %8.3f s/doc %8.1f pages/s %6d pages %8.3f cpu s/doc\n' "$1" "$2" "$(echo "$2/$n" | bc -l)" \
    "$(echo "$3/$2" | bc -l)" "$3" "$(echo "$4/$n" | bc -l)"
}

echo "$n documents; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A secs
runs=(light auto browser)
for t in ${BENCH_TABS:-}; do runs+=("browser:$t"); done
for run in "${runs[@]}"; do
  engine=${run%%:*} tabs=${run#*:} name="vellumate $engine"
  [ "$tabs" = "$run" ] && tabs= || name="$name $tabs tab(s)"
  out=$work/${run/:/-}; mkdir -p "$out"
  t0=$(now)
  cpu=$( ("${offline[@]}" env ${tabs:+VELLUMATE_BROWSER_TABS=$tabs} "$build/bin/vellumate" /inlist "$work/in.txt" \
           /outdir "$out" /engine "$engine" >/dev/null 2>&1 || true; cpu_of_children) )
  t1=$(now)
  secs[$run]=$(echo "$t1 - $t0" | bc -l)
  report "$name" "${secs[$run]}" "$(pages_in "$out")" "$cpu"
done

if [ "${BENCH_OTHERS:-1}" = 0 ]; then
  echo "other tools left out (BENCH_OTHERS=0)"
elif command -v wkhtmltopdf >/dev/null; then
  out=$work/wk; mkdir -p "$out"; t0=$(now)
  cpu=$( (i=0
    for f in "${docs[@]}"; do
      i=$((i + 1))
      "${offline[@]}" env wkhtmltopdf -q -p http://127.0.0.1:9 --load-error-handling ignore \
        --load-media-error-handling ignore "$f" "$out/$i.pdf" >/dev/null 2>&1 || true
    done
    cpu_of_children) )
  report wkhtmltopdf "$(echo "$(now) - $t0" | bc -l)" "$(pages_in "$out")" "$cpu"
else
  echo "wkhtmltopdf is not installed: its column is left out"
fi

chromium=/usr/lib/chromium/chromium
[ -x "$chromium" ] || chromium=$(command -v chromium || true)
if [ "${BENCH_OTHERS:-1}" = 0 ]; then
  :
elif [ -n "$chromium" ]; then
  out=$work/chromium; mkdir -p "$out"; t0=$(now)
  flags=(--headless --disable-gpu --no-first-run --disable-background-networking --disable-component-update
         --disable-sync --no-pdf-header-footer)
  [ "$(id -u)" = 0 ] && flags+=(--no-sandbox)
  cpu=$( (i=0
    for f in "${docs[@]}"; do
      i=$((i + 1))
      "${offline[@]}" env "$chromium" "${flags[@]}" --user-data-dir="$work/profile$i" \
        --print-to-pdf="$out/$i.pdf" "file://$f" >/dev/null 2>&1 || true
      rm -rf "$work/profile$i"
    done
    cpu_of_children) )
  report "chromium --print-to-pdf" "$(echo "$(now) - $t0" | bc -l)" "$(pages_in "$out")" "$cpu"
else
  echo "chromium is not installed: its column is left out"
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'auto / light: %.2fx\n' "$(echo "${secs[auto]} / ${secs[light]}" | bc -l)"
