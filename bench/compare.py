#!/usr/bin/python3
"""Side-by-side of midifolio with independent MIDI readers from Debian on the generated files.

Usage: /usr/bin/python3 bench/compare.py BUILD_DIR INPUT_DIR [FILE...]

Readers: midifolio (bench/midifolio_perf load), portsmf (bench/portsmf_load, when built),
midicsv (decodes and writes CSV to /dev/null), python3-mido (mido.MidiFile). Prints a Markdown
table: the wall time of a whole process (start, read, parse, exit; median of 3 runs, 1 for runs
over 20 s) and, where the reader can report it, the parse alone inside the process, first
(cold) and repeated (warm, median of 5; midifolio and portsmf run with the glibc tunables that
keep freed memory).
"""
import os
import re
import statistics
import subprocess
import sys
import time

WARM_ENV = dict(os.environ,
                GLIBC_TUNABLES="glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=1099511627776")


class Refused(Exception):
    pass


def wall(cmd, env=None):
    times = []
    for _ in range(3):
        t0 = time.perf_counter()
        r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
        times.append(time.perf_counter() - t0)
        if r.returncode != 0:
            lines = r.stderr.strip().splitlines()
            raise Refused(lines[-1] if lines else "exit status %d" % r.returncode)
        if times[-1] > 20:
            break
    return statistics.median(times) * 1000


def in_process(cmd, env=None):
    r = subprocess.run(cmd, capture_output=True, text=True, env=env)
    if r.returncode != 0:
        lines = r.stderr.strip().splitlines()
        raise Refused(lines[-1] if lines else "exit status %d" % r.returncode)
    out = r.stdout
    first = re.search(r"first(?: \(cold\))? ([0-9.]+) ms", out)
    later = re.search(r"later median ([0-9.]+) ms", out)
    return (float(first.group(1)) if first else None, float(later.group(1)) if later else None)


MIDO = r"""
import sys, time, statistics, mido
path, repeat = sys.argv[1], int(sys.argv[2])
times = []
for i in range(repeat):
    t0 = time.perf_counter(); mido.MidiFile(path); times.append((time.perf_counter() - t0) * 1000)
    if times[-1] > 20000: break
later = times[1:]
print("first %.2f ms" % times[0] + (", later median %.2f ms" % statistics.median(later) if later else ""))
"""


def fmt(ms):
    if ms is None:
        return "–"
    return "%.0f ms" % ms if ms >= 100 else "%.1f ms" % ms


def main():
    build, inputs = sys.argv[1], sys.argv[2]
    names = sys.argv[3:] or ["a", "f0", "b", "c", "d"]
    perf = os.path.join(build, "bench", "midifolio_perf")
    portsmf = os.path.join(build, "bench", "portsmf_load")
    print("| file | size | reader | process wall | parse, first | parse, warm |")
    print("|---|---|---|---|---|---|")
    for name in names:
        path = os.path.join(inputs, name + ".mid")
        size = "%.1f MB" % (os.path.getsize(path) / 1e6)
        rows = []

        def measure(reader, wall_cmd, first_cmd=None, warm_cmd=None, warm_env=None):
            try:
                first = warm = None
                if first_cmd:
                    first, later = in_process(first_cmd)
                    warm = later
                if warm_cmd:
                    _, warm = in_process(warm_cmd, warm_env)
                rows.append((reader, fmt(wall(wall_cmd)), fmt(first), fmt(warm)))
            except Refused as e:
                rows.append((reader, "refuses the file: " + str(e).replace("|", "/"), "–", "–"))

        measure("midifolio", [perf, "load", path, "1"], [perf, "load", path, "1"],
                [perf, "load", path, "6"], WARM_ENV)
        if os.path.exists(portsmf):
            measure("portsmf", [portsmf, path, "1"], [portsmf, path, "1"], [portsmf, path, "6"],
                    WARM_ENV)
        measure("midicsv (to /dev/null)", ["midicsv", path, "/dev/null"])
        big = os.path.getsize(path) > 4e6
        mido = ["/usr/bin/python3", "-c", MIDO, path]
        measure("python3-mido", mido + ["1"], mido + ["1" if big else "6"])
        for reader, w, f, m in rows:
            print("| %s | %s | %s | %s | %s | %s |" % (name, size, reader, w, f, m))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
