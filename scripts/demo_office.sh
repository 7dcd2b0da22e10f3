#!/usr/bin/env bash
# Office documents through the whole chain: one Word document, one spreadsheet
# and one presentation (samples a Debian package ships) printed by LibreOffice
# to the printer "Vellumate" of a private print service, and converted by a
# run of the user nobody (the printer prints no job of root) into out/.
# Needs root; leaves no service or process behind.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$top" && readlink -f "$build")
samples=/usr/share/gocode/src/github.com/gabriel-vasile/mimetype/testdata
[ "$(id -u)" -eq 0 ] || { echo "office: run as root to convert the Office samples"; exit 0; }
[ -f "$build/lib/libvmoffice.so" ] && command -v soffice >/dev/null || { echo "office: libvmoffice.so or LibreOffice is missing"; exit 0; }
[ -d "$samples" ] || { echo "office: the samples are not installed (scripts/install-deps.sh)"; exit 0; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vmdemo-office-XXXXXX")
chmod 0755 "$work"
chain=$top/tests/support/office-chain.sh
trap '"$chain" stop "$work/chain" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$chain" start "$work/chain" "$build/bin" "$build/lib" "$top" >/dev/null
mkdir -p "$top/out"
for f in docx.docx xlsx.xlsx pptx.pptx; do
  cp "$samples/$f" "$work/chain/docs/$f"
  chown nobody "$work/chain/docs/$f"
  if "$chain" run "$work/chain" "$build/bin/vellumate" "$work/chain/docs/$f" "$work/chain/docs/$f.pdf"; then
    cp "$work/chain/docs/$f.pdf" "$top/out/$f.pdf"
    echo "converted $samples/$f -> out/$f.pdf (through the printer)"
  else
    echo "failed    $samples/$f (exit status $?)"
  fi
done
