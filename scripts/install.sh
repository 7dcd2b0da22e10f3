#!/usr/bin/env bash
# install.sh install|uninstall BUILD PREFIX [DESTDIR]
#
# What make install and make uninstall run. install copies what the build's
# install rules name (cmake/Install.cmake) under DESTDIR/PREFIX and, for a
# live system (no DESTDIR) when run as root, registers the in-process
# servers for every user. uninstall unregisters them and removes every file
# install places: the list comes from a trial install of the same build, so
# it never depends on an old manifest.
set -euo pipefail
action=${1:?usage: install.sh install|uninstall BUILD PREFIX [DESTDIR]}
build=${2:?}
prefix=${3:?}
destdir=${4:-}
case "$prefix" in /*) ;; *) echo "install.sh: PREFIX must be an absolute path" >&2; exit 2 ;; esac
root=$destdir$prefix
servers=$root/lib/vellumate/vellumate-servers

register() {
  [ -z "$destdir" ] || return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "install.sh: not root, so the servers are not $1ed for every user" \
         "(run: sudo $prefix/lib/vellumate/vellumate-servers $1)" >&2
    return 0
  fi
  "$servers" "$1"
}

case "$action" in
  install)
    DESTDIR=$destdir cmake --install "$build" --prefix "$prefix"
    register register
    [ -n "$destdir" ] || echo "install.sh: to add the printer queue Vellumate, run as root:" \
                              "$prefix/lib/vellumate/vellumate-queue add"
    ;;
  uninstall)
    [ -x "$servers" ] && register unregister
    # The queue this installation added (its backend linked into CUPS's folder) goes with it.
    if [ -z "$destdir" ] && [ "$(id -u)" -eq 0 ] && [ -L /usr/lib/cups/backend/vellumate ] &&
       [ /usr/lib/cups/backend/vellumate -ef "$root/lib/cups/backend/vellumate" ]; then
      "$root/lib/vellumate/vellumate-queue" remove || true
    fi
    trial=$(mktemp -d)
    trap 'rm -rf "$trial"' EXIT
    DESTDIR=$trial cmake --install "$build" --prefix "$prefix" >/dev/null
    # Under the prefix and outside it (system-wide configuration in /etc).
    (cd "$trial" && find . ! -type d) | while IFS= read -r f; do
      rm -f "$destdir/${f#./}"
    done
    # The programs' folder goes whole: logs and page images written beside the programs too.
    rm -rf "$root/lib/vellumate"
    # Folders left empty go as well in a staging tree; a live prefix keeps its standard folders.
    if [ -n "$destdir" ]; then
      (cd "$trial" && find . -mindepth 1 -type d | sort -r) | while IFS= read -r d; do
        rmdir "$destdir/${d#./}" 2>/dev/null || true
      done
      d=$root
      while [ "$d" != "$destdir" ] && rmdir "$d" 2>/dev/null; do d=$(dirname "$d"); done
    fi
    ;;
  *) echo "install.sh: unknown action $action" >&2; exit 2 ;;
esac
