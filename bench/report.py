#!/usr/bin/python3
"""Turns the JSON of a benchmark run (bench/run.sh writes it to $MIDIFOLIO_BENCH_DIR/bench.json)
into the Markdown tables of docs/performance.md: the medians of every benchmark, then the
ratios the performance targets are stated in.

Usage: /usr/bin/python3 bench/report.py BENCH_JSON
"""
import json
import sys


def load(path):
    with open(path) as f:
        data = json.load(f)
    rows = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b["run_name"].replace("/real_time", "")
        rows[name] = b
    return data.get("context", {}), rows


def ms(b, key="real_time"):
    unit = b.get("time_unit", "ms")
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[unit]
    return b[key] * scale


def main():
    context, rows = load(sys.argv[1])
    print("| benchmark | median wall | median CPU | MB/s | events/s |")
    print("|---|---|---|---|---|")
    for name, b in rows.items():
        mbs = b.get("bytes_per_second")
        evs = b.get("events/s")
        print("| %s | %.2f ms | %.2f ms | %s | %s |" % (
            name, ms(b), ms(b, "cpu_time"),
            "%.0f" % (mbs / 1e6) if mbs else "",
            "%.1f M" % (evs / 1e6) if evs else ""))

    def ratio(a, b, key="real_time"):
        if a in rows and b in rows:
            return ms(rows[a], key) / ms(rows[b], key)
        return None

    print()
    print("| target | measured (wall; CPU) | limit | met |")
    print("|---|---|---|---|")

    def line(text, a, b, limit, higher_is_better=False):
        r, c = ratio(a, b), ratio(a, b, "cpu_time")
        if r is None:
            print("| %s | not measured | %s | – |" % (text, limit))
            return
        ok = (r >= limit) if higher_is_better else (r <= limit)
        print("| %s | %.2f×; %.2f× | %s%.1f× | %s |" % (
            text, r, c, "≥ " if higher_is_better else "≤ ", limit, "yes" if ok else "**no**"))

    # Measured side by side (the Paired benchmarks): the operation against loads timed in
    # the same iterations.
    def paired(text, name, limit):
        b = rows.get(name)
        if b is None or "ratio" not in b:
            print("| %s | not measured | ≤ %.1f× | – |" % (text, limit))
            return
        r = b["ratio"]
        print("| %s | %.2f× (side by side) | ≤ %.1f× | %s |" % (
            text, r, limit, "yes" if r <= limit else "**no**"))

    paired("StoreMidiFile(a), new file / LoadMidiFile(a)", "Paired/StoreMidiFile/a", 1.3)
    paired("MakeEventList(a) / LoadMidiFile(a)", "Paired/MakeEventList/a", 3.5)
    paired("Score notes(a) / LoadMidiFile(a)", "Paired/ScoreNotes/a", 2.0)
    paired("scan's channel answers (GetChannelSurvey) / LoadMidiFile, real files",
           "Paired/ScanSurvey/real", 1.0)
    line("LoadMidiFile(a) / byte walk(a)", "LoadMidiFile/a", "ByteWalk/a", 3.0)
    line("portsmf(a) / LoadMidiFile(a)", "PortsmfLoad/a", "LoadMidiFile/a", 10.0, True)
    # The store runs on the calling thread only: its CPU against the load's.
    line("StoreMidiFile(a), new file / LoadMidiFile(a)", "StoreMidiFile/a", "LoadMidiFile/a", 1.3)
    line("StoreMidiFile(a), replacing (synced) / LoadMidiFile(a)", "StoreMidiFile/a/replace",
         "LoadMidiFile/a", 1.3)
    line("MakeEventList(a) / LoadMidiFile(a)", "MakeEventList/a", "LoadMidiFile/a", 3.5)
    # Not a target: copying every node into a 64-byte record, the least MakeEventList does.
    line("(its floor: the records copied alone / LoadMidiFile(a))", "RecordCopyFloor/a",
         "LoadMidiFile/a", 3.5)
    line("Score notes(a) / LoadMidiFile(a)", "ScoreNotes/a", "LoadMidiFile/a", 2.0)
    line("scan's channel answers, one walk (real files) / LoadMidiFile(real)",
         "ScanSurvey/real", "LoadMidiFile/real", 1.0)
    line("the same, one call each / LoadMidiFile(real)", "ScanAnalyses/real",
         "LoadMidiFile/real", 1.0)
    line("GetInstruments(a) / LoadMidiFile(a)", "GetInstruments/a", "LoadMidiFile/a", 1.0)
    line("MakeEventList(b) / MakeEventList(b1, one tempo)", "MakeEventList/b", "MakeEventList/b1", 2.0)
    for op in ("LoadMidiFile", "StoreMidiFile", "MakeEventList", "CheckMidiByVoice"):
        line("%s: 2×(a) / (a)" % op, op + "/a2", op + "/a", 2.3)
    # Not quadratic: doubling the tempo changes (same notes), the tracks (and with them the
    # events) or the sysex length. Quadratic work would give 4x (2x more tempo changes alone:
    # up to 4x the tempo work); below 3x the growth is linear or n log n.
    line("LoadMidiFile: 20,000 / 10,000 tempo changes", "LoadMidiFile/b", "LoadMidiFile/b10k", 3.0)
    line("MakeEventList: 20,000 / 10,000 tempo changes", "MakeEventList/b", "MakeEventList/b10k", 3.0)
    line("TicksToMsecs: 20,000 / 10,000 tempo changes", "TicksToMsecs/b", "TicksToMsecs/b10k", 3.0)
    line("LoadMidiFile: 2,000 / 1,000 tracks", "LoadMidiFile/c2k", "LoadMidiFile/c", 3.0)
    line("StoreMidiFile: 2,000 / 1,000 tracks", "StoreMidiFile/c2k", "StoreMidiFile/c", 3.0)
    line("MakeEventList: 2,000 / 1,000 tracks", "MakeEventList/c2k", "MakeEventList/c", 3.0)
    line("LoadMidiFile: 2 MB / 1 MB sysex", "LoadMidiFile/d2m", "LoadMidiFile/d", 3.0)
    line("StoreMidiFile: 2 MB / 1 MB sysex", "StoreMidiFile/d2m", "StoreMidiFile/d", 3.0)


if __name__ == "__main__":
    main()
