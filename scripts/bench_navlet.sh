#!/usr/bin/env bash
# Browser button: how long a press takes from the request to the answer when
# the converter itself takes no time (a stand-in that exits at once), for the
# first press of a host (its start included) and for later presses on the
# same connection, and the host's peak memory (medians, milliseconds; MB).
#   scripts/bench_navlet.sh [BUILD_FOLDER]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
[ -f "$build/build.ninja" ] || cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target navlet navlet-host regsvr reg -j2 >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/vmbench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/.config VELLUMATE_REGISTRY=$work/registry VELLUMATE_UI=none
mkdir -p "$VELLUMATE_REGISTRY"
"$build/bin/regsvr" /s "$build/lib/libnavlet.so"
printf '#!/bin/sh\nexit 0\n' > "$work/converter"
chmod +x "$work/converter"
"$build/bin/reg" add 'HKCU\Software\Brindlecote\Tessaline Plugin' /v ConverterPath /d "$work/converter" /f >/dev/null
python3 - "$build/bin/navlet-host" <<'PY'
import statistics, struct, subprocess, sys, time

host = sys.argv[1]
frame = lambda b: struct.pack("<I", len(b)) + b
request = frame(b'{"url":"http://127.0.0.1/page.html"}')

def answer(p):
    n = struct.unpack("<I", p.stdout.read(4))[0]
    return p.stdout.read(n)

def peak_mb(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) / 1024
    return 0.0

first, later, peaks = [], [], []
for _ in range(10):
    t = time.perf_counter()
    p = subprocess.Popen([host], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    p.stdin.write(request); p.stdin.flush()
    assert b'"converted"' in answer(p)
    first.append((time.perf_counter() - t) * 1000)
    for _ in range(10):
        t = time.perf_counter()
        p.stdin.write(request); p.stdin.flush()
        assert b'"converted"' in answer(p)
        later.append((time.perf_counter() - t) * 1000)
    peaks.append(peak_mb(p.pid))
    p.stdin.close(); p.wait()
print(f"first press of a host (start included): {statistics.median(first):.1f} ms")
print(f"later press on the same connection:      {statistics.median(later):.1f} ms")
print(f"host peak memory (VmHWM):                 {statistics.median(peaks):.1f} MB")
PY
