#!/usr/bin/env bash
# Registers the in-process servers into the user's registry folder and converts
# the bundled samples into out/.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bin=$build/bin
lib=$build/lib
for so in "$lib"/libcorvanth.so "$lib"/libtessaline.so; do
  [ -f "$so" ] && [ -x "$bin/regsvr" ] && "$bin/regsvr" "$so"
done
mkdir -p out
if [ -x "$bin/vellumate" ]; then
  export VELLUMATE_UI=none
  # The suite's own help file (built beside the programs) is a compiled help file too.
  for f in samples/* "$bin/help.chm"; do
    [ -f "$f" ] || continue
    name=$(basename "$f")
    abs=$(readlink -f "$f")
    if "$bin/vellumate" "$abs" "$top/out/$name.pdf"; then
      echo "converted $f -> out/$name.pdf"
    else
      echo "failed    $f (exit status $?)"
    fi
  done
else
  for p in "$bin"/*; do [ -x "$p" ] && echo "built: $p"; done
fi

# The printer "Vellumate" (CUPS queue and backend).
bash "$top/scripts/demo_printer.sh" "$build"
