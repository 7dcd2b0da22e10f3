#!/usr/bin/env bash
# The virtual printer's hand-off: time from starting the dispatcher to the
# wake-up of a waiting process (100 jobs of 10 pages, median), and the
# waiting process's wake-ups while idle. Runs against a private cupsd, a
# private registry and runtime folder, all removed at the end.
#   scripts/bench_pipeline.sh [BUILD_FOLDER]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
[ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target pipeline_bench dispatcher -j2 >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/vmbench-XXXXXX")
cleanup() { "$top/tests/support/cupsd-fixture.sh" stop "$work/cups" || true; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/run" && chmod 700 "$work/run"
eval "export $("$top/tests/support/cupsd-fixture.sh" start "$work/cups")"
export CUPS_SERVERROOT="$work/cups" XDG_RUNTIME_DIR="$work/run" VELLUMATE_REGISTRY="$work/reg" VELLUMATE_UI=none
"$build/bin/pipeline_bench" "$build/bin/dispatcher" "$top/tests/emf/fixtures/office.emf" 100 10 10
