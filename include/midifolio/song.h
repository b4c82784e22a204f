// A Standard MIDI File read as the MIDI standard defines it: the reader behind the exact view
// (score::Score), the tool and the Python package.
//
// It stands beside CMidiFolio, whose loader keeps the library's own fixed rules; the two
// differ where those rules do (docs/api.md lists the differences). This reader:
// - takes formats 0, 1 and 2, divisions in ticks per quarter note and in SMPTE frames, the
//   RIFF container of .rmi files, and passes over chunks it does not know;
// - reads F7 events as the standard's escape packets (F7, a length, that many bytes);
// - keeps running status across meta events (as other readers do), and ends it at sysex and
//   system-common events;
// - counts ticks in 64 bits;
// - stops a track at its end-of-track event;
// - with ReadOptions::recover, keeps every event before the damage of a damaged track and
//   says what was left out.
//
// A Song holds the file's bytes (shared between copies, never changed) and what one pass over
// them found. Nothing here throws; failures come back in a ReadReport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "midifolio/event_kinds.h"
#include "midifolio/export.h"
#include "midifolio/platform.h"

MIDIFOLIO_BEGIN_NAMESPACE
class CMidiFolio;
namespace score_detail {
struct SongData;
struct SongReader;
}  // namespace score_detail

namespace score {

class Score;
struct Note;

struct ReadOptions {
    // Keep what can be read of a damaged file: every event of each track before the place
    // where its bytes stop making sense. ReadReport::dropped says what was left out.
    bool recover = false;
    // Refuse a song whose reading would take more memory than this many bytes (0: no limit),
    // before taking it.
    uint64_t max_memory = 0;
    // Pair the notes while reading, for the Score built from the song (false saves the
    // memory of the notes for a caller that wants the events only).
    bool notes = true;
    // Told of the bytes of the file as Load reads them (SetBytes), a megabyte at a time.
    ProgressObserver* progress = nullptr;
};

enum class ReadStatus : int32_t {
    kOk = 0,
    kCannotOpen,   // the system refused to open or read the file (ReadReport::error)
    kNotMidi,      // not a Standard MIDI File
    kDamaged,      // the file's bytes stop making sense (a file cut short, a bad status byte)
    kUnsupported,  // a format beyond 2, a file larger than 4 GiB
    kTooLarge,     // reading it would take more memory than ReadOptions::max_memory
    kNoMemory,     // memory ran out
};

// One place of a file worth telling: a reading other tools may see differently, or a part
// that recovery left out.
struct ReadIssue {
    int32_t track;     // index of the track, from 0; -1 for the file as a whole
    int64_t offset;    // byte of the file where it lies, -1 when not known
    std::string text;  // in plain words, e.g. "track 2 at byte 1,204: 12 bytes after the
                       // end-of-track event are not read"
};

struct ReadReport {
    ReadStatus status = ReadStatus::kOk;
    int error = 0;        // errno of kCannotOpen
    std::string message;  // "not a MIDI file", "damaged", ... ("" for a song that was read)
    std::string cause;    // why, in plain words with track and byte
    int64_t offset = -1;  // byte of the file where reading stopped, -1 when not known
    std::vector<ReadIssue> warnings;
    std::vector<ReadIssue> dropped;  // what ReadOptions::recover left out
    bool ok() const { return status == ReadStatus::kOk; }
    // "message: cause", or "" for a song that was read.
    std::string Text() const {
        return ok() ? "" : cause.empty() ? message : message + ": " + cause;
    }
};

// The header's division word: ticks per quarter note, or SMPTE frames.
struct Division {
    uint16_t word = smf::kDefaultTicksPerQuarter;
    bool smpte() const { return (word & smf::kSmpteDivisionBit) != 0; }
    // Ticks per quarter note (0 for SMPTE time).
    int32_t ticks_per_quarter() const { return smpte() ? 0 : word; }
    // SMPTE time: frames per second as the file writes it (24, 25, 29 for 29.97, 30) and
    // ticks per frame (0 when not SMPTE).
    int32_t frames_per_second() const { return smpte() ? 256 - (word >> 8) : 0; }
    int32_t ticks_per_frame() const { return smpte() ? (word & 0xFF) : 0; }
    // Ticks per second of SMPTE time (29 frames stand for 29.97); 0 when not SMPTE.
    double ticks_per_second() const {
        if (!smpte()) return 0;
        const int32_t fps = frames_per_second();
        return (fps == 29 ? 30000.0 / 1001.0 : fps) * ticks_per_frame();
    }
};

// One track chunk as read.
struct TrackInfo {
    uint64_t offset = 0;   // byte of the file where its data starts
    uint64_t length = 0;   // bytes of its data that were read (up to and with its end of track)
    uint64_t events = 0;   // events read, the end-of-track event included
    int64_t end_tick = 0;  // tick of its last event (0 without events)
    bool ended = false;    // it had an end-of-track event
};

// One event of the file, as a table row: 40 bytes, no pointers.
struct EventRecord {
    int64_t tick;     // absolute tick from the start of its track
    double seconds;   // exact time of the tick (filled by Score::events)
    uint16_t track;   // index of the track, from 0
    uint16_t kind;    // the library's EVT_* code (EVT_SYSEXESC for an F7 packet)
    uint8_t channel;  // 0..15, 255 for events without one
    uint8_t status;   // the status byte (channel messages with their channel)
    uint8_t data1;    // note, controller, program, pressure, bend LSB; 0 when none
    uint8_t data2;    // velocity, value, bend MSB; 0 when none
    int16_t meta;     // the meta type, -1 for other kinds
    uint8_t port;     // the port in force (the last port meta event), 0 before any
    uint8_t reserved;
    uint32_t length;  // payload bytes of meta, sysex and packet events, 0 otherwise
    uint32_t offset;  // where the payload lies in Song::bytes()
};
static_assert(sizeof(EventRecord) == 40, "EventRecord is a fixed table layout");

// An editable song: tracks of events in time order, their payloads in one buffer. The edits
// and the writer work on it.
struct Event {
    int64_t tick;
    uint32_t offset;  // payload in Sequence::payloads (meta, sysex, packets)
    uint32_t length;
    uint8_t status;  // 0x80..0xEF with the channel, 0xF0, 0xF7, 0xF1..0xFE, 0xFF
    uint8_t data1;   // data bytes; the meta type of a meta event
    uint8_t data2;
    uint8_t reserved;
};

struct Sequence {
    int32_t format = 1;
    Division division;
    std::vector<std::vector<Event>> tracks;
    std::vector<uint8_t> payloads;
};

class MIDIFOLIO_API Song {
  public:
    // A song of no track, format 1, 480 ticks per quarter note.
    Song();

    // Reads a file; the report tells why a song could not be read (then an empty song is
    // returned) and what was read with warnings.
    static Song Load(const std::string& path, const ReadOptions& options, ReadReport& report);
    // The same from bytes in memory.
    static Song FromBytes(std::vector<uint8_t> bytes, const ReadOptions& options,
                          ReadReport& report);
    // The bytes of a valid Standard MIDI File holding the sequence (see Encode), read again.
    // Fails (report) where Encode does.
    static Song FromSequence(const Sequence& sequence, ReadReport& report);

    // The file's bytes as given (the RIFF container included).
    const std::vector<uint8_t>& bytes() const;
    int32_t format() const;
    Division division() const;
    const std::vector<TrackInfo>& tracks() const;
    // Events of every track, the end-of-track events included.
    uint64_t events() const;
    // What reading found worth telling (warnings and, with recover, what was left out).
    const ReadReport& report() const;

    // Every event, track after track, each in file order (seconds left 0: Score::events fills
    // them). Reserve events() records.
    std::vector<EventRecord> Events() const;
    // The same into out, which has room for events() records.
    void Events(EventRecord* out) const;
    // The song as an editable sequence (an empty one, no track, when memory runs out).
    Sequence ToSequence() const;

    // The song as a valid Standard MIDI File: the bytes as read when they already are one,
    // else written anew (see Encode). Empty, with why in *error, when it cannot be written.
    std::vector<uint8_t> Save(std::string* error) const;
    // True when Save gives bytes() as they are: they are a valid Standard MIDI File as the
    // writer writes it (a file read with no warning, or a song an edit or the notes made).
    bool SavesAsRead() const;

    // Fills a CMidiFolio from the same bytes (the RIFF container and unknown chunks left
    // out): its loader's rules apply, so a song this reader takes may be refused there (its
    // message then went to the song's message sink). Returns LoadMidiBytes's result, or 0
    // with the core left as it was when memory runs out before the loader starts.
    int BuildCore(CMidiFolio& core) const;

  private:
    friend class Score;
    friend struct score_detail::SongReader;
    explicit Song(std::shared_ptr<const score_detail::SongData> data) : m_data(std::move(data)) {}
    std::shared_ptr<const score_detail::SongData> m_data;
};

// The bytes of a valid Standard MIDI File holding the sequence: the header's track count
// equals the chunks that follow; format 0 holds one track; every track ends with exactly one
// end-of-track event, at or after its last event (one in the middle is left out, the ticks
// of the events after it kept); data bytes above 127 are cut to 127; running status only
// between channel messages that follow each other. Fails (empty, *error set) for a delta time
// beyond the format's 28 bits, a format-0 sequence of several tracks, a format beyond 2 and
// events out of time order.
MIDIFOLIO_API std::vector<uint8_t> Encode(const Sequence& sequence, std::string* error);

// A song of the library's own classes as an editable sequence: each track's events by tick
// (stably), without the tempo event its loader put in front of the first track, the data
// bytes that had no status, and the one-byte F7 events of the library's decoder. (An empty
// sequence when memory runs out, as ToSequence.)
MIDIFOLIO_API Sequence SequenceOf(const CMidiFolio& song);

}  // namespace score
MIDIFOLIO_END_NAMESPACE
