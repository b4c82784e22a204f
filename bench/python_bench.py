#!/usr/bin/python3
"""Benchmark of the Python package: load + notes() against python3-mido, threads, memory.

Usage (from the repository's root, after a build):

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py [--quick]

Measures, in one process:
  1. load + notes() of every real file of tests/data that both readers take, against
     mido.MidiFile + the same notes (tests/tools/mido_notes.py, the tests' reference);
  2. the same on generated songs: a 1 MB song for both, a 20 MB song for midifolio alone
     (mido takes about 46 s for 20 MB): a.mid of the C++ benchmarks when bench/run.sh wrote
     it, else one made here;
  3. loading the real files on one thread and on two, with the CPU that other programs took
     meanwhile (from /proc/stat), which tells whether two cores were free;
  4. resident memory after loading and dropping a song 1,000 times.
Times are the best of several repetitions after one warm-up. The generated songs go to
MIDIFOLIO_BENCH_DIR (default /tmp/midifolio-bench). Run it once as it is and once with glibc
told to keep freed memory, as the C++ benchmarks' warm figures are measured:

    GLIBC_TUNABLES=glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=1099511627776 \
        PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py
"""
import concurrent.futures
import os
import random
import sys
import time
from pathlib import Path

import numpy as np

import midifolio

ROOT = Path(__file__).resolve().parents[1]
DATA = ROOT / "tests" / "data"
sys.path.insert(0, str(ROOT / "tests" / "tools"))
from midi_bytes import smf, vlq  # noqa: E402


def best(fn, repeat):
    fn()  # warm-up
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


# ------------------------------------------------------------------ generated songs


def generated_song(path, megabytes, tracks=16):
    """A format 1 song of `tracks` dense tracks in running status: 4 notes sounding per
    track, a controller change and a pitch bend every 8 notes (deterministic)."""
    if path.exists() and path.stat().st_size >= megabytes * 2**20 * 0.95:
        return path
    rng = random.Random(megabytes)
    per_track = megabytes * 2**20 // tracks
    chunks = []
    for t in range(tracks):
        ch = t % 16
        out = bytearray(b"\x00\xff\x51\x03\x07\xa1\x20" if t == 0 else b"")
        out += bytes([0x00, 0xC0 | ch, t * 5 % 128])
        sounding = []
        k = 0
        status = None
        while len(out) < per_track:
            note = 36 + rng.randrange(48)
            delta = rng.choice((0, 0, 60, 120))
            if status != 0x90:
                out += vlq(delta) + bytes([0x90 | ch, note, 90])
                status = 0x90
            else:
                out += vlq(delta) + bytes([note, 90])
            sounding.append(note)
            if len(sounding) > 4:
                out += b"\x00" + bytes([sounding.pop(0), 0])
            k += 1
            if k % 8 == 0:
                out += b"\x00" + bytes([0xB0 | ch, 7, 100]) + b"\x00" + bytes([0xE0 | ch, 0, 64])
                status = 0xE0
        out += b"\x00\xff\x2f\x00"
        chunks.append(bytes(out))
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(smf(*chunks, fmt=1, division=480))
    return path


# ------------------------------------------------------------------ measurements


def compare_with_mido(files, label, repeat):
    import mido_notes

    def ours():
        for p in files:
            midifolio.load(p).notes()

    def theirs():
        for p in files:
            mido_notes.notes_of(p)

    a = best(ours, repeat)
    b = best(theirs, max(1, repeat // 3))
    notes = sum(len(midifolio.load(p).notes()) for p in files)
    events = sum(midifolio.load(p).summary()["events"] for p in files)
    size = sum(os.path.getsize(p) for p in files)
    print("| %s | %d files, %.2f MB, %s events, %s notes | %.2f ms | %.1f ms | **%.0f×** |" % (
        label, len(files), size / 2**20, format(events, ","), format(notes, ","), a * 1e3, b * 1e3, b / a))
    return b / a


TICK = os.sysconf("SC_CLK_TCK")


def busy_seconds():
    """CPU seconds the machine spent on anything but idling (steal included)."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    return (sum(fields[:8]) - fields[3] - fields[4]) / TICK


def threads(files, attempts):
    batch = files * max(1, round(0.8 / best(lambda: [midifolio.load(p) for p in files], 3)))

    def load(paths):
        for p in paths:
            midifolio.load(p)

    def timed(batches):
        busy, own, start = busy_seconds(), sum(os.times()[:2]), time.perf_counter()
        with concurrent.futures.ThreadPoolExecutor(len(batches)) as pool:
            list(pool.map(load, batches))
        wall = time.perf_counter() - start
        others = (busy_seconds() - busy - (sum(os.times()[:2]) - own)) / wall
        return wall, max(0.0, others)

    print("%d loads per run; 'others': cores that other programs took meanwhile\n" % len(batch))
    print("| attempt | one thread | two threads | ratio | others |")
    print("|---|---|---|---|---|")
    for k in range(attempts):
        one, o1 = timed([batch])
        two, o2 = timed([batch[0::2], batch[1::2]])
        print("| %d | %.0f ms | %.0f ms | %.2f | %.2f / %.2f |" % (k + 1, one * 1e3, two * 1e3, two / one, o1, o2))


def rss():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def memory(path):
    def once():
        song = midifolio.load(path)
        song.notes(), song.summary()

    for _ in range(50):
        once()
    before = rss()
    start = time.perf_counter()
    for _ in range(1000):
        once()
    took = time.perf_counter() - start
    print("1,000 loads + notes() + summary() of %s (%d KB): resident size %.1f MB -> %.1f MB "
          "(%+.2f MB), %.2f ms each" % (path.name, path.stat().st_size // 1024, before / 2**20,
                                        rss() / 2**20, (rss() - before) / 2**20, took))


def main():
    quick = "--quick" in sys.argv
    repeat = 3 if quick else 7
    print("midifolio %s, numpy %s, Python %s, %d cores, GLIBC_TUNABLES=%s" % (
        midifolio.__version__, np.__version__, sys.version.split()[0], os.cpu_count(),
        os.environ.get("GLIBC_TUNABLES", "(unset)")))
    files = []
    for p in sorted(DATA.rglob("*.mid")):
        try:
            midifolio.load(p)
        except (midifolio.MidiError, OSError):
            continue
        files.append(str(p))
    import mido_notes

    both = []
    for p in files:
        try:
            mido_notes.notes_of(p)
        except Exception:
            continue
        both.append(p)

    folder = Path(os.environ.get("MIDIFOLIO_BENCH_DIR", "/tmp/midifolio-bench"))
    one_mb = str(generated_song(folder / "python-1mb.mid", 1))
    print("\n## load + notes() against mido\n")
    print("| input | size | midifolio | mido | speed-up |")
    print("|---|---|---|---|---|")
    compare_with_mido(both, "real files of tests/data", repeat)
    compare_with_mido([one_mb], "generated, 16 tracks", max(3, repeat // 2))
    if not quick:
        # The C++ benchmarks' 20 MB song (midifolio_perf gen writes it) when it is there, so
        # that both languages measure the same bytes; else one of the same kind made here.
        big = str(folder / "a.mid") if (folder / "a.mid").exists() else str(
            generated_song(folder / "python-20mb.mid", 20))
        t = best(lambda: midifolio.load(big).notes(), 3)
        s = midifolio.load(big)
        print("\n20 MB generated song (%s events, %s notes): load + notes() %.0f ms (mido: not run)" % (
            format(s.summary()["events"], ","), format(len(s.notes()), ","), t * 1e3))
        del s
    print("\n## two threads against one (the real files)\n")
    threads(files, 3 if quick else 5)
    print("\n## memory\n")
    memory(max((DATA / "corpus").glob("*.mid"), key=lambda p: p.stat().st_size))


if __name__ == "__main__":
    main()
