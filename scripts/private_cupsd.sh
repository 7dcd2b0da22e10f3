#!/usr/bin/env bash
# A cupsd of its own in one folder, for tests and benchmarks (as root):
#
#   private_cupsd.sh start ROOT BACKEND PPD DISPATCHER_DIR   configures, starts, adds the queue Vellumate
#   private_cupsd.sh stop ROOT                               ends that cupsd
#
# Its socket is ROOT/run/cups.sock (CUPS_SERVER for lp, lpstat, lpadmin),
# its log ROOT/log/error_log. The backend runs from ROOT/lib/backend
# (mode 0700); users' login-session folders are ROOT/runuser/<uid>, and the
# suite's registry is ROOT/registry.
set -euo pipefail
cmd=${1:?start or stop}
root=${2:?folder}
if [ "$cmd" = stop ]; then
  if [ -f "$root/run/cupsd.pid" ]; then
    pid=$(cat "$root/run/cupsd.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    rm -f "$root/run/cupsd.pid"
  fi
  exit 0
fi
backend=${3:?backend} ppd=${4:?ppd} bindir=${5:?dispatcher folder}
mkdir -p "$root"/{etc,run,spool/tmp,cache,state,log,lib/backend,runuser,registry}
chmod 0755 "$root" "$root/runuser"
chmod 0777 "$root/registry"
ln -sfn /usr/lib/cups/daemon "$root/lib/daemon"
ln -sfn /usr/lib/cups/notifier "$root/lib/notifier"
install -m 0700 "$backend" "$root/lib/backend/vellumate"
cat > "$root/etc/cupsd.conf" <<CONF
LogLevel debug
Listen $root/run/cups.sock
Browsing Off
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat > "$root/etc/cups-files.conf" <<CONF
ServerRoot $root/etc
ServerBin $root/lib
RequestRoot $root/spool
TempDir $root/spool/tmp
CacheDir $root/cache
StateDir $root/state
ErrorLog $root/log/error_log
AccessLog $root/log/access_log
PageLog $root/log/page_log
SystemGroup root
SetEnv VELLUMATE_BIN_DIR $bindir
SetEnv VELLUMATE_USER_RUNTIME_BASE $root/runuser
SetEnv VELLUMATE_REGISTRY $root/registry
SetEnv VELLUMATE_UI none
SetEnv CUPS_SERVER $root/run/cups.sock
CONF
/usr/sbin/cupsd -f -c "$root/etc/cupsd.conf" -s "$root/etc/cups-files.conf" </dev/null >"$root/log/cupsd.out" 2>&1 &
echo $! > "$root/run/cupsd.pid"
export CUPS_SERVER="$root/run/cups.sock"
for _ in $(seq 1 200); do lpstat -r 2>/dev/null | grep -q "is running" && break; sleep 0.05; done
lpstat -r | grep -q "is running" || { echo "cupsd did not start:"; cat "$root/log/error_log"; exit 1; }
lpadmin -p Vellumate -E -v vellumate:/ -P "$ppd" 2>&1 | grep -v "drivers are deprecated" || true
lpstat -p Vellumate >/dev/null
