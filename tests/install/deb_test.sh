#!/usr/bin/env bash
# The Debian package on this machine: built (scripts/make-deb.sh, what make deb
# runs), installed with apt-get, used by an ordinary user with a fresh home,
# then purged: nothing of it may stay, and the printer queue it added to a
# private print service is gone again. Needs root; skipped (77) without it,
# and when a vellumate package this test did not install is there already.
# Whatever happens, the package is purged again before the test ends.
set -euo pipefail
top=$1 build=$2
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 77; }
command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null || { echo "SKIP: no apt-get"; exit 77; }

# One such test on the machine at a time (other worktrees run the suite too).
exec 9>/var/lock/vellumate-package-test.lock
flock -w 1200 9 || { echo "SKIP: another package test holds the lock"; exit 77; }
if dpkg-query -W -f='${Status}' vellumate 2>/dev/null | grep -q 'install ok'; then
  echo "SKIP: a vellumate package is installed already; it is left alone"
  exit 77
fi

tmp=$(mktemp -d)
chmod 0755 "$tmp"
installed=no
cups=$tmp/cups
cleanup() {
  if [ "$installed" = yes ] || dpkg-query -W vellumate >/dev/null 2>&1; then
    apt-get -o DPkg::Lock::Timeout=600 purge -y -qq vellumate >/dev/null 2>&1 || dpkg --purge vellumate >/dev/null 2>&1 || true
  fi
  [ ! -d "$cups" ] || sh "$top/tests/support/cupsd-fixture.sh" stop "$cups"
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$top/scripts/make-deb.sh" "$build" "$tmp" > "$tmp/make-deb.log" 2>&1 || { cat "$tmp/make-deb.log"; fail "make-deb"; }
grep -E '^(E|W): ' "$tmp/make-deb.log" || true   # lintian's errors fail make-deb; warnings are shown
deb=$(ls "$tmp"/vellumate_*.deb)

# The package's scripts add and remove the printer queue on the print service
# lpadmin reaches: here a private cupsd (its backends those of this machine,
# where the package puts its own), named to them through CUPS_SERVER.
queue_checked=no
if command -v cupsd >/dev/null && command -v lpadmin >/dev/null; then
  sh "$top/tests/support/cupsd-fixture.sh" start-empty "$cups" >/dev/null || fail "the private cupsd did not start"
  export CUPS_SERVER=$cups/cups.sock CUPS_SERVERROOT=$cups
  queue_checked=yes
else
  echo "note: CUPS is not installed here, so the printer queue is not checked"
fi

export DEBIAN_FRONTEND=noninteractive
# root's home for the install is a fresh one, so that what other tests left in
# the real one does not count against the package.
export HOME=$tmp/roothome
mkdir -p "$HOME"
installed=yes
(cd "$tmp" && apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "./$(basename "$deb")") \
  > "$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; fail "apt-get install"; }
[ -x /usr/bin/vellumate ] || fail "/usr/bin/vellumate missing"
[ -s /var/lib/vellumate/registry/machine.db ] || fail "the servers were not registered"
if [ "$queue_checked" = yes ]; then
  LC_ALL=C lpstat -v Vellumate 2>&1 | grep -q 'vellumate:/' || { cat "$tmp/apt.log"; fail "the queue Vellumate was not added"; }
  [ "$(stat -c %a /usr/lib/cups/backend/vellumate)" = 700 ] || fail "the backend's mode"
fi
for p in /usr/bin/printagent /usr/bin/pdf2emf /usr/lib/vellumate/dispatcher /usr/lib/vellumate/vmate.lng \
         /etc/xdg/autostart/vellumate-agent.desktop; do
  [ -e "$p" ] || fail "$p is missing"
done
# Registering the servers wrote nothing into root's home (the browsers' host manifests are system-wide).
[ -z "$(ls -A "$HOME")" ] || { ls -AR "$HOME"; fail "the install wrote into root's home"; }

# An ordinary user, a fresh home, a folder of their own: nothing registered by them.
user=nobody
work=$tmp/work
mkdir -p "$work/home"
cp "$top/samples/welcome.html" "$top/samples/colour-bars.png" "$work/"
chown -R "$user" "$work"
for sample in welcome.html colour-bars.png; do
  (cd "$work" && runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$work/home" VELLUMATE_UI=none \
      vellumate "$work/$sample") || fail "vellumate $sample ended with $?"
  pdfinfo "$work/$sample.pdf" | grep -q '^Pages: *[1-9]' || fail "$sample.pdf has no pages"
done
[ -z "$(runuser -u "$user" -- env -i HOME="$work/home" vellumate /nonexistent.html 2>&1 >/dev/null | grep -v '^vellumate: cannot find "/nonexistent.html" (-6)$')" ] \
  || fail "the failure line of the installed program"
man -w vellumate >/dev/null 2>&1 || ! command -v man >/dev/null || fail "man vellumate finds no page"

apt-get -o DPkg::Lock::Timeout=600 purge -y -qq vellumate > "$tmp/purge.log" 2>&1 || { cat "$tmp/purge.log"; fail "purge"; }
installed=no
if [ "$queue_checked" = yes ]; then
  ! LC_ALL=C lpstat -v Vellumate >/dev/null 2>&1 || fail "the queue Vellumate is still there after the purge"
fi
for p in /usr/lib/vellumate /var/lib/vellumate /usr/bin/vellumate /usr/share/man/man1/vellumate.1.gz \
         /usr/share/bash-completion/completions/vellumate /usr/share/applications/vellumate.desktop \
         /usr/share/doc/vellumate /usr/lib/cups/backend/vellumate /usr/share/ppd/vellumate /usr/bin/printagent \
         /etc/xdg/autostart/vellumate-agent.desktop /etc/chromium/native-messaging-hosts/com.brindlecote.navlet.json \
         /usr/lib/mozilla/native-messaging-hosts/com.brindlecote.navlet.json /usr/share/vellumate; do
  [ ! -e "$p" ] && [ ! -L "$p" ] || fail "$p is still there after the purge"
done
! dpkg-query -W vellumate >/dev/null 2>&1 || fail "dpkg still knows the package"
echo "package install, use and purge: ok"
