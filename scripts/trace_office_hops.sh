#!/usr/bin/env bash
# Where the time of a printed Office document goes once the office prints:
# converts each file in a run of its own through the whole printing chain
# (as bench_office.sh does) with $VELLUMATE_HOP_LOG set, and prints every
# process's marks in milliseconds after the converter's "PrintOut". With
# --list, converts the files in one run over a list (one office for all, the
# next file loaded ahead) and prints each document's marks in milliseconds
# after its "office document begins".
# Needs root.
#   scripts/trace_office_hops.sh [--list] [BUILD_FOLDER] FILE...
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
list=
if [ "${1:-}" = --list ]; then list=1; shift; fi
if [ $# -gt 0 ] && [ -d "$1" ]; then build=$1; shift; fi
[ $# -gt 0 ] || { echo "usage: $0 [--list] [BUILD_FOLDER] FILE..." >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "trace_office_hops: needs root (cupsd, the backend, the user nobody)"; exit 0; }
cmake --build "$build" -j2 --target vellumate vmoffice regsvr reg printagent preprocess progress vmrelay dispatcher \
  pathprobe vellumate-backend >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/vmtrace-office-XXXXXX")
chmod 0755 "$work"
chain=$top/tests/support/office-chain.sh
cleanup() { "$chain" stop "$work/chain" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
export VELLUMATE_HOP_LOG=$work/hops.log
: > "$VELLUMATE_HOP_LOG"
chmod 0666 "$VELLUMATE_HOP_LOG"
"$chain" start "$work/chain" "$build/bin" "$build/lib" "$top" >/dev/null
docs=$work/chain/docs
if [ -n "$list" ]; then
  : > "$docs/list.txt"
  for f in "$@"; do
    cp "$f" "$docs/$(basename "$f")"
    echo "$docs/$(basename "$f")" >> "$docs/list.txt"
  done
  mkdir -p "$docs/listed"
  chown nobody "$docs"/* "$docs/listed"
  : > "$VELLUMATE_HOP_LOG"
  "$chain" run "$work/chain" "$build/bin/vellumate" /inlist "$docs/list.txt" /outdir "$docs/listed" >/dev/null 2>&1 ||
    echo "vellumate failed on the list" >&2
  sort -n "$VELLUMATE_HOP_LOG" | awk '
    / office document begins$/ { t0 = $1; printf "== document %d\n", ++n }
    t0 { t = $1; sub(/^[^ ]+ /, ""); printf "%8.1f ms  %s\n", (t - t0) * 1000, $0 }'
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  exit 0
fi
for f in "$@"; do
  name=$(basename "$f")
  cp "$f" "$docs/$name"
  chown nobody "$docs/$name"
  : > "$VELLUMATE_HOP_LOG"
  "$chain" run "$work/chain" "$build/bin/vellumate" "$docs/$name" "$docs/$name.pdf" >/dev/null 2>&1 ||
    echo "vellumate failed on $name" >&2
  echo "== $name"
  sort -n "$VELLUMATE_HOP_LOG" | awk '
    !t0 && /PrintOut$/ { t0 = $1 }
    { line[NR] = $0; at[NR] = $1 }
    END { for (i = 1; i <= NR; ++i) { sub(/^[^ ]+ /, "", line[i]); printf "%8.1f ms  %s\n", (at[i] - t0) * 1000, line[i] } }'
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
