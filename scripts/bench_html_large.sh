#!/usr/bin/env bash
# Large HTML documents: seconds and peak memory (all processes of a
# conversion together) of vellumate and wkhtmltopdf, in one run, on
# generated documents of 1, 5, 10 and 20 MB (paragraphs, and a text file
# without line breaks), plus the other generated shapes at 5 MB.
# Usage: scripts/bench_html_large.sh [BUILD_DIR] [SIZES]
#   BUILD_DIR: a build with vellumate (default build); SIZES: "1 5 10 20"
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
sizes=${2:-1 5 10 20}

need=()
for p in wkhtmltopdf; do
  grep -qE "^${p}[[:space:]]*$" "$root/scripts/bench-packages.txt" || echo "note: $p is missing from bench-packages.txt" >&2
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
fi
if [ ! -x "$build/bin/vellumate" ] || [ ! -f "$build/lib/libtessaline.so" ]; then
  cmake --build "$build" --target vellumate corvanth tessaline regsvr -j2 >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELLUMATE_REGISTRY=$work/registry VELLUMATE_UI=none XDG_RUNTIME_DIR=$work HOME=$work TMPDIR=$work
"$build/bin/regsvr" "$build/lib/libcorvanth.so" >/dev/null
"$build/bin/regsvr" "$build/lib/libtessaline.so" >/dev/null
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 ALL_PROXY=http://127.0.0.1:9
export QT_QPA_PLATFORM=offscreen

inputs=()
for mb in $sizes; do
  python3 "$root/scripts/gen_big_html.py" paragraphs "$mb" "$work/paragraphs-$mb.html"
  inputs+=("$work/paragraphs-$mb.html")
done
for kind in table pre lists; do
  python3 "$root/scripts/gen_big_html.py" "$kind" 5 "$work/$kind-5.html"
  inputs+=("$work/$kind-5.html")
done
# A text file of 10 MB without a line break.
python3 -c "import sys; open(sys.argv[1], 'w').write('abcdefghij' * 1048576)" "$work/noline-10.txt"
inputs+=("$work/noline-10.txt")

printf "%-18s %-12s %9s %10s %6s\n" document tool seconds peak_MB status
for f in "${inputs[@]}"; do
  name=$(basename "$f")
  for tool in vellumate wkhtmltopdf; do
    pdf=$work/$tool-$name.pdf
    case $tool in
      vellumate) cmd=("$build/bin/vellumate" "$f" "$pdf") ;;
      wkhtmltopdf) cmd=(wkhtmltopdf -q --load-error-handling ignore "$f" "$pdf") ;;
    esac
    python3 "$root/scripts/peak_rss.py" "$work/m" "${cmd[@]}"
    read -r secs kb status < "$work/m"
    printf "%-18s %-12s %9s %10d %6s\n" "$name" "$tool" "$secs" $((kb / 1024)) "$status"
    rm -f "$pdf"
  done
done
