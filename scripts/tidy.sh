#!/usr/bin/env bash
# The maintainer build's clang-tidy pass: the checks of .clang-tidy over the
# project's own sources (tests, benchmarks and fuzz drivers left out) of a
# configured build. Prints the findings and the time it took; exits non-zero
# on any finding.
# Usage: scripts/tidy.sh [BUILD] [JOBS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
jobs=${2:-$(nproc)}
db=$build/compile_commands.json
[ -f "$db" ] || { echo "no $db: configure the build first" >&2; exit 2; }
tidy=$(command -v clang-tidy || command -v clang-tidy-14 || true)
[ -n "$tidy" ] || { echo "clang-tidy is not installed (scripts/packages.txt)" >&2; exit 2; }

# The sources: every project file the build compiles, but tests, benchmarks,
# fuzz drivers and generated code, and the files that include qpdf's headers
# (clang 14 cannot compile them with GCC 12's standard library).
mapfile -t files < <(python3 - "$db" "$root" <<'PY'
import json, os, sys
db, root = sys.argv[1], os.path.realpath(sys.argv[2])
seen = set()
for entry in json.load(open(db)):
    f = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(f, root)
    if rel.startswith("..") or rel.startswith("build") or f in seen:
        continue
    name = os.path.basename(rel)
    parts = rel.split(os.sep)
    if (parts[0] == "tests" or "bench" in parts or "fuzz" in parts or "testing" in parts or "test" in parts
            or name.endswith("_test.cpp") or "fuzz" in name or "bench" in name):
        continue
    seen.add(f)
    if "#include <qpdf/" in open(f, errors="replace").read():
        continue
    print(f)
PY
)
echo "clang-tidy: ${#files[@]} files, $jobs at a time" >&2
start=$(date +%s)
status=0
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# -quiet: only findings; one process a file, $jobs at a time.
printf '%s\0' "${files[@]}" |
  xargs -0 -n 1 -P "$jobs" "$tidy" -p "$build" --quiet >"$out" 2>/dev/null || status=$?
grep -E "(warning|error):" "$out" | sort -u || true
echo "clang-tidy: $(( $(date +%s) - start )) s" >&2
exit "$status"
