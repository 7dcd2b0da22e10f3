#!/usr/bin/env bash
# HTML engine benchmark: parse + layout + recording time per KB of HTML and
# peak memory of our engine on real documentation pages, side by side with a
# whole wkhtmltopdf conversion of the same pages.
# Usage: scripts/bench_html_engine.sh [BUILD_DIR] [MAX_PAGES]
#   BUILD_DIR: a Release or RelWithDebInfo build (default build-bench, made when missing)
# Nothing leaves the machine: both tools run without network (a namespace of
# their own when possible, else a dead loopback proxy).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
max=${2:-20}

# The tools this script needs, taken from the benchmark package list.
need=()
for p in wkhtmltopdf time bc; do
  grep -qE "^${p}[[:space:]]*$" "$root/scripts/bench-packages.txt" || echo "note: $p is missing from bench-packages.txt" >&2
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
fi

if [ ! -x "$build/bin/vm_htmlbench" ]; then
  [ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target vm_htmlbench -j2 >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Real documentation pages: the committed ones and what Debian packages installed.
pages=("$root"/tests/html_engine/fixtures/docs/manual.html)
while IFS= read -r f; do
  pages+=("$f")
done < <(find /usr/share/doc -name '*.html' -size +4k -size -600k 2>/dev/null | sort | head -n "$max")

offline=()
if unshare -n true 2>/dev/null; then offline=(unshare -n); fi
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 ALL_PROXY=http://127.0.0.1:9
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work

"${offline[@]}" "$build/bin/vm_htmlbench" "${pages[@]}" > "$work/ours.tsv"

printf '%-58s %8s | %9s %9s %8s | %9s %9s %8s\n' page KB "ours ms" "ms/KB" "peak MB" "wk ms" "ms/KB" "peak MB"
tail -n +2 "$work/ours.tsv" | while IFS=$'\t' read -r file bytes ms mspk rss w h calls; do
  [ "$ms" = failed ] && continue
  kb=$(echo "scale=1; $bytes/1024" | bc)
  "${offline[@]}" /usr/bin/time -o "$work/time" -f '%e %M' wkhtmltopdf -q -p http://127.0.0.1:9 \
      --load-error-handling ignore --load-media-error-handling ignore \
      "$file" "$work/out.pdf" >/dev/null 2>&1 || true
  out=$(tail -n 1 "$work/time")
  wsec=${out%% *}; wrss=${out##* }
  wms=$(echo "scale=1; $wsec*1000/1" | bc)
  wmspk=$(echo "scale=3; $wms/($bytes/1024)" | bc)
  printf '%-58s %8s | %9.1f %9.3f %8.1f | %9.1f %9.3f %8.1f\n' "$(basename "$(dirname "$file")")/$(basename "$file")" "$kb" \
    "$ms" "$mspk" "$(echo "scale=1; $rss/1024" | bc)" "$wms" "$wmspk" "$(echo "scale=1; $wrss/1024" | bc)"
  echo "$bytes $ms $rss $wms $wrss" >> "$work/sums"
done

awk '{b+=$1; o+=$2; w+=$4; if ($3>orss) orss=$3; if ($5>wrss) wrss=$5; n++}
     END { if (n) printf "\n%d pages, %.0f KB: ours %.3f ms/KB (peak %.1f MB), wkhtmltopdf %.3f ms/KB (peak %.1f MB)\n",
           n, b/1024, o/(b/1024), orss/1024, w/(b/1024), wrss/1024 }' "$work/sums"

# Start-up: what one conversion of a one-line page costs (the fixed cost
# every document pays), and how many shared libraries the add-on maps.
if [ -x "$build/bin/vellumate" ] && [ -f "$build/lib/libtessaline.so" ] && [ -f "$build/lib/libcorvanth.so" ]; then
  runs=${BENCH_STARTUP_RUNS:-30}
  (
    export VELLUMATE_REGISTRY=$work/registry VELLUMATE_UI=none HOME=$work TMPDIR=$work
    "$build/bin/regsvr" /s "$build/lib/libcorvanth.so"
    "$build/bin/regsvr" /s "$build/lib/libtessaline.so"
    echo '<p>Hello</p>' > "$work/one.html"
    "$build/bin/vellumate" "$work/one.html" "$work/one.pdf" >/dev/null 2>&1  # font caches made
    : > "$work/startup.time"
    for _ in $(seq "$runs"); do
      "${offline[@]}" /usr/bin/time -a -o "$work/startup.time" -f '%U %S %e %M' \
        "$build/bin/vellumate" "$work/one.html" "$work/one.pdf" >/dev/null 2>&1
    done
    awk -v n="$runs" '/^[0-9.]+ [0-9.]+ [0-9.]+ [0-9]+$/ {u+=$1; s+=$2; e+=$3; if ($4>m) m=$4}
         END { printf "\nstart-up, one-line page, %d runs: %.1f ms CPU (user %.1f, sys %.1f), %.1f ms wall per document, peak %.1f MB\n",
               n, (u+s)*1000/n, u*1000/n, s*1000/n, e*1000/n, m/1024 }' "$work/startup.time"
  )
  echo "libraries mapped with libtessaline.so: $(ldd "$build/lib/libtessaline.so" | wc -l)"
fi
