#!/usr/bin/env bash
# Writes a screenshot of each dialog of vellumate into out/screenshots/, drawn
# on a private X server (Xvfb) that ends with the script.
# Usage: scripts/screenshots.sh [build folder]
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
cmake --build "$build" --target vellumate_ui_tool >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A private registry and home, so the pictures show the built-in settings.
export VELLUMATE_REGISTRY=$work/registry HOME=$work XDG_RUNTIME_DIR=$work TMPDIR=$work VELLUMATE_UI=none
unset QT_QPA_PLATFORM
mkdir -p "$VELLUMATE_REGISTRY" out/screenshots
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/vellumate_ui_tool" screenshots "$top/out/screenshots"
