#!/usr/bin/env bash
# make install DESTDIR=... (scripts/install.sh, which make install runs) and
# make uninstall: the tree (every program, the printing side, the agent's
# session files, the browser button), the installed vellumate converting a sample from
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
# Every program, server, module and file the programs expect beside them.
for f in vellumate hh reg regsvr libcorvanth.so libtessaline.so help.chm servers vellumate-servers \
         dispatcher vmrelay pathprobe printagent preprocess progress libvm_progress_window.so vmate.lng vmevent \
         pdf2emf emf2pdf libnavlet.so navlet-host vellumate-queue; do
  [ -e "$dir/$f" ] || fail "$f is not in lib/vellumate"
done
for c in vellumate vellumate-reg vellumate-regsvr vellumate-hh printagent vellumate-vmevent pdf2emf emf2pdf; do
  [ -L "$root/bin/$c" ] || fail "bin/$c is no link"
  [ -x "$root/bin/$c" ] || fail "bin/$c does not reach a program"
  [ -n "$(find "$root/share/man" -name "$c.[18].gz")" ] || fail "no manual page for $c"
done
for c in vellumate vellumate-reg vellumate-regsvr vellumate-hh vellumate-vmevent pdf2emf; do
  [ -f "$root/share/bash-completion/completions/$c" ] || fail "no completion for $c"
done
# The printer's property sheet, where this tree has it.
if [ -e "$top/properties/CMakeLists.txt" ]; then
  [ -e "$dir/libvmproperties.so" ] || fail "libvmproperties.so is not in lib/vellumate"
  [ -x "$root/bin/vellumate-properties" ] || fail "bin/vellumate-properties does not reach a program"
  [ -f "$root/share/man/man1/vellumate-properties.1.gz" ] || fail "no manual page for vellumate-properties"
fi
# The programs a user or an admin meets outside bin/ have their pages too.
for page in man8/dispatcher.8 man8/vmrelay.8 man8/pathprobe.8 man8/vellumate-backend.8 man8/vellumate-queue.8 \
            man1/navlet-host.1; do
  [ -f "$root/share/man/$page.gz" ] || fail "no manual page $page"
done
# Every page renders without a complaint and has its name line.
if command -v man >/dev/null; then
  for page in "$root"/share/man/man?/*.gz; do
    name=$(basename "$page" .gz)
    out=$(MANWIDTH=100 LC_ALL=C man --warnings -l "$page" 2>"$tmp/man.err") || fail "$name does not render"
    [ ! -s "$tmp/man.err" ] || fail "$name: $(head -3 "$tmp/man.err")"
    grep -Eq "^ +${name%.*} +- " <<<"$out" || fail "$name has no NAME line"
  done
fi

# The printing side: the backend in CUPS's folder under the prefix (run as
# root only), the PPD, and the agent's session files naming the installed agent.
backend=$root/lib/cups/backend/vellumate
[ "$(stat -c %a "$backend")" = 700 ] || fail "the backend's mode is $(stat -c %a "$backend")"
"$backend" | grep -q '^direct vellumate ' || fail "the backend does not list its device"
grep -q '^\*NickName:' "$root/share/ppd/vellumate/vellumate.ppd" || fail "no PPD"
# As root with CUPS at hand: the installed backend prints a text file for an
# ordinary user and starts the installed dispatcher, which it finds from its
# own place in the tree; the dispatcher writes the job ticket.
if [ "$(id -u)" -eq 0 ] && command -v cupsd >/dev/null && command -v lpadmin >/dev/null; then
  cups=$tmp/cups
  trap 'sh "$top/tests/support/cupsd-fixture.sh" stop "$cups"; rm -rf "$tmp"' EXIT
  sh "$top/tests/support/cupsd-fixture.sh" start "$cups" >/dev/null || fail "the private cupsd did not start"
  uid=$(id -u nobody)
  chmod 0755 "$tmp"
  mkdir -p "$tmp/run/$uid" "$tmp/printreg"
  chown nobody "$tmp/run/$uid" "$tmp/printreg"
  chmod 0700 "$tmp/run/$uid"
  install -m 0644 "$top/samples/release-notes.txt" "$tmp/notes.txt"
  env -i PATH=/usr/bin:/bin CUPS_SERVER="$cups/cups.sock" CUPS_SERVERROOT="$cups" VELLUMATE_USER_RUNTIME_BASE="$tmp/run" \
      VELLUMATE_REGISTRY="$tmp/printreg" VELLUMATE_UI=none "$backend" 7 nobody notes 1 "" "$tmp/notes.txt" \
      > "$tmp/backend.log" 2>&1 || fail "the installed backend: $(cat "$tmp/backend.log")"
  compgen -G "$tmp/run/$uid/vellumate/spool/*.INI" >/dev/null ||
    fail "the installed dispatcher wrote no ticket: $(cat "$tmp/backend.log")"
  sh "$top/tests/support/cupsd-fixture.sh" stop "$cups"
fi
autostart=$dest/etc/xdg/autostart/vellumate-agent.desktop
grep -qx "Exec=\"$prefix/lib/vellumate/printagent\"" "$autostart" || fail "the autostart entry does not start the installed agent"
unit=$root/lib/systemd/user/vellumate-agent.service
grep -qx "ExecStart=\"$prefix/lib/vellumate/printagent\"" "$unit" || fail "the user unit does not start the installed agent"
grep -q "^ExecStop=-\"$prefix/lib/vellumate/vmevent\" set Vellumate_killevent" "$unit" || fail "the user unit's stop"
! grep -q @ "$autostart" "$unit" || fail "a placeholder was left in the session files"
# The browser button: its extension and the host's manifests for both browsers.
[ -f "$root/share/vellumate/navlet-extension/manifest.json" ] || fail "no browser extension"
for manifest in "$dest/etc/chromium/native-messaging-hosts" "$root/lib/mozilla/native-messaging-hosts"; do
  manifest=$manifest/com.brindlecote.navlet.json
  [ "$(jq -r .path "$manifest")" = "$prefix/lib/vellumate/navlet-host" ] || fail "$manifest does not name the host"
done
[ "$(readlink "$root/bin/vellumate")" = ../lib/vellumate/vellumate ] || fail "bin/vellumate is not relative"
zcat "$root/share/man/man1/vellumate.1.gz" | grep -q '^\.TH VELLUMATE 1' || fail "vellumate.1 has no title"
if command -v man >/dev/null; then
  MANWIDTH=100 man -l "$root/share/man/man1/vellumate.1.gz" 2>/dev/null | grep -q 'VELLUMATE_QUIET' \
    || fail "vellumate.1 does not render"
fi
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/share/applications/vellumate.desktop" "$autostart"
fi
[ -f "$root/share/icons/hicolor/scalable/apps/vellumate.svg" ] || fail "no icon"

# Completion: switch values, and the variants of a list run.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vellumate; echo "${COMPREPLY[*]}"' \
    _ "$root/share/bash-completion/completions/vellumate" "$@"
}
[ "$(complete_words vellumate /x/a.html /PSIZE le)" = "letter legal" ] || fail "completion of /psize values"
[ "$(complete_words vellumate /inlist l.txt /out)" = "/outlist /outdir" ] || fail "completion of /inlist"
[ "$(complete_words vellumate --v)" = "--version" ] || fail "completion of --version"
complete_other() {
  bash -c 'source "$1"; f=$2; shift 2; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); $f; echo "${COMPREPLY[*]}"' \
    _ "$root/share/bash-completion/completions/$1" "$2" "${@:3}"
}
[ "$(complete_other pdf2emf _pdf2emf pdf2emf --dpi=1)" = "--dpi=150 --dpi=1200" ] || fail "completion of pdf2emf --dpi"
[ "$(complete_other pdf2emf _pdf2emf pdf2emf --n)" = "--no-fonts" ] || fail "completion of pdf2emf switches"
[ "$(complete_other vellumate-properties _vellumate_properties vellumate-properties /nop)" = "/nopaper" ] \
  || fail "completion of vellumate-properties"
[ "$(complete_other vellumate-vmevent _vellumate_vmevent vellumate-vmevent set Vellumate_k)" = "Vellumate_killevent" ] \
  || fail "completion of vellumate-vmevent"

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
