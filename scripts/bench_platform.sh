#!/usr/bin/env bash
# Platform benchmarks: registry value read/write latency, `reg query`
# start-up, and a profile read from a 1,000-key file (medians, microseconds).
#   scripts/bench_platform.sh [BUILD_FOLDER]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
[ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target platform_bench reg -j2 >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/vmbench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bin/platform_bench" "$build/bin/reg" "$work"
