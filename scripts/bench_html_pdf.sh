#!/usr/bin/env bash
# HTML to PDF benchmark: pages per second, output bytes per page and peak
# memory of vellumate (with "/compress flate") over real documentation pages,
# side by side in one run with wkhtmltopdf, WeasyPrint and htmldoc on the
# same pages. Every output is checked for extractable text and kept links.
# Usage: scripts/bench_html_pdf.sh [BUILD_DIR] [MAX_PAGES]
#   BUILD_DIR: a Release build (default build-bench, configured and built when missing)
# Nothing leaves the machine: the tools run without network (a namespace of
# their own when possible, else a dead loopback proxy).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
max=${2:-24}

# The peers and tools, from the benchmark package list.
need=()
for p in wkhtmltopdf weasyprint htmldoc time bc poppler-utils qpdf; do
  grep -qE "^${p}[[:space:]]*$" "$root/scripts/bench-packages.txt" || echo "note: $p is missing from bench-packages.txt" >&2
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
fi

if [ ! -x "$build/bin/vellumate" ] || [ ! -f "$build/lib/libtessaline.so" ]; then
  [ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target vellumate corvanth tessaline regsvr -j2 >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELLUMATE_REGISTRY=$work/registry VELLUMATE_UI=none XDG_RUNTIME_DIR=$work HOME=$work TMPDIR=$work
"$build/bin/regsvr" "$build/lib/libcorvanth.so" >/dev/null
"$build/bin/regsvr" "$build/lib/libtessaline.so" >/dev/null

# Real documentation pages that Debian packages installed (and the engine's
# committed manual page), one copy each in a folder of their own so that no
# tool writes beside the originals.
pages=()
[ -f "$root/tests/html_engine/fixtures/docs/manual.html" ] && pages+=("$root/tests/html_engine/fixtures/docs/manual.html")
while IFS= read -r f; do
  pages+=("$f")
done < <(find /usr/share/doc -name '*.html' -size +6k -size -400k 2>/dev/null | sort | awk 'NR % 7 == 1' | head -n "$max")
mkdir -p "$work/in"
inputs=()
for i in "${!pages[@]}"; do
  cp "${pages[$i]}" "$work/in/$i.html"
  inputs+=("$work/in/$i.html")
done
echo "${#inputs[@]} pages, $(du -cb "${inputs[@]}" | tail -n 1 | cut -f1) bytes of HTML"

offline=()
if unshare -n true 2>/dev/null; then offline=(unshare -n); fi
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 ALL_PROXY=http://127.0.0.1:9
export QT_QPA_PLATFORM=offscreen

# The tools take turns page by page, so that the machine's drift during the
# run (other load, the disk's state) falls on all of them alike; each tool's
# time is the sum of its own commands.
tools=()
for tool in vellumate wkhtmltopdf weasyprint htmldoc; do
  if [ "$tool" != vellumate ] && ! command -v "$tool" >/dev/null; then
    echo "$tool: not installed" >&2
    continue
  fi
  tools+=("$tool")
  mkdir -p "$work/out/$tool"
  : > "$work/$tool.time"
  echo 0 > "$work/$tool.ns"
done
for f in "${inputs[@]}"; do
  name=$(basename "$f" .html)
  for tool in "${tools[@]}"; do
    pdf=$work/out/$tool/$name.pdf
    case $tool in
      vellumate) cmd=("$build/bin/vellumate" "$f" "$pdf" /compress flate) ;;
      wkhtmltopdf) cmd=(wkhtmltopdf -q --load-error-handling ignore --load-media-error-handling ignore "$f" "$pdf") ;;
      weasyprint) cmd=(weasyprint -q "$f" "$pdf") ;;
      htmldoc) cmd=(htmldoc --quiet --webpage -t pdf14 -f "$pdf" "$f") ;;
    esac
    start=$(date +%s%N)
    "${offline[@]}" /usr/bin/time -a -o "$work/$tool.time" -f '%M' "${cmd[@]}" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    echo $(( $(cat "$work/$tool.ns") + end - start )) > "$work/$tool.ns"
  done
done

# One tool's figures: wall time, peak memory of its largest process, pages
# and bytes of the outputs, pages with extractable text and with links.
report() {
  local tool=$1 out=$work/out/$1
  local secs pages=0 bytes=0 texts=0 linked=0 peak=0 failed=0
  secs=$(echo "scale=3; $(cat "$work/$tool.ns") / 1000000000" | bc)
  for f in "${inputs[@]}"; do
    local name pdf n
    name=$(basename "$f" .html)
    pdf=$out/$name.pdf
    if [ ! -s "$pdf" ]; then failed=$((failed + 1)); continue; fi
    n=$(pdfinfo "$pdf" 2>/dev/null | awk '/^Pages:/ {print $2}')
    pages=$((pages + ${n:-0}))
    bytes=$((bytes + $(stat -c %s "$pdf")))
    [ "$(pdftotext "$pdf" - 2>/dev/null | tr -d '[:space:]' | wc -c)" -gt 100 ] && texts=$((texts + 1))
    [ -n "$(qpdf --json --json-stream-data=none "$pdf" 2>/dev/null | python3 "$root/tests/html_pdf/pdf_links.py" 2>/dev/null)" ] &&
      linked=$((linked + 1))
  done
  peak=$(grep -E '^[0-9]+$' "$work/$tool.time" | sort -n | tail -n 1)
  printf '%-12s %6d %6d %9.2f %9.1f %7.2f %12d %10.0f %8.1f %6d/%d %6d/%d\n' "$tool" "$failed" "$pages" "$secs" \
    "$(echo "scale=3; $pages / $secs" | bc)" "$(echo "scale=3; ${#inputs[@]} / $secs" | bc)" "$bytes" "$(echo "scale=1; $bytes / ($pages + ($pages == 0))" | bc)" \
    "$(echo "scale=1; ${peak:-0} / 1024" | bc)" "$texts" "${#inputs[@]}" "$linked" "${#inputs[@]}"
}

# Page counts differ between the tools (each lays out its own way), so
# documents per second is shown next to pages per second.
printf '%-12s %6s %6s %9s %9s %7s %12s %10s %8s %8s %8s\n' tool failed pages seconds "pages/s" "docs/s" "bytes" "bytes/page" \
  "peak MB" text links
for tool in "${tools[@]}"; do
  report "$tool"
done
