#!/bin/bash
# Converts the same documents with two builds of vellumate and compares the
# PDF files byte for byte (VELLUMATE_PDF_DETERMINISTIC=1 fixes /ID and dates).
# The documents: samples/, the pages of the HTML benchmarks (the engine's
# manual fixture, every seventh documentation page of /usr/share/doc, the
# generated big pages), the suite's help file (and the largest CHM of
# /usr/share with COMPARE_BIG_CHM=1), the picture corpus and the pictures of Debian packages; HTML
# once plain, once with "/compress flate /pagenumbers yes" and once with most
# switches; pictures also with paper, orientation and page numbers.
# Prints the files that differ; exits 1 when any does.
#   scripts/compare_outputs_b.sh OLD_BUILD_DIR NEW_BUILD_DIR [MAX_DOC_PAGES]
set -u
old=$(realpath "$1") new=$(realpath "$2") max=${3:-40}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

inputs=("$root"/samples/*)
[ -f "$root/tests/html_engine/fixtures/docs/manual.html" ] && inputs+=("$root/tests/html_engine/fixtures/docs/manual.html")
while IFS= read -r f; do inputs+=("$f"); done < <(find /usr/share/doc -name '*.html' -size +6k -size -400k 2>/dev/null |
  sort | awk 'NR % 7 == 1' | head -n "$max")
mkdir -p "$work/gen"
python3 "$root/scripts/gen_big_html.py" paragraphs 1 "$work/gen/paragraphs-1.html"
for kind in table pre lists; do python3 "$root/scripts/gen_big_html.py" "$kind" 1 "$work/gen/$kind-1.html"; done
inputs+=("$work"/gen/*.html)
inputs+=("$old/bin/help.chm")
# The largest installed help file takes many minutes a build: only when asked.
if [ -n "${COMPARE_BIG_CHM:-}" ]; then
  chm=$(find /usr/share -iname '*.chm' -type f -printf '%s %p\n' 2>/dev/null | sort -n | tail -1 | cut -d' ' -f2-)
  [ -n "$chm" ] && inputs+=("$chm")
fi
inputs+=("$root"/tests/pictures/corpus/*)
for f in /usr/share/cmake-3.25/Templates/Windows/Logo.png /usr/share/doc/cmake-data/CMakeLogo.gif \
  /usr/share/doc/fp-compiler/3.2.2/palmos/pilrc.bmp; do
  [ -f "$f" ] && inputs+=("$f")
done

# Every kind of setting at once: document information, protection, viewer
# preferences, paper, margins, fonts.
options=(/porient landscape /psize letter /author Ann /subj Tests /title "Compared" /keywords "a b" /ver v13
  /protect yes /userpass u /ownerpass o /keylen 128 /allowprn no /allowcpy no /playout 2columnleft
  /pmode outlines /hidemenu yes /hidetoolbar yes /centerwnd yes /margin-left 30 /margin-bottom 25
  /widthadj page /embedfonts no /charset russian /pagenumbers yes)

# run BUILD OUTDIR: every input to OUTDIR/<n>.pdf (and <n>-flate.pdf for HTML)
run() {
  local build=$1 out=$2
  mkdir -p "$out" "$out.home"
  (
    export VELLUMATE_REGISTRY=$out.home/registry VELLUMATE_UI=none XDG_RUNTIME_DIR=$out.home HOME=$out.home
    export TMPDIR=$out.home VELLUMATE_PDF_DETERMINISTIC=1 VELLUMATE_QUIET=1 QT_QPA_PLATFORM=offscreen
    export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 ALL_PROXY=http://127.0.0.1:9
    "$build/bin/regsvr" "$build/lib/libcorvanth.so" >/dev/null
    "$build/bin/regsvr" "$build/lib/libtessaline.so" >/dev/null
    local i=0
    for f in "${inputs[@]}"; do
      i=$((i + 1))
      "$build/bin/vellumate" "$f" "$out/$i.pdf" >/dev/null 2>&1
      echo "$i $? $f" >>"$out/status"
      case "$f" in
        *.html | *.htm | *.txt)
          "$build/bin/vellumate" "$f" "$out/$i-flate.pdf" /compress flate /pagenumbers yes >/dev/null 2>&1
          echo "$i-flate $? $f" >>"$out/status"
          "$build/bin/vellumate" "$f" "$out/$i-opts.pdf" "${options[@]}" >/dev/null 2>&1
          echo "$i-opts $? $f" >>"$out/status" ;;
        *.png | *.gif | *.bmp | *.jpg | *.tif | *.emf)
          "$build/bin/vellumate" "$f" "$out/$i-opts.pdf" /porient landscape /psize a3 /pagenumbers yes \
            /margin-top 40 >/dev/null 2>&1
          echo "$i-opts $? $f" >>"$out/status" ;;
      esac
    done
  )
}
run "$old" "$work/old"
run "$new" "$work/new"

differ=0
if ! diff "$work/old/status" "$work/new/status" >/dev/null; then
  echo "exit statuses differ:"
  diff "$work/old/status" "$work/new/status"
  differ=1
fi
n=0
for pdf in "$work"/old/*.pdf; do
  n=$((n + 1))
  name=$(basename "$pdf")
  if ! cmp -s "$pdf" "$work/new/$name"; then
    echo "differs: $name ($(grep "^${name%.pdf} " "$work/old/status" | cut -d' ' -f3-))"
    differ=1
  fi
done
echo "$n PDF files from ${#inputs[@]} documents compared"
[ "$differ" = 0 ] && echo "identical" || exit 1
