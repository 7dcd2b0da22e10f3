#!/usr/bin/env bash
# Measures, on real documentation pages, where in-document links land and
# what text page boundaries lose or double (see measure_links.py).
#   scripts/measure_links.sh [BUILD_DIR] [LIST]
# BUILD_DIR defaults to build/; LIST to tests/html_pdf/real_documents.txt
# (the pages scripts/packages.txt installs). Give another build (of an older
# commit, say) to compare before and after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
list=${2:-$here/../tests/html_pdf/real_documents.txt}
work=$(mktemp -d "${TMPDIR:-/tmp}/vm_measure_links.XXXXXX")
trap 'rm -rf "$work"' EXIT
export VELLUMATE_REGISTRY="$work/registry" VELLUMATE_UI=none TMPDIR="$work"
"$build/bin/regsvr" /s "$build/lib/libcorvanth.so"
"$build/bin/regsvr" /s "$build/lib/libtessaline.so"
mapfile -t files < <(grep -v '^\s*#' "$list" | grep -v '^\s*$')
echo "build: $build"
python3 "$here/measure_links.py" --vellumate "$build/bin/vellumate" --work "$work" "${files[@]}"
