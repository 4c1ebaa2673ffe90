#!/usr/bin/env python3
"""Samples the memory of a program that runs under Wine, from the Linux side.

    sample_memory.py MARKER OUT_FILE

Every 10 ms, finds the processes whose command line begins with MARKER (the
program's Windows path: Wine shows a Windows process under its Windows
command line) and keeps the largest private memory seen (RssAnon + VmSwap of
/proc/PID/status: the pages the process itself owns, which is what Windows
counts as private bytes once they are touched) and the largest peak resident
set (VmHWM). Wine's own GetProcessMemoryInfo does not follow either, so the
figures come from here. On SIGTERM writes `peak_private=BYTES peak_rss=BYTES`
to OUT_FILE and exits.
"""
import os
import signal
import sys
import time


def status_fields(pid):
    fields = {}
    try:
        with open(f"/proc/{pid}/status", encoding="ascii", errors="replace") as f:
            for line in f:
                key, _, value = line.partition(":")
                parts = value.split()
                if parts and parts[0].isdigit():
                    fields[key] = int(parts[0]) * 1024
    except OSError:
        pass
    return fields


def matching_pids(marker):
    pids = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if cmdline.lstrip('"').lower().startswith(marker.lower()):
            pids.append(int(name))
    return pids


def main():
    marker, out_file = sys.argv[1], sys.argv[2]
    peak = {"private": 0, "rss": 0}
    me = os.getpid()

    def finish(*_):
        with open(out_file, "w", encoding="ascii") as f:
            f.write(f"peak_private={peak['private']} peak_rss={peak['rss']}\n")
        sys.exit(0)

    signal.signal(signal.SIGTERM, finish)
    pids = []
    last_scan = 0.0
    while True:
        now = time.monotonic()
        # The process list is read again now and then, the statuses every time.
        if now - last_scan > (0.05 if not pids else 0.5):
            pids = [p for p in matching_pids(marker) if p != me]
            last_scan = now
        for pid in pids:
            s = status_fields(pid)
            peak["private"] = max(peak["private"], s.get("RssAnon", 0) + s.get("VmSwap", 0))
            peak["rss"] = max(peak["rss"], s.get("VmHWM", 0))
        time.sleep(0.01)


if __name__ == "__main__":
    main()
