#!/usr/bin/env bash
# Tells whether two builds write the same PDF files, byte for byte: both
# convert the same inputs with VELLUMATE_PDF_DETERMINISTIC=1 (fixed /ID and
# dates) and every pair of outputs is compared with cmp. For changes that
# must not change what users get (a reshaping of the code, a new build flag).
#
# The inputs: samples/, the HTML benchmark's pages (the engine's manual and
# documentation pages Debian packages installed, as scripts/bench_html_pdf.sh
# picks them, also with "/compress flate"), help files (ours, and the first
# topics of the largest one below /usr/share when chmcmd is there), pictures
# below /usr/share and the generated pictures of scripts/bench_pictures.sh.
#
# Usage: scripts/compare_pdf_output.sh OLD_BUILD NEW_BUILD [MAX_PAGES] [CHM_TOPICS]
# Each build needs the targets vellumate, regsvr, corvanth, tessaline,
# help_chm and picture_bench_make. Exit status 0 when every pair is identical.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
old=$(cd "${1:?old build folder}" && pwd)
new=$(cd "${2:?new build folder}" && pwd)
max=${3:-24}
topics=${4:-150}

for b in "$old" "$new"; do
  for t in bin/vellumate bin/regsvr lib/libcorvanth.so lib/libtessaline.so; do
    [ -e "$b/$t" ] || { echo "missing $b/$t: build it first" >&2; exit 2; }
  done
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
export VELLUMATE_PDF_DETERMINISTIC=1 VELLUMATE_UI=none VELLUMATE_QUIET=1
export HOME=$work XDG_RUNTIME_DIR=$work TMPDIR=$work QT_QPA_PLATFORM=offscreen
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 ALL_PROXY=http://127.0.0.1:9

# ---- the inputs, copied once so that both builds read the same files
inputs=()
add() { # add SOURCE NAME
  cp "$1" "$work/in/$2"
  inputs+=("$work/in/$2")
}
for f in "$root"/samples/*; do add "$f" "sample-$(basename "$f")"; done
[ -f "$root/tests/html_engine/fixtures/docs/manual.html" ] && add "$root/tests/html_engine/fixtures/docs/manual.html" manual.html
i=0
while IFS= read -r f; do
  i=$((i + 1))
  add "$f" "doc$i.html"
done < <(find /usr/share/doc -name '*.html' -size +6k -size -400k 2>/dev/null | sort | awk 'NR % 7 == 1' | head -n "$max")
[ -f "$new/bin/help.chm" ] && add "$new/bin/help.chm" help.chm
chm=$(find /usr/share -iname '*.chm' -type f -printf '%s %p\n' 2>/dev/null | sort -n | tail -1 | cut -d' ' -f2-)
if [ -n "$chm" ] && [ -x "$new/bin/hh" ] && command -v chmcmd >/dev/null; then
  # The first topics of the contents, compiled into a help file of their own.
  "$new/bin/hh" -decompile "$work/chm" "$chm" >/dev/null 2>&1 || true
  python3 "$root/scripts/chm_subset.py" "$work/chm" "$work/subset" "$topics"
  (cd "$work/subset" && chmcmd --no-html-scan subset.hhp >/dev/null 2>&1) && add "$work/subset/subset.chm" help-subset.chm
fi
pick() { # pick EXT COUNT: files below /usr/share, spread over the sorted list
  find /usr/share -xdev -type f -iname "*.$1" -size -4M 2>/dev/null | sort |
    awk -v n="$2" '{a[NR]=$0} END {for (i = 1; i <= n && i <= NR; i++) print a[int((i - 1) * NR / n) + 1]}'
}
for ext in jpg png gif bmp tif emf; do
  i=0
  while IFS= read -r f; do
    [ -n "$f" ] || continue
    i=$((i + 1))
    add "$f" "pic-$ext$i.$ext"
  done < <(pick "$ext" 3)
done
if [ -x "$new/bin/picture_bench_make" ]; then
  mkdir -p "$work/gen"
  "$new/bin/picture_bench_make" "$work/gen" 1200 1800 >/dev/null 2>&1 || true
  for f in "$work"/gen/*; do [ -f "$f" ] && add "$f" "gen-$(basename "$f")"; done
fi

# ---- both builds convert every input (some also with Flate compression)
convert() { # convert BUILD TAG
  local build=$1 tag=$2 out=$work/out-$2
  mkdir -p "$out" "$work/reg-$tag"
  export VELLUMATE_REGISTRY=$work/reg-$tag
  "$build/bin/regsvr" /s "$build/lib/libcorvanth.so"
  "$build/bin/regsvr" /s "$build/lib/libtessaline.so"
  : >"$work/status-$tag"
  for f in "${inputs[@]}"; do
    local name
    name=$(basename "$f")
    local rc=0
    "$build/bin/vellumate" "$f" "$out/$name.pdf" >/dev/null 2>&1 || rc=$?
    echo "$name $rc" >>"$work/status-$tag"
    case "$name" in
      *.html | *.chm)
        rc=0
        "$build/bin/vellumate" "$f" "$out/$name.flate.pdf" /compress flate >/dev/null 2>&1 || rc=$?
        echo "$name.flate $rc" >>"$work/status-$tag"
        ;;
    esac
  done
}
convert "$old" old
convert "$new" new

# ---- compare
same=0 differ=0
if ! cmp -s "$work/status-old" "$work/status-new"; then
  echo "exit statuses differ:"
  diff "$work/status-old" "$work/status-new" || true
  differ=$((differ + 1))
fi
for a in "$work"/out-old/*.pdf; do
  name=$(basename "$a")
  b=$work/out-new/$name
  if [ ! -f "$b" ]; then
    echo "only the old build wrote $name"
    differ=$((differ + 1))
  elif cmp -s "$a" "$b"; then
    same=$((same + 1))
  else
    echo "differs: $name ($(stat -c %s "$a") / $(stat -c %s "$b") bytes)"
    differ=$((differ + 1))
  fi
done
for b in "$work"/out-new/*.pdf; do
  [ -f "$work/out-old/$(basename "$b")" ] || { echo "only the new build wrote $(basename "$b")"; differ=$((differ + 1)); }
done
pages=0
for a in "$work"/out-new/*.pdf; do
  n=$(pdfinfo "$a" 2>/dev/null | awk '/^Pages:/ {print $2}')
  pages=$((pages + ${n:-0}))
done
echo "${#inputs[@]} inputs, $same identical PDF files ($pages pages), $differ differences"
[ "$differ" -eq 0 ]
