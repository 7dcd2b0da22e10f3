#!/usr/bin/env bash
# Writes a screenshot of each dialog of vellumate and of each page of the
# printer's property sheet into out/screenshots/, drawn on a private X server
# (Xvfb) that ends with the script. The sheet reads the test queue of a
# private print service, stopped with the script too.
# Usage: scripts/screenshots.sh [build folder]
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
cmake --build "$build" --target vellumate_ui_tool properties_ui_tool reg >/dev/null
work=$(mktemp -d)
cups=""
finish() {
  if [ -n "$cups" ]; then tests/support/cupsd-fixture.sh stop "$cups" || true; fi
  rm -rf "$work"
}
trap finish EXIT
# A private registry and home, so the pictures show the built-in settings.
export VELLUMATE_REGISTRY=$work/registry HOME=$work XDG_RUNTIME_DIR=$work TMPDIR=$work VELLUMATE_UI=none
unset QT_QPA_PLATFORM
mkdir -p "$VELLUMATE_REGISTRY" out/screenshots
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/vellumate_ui_tool" screenshots "$top/out/screenshots"

# The property sheet: the printer installed (its registry key) and its queue.
"$build/bin/reg" add 'HKLM\Software\Vellumate' /v Log /t REG_DWORD /d 0 /f >/dev/null
cups=$work/cups
tests/support/cupsd-fixture.sh start "$cups" A4 >/dev/null
CUPS_SERVER=$cups/cups.sock CUPS_SERVERROOT=$cups \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/properties_ui_tool" "$top/out/screenshots"
