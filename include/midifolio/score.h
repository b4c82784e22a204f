// The exact view of a song: notes with their times in seconds, bars as musicians count them,
// and the file's own tempo, time-signature and key-signature events.
//
// It stands beside the song's own answers, which it never changes. Those follow the rules of
// the library's interface: milliseconds truncated to whole numbers in every tempo segment, a
// measure of whole quarter notes under the last time signature read, and a 120 bpm tempo
// event that every load puts in front of the first track. The exact view computes in double
// precision from the song's events: a tempo change takes effect at its tick to the
// microsecond, every time-signature change starts a bar of its own length, and the loader's
// tempo event is not counted among the file's events.
//
// A Score is built once from a song and is immutable: its const members may be called from
// several threads at once. It keeps no pointer into the song; change the song and build a new
// Score to see the change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {
struct SongEvents;
struct SongPass;
}  // namespace score_detail

namespace score {

// One tempo change of the file.
struct TempoChange {
    int32_t tick;
    double seconds;           // exact time of the tick
    uint32_t us_per_quarter;  // microseconds per quarter note
    uint16_t track;           // index of the track that holds it
    double bpm() const { return us_per_quarter ? 60000000.0 / us_per_quarter : 0.0; }
};

// One time-signature change of the file: numerator / 2^denominator_power.
struct TimeSignature {
    int32_t tick;
    double seconds;
    int32_t bar;  // the bar it stands in, counted from 1
    uint8_t numerator;
    uint8_t denominator_power;  // 2 for quarter notes (x/4), 3 for eighths (x/8)
    uint16_t track;
    // The denominator as a note value: 4 for x/4, 8 for x/8 (0 when it has no such value).
    uint32_t denominator() const { return denominator_power < 32 ? 1u << denominator_power : 0; }
};

// One key-signature change of the file.
struct KeySignature {
    int32_t tick;
    double seconds;
    int32_t bar;    // the bar it stands in, counted from 1
    int8_t sharps;  // -7 (7 flats) .. 7 (7 sharps)
    bool minor;     // false: major
    uint16_t track;
};

// Ticks and seconds, from the tempo events of every track. Before the first tempo change the
// tempo is 500000 microseconds per quarter note (120 bpm). Of several changes at one tick,
// the latest in track order, then in list order, holds. Nothing is rounded.
class MIDIFOLIO_API TimeMap {
  public:
    // A map of 480 ticks per quarter note and no tempo change.
    TimeMap();
    explicit TimeMap(const CMidiFolio& song);

    // Ticks per quarter note (the header's division); 0 when the song has none, and then
    // every time in seconds is NaN.
    int32_t ticks_per_quarter() const { return m_tpq; }
    // The changes in force, one per tick at which the tempo changes, in tick order.
    const std::vector<TempoChange>& segments() const { return m_segments; }

    // Seconds at a tick: O(log T) for T tempo changes. Ticks before 0 count back with the
    // first tempo.
    double seconds(double tick) const;
    // Ticks at a time in seconds (the inverse of seconds()), fractional.
    double ticks(double seconds) const;
    // Seconds of n ticks into out: O(n + T) when the ticks ascend (any order is answered
    // correctly, an unordered one in O(n log T)).
    void seconds(const int32_t* ticks, double* out, size_t n) const;
    // The same over strided arrays (strides in bytes), for example a field of a table of
    // records: the k-th tick at (const char*)ticks + k * tick_stride.
    void seconds(const int32_t* ticks, size_t tick_stride, double* out, size_t out_stride,
                 size_t n) const;
    // Ticks of n times in seconds into out, likewise.
    void ticks(const double* seconds, double* out, size_t n) const;

    // Seconds of ticks given one at a time: O(1) amortised while they ascend, O(log T) for a
    // step back. The map must outlive the cursor.
    class Cursor {
      public:
        explicit Cursor(const TimeMap& map) : m_map(&map) { Enter(0); }
        double seconds(double tick) {
            if (tick >= m_until || (tick < m_from && m_segment != 0)) Move(tick);
            return m_base + (tick - m_from) * m_scale;
        }

      private:
        void Move(double tick);
        void Enter(size_t segment);
        const TimeMap* m_map;
        size_t m_segment = 0;
        double m_from = 0, m_until = 0, m_base = 0, m_scale = 0;
    };

  private:
    friend class Score;
    explicit TimeMap(const score_detail::SongEvents& events);
    size_t SegmentOfTick(double tick) const;
    size_t SegmentOfSeconds(double seconds) const;
    double SecondsIn(size_t segment, double tick) const;

    int32_t m_tpq;
    // Segment 0 is the default tempo from tick 0 (or the file's change at tick 0).
    std::vector<TempoChange> m_segments;
};

// Where a tick falls in bars and beats, all counted from 1 as musicians count them.
struct BarBeat {
    int32_t bar;
    int32_t beat;
    double tick;  // ticks into the beat
};

// Bars and beats, from the time-signature events of every track. Before the first change
// the meter is 4/4; a bar of n/2^d lasts n beats of 4/2^d quarter notes. Every
// time-signature change starts a new bar at its tick (a bar cut short before it still counts
// as a bar). Of several changes at one tick, the latest in track order, then list order,
// holds; a change with numerator 0 or a denominator beyond 2^16 is passed over.
class MIDIFOLIO_API MeterMap {
  public:
    // 4/4 throughout, 480 ticks per quarter note.
    MeterMap();
    explicit MeterMap(const CMidiFolio& song);

    // The meter in force at a tick, where it starts and the bar it starts.
    struct Meter {
        int32_t tick;
        int32_t bar;  // counted from 1
        uint8_t numerator;
        uint8_t denominator_power;
        double beat_ticks;  // length of one beat in ticks
        double bar_ticks;   // length of one full bar in ticks
    };
    const std::vector<Meter>& meters() const { return m_meters; }

    // The bar and beat of a tick (ticks before 0 are placed in bar 1).
    BarBeat at(double tick) const;
    // The tick at which a bar (counted from 1) starts; bars before 1 start at tick 0.
    double bar_start(int32_t bar) const;
    // The number of bars that start before the given tick: the bar count of a song that
    // ends there (0 for a song that ends at tick 0).
    int32_t bars_before(double tick) const;

  private:
    friend class Score;
    explicit MeterMap(const score_detail::SongEvents& events);
    const Meter& MeterAtTick(double tick) const;
    std::vector<Meter> m_meters;  // never empty
};

// One note: a sounding note-on and the note end that ends it. Plain, fixed-size and without
// padding holes beyond the two bytes after velocity, so that an array of notes can be handed
// out as a table (numpy's structured arrays describe it field by field).
struct Note {
    uint16_t track;    // index of the track, from 0
    uint8_t channel;   // 0..15 (9 is the percussion channel)
    uint8_t program;   // the program in force on the channel at the start (0 without one)
    uint8_t pitch;     // note number 0..127
    uint8_t velocity;  // 1..127
    uint8_t reserved[2];
    int32_t start_tick;
    int32_t end_tick;
    double start;  // seconds
    double end;    // seconds
};
static_assert(sizeof(Note) == 32, "Note is a fixed table layout");

// The velocities of a piano roll: 128 rows (note numbers) of `frames` columns, each column
// 1/fs seconds long; a cell holds the highest velocity of the notes sounding in it, 0 for
// none.
struct PianoRoll {
    double fs = 0;
    size_t frames = 0;
    std::vector<uint8_t> cells;  // row-major: cells[pitch * frames + frame]
    uint8_t at(int pitch, size_t frame) const { return cells[pitch * frames + frame]; }
};

// The facts of a song a corpus survey asks for.
struct Summary {
    size_t notes = 0;
    int lowest_pitch = -1;   // -1 without notes
    int highest_pitch = -1;  // -1 without notes
    double duration = 0;     // seconds to the last event
    int32_t bars = 0;
    std::vector<uint8_t> programs;  // programs of the notes off the percussion channel, ascending
    bool drums = false;             // notes on the percussion channel
    std::vector<KeySignature> keys;
    uint32_t peak_polyphony = 0;  // most notes sounding at one moment
};

class MIDIFOLIO_API Score {
  public:
    // The exact view of a song's tracks as they are now.
    explicit Score(const CMidiFolio& song);

    const TimeMap& time_map() const { return m_time; }
    const MeterMap& meter_map() const { return m_meter; }

    // Every note of the song, by start tick, then track, channel and pitch (notes equal in all
    // four keep their list order). Within a track, a note end ends the oldest sounding
    // note-on of its channel and note number (the library's pairing rule); a note that no end
    // ends lasts to the last event of its track. The program is the last program change on
    // the note's channel in any track at or before its start tick, 0 when there is none.
    const std::vector<Note>& notes() const { return m_notes; }

    // The file's own tempo, time-signature and key-signature events (the loader's tempo
    // event is not among them), by tick, then track, then list order.
    const std::vector<TempoChange>& tempos() const { return m_tempos; }
    const std::vector<TimeSignature>& time_signatures() const { return m_timeSignatures; }
    const std::vector<KeySignature>& key_signatures() const { return m_keySignatures; }

    // The number of the song's events, the loader's tempo event not counted.
    size_t events() const { return m_events; }
    // The tick of the song's last event (0 for a song without events) and its time.
    int32_t end_tick() const { return m_endTick; }
    double duration() const { return m_time.seconds(m_endTick); }
    // Bars that start before the last event.
    int32_t bars() const { return m_meter.bars_before(m_endTick); }

    Summary summary() const;
    // fs frames per second (a value of 0 or less, or not finite, gives an empty roll); notes
    // of the percussion channel only when drums is true.
    PianoRoll piano_roll(double fs, bool drums = false) const;

  private:
    explicit Score(const score_detail::SongPass& pass);

    TimeMap m_time;
    MeterMap m_meter;
    std::vector<Note> m_notes;
    std::vector<TempoChange> m_tempos;
    std::vector<TimeSignature> m_timeSignatures;
    std::vector<KeySignature> m_keySignatures;
    size_t m_events = 0;
    int32_t m_endTick = 0;
};

}  // namespace score
MIDIFOLIO_END_NAMESPACE
