#!/usr/bin/env bash
# make-deb.sh [BUILD] [OUTDIR]: builds vellumate_<version>_<arch>.deb into
# OUTDIR (default: the source folder) from the build's install rules, the
# same ones make install runs, with prefix /usr, and checks it with lintian.
# Packaging files live in packaging/: control.in, the maintainer scripts,
# copyright.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
out=$(cd "${2:-$top}" && pwd)
pkg=$top/packaging

header=$build/generated/vellumate_version.h
field() { sed -n "s/^#define VELLUMATE_VERSION_$1 //p" "$header"; }
version=$(field MAJOR).$(field MINOR).$(field PATCH)
arch=$(dpkg --print-architecture)
deb=$out/vellumate_${version}_${arch}.deb

work=$build/deb
stage=$work/root
rm -rf "$work"
mkdir -p "$stage/DEBIAN" "$work/src/debian"
DESTDIR=$stage cmake --install "$build" --prefix /usr --strip >/dev/null
# The CUPS backend is installed under another name than its target's, so --strip passes it by.
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage/usr/lib/cups/backend/vellumate"

doc=$stage/usr/share/doc/vellumate
mkdir -p "$doc"
install -m 0644 "$pkg/copyright" "$doc/copyright"
{
  echo "vellumate ($version) unstable; urgency=medium"
  echo
  echo "  * Built from the Vellumate source tree."
  echo
  echo " -- Vellumate Developers <vellumate@example.org>  $(date -R -u ${SOURCE_DATE_EPOCH:+-d @$SOURCE_DATE_EPOCH})"
} | gzip -9n > "$doc/changelog.gz"
chmod 0644 "$doc/changelog.gz"

# The Office server finds LibreOffice's UNO libraries (and what they link) in
# LibreOffice's program folder, the one place Debian keeps all of them.
overrides=$stage/usr/share/lintian/overrides
mkdir -p "$overrides"
install -m 0644 "$pkg/lintian-overrides" "$overrides/vellumate"

# Shared libraries the programs and modules link: Depends, as dpkg-shlibdeps finds them.
elves=()
while IFS= read -r -d '' f; do
  [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] && elves+=("$f")
done < <(find "$stage/usr" -type f -print0)
printf 'Source: vellumate\n\nPackage: vellumate\nArchitecture: any\n' > "$work/src/debian/control"
shlibs=$(cd "$work/src" && dpkg-shlibdeps -O --warnings=0 "${elves[@]}")
depends=${shlibs#shlibs:Depends=}

size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
  "$pkg/control.in" > "$stage/DEBIAN/control"
for script in postinst prerm postrm; do
  install -m 0755 "$pkg/$script" "$stage/DEBIAN/$script"
done
# Files in /etc (the agent's autostart entry, a browser's host manifest) are the admin's to change.
if [ -d "$stage/etc" ]; then
  (cd "$stage" && find etc -type f | sort | sed 's|^|/|') > "$stage/DEBIAN/conffiles"
  chmod 0644 "$stage/DEBIAN/conffiles"
fi
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "built $deb"
if command -v lintian >/dev/null; then
  # Errors fail the build; warnings and notes are shown.
  lintian --fail-on error --display-info "$deb"
fi
