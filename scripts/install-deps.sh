#!/usr/bin/env bash
# Installs the Debian packages listed in packages.txt that are not installed yet.
# Quiet and quick (one dpkg-query) when everything is there already.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list=${1:-$here/packages.txt}
wanted=$(grep -v '^\s*#' "$list" | grep -v '^\s*$')
missing=()
for p in $wanted; do
  st=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$st" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Another install may hold the package lock (parallel builds, a desktop updater): wait for it.
lock=(-o DPkg::Lock::Timeout=600)
$sudo apt-get "${lock[@]}" update -qq
$sudo apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
