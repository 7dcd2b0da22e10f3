#!/usr/bin/env bash
# Sets up the printer "Vellumate": installs the backend into CUPS's backend
# folder (mode 0700, so CUPS runs it as root and it can become the printing
# user), starts cupsd when none is running, and adds the queue with our PPD.
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
backends=/usr/lib/cups/backend
install -o root -g root -m 0700 "$backend" "$backends/vellumate"
if ! lpstat -r 2>/dev/null | grep -q "is running"; then
  cupsd   # forks into the background
  for _ in $(seq 1 100); do lpstat -r 2>/dev/null | grep -q "is running" && break; sleep 0.1; done
fi
lpadmin -p Vellumate -E -v vellumate:/ -P "$top/printer/driver/vellumate.ppd" -D "Vellumate virtual printer" 2>&1 |
  grep -v "drivers are deprecated" || true
echo "printer: queue Vellumate ready (lp -d Vellumate FILE)"
