#!/usr/bin/env bash
# The whole printing chain for Office documents, private to one folder:
# a cupsd with the queue "Vellumate" (our backend and PPD), and a login
# session of the user `nobody` (the backend prints no job of root) with its
# own home, runtime folder, registry and temporary folder, the in-process
# servers registered there, keep-metafiles on and the print agent running.
#
#   office-chain.sh start DIR BIN_DIR LIB_DIR SOURCE_DIR   (as root)
#   office-chain.sh run DIR COMMAND [ARGS...]               COMMAND as the user, in the session
#   office-chain.sh stop DIR                                ends the agent and the cupsd
#
# DIR/docs is the user's folder for sources and outputs; DIR/home/office.log
# gets a line for every office started and ended. Every process is
# started here and stopped by its recorded pid.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|run|stop DIR ..." >&2; exit 2; }
user=nobody
uid=$(id -u "$user")
gid=$(id -g "$user")

# Runs as the user in place of the calling (sub)shell.
as_user() {
  # shellcheck disable=SC1091
  . "$dir/session.env"
  exec setpriv --reuid="$uid" --regid="$gid" --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$dir/home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 \
    XDG_RUNTIME_DIR="$dir/runuser/$uid" TMPDIR="$dir/tmp" \
    VELLUMATE_REGISTRY="$dir/registry" VELLUMATE_UI=none VELLUMATE_MSGBOX_LOG="$dir/boxes.jsonl" \
    CUPS_SERVER="$dir/cups.sock" CUPS_SERVERROOT="$dir" \
    VELLUMATE_PRINT_WAIT="${VELLUMATE_PRINT_WAIT:-120}" VELLUMATE_OFFICE_TIMEOUT="${VELLUMATE_OFFICE_TIMEOUT:-120}" \
    VELLUMATE_OFFICE_LOG="$dir/home/office.log" ${VELLUMATE_HOP_LOG:+VELLUMATE_HOP_LOG="$VELLUMATE_HOP_LOG"} \
    "$@"
}

case "$cmd" in
start)
  bin=${3:?bin dir} lib=${4:?lib dir} src=${5:?source dir}
  mkdir -p "$dir"
  chmod 0755 "$dir"
  "$here/cupsd-fixture.sh" start-printer "$dir" "$bin/vellumate-backend" "$src/printer/driver/vellumate.ppd" "$bin" \
    > "$dir/cupsd-start.log" 2>&1 || { cat "$dir/cupsd-start.log" >&2; exit 1; }
  printf 'bin=%q\nlib=%q\n' "$bin" "$lib" > "$dir/session.env"
  mkdir -p "$dir/home" "$dir/tmp" "$dir/docs" "$dir/runuser/$uid"
  chown "$uid:$gid" "$dir/home" "$dir/tmp" "$dir/docs" "$dir/runuser/$uid"
  chmod 0700 "$dir/runuser/$uid"
  : > "$dir/boxes.jsonl"
  chmod 0666 "$dir/boxes.jsonl"
  # A server may write a file beside itself the first time (the add-on's type
  # library), which the user cannot: that happens as root, in a scratch registry.
  for server in "$lib"/libtessaline.so; do
    [ -e "$server" ] && VELLUMATE_REGISTRY="$dir/scratch-registry" "$bin/regsvr" /s "$server"
  done
  for server in "$lib"/libcorvanth.so "$lib"/libtessaline.so "$lib"/libvmoffice.so; do
    [ -e "$server" ] && (as_user "$bin/regsvr" /s "$server")
  done
  # The printed pages stay for the converter to import.
  (as_user "$bin/reg" add 'HKCU\Software\Vellumate' /v 'EMF: Enabled' /t REG_DWORD /d 1 /f > /dev/null)
  (as_user "$bin/printagent" > "$dir/agent.out" 2>&1) &
  echo $! > "$dir/agent.pid"
  ;;
run)
  shift 2
  as_user "$@"
  ;;
stop)
  if [ -f "$dir/agent.pid" ]; then
    pid=$(cat "$dir/agent.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$dir/agent.pid"
  fi
  "$here/cupsd-fixture.sh" stop "$dir"
  ;;
*) echo "unknown command $cmd" >&2; exit 2 ;;
esac
