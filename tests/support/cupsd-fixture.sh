#!/bin/sh
# A private print service for tests and benchmarks: its own configuration
# folder, its own socket, and a queue "Vellumate" (PPD vellumate-test.ppd
# beside this script, printing to /dev/null).
#
#   cupsd-fixture.sh start DIR [DEFAULT_PAGE]   starts it; prints CUPS_SERVER=DIR/cups.sock
#   cupsd-fixture.sh start-empty DIR           the same without any queue
#   cupsd-fixture.sh start-printer DIR BACKEND PPD DISPATCHER_DIR
#                                              the queue with our backend and PPD (as root)
#   cupsd-fixture.sh stop DIR                  stops the cupsd started for DIR
#
# DEFAULT_PAGE is the PPD's default size (A4 unless given; a name the PPD
# does not list makes a queue whose default paper is not in its list).
# Clients find the service through CUPS_SERVER=DIR/cups.sock and
# CUPS_SERVERROOT=DIR (so that lpoptions of root land in DIR too).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|start-empty|stop DIR [DEFAULT_PAGE]" >&2; exit 2; }
cupsd=$(command -v cupsd || echo /usr/sbin/cupsd)

# Alive and not a zombie (whoever reaps it may take its time).
running() {
  [ -r "/proc/$1/stat" ] || return 1
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

stop() {
  [ -f "$dir/cupsd.pid" ] || return 0
  pid=$(cat "$dir/cupsd.pid")
  kill "$pid" 2>/dev/null || true
  # cupsd takes up to two seconds to save its state on the way out; a test's
  # state is thrown away anyway, so it gets a short while and is then killed.
  i=0
  while running "$pid" && [ $i -lt 6 ]; do sleep 0.05; i=$((i + 1)); done
  kill -9 "$pid" 2>/dev/null || true
  while running "$pid"; do sleep 0.01; done
  rm -f "$dir/cupsd.pid"
}

case "$cmd" in
stop) stop; exit 0 ;;
start|start-empty|start-printer) ;;
*) echo "unknown command $cmd" >&2; exit 2 ;;
esac

mkdir -p "$dir/spool/tmp" "$dir/cache" "$dir/state/certs" "$dir/ppd" "$dir/log"
chmod 0755 "$dir" "$dir/spool"
chmod 1777 "$dir/spool/tmp"
user=$(id -un)
group=$(id -gn)
cat > "$dir/cups-files.conf" <<CONF
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
FileDevice Yes
Printcap $dir/printcap
SystemGroup root $group
CONF
[ "$(id -u)" -eq 0 ] || printf 'User %s\nGroup %s\n' "$user" "$group" >> "$dir/cups-files.conf"
if [ "$cmd" = start-printer ]; then
  # The backend runs from a backend folder of this service (mode 0700: as
  # root, so that it can become the printing user); users' login-session
  # folders are DIR/runuser/<uid>, the suite's registry DIR/registry.
  backend=${3:?backend} ppd=${4:?ppd} dispatchers=${5:?dispatcher folder}
  mkdir -p "$dir/lib/backend" "$dir/runuser" "$dir/registry"
  chmod 0755 "$dir/lib" "$dir/runuser"
  chmod 0777 "$dir/registry"
  ln -sfn /usr/lib/cups/daemon "$dir/lib/daemon"
  ln -sfn /usr/lib/cups/notifier "$dir/lib/notifier"
  install -m 0700 "$backend" "$dir/lib/backend/vellumate"
  sed -i "s|^ServerBin .*|ServerBin $dir/lib|" "$dir/cups-files.conf"
  cat >> "$dir/cups-files.conf" <<CONF
SetEnv VELLUMATE_BIN_DIR $dispatchers
SetEnv VELLUMATE_USER_RUNTIME_BASE $dir/runuser
SetEnv VELLUMATE_REGISTRY $dir/registry
SetEnv VELLUMATE_UI none
SetEnv CUPS_SERVER $dir/cups.sock
CONF
  # Timestamps of the job's hops through the chain, when asked for.
  [ -z "${VELLUMATE_HOP_LOG:-}" ] || echo "SetEnv VELLUMATE_HOP_LOG $VELLUMATE_HOP_LOG" >> "$dir/cups-files.conf"
fi
cat > "$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
Browsing No
LogLevel warn
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
: > "$dir/client.conf"

stop
"$cupsd" -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" > "$dir/log/cupsd.out" 2>&1 &
echo $! > "$dir/cupsd.pid"
i=0
until [ -S "$dir/cups.sock" ]; do
  i=$((i + 1))
  if [ $i -gt 200 ] || ! kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null; then
    echo "cupsd did not start; see $dir/log/error_log" >&2
    stop
    exit 1
  fi
  sleep 0.05
done
export CUPS_SERVER="$dir/cups.sock" CUPS_SERVERROOT="$dir"
if [ "$cmd" = start ]; then
  page=${3:-A4}
  sed "s/@DEFAULT_PAGE@/$page/" "$here/vellumate-test.ppd" > "$dir/ppd/vellumate.ppd"
  if ! lpadmin -p Vellumate -E -v file:/dev/null -P "$dir/ppd/vellumate.ppd" 2> "$dir/log/lpadmin.err"; then
    cat "$dir/log/lpadmin.err" >&2
    stop
    exit 1
  fi
fi
if [ "$cmd" = start-printer ]; then
  if ! lpadmin -p Vellumate -E -v vellumate:/ -P "$ppd" 2> "$dir/log/lpadmin.err"; then
    cat "$dir/log/lpadmin.err" >&2
    stop
    exit 1
  fi
fi
echo "CUPS_SERVER=$dir/cups.sock"
