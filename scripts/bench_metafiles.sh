#!/usr/bin/env bash
# Real metafiles beside the office suite's import: words kept, median label
# offset (pt) and milliseconds per file, for this build and, when given, an
# older one (before a change). With --update the office suite's words are
# written to tests/emf/corpus/libreoffice_words.tsv for the test to use.
# Usage: scripts/bench_metafiles.sh [BUILD_DIR] [OLD_BUILD_DIR] [--update]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
old=${2:-}
[ "$old" = --update ] && old=""
"$here/install-deps.sh" "$here/bench-packages.txt"
"$here/install-deps.sh"
cmake --build "$build" --target emf_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/metafile_corpus.py" make "$work/corpus" >/dev/null
python3 "$here/metafile_corpus.py" reference "$work/corpus" "$work/office.tsv"
case " $* " in *" --update "*) cp "$work/office.tsv" "$here/../tests/emf/corpus/libreoffice_words.tsv" ;; esac
echo "== this build ($build)"
python3 "$here/metafile_corpus.py" compare "$work/corpus" "$work/office.tsv" "$build/bin/emf_bench convert" || true
if [ -n "$old" ]; then
  echo "== older build ($old)"
  python3 "$here/metafile_corpus.py" compare "$work/corpus" "$work/office.tsv" "$old/bin/emf_bench convert" || true
fi
