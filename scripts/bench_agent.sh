#!/usr/bin/env bash
# The print agent: from the dispatcher's start to the client's receipt of the
# ticket, median of 100 jobs, in transfer mode 0 (the agent starts the client)
# and mode 1 (WM_COPYDATA to a running client); then the idle agent's memory
# and CPU. Runs with a private registry, runtime folder and print service.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$top/$build/bin" && pwd)
jobs=${AGENT_BENCH_JOBS:-100}
for p in printagent dispatcher vmrelay preprocess progress fake_client reg vmevent; do
  [ -x "$bin/$p" ] || { echo "bench_agent: $bin/$p is not built" >&2; exit 1; }
done

work=$(mktemp -d /tmp/vmagentbench-XXXXXX)
agent=""
client=""
cleanup() {
  [ -n "$agent" ] && { "$bin/vmevent" set Vellumate_killevent >/dev/null 2>&1 || true; wait "$agent" 2>/dev/null || true; }
  [ -n "$client" ] && { kill "$client" 2>/dev/null || true; wait "$client" 2>/dev/null || true; }
  "$top/tests/support/cupsd-fixture.sh" stop "$work/cups" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
[ -n "${AGENT_BENCH_LOG:-}" ] && trap "iconv -f UTF-16 -t UTF-8 $work/run/vellumate/vp_log.txt > $AGENT_BENCH_LOG; cleanup" EXIT
mkdir -p "$work/run" "$work/global" "$work/cups"
chmod 700 "$work/run"
export VELLUMATE_REGISTRY=$work/reg XDG_RUNTIME_DIR=$work/run VELLUMATE_GLOBAL_DIR=$work/global
export VELLUMATE_UI=none VELLUMATE_MSGBOX_LOG=$work/boxes.jsonl VM_FAKE_LOG=$work/client.log
export CUPS_SERVER=$work/cups/cups.sock CUPS_SERVERROOT=$work/cups
"$top/tests/support/cupsd-fixture.sh" start "$work/cups" >/dev/null
spool=$work/run/vellumate/spool
mkdir -p "$spool"
chmod 700 "$work/run/vellumate" "$spool"
page=$top/tests/emf/fixtures/office.emf
key='HKLM\Software\Vellumate'
"$bin/reg" add "$key" /v "Transfer Mode" /t REG_DWORD /d 0 /f >/dev/null
"$bin/reg" add "$key" /v "Client Application" /d "$bin/fake_client" /f >/dev/null

[ -n "${AGENT_BENCH_LOG:-}" ] && "$bin/reg" add "$key" /v Log /t REG_DWORD /d 1 /f >/dev/null
"$bin/printagent" 2>"$work/agent.err" &
agent=$!
for _ in $(seq 100); do [ -e "$work/run/vellumate/objects/Vellumate_printevent" ] && break; sleep 0.05; done

records() { if [ -f "$work/client.log" ]; then grep -c "^$1" "$work/client.log" || true; else echo 0; fi; }

# One job per round; prints the milliseconds from the dispatcher's start to
# the client's record of kind $1.
run_jobs() {
  local kind=$1 n i t0 before t1
  for i in $(seq "$jobs"); do
    cp "$page" "$spool/~emf$i-1.tmp"
    before=$(records "$kind")
    t0=$(date +%s%N)
    "$bin/dispatcher" "Bench $i"
    echo $(( ($(date +%s%N) - t0) / 1000 )) >>"$work/dispatcher-$kind.us"
    for _ in $(seq 400); do
      n=$(records "$kind")
      [ "$n" -gt "$before" ] && break
      sleep 0.01
    done
    if [ "$n" -gt "$before" ]; then
      t1=$(grep "^$kind" "$work/client.log" | tail -n 1 | cut -f2)
      echo $(( (t1 - t0) / 1000 ))
    else
      echo "bench_agent: job $i of mode $kind was not delivered" >&2
    fi
    rm -f "$spool/~emf$i-1.tmp"
    sleep 0.05
  done
}

median() { sort -n | awk '{a[NR]=$1} END {if (NR == 0) print "n/a"; else printf "%.1f ms (min %.1f, max %.1f, %d jobs)\n", a[int((NR+1)/2)]/1000, a[1]/1000, a[NR]/1000, NR}'; }

echo "mode 0, dispatcher start -> client started with the ticket: $(run_jobs args | median)"
echo "        of which the dispatcher's own run:                 $(median <"$work/dispatcher-args.us")"

"$bin/reg" add "$key" /v "Transfer Mode" /t REG_DWORD /d 1 /f >/dev/null
"$bin/reg" add "$key" /v "Target Window Class" /d "VmBench" /f >/dev/null
"$bin/reg" add "$key" /v "Message ID" /t REG_DWORD /d 49152 /f >/dev/null
# A client that stays: one window, many deliveries.
VM_FAKE_WINDOW=$'VmBench\tBench' "$bin/fake_client" --stay &
client=$!
sleep 0.5
echo "mode 1, dispatcher start -> WM_COPYDATA received:         $(run_jobs copydata | median)"
echo "        of which the dispatcher's own run:                 $(median <"$work/dispatcher-copydata.us")"

# Fake client's own start, for comparison (mode 0 includes it).
t0=$(date +%s%N); "$bin/fake_client" x >/dev/null; t1=$(date +%s%N)
echo "fake client alone (start to end):                          $(( (t1 - t0) / 1000 )) us"

sleep 2
rss=$(awk '/VmRSS/ {print $2, $3}' "/proc/$agent/status")
threads=$(awk '/Threads/ {print $2}' "/proc/$agent/status")
t_before=$(awk '{print $14 + $15}' "/proc/$agent/stat")
sleep 10
t_after=$(awk '{print $14 + $15}' "/proc/$agent/stat")
hz=$(getconf CLK_TCK)
echo "idle agent: resident memory $rss, $threads thread(s), CPU over 10 s: $(( (t_after - t_before) * 1000 / hz )) ms"
if [ -s "$work/boxes.jsonl" ]; then echo "message boxes during the run:"; sort "$work/boxes.jsonl" | uniq -c | head; fi
