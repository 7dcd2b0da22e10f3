#!/usr/bin/env bash
# Pictures to PDF, side by side in one run: vellumate, img2pdf and
# ImageMagick's convert on the same files. For each picture and tool: wall
# time, output bytes and peak memory (maximum resident set).
# Usage: scripts/bench_pictures.sh [build folder] [huge-width huge-height]
# The build folder needs the targets vellumate, regsvr, corvanth, tessaline
# and picture_bench_make. The peers come from scripts/bench-packages.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
huge_w=${2:-22500}
huge_h=${3:-33300}

missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done <"$here/bench-packages.txt"
if ((${#missing[@]})); then
  echo "installing ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
for t in bin/vellumate bin/regsvr lib/libcorvanth.so lib/libtessaline.so bin/picture_bench_make; do
  [ -e "$build/$t" ] || { echo "missing $build/$t: build it first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELLUMATE_REGISTRY=$work/registry VELLUMATE_UI=none VELLUMATE_MSGBOX_LOG=$work/boxes.log
export HOME=$work XDG_RUNTIME_DIR=$work TMPDIR=$work
mkdir -p "$VELLUMATE_REGISTRY" "$work/in" "$work/out"
"$build/bin/regsvr" "$build/lib/libcorvanth.so" >/dev/null
"$build/bin/regsvr" "$build/lib/libtessaline.so" >/dev/null

# ImageMagick's Debian policy forbids writing PDF and caps the picture size;
# convert runs in a private mount namespace that sees a copy allowing both.
policy=$work/policy.xml
sed -e '/rights="none" pattern="PDF"/d' \
    -e 's|name="memory" value="[^"]*"|name="memory" value="8GiB"|' \
    -e 's|name="map" value="[^"]*"|name="map" value="8GiB"|' \
    -e 's|name="width" value="[^"]*"|name="width" value="64KP"|' \
    -e 's|name="height" value="[^"]*"|name="height" value="64KP"|' \
    -e 's|name="area" value="[^"]*"|name="area" value="4GP"|' \
    -e 's|name="disk" value="[^"]*"|name="disk" value="64GiB"|' /etc/ImageMagick-6/policy.xml >"$policy"

# The pictures: some that packages install, and the generated ones.
pick() {  # pick EXT COUNT: files below /usr/share, spread over the sorted list
  find /usr/share -xdev -type f -iname "*.$1" -size -4M 2>/dev/null | sort |
    awk -v n="$2" '{a[NR]=$0} END {for (i = 1; i <= n && i <= NR; i++) print a[int((i - 1) * NR / n) + 1]}'
}
i=0
for ext in jpg png gif bmp; do
  while read -r f; do
    [ -n "$f" ] || continue
    i=$((i + 1))
    cp "$f" "$work/in/pkg$i-$(basename "$f")"
  done < <(pick "$ext" 3)
done
echo "writing generated pictures (huge.jpg is ${huge_w}x${huge_h})..." >&2
"$build/bin/picture_bench_make" "$work/in" "$huge_w" "$huge_h"

measure() {  # measure TOOL OUT CMD...: prints seconds, bytes, peak MiB (or "fail")
  local tool=$1 out=$2 stats=$work/time.txt
  shift 2
  rm -f "$out"
  if /usr/bin/time -f '%e %M' -o "$stats" "$@" >/dev/null 2>&1 && [ -s "$out" ]; then
    read -r secs kb <"$stats"
    printf '%8.2f %12d %8.1f' "$secs" "$(stat -c %s "$out")" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')"
  else
    printf '%8s %12s %8s' fail - -
  fi
}

printf '%-34s %10s  %-31s  %-31s  %-31s\n' picture bytes "vellumate: s / out bytes / MiB" \
  "img2pdf: s / out bytes / MiB" "convert: s / out bytes / MiB"
for f in "$work"/in/*; do
  name=$(basename "$f")
  printf '%-34s %10d ' "${name:0:34}" "$(stat -c %s "$f")"
  measure vellumate "$work/out/v.pdf" "$build/bin/vellumate" "$f" "$work/out/v.pdf"
  printf '  '
  measure img2pdf "$work/out/i.pdf" img2pdf "$f" -o "$work/out/i.pdf"
  printf '  '
  if [ "$name" = huge.jpg ]; then
    printf '%8s %12s %8s' skipped - -  # decodes 2.2 GB of samples first
  else
    measure convert "$work/out/c.pdf" unshare -m sh -c \
      "mount --bind '$policy' /etc/ImageMagick-6/policy.xml && exec convert '$f' '$work/out/c.pdf'"
  fi
  echo
done
