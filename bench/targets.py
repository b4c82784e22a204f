#!/usr/bin/python3
"""The performance targets of docs/performance.md, each measured and judged in one run.

Usage: /usr/bin/python3 bench/targets.py BUILD_DIR INPUT_DIR [--json OUT.json]

BUILD_DIR holds bench/midifolio_perf, cli/midifolio, python/midifolio and (when the audio
engine is built) bench/midifolio_render_bench; INPUT_DIR the generated inputs that
`midifolio_perf gen` writes (bench/run.sh does both). Everything runs with the default glibc
(GLIBC_TUNABLES unset); a few tuned figures are shown beside, never in place of them.

  big    a.mid, the 20 MB generated song (bench/generators.cpp, FileA; ~6.3 M events)
  big2   a2.mid, twice big (the scaling check)
  real   every MIDI file of tests/data and of the shared corpus (MIDIFOLIO_CORPUS, default
         /work/shared/corpus/real; a file of the same name in tests/data/corpus counts once)
  floor  read each file into fresh memory and walk its bytes (`midifolio_perf floors`),
         measured in this run over the same files

Times are medians of several passes in one process unless a row says "cold": the first pass of
a fresh process (median over three processes). Prints one Markdown table: the measured figures,
the ratio, the limit and "met" or "not met".
"""
import json
import os
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
TUNED = "glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=1099511627776"
SUFFIXES = (".mid", ".midi", ".kar", ".smf", ".rmi")


def plain_env(**extra):
    """The environment with the default glibc: GLIBC_TUNABLES removed."""
    env = {k: v for k, v in os.environ.items() if k != "GLIBC_TUNABLES"}
    env.update(extra)
    return env


def run(cmd, env=None, **kw):
    r = subprocess.run([str(c) for c in cmd], capture_output=True, text=True,
                       env=env or plain_env(), **kw)
    if r.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(map(str, cmd[:3])), r.returncode,
                                                  r.stderr.strip()[-400:]))
    return r.stdout


def times_of(out):
    m = re.search(r"times:([0-9. ]+) ms", out)
    return [float(x) for x in m.group(1).split()]


def median(xs):
    return statistics.median(xs)


# ------------------------------------------------------------------ the files


def real_files():
    """Every MIDI file of tests/data, then those of the corpus not already there, sorted."""
    data = ROOT / "tests" / "data"
    files = sorted(str(p) for p in data.rglob("*") if p.suffix.lower() in SUFFIXES)
    seen = {os.path.basename(f) for f in files if "/corpus/" in f}
    corpus = Path(os.environ.get("MIDIFOLIO_CORPUS", "/work/shared/corpus/real"))
    if corpus.is_dir():
        files += sorted(str(p) for p in corpus.rglob("*")
                        if p.suffix.lower() in SUFFIXES and p.name not in seen)
    return files


# ------------------------------------------------------------------ Python measurements

PY_CHILD = r"""
import json, resource, statistics, sys, time
import numpy as np
import midifolio

def timed(fn, repeat):
    fn()  # warm-up
    out = []
    for _ in range(repeat):
        t0 = time.perf_counter(); fn(); out.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(out), out

mode, args = sys.argv[1], sys.argv[2:]
result = {}
if mode == "memory":
    base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    notes = midifolio.load(args[0]).notes()
    result["peak_mb"] = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - base) / 1024.0
    result["notes"] = len(notes)
elif mode == "big":
    path = args[0]
    result["load_notes"], result["load_notes_all"] = timed(lambda: midifolio.load(path).notes(), 5)
    result["load"], _ = timed(lambda: midifolio.load(path), 5)
    song = midifolio.load(path)
    ev = song.events()
    assert "seconds" in ev.dtype.names and len(ev) == song.summary()["events"]
    result["events_count"] = len(ev)
    del ev
    result["events"], _ = timed(lambda: song.events(), 5)
    notes = song.notes()
    result["notes_count"] = len(notes)
    def write():
        data = midifolio.from_notes(notes, ticks_per_quarter=song.ticks_per_quarter).dumps()
        assert len(data) > 0
    result["write"], _ = timed(write, 3)
elif mode == "real":
    files = json.load(open(args[0]))
    def notes_each():
        for p in files:
            midifolio.load(p).notes()
    result["load_notes"], _ = timed(notes_each, 5)
elif mode == "loadable":
    files = json.load(open(args[0]))
    ok = []
    for p in files:
        try:
            midifolio.load(p).notes()
            ok.append(p)
        except (midifolio.MidiError, OSError):
            pass
    result["files"] = ok
elif mode == "scan":
    # Python's scan and the CLI's (a whole process each time) in alternating rounds, so that
    # both sides of their ratio meet the same phases of the machine.
    import subprocess
    files, cli = json.load(open(args[0])), args[1]
    cmd = [cli, "scan", "--jobs", "1", *files]
    def cli_scan():
        # Exit status 1 only tells that some files were refused: the scan ran through.
        r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if r.returncode not in (0, 1):
            raise RuntimeError("midifolio scan failed (%d)" % r.returncode)
    rows = midifolio.scan(files, jobs=1)
    assert len(rows) == len(files)
    cli_scan()
    py_times, cli_times = [], []
    for _ in range(5):
        for fn, out in ((lambda: midifolio.scan(files, jobs=1), py_times), (cli_scan, cli_times)):
            t0 = time.perf_counter(); fn(); out.append((time.perf_counter() - t0) * 1e3)
    result["scan"], result["cli_scan"] = statistics.median(py_times), statistics.median(cli_times)
print(json.dumps(result))
"""


class Python:
    def __init__(self, build):
        self.env = plain_env(PYTHONPATH=str(Path(build) / "python"))

    def __call__(self, mode, *args):
        out = run(["/usr/bin/python3", "-c", PY_CHILD, mode, *args], env=self.env)
        return json.loads(out.strip().splitlines()[-1])


# ------------------------------------------------------------------ C++ measurements


class Perf:
    def __init__(self, build):
        self.tool = Path(build) / "bench" / "midifolio_perf"

    def __call__(self, *args, env=None):
        return run([self.tool, *args], env=env)

    def floor(self, files, repeat=5):
        """(cold, warm median) of reading and walking the files."""
        t = times_of(self("floors", repeat, *files))
        return t[0], median(t[1:] if len(t) > 1 else t)

    def cold_floor(self, files):
        return median([self.floor(files, 1)[0] for _ in range(3)])

    def loads(self, path, repeat=6, env=None):
        return times_of(self("load", path, repeat, env=env))

    def cold_load(self, path):
        return median([self.loads(path, 1)[0] for _ in range(3)])

    def exact(self, path, repeat=5):
        return median(times_of(self("exact", path, repeat))[1:])

    def instructions(self, cmd, path, fn, out):
        """Instructions per event of one call of fn (LoadOnce, ExactOnce) under callgrind."""
        text = self(cmd, path, 1)
        events = int(re.search(r"([0-9]+) events", text).group(1))
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=%s" % out,
                        "--toggle-collect=*%s*" % fn, str(self.tool), cmd, str(path), "1"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=plain_env(),
                       check=True)
        ir = None
        with open(out) as f:
            for line in f:
                if line.startswith(("summary:", "totals:")):
                    ir = int(line.split()[1])
                    break
        os.remove(out)
        return ir / events, events


# ------------------------------------------------------------------ the table


class Table:
    def __init__(self):
        self.rows = []

    def add(self, target, measured, ratio, limit, at_least=False, beside=""):
        if ratio is None:
            met = "not measured"
        else:
            met = "met" if (ratio >= limit if at_least else ratio <= limit) else "not met"
        self.rows.append({"target": target, "measured": measured, "ratio": ratio,
                          "limit": ("≥ " if at_least else "≤ ") + fmt_num(limit) + "×",
                          "met": met, "beside": beside})

    def print(self):
        print("| target | measured | ratio | limit | met | beside (not judged) |")
        print("|---|---|---|---|---|---|")
        for r in self.rows:
            ratio = "–" if r["ratio"] is None else "%.2f×" % r["ratio"]
            met = r["met"] if r["met"] != "not met" else "**not met**"
            print("| %s | %s | %s | %s | %s | %s |" % (r["target"], r["measured"], ratio,
                                                      r["limit"], met, r["beside"]))
        counts = {}
        for r in self.rows:
            counts[r["met"]] = counts.get(r["met"], 0) + 1
        print("\n%d targets: %s" % (len(self.rows), ", ".join(
            "%d %s" % (n, k) for k, n in sorted(counts.items()))))


def fmt_num(x):
    return ("%.1f" % x).rstrip("0").rstrip(".") if x != int(x) else "%d" % x


def ms(x):
    return "%.0f ms" % x if x >= 100 else "%.1f ms" % x


# ------------------------------------------------------------------ measuring


def measure_big(perf, py, path):
    """Every figure taken on one generated song."""
    m = {}
    loads = perf.loads(path, 6)
    m["loads"] = loads
    m["load_median"] = median(loads)
    m["load_fastest"] = min(loads)
    m["load_first"] = loads[0]
    m["load_warm_max"] = max(loads[1:])
    m["load_cold"] = perf.cold_load(path)
    m["floor_cold"] = perf.cold_floor([path])
    m["floor"] = perf.floor([path], 5)[1]
    m["exact"] = perf.exact(path, 5)
    m["tuned_loads"] = perf.loads(path, 6, env=plain_env(GLIBC_TUNABLES=TUNED))
    m["py"] = py("big", path)
    m["py_peak_mb"] = median([py("memory", path)["peak_mb"] for _ in range(3)])
    return m


def measure_real(perf, py, files, work, cli):
    m = {}
    all_json = work / "targets-real-all.json"
    all_json.write_text(json.dumps(files))
    loadable = py("loadable", str(all_json))["files"]
    ok_json = work / "targets-real-ok.json"
    ok_json.write_text(json.dumps(loadable))
    m["files"], m["loadable"] = len(files), len(loadable)
    m["floor_loadable"] = perf.floor(loadable, 7)[1]
    m["py_notes"] = py("real", str(ok_json))["load_notes"]
    m["floor_all"] = perf.floor(files, 7)[1]
    scans = py("scan", str(all_json), str(cli))
    m["py_scan"], m["cli_scan"] = scans["scan"], scans["cli_scan"]
    return m


def measure_render(build):
    tool = Path(build) / "bench" / "midifolio_render_bench"
    if not tool.exists():
        return None
    out = run([tool, "--benchmark_repetitions=3", "--benchmark_format=json"])
    data = json.loads(out)
    values = [b["x_realtime"] for b in data["benchmarks"]
              if b.get("run_type") == "iteration" and "x_realtime" in b]
    return median(values) if values else None


def main():
    build, inputs = Path(sys.argv[1]), Path(sys.argv[2])
    out_json = sys.argv[sys.argv.index("--json") + 1] if "--json" in sys.argv else None
    perf, py = Perf(build), Python(build)
    big, big2 = inputs / "a.mid", inputs / "a2.mid"
    needed = [perf.tool, build / "cli" / "midifolio", build / "python" / "midifolio", big, big2]
    missing = [str(p) for p in needed if not p.exists()]
    if missing:
        sys.exit("targets: not built or not generated: %s (the targets need the CLI and the "
                 "Python package; bench/run.sh builds them and writes the inputs)" %
                 ", ".join(missing))
    started = time.perf_counter()

    B = measure_big(perf, py, big)
    B2 = measure_big(perf, py, big2)
    R = measure_real(perf, py, real_files(), inputs, build / "cli" / "midifolio")
    cli_scan = R["cli_scan"]
    x_realtime = measure_render(build)
    ipe_load, events = perf.instructions("load", big, "LoadOnce", inputs / "callgrind.targets")
    ipe_exact, _ = perf.instructions("exact", big, "ExactOnce", inputs / "callgrind.targets")

    t = Table()
    loads = B["loads"]
    tuned = B["tuned_loads"]
    t.add("Steady loads: six `LoadMidiFile` of big in one process, median / fastest",
          "median %s, fastest %s (all: %s)" % (ms(median(loads)), ms(min(loads)),
                                               " ".join("%.0f" % x for x in loads)),
          median(loads) / min(loads), 1.3,
          beside="tuned glibc: %.2f× (%s)" % (median(tuned) / min(tuned),
                                              " ".join("%.0f" % x for x in tuned)))
    t.add("Steady loads: slowest warm load / cold load (first of the process)",
          "slowest warm %s, cold %s" % (ms(max(loads[1:])), ms(loads[0])),
          max(loads[1:]) / loads[0], 1.0)
    t.add("`LoadMidiFile` of big, median / floor",
          "%s / %s" % (ms(B["load_median"]), ms(B["floor"])), B["load_median"] / B["floor"], 3,
          beside="tuned glibc median %s: %.2f×" % (ms(median(tuned)), median(tuned) / B["floor"]))
    t.add("`LoadMidiFile` of big, cold / cold floor (fresh processes)",
          "%s / %s" % (ms(B["load_cold"]), ms(B["floor_cold"])),
          B["load_cold"] / B["floor_cold"], 4)
    t.add("Python `load(big).notes()` / floor",
          "%s / %s" % (ms(B["py"]["load_notes"]), ms(B["floor"])),
          B["py"]["load_notes"] / B["floor"], 3)
    t.add("Python `load(p).notes()` of each real file / floor over the same files",
          "%d files: %s / %s" % (R["loadable"], ms(R["py_notes"]), ms(R["floor_loadable"])),
          R["py_notes"] / R["floor_loadable"], 4)
    t.add("Python peak memory of `load(big).notes()` (ru_maxrss over the baseline after import)",
          "%.0f MB" % B["py_peak_mb"], B["py_peak_mb"] / 150.0, 1,
          beside="limit 150 MB; ratio is measured / 150 MB")
    t.add("C++ exact view of big from memory (Song::FromBytes, Score, notes with seconds) / floor",
          "%s / %s" % (ms(B["exact"]), ms(B["floor"])), B["exact"] / B["floor"], 2.5)
    t.add("Python `scan(files, jobs=1)` / floor over the same files",
          "%d files: %s / %s" % (R["files"], ms(R["py_scan"]), ms(R["floor_all"])),
          R["py_scan"] / R["floor_all"], 6)
    t.add("CLI `midifolio scan --jobs 1` (whole process) / Python `scan(jobs=1)`",
          "%s / %s" % (ms(cli_scan), ms(R["py_scan"])), cli_scan / R["py_scan"], 1.2)
    t.add("Python `Song.events()` with seconds / the `load(big)` it starts from",
          "%s / %s (%d events)" % (ms(B["py"]["events"]), ms(B["py"]["load"]),
                                   B["py"]["events_count"]),
          B["py"]["events"] / B["py"]["load"], 1.5)
    t.add("`from_notes(notes)` + `dumps()` of big's notes / `load(big).notes()`",
          "%s / %s (%d notes)" % (ms(B["py"]["write"]), ms(B["py"]["load_notes"]),
                                  B["py"]["notes_count"]),
          B["py"]["write"] / B["py"]["load_notes"], 2)
    t.add("Audio: `render` of examples/sample.mid, seconds of audio per second of CPU",
          "%.1f× real time" % x_realtime if x_realtime else "not built",
          x_realtime, 30, at_least=True)
    scaled = [
        ("`LoadMidiFile` median", B["load_median"], B2["load_median"]),
        ("`LoadMidiFile` cold", B["load_cold"], B2["load_cold"]),
        ("C++ exact view", B["exact"], B2["exact"]),
        ("Python `load().notes()`", B["py"]["load_notes"], B2["py"]["load_notes"]),
        ("Python `events()`", B["py"]["events"], B2["py"]["events"]),
        ("`from_notes` + `dumps()`", B["py"]["write"], B2["py"]["write"]),
        ("Python peak memory", B["py_peak_mb"], B2["py_peak_mb"]),
    ]
    for what, one, two in scaled:
        t.add("Scaling: %s, 40 MB / 20 MB" % what,
              "%s / %s" % ((ms(two), ms(one)) if "memory" not in what
                           else ("%.0f MB" % two, "%.0f MB" % one)), two / one, 2.3)
    t.print()
    print("\nInstructions per event under callgrind (big, %d events), beside the wall times:" %
          events)
    print("  `LoadMidiFile`: %.1f instructions/event (%s)" % (ipe_load, ms(B["load_median"])))
    print("  exact view from memory, notes with seconds: %.1f instructions/event (%s)" %
          (ipe_exact, ms(B["exact"])))
    print("  (the byte walk, for scale, is measured by the callgrind part: walk:f0)")
    print("\nbig: %s; big2: %s; real: %d files (%d loadable); took %.0f s" % (
        big, big2, R["files"], R["loadable"], time.perf_counter() - started))
    if out_json:
        with open(out_json, "w") as f:
            json.dump({"rows": t.rows, "big": B, "big2": B2, "real": R, "cli_scan": cli_scan,
                       "x_realtime": x_realtime, "ipe_load": ipe_load,
                       "ipe_exact": ipe_exact}, f, indent=1)


if __name__ == "__main__":
    main()
