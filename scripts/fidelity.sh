#!/usr/bin/env bash
# Documentation pages against the browser's print: pages 2 and 3 of each at
# 50 dpi, side by side with Chromium's, and the measures of scripts/fidelity.py,
# into out/fidelity/ (index.html). The pages are those of
# tests/html_pdf/real_documents.txt (packages of scripts/packages.txt).
# Usage: scripts/fidelity.sh [BUILD_DIR] [PAGE...]
# BUILD_DIR holds bin/vellumate, bin/regsvr and lib/ (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
if [ ! -x "$build/bin/vellumate" ] || [ ! -f "$build/lib/libtessaline.so" ]; then
  cmake --build "$build" --target vellumate corvanth tessaline regsvr
fi
pages=("$@")
if [ ${#pages[@]} -eq 0 ]; then
  while IFS= read -r line; do
    case "$line" in ''|'#'*) ;; *) pages+=("$line") ;; esac
  done < "$root/tests/html_pdf/real_documents.txt"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VELLUMATE_REGISTRY=$work/registry VELLUMATE_UI=none VELLUMATE_QUIET=1 XDG_RUNTIME_DIR=$work HOME=$work TMPDIR=$work
"$build/bin/regsvr" "$build/lib/libcorvanth.so" >/dev/null
"$build/bin/regsvr" "$build/lib/libtessaline.so" >/dev/null
# Nothing leaves the machine: pages that name web addresses get no answer.
export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9 ALL_PROXY=http://127.0.0.1:9
# FIDELITY_OUT: where the pictures go; FIDELITY_CHECK=1: fail below the limits.
out=${FIDELITY_OUT:-$root/out/fidelity}
check=()
[ "${FIDELITY_CHECK:-0}" = 1 ] && check=(--check)
mkdir -p "$out"
python3 "$root/scripts/fidelity.py" --vellumate "$build/bin/vellumate" --out "$out" "${check[@]}" "${pages[@]}"
echo "pictures and measures: $out/index.html"
