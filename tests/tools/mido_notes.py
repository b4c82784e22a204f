#!/usr/bin/python3
"""Notes of Standard MIDI Files as python3-mido reads them, by the rules of midifolio's exact
view, written independently of the library:

- within a track, per channel and note number, first in first out, in file order: a note_off,
  or a note_on of velocity 0, ends the oldest sounding note_on; a note no end ends lasts to
  the last event of its track;
- program: the last program_change on the note's channel in any track at or before the
  note's start tick (of several at one tick, the latest in track order, then file order), 0
  without one;
- seconds: from the set_tempo events of every track, 500000 us per quarter note before the
  first; at one tick the latest in track order, then file order, holds;
- order: start tick, then track, channel, pitch, then file order.

Usage: mido_notes.py FILE...   For each file, a line "# FILE", then one line per note:
track channel program pitch velocity start_tick end_tick start_seconds end_seconds
(track and channel from 0, seconds with 9 decimals), or "# FILE ERROR message".
"""
import sys
from bisect import bisect_right
from collections import defaultdict, deque

import mido


def notes_of(path):
    return notes_of_midi(mido.MidiFile(path))


def notes_of_midi(mid):
    """The note rows of a file mido has read (a mido.MidiFile)."""
    tpq = mid.ticks_per_beat
    tempos, programs, notes = [], [], []
    for t, track in enumerate(mid.tracks):
        tick = 0
        open_notes = defaultdict(deque)
        mine = []
        for order, msg in enumerate(track):
            tick += msg.time
            if msg.type == "set_tempo":
                tempos.append((tick, t, order, msg.tempo))
            elif msg.type == "program_change":
                programs.append((tick, t, order, msg.channel, msg.program))
            elif msg.type == "note_on" and msg.velocity > 0:
                note = [t, msg.channel, 0, msg.note, msg.velocity, tick, None, order]
                open_notes[(msg.channel, msg.note)].append(note)
                mine.append(note)
            elif msg.type in ("note_off", "note_on"):
                queue = open_notes[(msg.channel, msg.note)]
                if queue:
                    queue.popleft()[6] = tick
        for note in mine:
            if note[6] is None:
                note[6] = tick
        notes.extend(mine)

    segments = tempo_segments(tempos, tpq)

    def seconds(tick):
        return seconds_at(segments, tpq, tick)

    programs_and_order(notes, programs)
    return [n[:7] + [seconds(n[5]), seconds(n[6])] for n in notes]


def programs_and_order(notes, programs):
    """Gives each note row [track, channel, program, pitch, velocity, start, end, order] the
    program in force on its channel at its start (the last of (tick, track, order, channel,
    program) at or before it, in any track), then sorts the rows by start, track, channel,
    pitch and file order."""
    programs.sort()
    for note in notes:
        for tick, _, _, channel, program in programs:
            if tick > note[5]:
                break
            if channel == note[1]:
                note[2] = program
    notes.sort(key=lambda n: (n[5], n[0], n[1], n[3], n[7]))


def tempo_segments(tempos, tpq):
    """(tick, seconds, us per quarter) from the start of each stretch of one tempo, of
    (tick, track, order, us per quarter) of set_tempo events."""
    segments = [(0, 0.0, 500000)]
    for tick, _, _, us in sorted(tempos):
        start, secs, cur = segments[-1]
        if tick == start:
            segments[-1] = (start, secs, us)
        elif us != cur:
            segments.append((tick, secs + (tick - start) * cur / (1e6 * tpq), us))
    return segments


def tempos_of(tracks):
    """The set_tempo events of mido tracks as (tick, track, order, us per quarter)."""
    out = []
    for t, track in enumerate(tracks):
        tick = 0
        for order, msg in enumerate(track):
            tick += msg.time
            if msg.type == "set_tempo":
                out.append((tick, t, order, msg.tempo))
    return out


def seconds_at(segments, tpq, tick):
    start, secs, us = segments[max(0, bisect_right(segments, (tick, float("inf"))) - 1)]
    return secs + (tick - start) * us / (1e6 * tpq)


def main():
    for path in sys.argv[1:]:
        try:
            notes = notes_of(path)
        except Exception as e:  # mido refuses the file
            print("# %s ERROR %s" % (path, str(e).replace("\n", " ")))
            continue
        print("# %s" % path)
        for n in notes:
            print("%d %d %d %d %d %d %d %.9f %.9f" % tuple(n))


if __name__ == "__main__":
    main()
