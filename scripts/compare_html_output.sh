#!/bin/sh
# Lays out every file of a list with two builds of vm_htmlbench and compares
# each file's result and metafile (--digest). Prints the files whose output
# differs; exits 1 when any does.
#   scripts/compare_html_output.sh OLD_BENCH NEW_BENCH LIST_OF_FILES
set -eu
old=$1 new=$2 list=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# In chunks: one process per few hundred files keeps the argument list short.
run() {
    : >"$2"
    xargs -d '\n' -n 200 "$1" --digest <"$list" >>"$2"
}
run "$old" "$tmp/old"
run "$new" "$tmp/new"
n=$(wc -l <"$tmp/new")
if diff "$tmp/old" "$tmp/new" >"$tmp/diff"; then
    echo "identical output for $n files"
else
    grep '^>' "$tmp/diff" | awk '{print $4}'
    echo "$(grep -c '^>' "$tmp/diff") of $n files differ"
    exit 1
fi
