#!/usr/bin/env bash
# make install DESTDIR=... (scripts/install.sh, which make install runs) and
# make uninstall: the tree, the installed vellumate converting a sample from
# another folder with its servers registered for every user (a private
# system registry here), the manual pages, the completion, and nothing left
# after the uninstall.
set -euo pipefail
top=$1 build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

dest=$tmp/root prefix=/opt/vm
"$top/scripts/install.sh" install "$build" "$prefix" "$dest" >/dev/null
root=$dest$prefix
dir=$root/lib/vellumate
for f in vellumate hh reg regsvr libcorvanth.so libtessaline.so help.chm servers vellumate-servers; do
  [ -e "$dir/$f" ] || fail "$f is not in lib/vellumate"
done
for c in vellumate vellumate-reg vellumate-regsvr vellumate-hh; do
  [ -L "$root/bin/$c" ] || fail "bin/$c is no link"
  [ -x "$root/bin/$c" ] || fail "bin/$c does not reach a program"
  [ -n "$(find "$root/share/man" -name "$c.[18].gz")" ] || fail "no manual page for $c"
  [ -f "$root/share/bash-completion/completions/$c" ] || fail "no completion for $c"
done
[ "$(readlink "$root/bin/vellumate")" = ../lib/vellumate/vellumate ] || fail "bin/vellumate is not relative"
zcat "$root/share/man/man1/vellumate.1.gz" | grep -q '^\.TH VELLUMATE 1' || fail "vellumate.1 has no title"
if command -v man >/dev/null; then
  MANWIDTH=100 man -l "$root/share/man/man1/vellumate.1.gz" 2>/dev/null | grep -q 'VELLUMATE_QUIET' \
    || fail "vellumate.1 does not render"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/share/applications/vellumate.desktop"
fi

# Completion: switch values, and the variants of a list run.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vellumate; echo "${COMPREPLY[*]}"' \
    _ "$root/share/bash-completion/completions/vellumate" "$@"
}
[ "$(complete_words vellumate /x/a.html /PSIZE le)" = "letter legal" ] || fail "completion of /psize values"
[ "$(complete_words vellumate /inlist l.txt /out)" = "/outlist /outdir" ] || fail "completion of /inlist"
[ "$(complete_words vellumate --v)" = "--version" ] || fail "completion of --version"

# Registered for every user, converting from any folder with a fresh home.
export VELLUMATE_SYSTEM_REGISTRY=$tmp/system-registry
unset VELLUMATE_REGISTRY
"$dir/vellumate-servers" register
mkdir -p "$tmp/work" "$tmp/home"
cp "$top/samples/welcome.html" "$tmp/work/"
(cd "$tmp/work" && HOME=$tmp/home XDG_CONFIG_HOME= VELLUMATE_UI=none "$root/bin/vellumate" "$PWD/welcome.html") \
  || fail "the installed vellumate did not convert (status $?)"
pdfinfo "$tmp/work/welcome.html.pdf" | grep -q '^Pages: *[1-9]' || fail "no PDF pages"
"$root/bin/vellumate" --version | grep -q '^vellumate [0-9]' || fail "--version"
"$dir/vellumate-servers" unregister

"$top/scripts/install.sh" uninstall "$build" "$prefix" "$dest"
[ ! -e "$dest" ] || [ -z "$(find "$dest" -mindepth 1)" ] || fail "left behind: $(find "$dest" -mindepth 1 | head)"
echo "install and uninstall: ok"
