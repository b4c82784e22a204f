"""Loads the real files of tests/data on one thread and on two; prints one JSON list of
[two-thread time / one-thread time, cores others took] per attempt, where the second figure
is the most CPU that other processes (and the hypervisor's steal) took during either run, in
cores, from /proc/stat less this process's own CPU time. Run by test_threads_and_scale.py in
a process of its own (so that the glibc settings of its environment apply).
Usage: thread_speedup.py ATTEMPTS
"""
import concurrent.futures
import json
import os
import sys
import time

import midifolio
from conftest import loadable_files

TICK = os.sysconf("SC_CLK_TCK")


def busy_seconds():
    """CPU seconds the whole machine spent on anything but idling, steal included."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + (fields[4] if len(fields) > 4 else 0)  # idle, iowait
    total = sum(fields[:8])  # user nice system idle iowait irq softirq steal
    return (total - idle) / TICK


def own_seconds():
    t = os.times()
    return t.user + t.system


def timed(work, batches):
    """(wall seconds, cores taken by others meanwhile) of work(batch), a thread per batch."""
    busy, own, start = busy_seconds(), own_seconds(), time.perf_counter()
    with concurrent.futures.ThreadPoolExecutor(len(batches)) as pool:
        list(pool.map(work, batches))
    wall = time.perf_counter() - start
    others = (busy_seconds() - busy) - (own_seconds() - own)
    return wall, max(0.0, others / wall)


def load_all(paths):
    for p in paths:
        midifolio.load(p)


def main():
    attempts = int(sys.argv[1])
    files = [str(p) for p in loadable_files()]
    start = time.perf_counter()
    load_all(files)
    once = time.perf_counter() - start
    batch = files * max(1, round(0.8 / once))  # most of a second of work on one thread
    results = []
    for _ in range(attempts):
        one, busy_one = timed(load_all, [batch])
        two, busy_two = timed(load_all, [batch[0::2], batch[1::2]])
        results.append([two / one, max(busy_one, busy_two)])
    print(json.dumps(results))


if __name__ == "__main__":
    main()
