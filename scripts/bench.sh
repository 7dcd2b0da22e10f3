#!/usr/bin/env bash
# Runs every area's benchmark against one build folder, one after another.
# Peers that a benchmark compares with are installed by that benchmark itself.
set -uo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for b in "$here"/bench_*.sh; do
  echo "=== $(basename "$b")"
  bash "$b" "$build" || { echo "($(basename "$b") failed with status $?)"; status=1; }
done
exit $status
