#!/usr/bin/python3
"""Tempo-aware time of every event of a Standard MIDI File, as python3-mido sees it.

Usage: mido_times.py FILE...

Output, for each FILE: a line 'file FILE', then one line per event, TAB-separated, tracks
numbered from 0 and events in file order:
    TRACK  ABS_TICK  MSECS
MSECS is the event's time in milliseconds (a float, not rounded) through the tempo map of
the whole file: the Set Tempo events of every track merged by tick (at one tick the last one
in track order, then file order, wins), 500000 microseconds per quarter note before the first.
The times come from mido.tick2second applied segment by segment.

When FILE.oracle.txt exists (the canonical dump that dump_mido.py, or dump_midicsv.sh for the
files mido refuses, made of FILE), the ticks and tempos are read from it, which is much faster
than parsing the file again; otherwise mido parses FILE, and when it refuses the file the
file's only line after its 'file' line is 'ERROR <message>'.
"""
import os
import sys

try:
    import mido
except ImportError:  # e.g. a non-Debian python3 first on PATH
    sys.path.append('/usr/lib/python3/dist-packages')
    import mido


def events_from_mido(path):
    """(division, [(track, tick)], [(tick, track, order, tempo)])"""
    mf = mido.MidiFile(path)
    events, tempos = [], []
    for index, track in enumerate(mf.tracks):
        tick = 0
        for order, msg in enumerate(track):
            tick += msg.time
            events.append((index, tick))
            if msg.type == 'set_tempo':
                tempos.append((tick, index, order, msg.tempo))
    return mf.ticks_per_beat, events, tempos


def events_from_dump(path):
    division, events, tempos = 0, [], []
    with open(path) as dump:
        for order, line in enumerate(dump):
            fields = line.rstrip('\n').split('\t')
            if fields[0] == 'header':
                division = int(fields[3])
                continue
            track, tick = int(fields[0]), int(fields[1])
            events.append((track, tick))
            if fields[2] == 'meta' and fields[3] == '51' and len(fields[4]) == 6:
                tempos.append((tick, track, order, int(fields[4], 16)))
    return division, events, tempos


def times(path, out):
    out.append('file\t%s' % path)
    dump = path + '.oracle.txt'
    if os.path.exists(dump) and not open(dump).readline().startswith('ERROR'):
        division, events, tempos = events_from_dump(dump)
    else:
        try:
            division, events, tempos = events_from_mido(path)
        except Exception as exc:  # mido raises IOError, EOFError, ValueError, ...
            out.append('ERROR %s: %s' % (type(exc).__name__, ' '.join(str(exc).split())))
            return
    # Segments of the merged tempo map: (start tick, tempo), the last tempo at a tick wins.
    segments = [(0, 500000)]
    for tick, _track, _order, tempo in sorted(tempos):
        if segments[-1][0] == tick:
            segments[-1] = (tick, tempo)
        else:
            segments.append((tick, tempo))
    # Start of each segment in seconds.
    starts = [0.0]
    for k in range(1, len(segments)):
        prev_tick, prev_tempo = segments[k - 1]
        starts.append(starts[-1] +
                      mido.tick2second(segments[k][0] - prev_tick, division, prev_tempo))
    for track, tick in events:
        # Segments are few next to events; a bisection keeps this linear enough.
        lo, hi = 0, len(segments) - 1
        while lo < hi:
            mid = (lo + hi + 1) // 2
            if segments[mid][0] <= tick:
                lo = mid
            else:
                hi = mid - 1
        seconds = starts[lo] + mido.tick2second(tick - segments[lo][0], division,
                                                 segments[lo][1])
        out.append('%d\t%d\t%.6f' % (track, tick, seconds * 1000.0))


def main():
    if len(sys.argv) < 2:
        sys.exit('usage: mido_times.py FILE...')
    out = []
    for path in sys.argv[1:]:
        times(path, out)
    sys.stdout.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
