#!/usr/bin/env python3
"""Runs a command and prints its seconds and the peak of the resident memory
of it and all of its descendants together (sampled every 50 ms), in KB:
    peak_rss.py OUTFILE COMMAND...   (writes "seconds peak_kb exit_status")"""
import os
import subprocess
import sys
import time


def tree_rss(root):
    children = {}
    rss = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            ppid = int(fields[1])
            rss[int(pid)] = int(fields[21]) * os.sysconf("SC_PAGE_SIZE") // 1024
            children.setdefault(ppid, []).append(int(pid))
        except (OSError, IndexError, ValueError):
            continue
    total, todo = 0, [root]
    while todo:
        p = todo.pop()
        total += rss.get(p, 0)
        todo.extend(children.get(p, []))
    return total


def main():
    out, cmd = sys.argv[1], sys.argv[2:]
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while proc.poll() is None:
        peak = max(peak, tree_rss(proc.pid))
        time.sleep(0.05)
    seconds = time.monotonic() - start
    with open(out, "w") as f:
        f.write("%.2f %d %d\n" % (seconds, peak, proc.returncode))


if __name__ == "__main__":
    main()
