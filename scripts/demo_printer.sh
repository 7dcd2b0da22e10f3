#!/usr/bin/env bash
# Sets up the printer "Vellumate" for this build: starts cupsd when none is
# running, then printer/driver/vellumate-queue (what the package runs too)
# installs the backend into CUPS's backend folder (mode 0700, so CUPS runs it
# as root and it can become the printing user) and adds the queue with our PPD.
# Needs root; without it, says what it would need and does nothing.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
backend="$top/$build/bin/vellumate-backend"
[ -x "$backend" ] || { echo "printer: $backend is not built"; exit 0; }
if [ "$(id -u)" -ne 0 ]; then
  echo "printer: run as root to add the queue Vellumate (backend, cupsd, lpadmin)"
  exit 0
fi
command -v cupsd >/dev/null && command -v lpadmin >/dev/null || { echo "printer: CUPS is not installed"; exit 0; }
if ! LC_ALL=C lpstat -r 2>/dev/null | grep -q "scheduler is running"; then
  cupsd   # forks into the background
  for _ in $(seq 1 100); do LC_ALL=C lpstat -r 2>/dev/null | grep -q "scheduler is running" && break; sleep 0.1; done
fi
"$top/printer/driver/vellumate-queue" add --backend "$backend" --ppd "$top/printer/driver/vellumate.ppd" ||
  echo "printer: the queue Vellumate was not added"
