// The exact view of a song: notes with their times in seconds, bars as musicians count them,
// and the file's own events, read from the file's bytes as the MIDI standard defines them
// (score::Song, midifolio/song.h).
//
// It stands beside CMidiFolio's own answers, which it never changes. Those follow the rules
// of the library's interface: milliseconds truncated to whole numbers in every tempo segment,
// a measure of whole quarter notes under the last time signature read, and a 120 bpm tempo
// event that every load puts in front of the first track. The exact view computes in double
// precision: a tempo change takes effect at its tick to the microsecond, every time-signature
// change starts a bar of its own length, and ticks count in 64 bits.
//
// Formats 0 and 1 share one tempo and meter map; in format 2 every track is a sequence of its
// own, from tick 0, with its own maps (time_map(track), meter_map(track)). Under an SMPTE
// division a tick lasts 1 / (frames per second x ticks per frame) seconds whatever the tempo
// events say; bars and beats then count quarter notes of the tempo in force at tick 0.
//
// A Score is immutable: its const members may be called from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/song.h"

MIDIFOLIO_BEGIN_NAMESPACE
class CMidiFolio;
namespace score_detail {
struct SongData;
struct MapEvent;
}  // namespace score_detail

namespace score {

// One tempo change of the file.
struct TempoChange {
    int64_t tick;
    double seconds;           // exact time of the tick
    uint32_t us_per_quarter;  // microseconds per quarter note
    uint16_t track;           // index of the track that holds it
    double bpm() const { return us_per_quarter ? 60000000.0 / us_per_quarter : 0.0; }
};

// One time-signature change of the file: numerator / 2^denominator_power.
struct TimeSignature {
    int64_t tick;
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
    int64_t tick;
    double seconds;
    int32_t bar;    // the bar it stands in, counted from 1
    int8_t sharps;  // -7 (7 flats) .. 7 (7 sharps)
    bool minor;     // false: major
    uint16_t track;
};

// Ticks and seconds, from the tempo events of the song (of one track in format 2). Before the
// first tempo change the tempo is 500000 microseconds per quarter note (120 bpm). Of several
// changes at one tick, the latest in track order, then in file order, holds. Nothing is
// rounded.
class MIDIFOLIO_API TimeMap {
  public:
    // A map of 480 ticks per quarter note and no tempo change.
    TimeMap();
    // The map of a song of the library's own classes (its loader's tempo event left out).
    explicit TimeMap(const CMidiFolio& song);
    // The map of tempo changes given as (tick, microseconds per quarter note), in any order
    // (of several at one tick the last given holds), at ticks_per_quarter ticks per quarter.
    TimeMap(int32_t ticks_per_quarter, const std::vector<std::pair<int64_t, uint32_t>>& tempos);

    // Ticks per quarter note (the header's division); 0 for a song in SMPTE time.
    int32_t ticks_per_quarter() const { return m_tpq; }
    // The changes in force, one per tick at which the tempo changes, in tick order (for a
    // song in SMPTE time one segment whose seconds per tick the division fixes).
    const std::vector<TempoChange>& segments() const { return m_segments; }

    // Seconds at a tick: O(log T) for T tempo changes. Ticks before 0 count back with the
    // first tempo.
    double seconds(double tick) const;
    // Ticks at a time in seconds (the inverse of seconds()), fractional.
    double ticks(double seconds) const;
    // Seconds of n ticks into out: O(n + T) when the ticks ascend (any order is answered
    // correctly, an unordered one in O(n log T)).
    void seconds(const int64_t* ticks, double* out, size_t n) const;
    // The same over strided arrays (strides in bytes), for example a field of a table of
    // records: the k-th tick at (const char*)ticks + k * tick_stride.
    void seconds(const int64_t* ticks, size_t tick_stride, double* out, size_t out_stride,
                 size_t n) const;
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
    friend struct score_detail::SongData;
    // ticks_per_second > 0: SMPTE time; else the tempo changes (in holding order) apply.
    TimeMap(int32_t tpq, double ticks_per_second, const std::vector<score_detail::MapEvent>& tempos,
            int track);
    size_t SegmentOfTick(double tick) const;
    size_t SegmentOfSeconds(double seconds) const;
    double SecondsIn(size_t segment, double tick) const;

    int32_t m_tpq;
    // Segment 0 is the default tempo from tick 0 (or the file's change at tick 0).
    std::vector<TempoChange> m_segments;
    std::vector<double> m_scale;  // seconds per tick of each segment
};

// Where a tick falls in bars and beats, all counted from 1 as musicians count them.
struct BarBeat {
    int32_t bar;
    int32_t beat;
    double tick;  // ticks into the beat
};

// Bars and beats, from the time-signature events of the song (of one track in format 2).
// Before the first change the meter is 4/4; a bar of n/2^d lasts n beats of 4/2^d quarter
// notes. Every time-signature change starts a new bar at its tick (a bar cut short before it
// still counts as a bar). Of several changes at one tick, the latest in track order, then
// file order, holds; a change with numerator 0 or a denominator beyond 2^16 is passed over.
class MIDIFOLIO_API MeterMap {
  public:
    // 4/4 throughout, 480 ticks per quarter note.
    MeterMap();
    explicit MeterMap(const CMidiFolio& song);

    // The meter in force at a tick, where it starts and the bar it starts.
    struct Meter {
        int64_t tick;
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
    friend struct score_detail::SongData;
    MeterMap(double quarter_ticks, const std::vector<score_detail::MapEvent>& meters, int track);
    const Meter& MeterAtTick(double tick) const;
    std::vector<Meter> m_meters;  // never empty
};

// One note: a sounding note-on and the note end that ends it. Plain, fixed-size, without
// padding holes beyond the two bytes after velocity, so that an array of notes can be handed
// out as a table (numpy's structured arrays describe it field by field).
struct Note {
    uint16_t track;    // index of the track, from 0
    uint8_t channel;   // 0..15 (9 is the percussion channel)
    uint8_t program;   // the program in force on the channel at the start (0 without one)
    uint8_t pitch;     // note number 0..127
    uint8_t velocity;  // 1..127
    uint8_t reserved[2];
    int64_t start_tick;
    int64_t end_tick;
    double start;  // seconds
    double end;    // seconds
};
static_assert(sizeof(Note) == 40, "Note is a fixed table layout");

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

// An instrument in use: the notes of one channel under one program and bank.
struct Instrument {
    uint8_t channel;               // 0..15
    uint8_t program;               // in force at the notes' starts (0 without a program change)
    uint8_t bank_msb;              // Bank Select (controller 0) in force, 0 without one
    uint8_t bank_lsb;              // Bank Select LSB (controller 32) in force, 0 without one
    std::string name;              // General MIDI name of the program ("Drums" on channel 10)
    std::vector<uint16_t> tracks;  // the tracks its notes are in, ascending
    size_t notes;
    uint8_t lowest;  // lowest and highest note played
    uint8_t highest;
};

// What a scan of songs shows of each, from one walk over its notes.
struct Survey {
    Summary summary;
    std::vector<Instrument> instruments;  // as Score::instruments()
    std::vector<uint8_t> drum_notes;  // note numbers struck on the percussion channel, ascending
};

// What a track holds.
struct TrackSummary {
    uint16_t index;
    std::string name;  // its first track-name event, decoded (see Text), "" without one
    std::vector<uint8_t> channels;  // channels of its channel messages, ascending
    std::vector<uint8_t> programs;  // programs of its notes, ascending
    size_t notes;
    size_t lyrics;  // lyric events
    bool is_drum;   // it has notes, all on the percussion channel
};

class MIDIFOLIO_API Score {
  public:
    // The exact view of a song read by score::Song.
    explicit Score(const Song& song);
    // The exact view of a song of the library's own classes as they are now: its tracks as
    // Encode would write them (the loader's tempo event left out) read again, except that
    // events further apart than a file's delta time holds keep their times.
    explicit Score(const CMidiFolio& song);

    const Song& song() const { return m_song; }
    // The maps of formats 0 and 1; of track 0 in format 2.
    const TimeMap& time_map() const;
    const MeterMap& meter_map() const;
    // The maps that hold for a track (all share one map outside format 2).
    const TimeMap& time_map(size_t track) const;
    const MeterMap& meter_map(size_t track) const;

    // Every note of the song, by start tick, then track, channel and pitch (notes equal in all
    // four keep their file order). Within a track, a note end (a note-off, or a note-on of
    // velocity 0) ends the oldest sounding note-on of its channel and note number; a note that
    // no end ends lasts to the last event of its track. The program is the last program
    // change on the note's channel in any track at or before its start tick (in format 2: in
    // its own track), 0 when there is none. Empty when the song was read without its notes.
    const std::vector<Note>& notes() const;
    // The notes as a synthesiser plays them with the sustain pedal (controller 64 at 64 or
    // more holds, below 64 releases): a note released while its channel's pedal is down
    // (in any track; its own in format 2) sounds on until the pedal goes up, or until the
    // same pitch starts again on its channel, whichever comes first. Same order as notes().
    std::vector<Note> sustained_notes() const;

    // The file's own tempo, time-signature and key-signature events, by tick, then track,
    // then file order.
    const std::vector<TempoChange>& tempos() const;
    const std::vector<TimeSignature>& time_signatures() const;
    const std::vector<KeySignature>& key_signatures() const;

    // Every event with its seconds, track after track, each in file order.
    std::vector<EventRecord> events() const;
    void events(EventRecord* out) const;  // room for event_count() records
    // The number of the song's events, the end-of-track events included.
    uint64_t event_count() const;
    // The tick of the song's last event (0 for a song without events) and its time.
    int64_t end_tick() const;
    double duration() const;
    // Bars that start before the last event.
    int32_t bars() const;
    // Seconds of every beat and of every bar's first beat, from 0 to the last event, by the
    // meter and tempo maps (those of track 0 in format 2).
    std::vector<double> beats() const;
    std::vector<double> downbeats() const;

    Summary summary() const;
    std::vector<Instrument> instruments() const;
    // summary(), instruments() and the drum notes struck, at the cost of about one of them.
    Survey survey() const;
    std::vector<TrackSummary> track_summaries() const;
    // fs frames per second (a value of 0 or less, or not finite, gives an empty roll); notes
    // of the percussion channel only when drums is true.
    PianoRoll piano_roll(double fs, bool drums = false) const;

  private:
    const score_detail::SongData& Data() const { return *m_song.m_data; }
    Song m_song;
};

// A song's events in time order (by tick, then track, then file order), one at a time, each
// with its seconds and, for a sounding note-on, the tick at which its note ends: a listing
// that starts at once, whatever the song's size, in the memory of a few events per track.
// The Score must outlive the stream.
class MIDIFOLIO_API EventStream {
  public:
    // The events of tracks first..last (indices from 0, both included), from tick `from` on.
    explicit EventStream(const Score& score, size_t first = 0, size_t last = SIZE_MAX,
                         int64_t from = 0);
    ~EventStream();
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;
    // The next event: true, with end_tick the tick at which a sounding note-on's note ends
    // (by the pairing rule of Score::notes), -1 for every other event. False at the end.
    bool Next(EventRecord& event, int64_t& end_tick);
    // False when memory ran out: the stream ended before the song's last event.
    bool whole() const;

  private:
    struct State;
    void Begin(const Score& score, size_t first, size_t last, int64_t from);
    bool Step(EventRecord& event, int64_t& end_tick);
    std::unique_ptr<State> m_state;
};

// The text of a meta event's payload: kept when it is valid UTF-8, read as Latin-1 otherwise,
// so the result is always valid UTF-8.
MIDIFOLIO_API std::string Text(const uint8_t* data, size_t length);

}  // namespace score
MIDIFOLIO_END_NAMESPACE
