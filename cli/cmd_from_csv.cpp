// `midifolio from-csv IN.csv OUT.mid`: a MIDI file from midicsv's CSV: the records make an
// editable sequence (midifolio::score::Sequence), which the library's writer writes as a valid
// Standard MIDI File.
//
// The CSV is read as csvmidi reads it (midicsv(5)): fields separated by commas, blanks around
// them ignored, record names in any case, text in quotes with "" for a quote, \\ for a
// backslash and \ooo for any byte; blank lines and lines whose first character is # or ; are
// skipped. What csvmidi refuses is refused too, with the line and the field: data bytes above
// 127, key signatures outside -7..7, a second track in format 0. Unlike csvmidi, a record that
// cannot be read is not skipped: the tool stops and writes nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "commands.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct Field {
    std::string text;
    bool quoted = false;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Reads a CSV file line by line, and turns its records into a song.
class CsvReader {
  public:
    CsvReader(const std::string& path, score::Sequence& song)
        : name_(InputName(path)), song_(song) {
        if (IsStdio(path)) {
            file_ = stdin;
            return;
        }
        int fd;
        {
            do {
                fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            } while (fd < 0 && errno == EINTR);
            if (fd < 0) throw Failure(name_ + ": " + std::strerror(errno));
            struct stat st;
            if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
                ::close(fd);
                throw Failure(name_ + ": " + std::strerror(EISDIR));
            }
        }
        file_ = ::fdopen(fd, "r");
        if (file_ == nullptr) throw Failure(name_ + ": " + std::strerror(errno));
    }
    ~CsvReader() {
        std::free(line_);
        if (file_ != nullptr && file_ != stdin) std::fclose(file_);
    }
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // Reads every record; throws Failure naming the line of the first that cannot be read.
    void Read() {
        errno = 0;
        for (ssize_t n; (n = ::getline(&line_, &capacity_, file_)) >= 0;) {
            ++lineNumber_;
            std::string line(line_, static_cast<size_t>(n));
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            const size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] == '#' || line[first] == ';') continue;
            if (ended_) Fail("a record after End_of_file");
            Record(Split(line));
        }
        if (std::ferror(file_)) throw Failure(name_ + ": " + std::strerror(errno));
        if (!headed_) throw Failure(name_ + ": no Header record");
        if (!ended_) throw Failure(name_ + ": ends without an End_of_file record");
    }

    long Events() const { return events_; }
    int DeclaredTracks() const { return declaredTracks_; }

  private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw Failure(Format("%s, line %ld: %s", name_.c_str(), lineNumber_, what.c_str()));
    }

    // The fields of a record. A quoted field has its escapes resolved.
    std::vector<Field> Split(const std::string& line) const {
        std::vector<Field> fields;
        size_t i = 0;
        for (;;) {
            while (i < line.size() && IsBlank(line[i])) ++i;
            Field field;
            if (i < line.size() && line[i] == '"') {
                field.quoted = true;
                for (++i;; ++i) {
                    if (i >= line.size()) Fail("a quoted text without its closing quote");
                    const char c = line[i];
                    if (c == '"') {
                        if (i + 1 < line.size() && line[i + 1] == '"') {
                            field.text += '"';
                            ++i;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (c == '\\' && i + 1 < line.size() && line[i + 1] == '\\') {
                        field.text += '\\';
                        ++i;
                    } else if (c == '\\' && i + 3 < line.size() && IsOctal(line[i + 1]) &&
                               IsOctal(line[i + 2]) && IsOctal(line[i + 3])) {
                        const int v = (line[i + 1] - '0') * 64 + (line[i + 2] - '0') * 8 +
                                      (line[i + 3] - '0');
                        if (v > 255) Fail("\\" + line.substr(i + 1, 3) + " is not a byte");
                        field.text += static_cast<char>(v);
                        i += 3;
                    } else {
                        field.text += c;
                    }
                }
                while (i < line.size() && IsBlank(line[i])) ++i;
                if (i < line.size() && line[i] != ',') Fail("text after a closing quote");
            } else {
                const size_t end = line.find(',', i);
                field.text = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
                while (!field.text.empty() && IsBlank(field.text.back())) field.text.pop_back();
                i = end == std::string::npos ? line.size() : end;
            }
            fields.push_back(std::move(field));
            if (i >= line.size()) break;
            ++i;  // the comma
        }
        return fields;
    }

    static bool IsOctal(char c) { return c >= '0' && c <= '7'; }

    // Field i as a whole number within lo..hi.
    long long Number(const std::vector<Field>& f, size_t i, long long lo, long long hi,
                     const char* what) const {
        long long v = 0;
        if (i >= f.size()) Fail(Format("%s: the %s is missing", type_.c_str(), what));
        if (!ParseInteger(f[i].text, v, true) || v < lo || v > hi) {
            Fail(Format("%s: the %s must be %lld..%lld, not '%s'", type_.c_str(), what, lo, hi,
                        Shown(f[i].text).c_str()));
        }
        return v;
    }

    void Count(const std::vector<Field>& f, size_t n) const {
        if (f.size() != n) {
            Fail(Format("%s takes %zu fields, not %zu", type_.c_str(), n, f.size()));
        }
    }

    // A length followed by that many bytes, from field i on.
    std::vector<uint8_t> Data(const std::vector<Field>& f, size_t i) const {
        const long long n = Number(f, i, 0, 0x0FFFFFFF, "length");
        if (f.size() - i - 1 != static_cast<size_t>(n)) {
            const long long follow = static_cast<long long>(f.size() - i - 1);
            Fail(type_ + ": the length says " + Plural(n, "byte") + ", " +
                 Plural(follow, "follows", "follow"));
        }
        std::vector<uint8_t> data;
        for (size_t k = i + 1; k < f.size(); ++k)
            data.push_back(static_cast<uint8_t>(Number(f, k, 0, 255, "data byte")));
        return data;
    }

    void Add(uint8_t status, uint8_t data1, uint8_t data2, int64_t time,
             const std::vector<uint8_t>& payload = {}) {
        score::Event e{time, 0, static_cast<uint32_t>(payload.size()), status, data1, data2, 0};
        if (!payload.empty()) {
            e.offset = static_cast<uint32_t>(song_.payloads.size());
            song_.payloads.insert(song_.payloads.end(), payload.begin(), payload.end());
        }
        song_.tracks.back().push_back(e);
        lastTime_ = time;
        ++events_;
    }

    void AddMeta(uint32_t type, const std::vector<uint8_t>& data, int64_t time) {
        Add(0xFF, static_cast<uint8_t>(type), 0, time, data);
    }

    void Record(const std::vector<Field>& f) {
        if (f.size() < 3) Fail("a record has a track, a time and a type at least");
        type_ = f[2].text;
        const std::string type = Upper(type_);
        if (!headed_) {
            if (type != "HEADER") Fail("the first record must be the Header");
            Count(f, 6);
            Number(f, 0, 0, 0, "track");
            Number(f, 1, 0, 0, "time");
            song_.format = static_cast<int32_t>(Number(f, 3, 0, 2, "format"));
            declaredTracks_ = static_cast<int>(Number(f, 4, 0, 65535, "track count"));
            // Ticks per quarter note, or SMPTE time: the header's word as csvmidi takes it
            // (32768..65535), or as midicsv writes it (negative).
            const long long division = Number(f, 5, -32768, 65535, "division");
            song_.division.word = static_cast<uint16_t>(division & 0xFFFF);
            if (song_.division.ticks_per_quarter() == 0 && song_.division.ticks_per_frame() == 0)
                Fail(Format("Header: the division %lld gives a tick no length", division));
            headed_ = true;
            return;
        }
        const int number = static_cast<int>(Number(f, 0, 0, 65535, "track"));
        const int64_t time = Number(f, 1, 0, int64_t{1} << 53, "time");
        if (type == "END_OF_FILE") {
            if (track_) Fail(Format("track %d has no End_track", tracks_));
            Count(f, 3);
            ended_ = true;
            return;
        }
        if (type == "START_TRACK") {
            Count(f, 3);
            if (track_) Fail(Format("track %d has no End_track", tracks_));
            if (number != tracks_ + 1) {
                Fail(Format("Start_track of track %d where track %d comes next", number,
                            tracks_ + 1));
            }
            if (song_.format == 0 && tracks_ == 1)
                Fail("format 0 holds one track: a second Start_track");
            song_.tracks.emplace_back();
            track_ = true;
            ++tracks_;
            lastTime_ = 0;
            return;
        }
        if (!track_) Fail(type_ + " outside a track (after its End_track?)");
        if (number != tracks_) Fail(Format("a record of track %d in track %d", number, tracks_));
        if (time < lastTime_) {
            Fail(Format("time %lld is before the time of the record before it (%lld)",
                        static_cast<long long>(time), static_cast<long long>(lastTime_)));
        }
        if (type == "END_TRACK") {
            Count(f, 3);
            AddMeta(META_END_OF_TRACK, {}, time);
            track_ = false;
            return;
        }
        if (ChannelRecord(type, f, time) || MetaRecord(type, f, time)) return;
        if (type == "SYSTEM_EXCLUSIVE" || type == "SYSTEM_EXCLUSIVE_PACKET") {
            // A packet (F7) carries its bytes as they are: split sysex, or raw messages.
            Add(type == "SYSTEM_EXCLUSIVE" ? 0xF0 : 0xF7, 0, 0, time, Data(f, 3));
            return;
        }
        Fail("unknown record type '" + Shown(type_) + "'");
    }

    bool ChannelRecord(const std::string& type, const std::vector<Field>& f, int64_t time) {
        struct Kind {
            const char* name;
            uint32_t code;
            int data;  // data fields after the channel
        };
        static const Kind kKinds[] = {
            {"NOTE_ON_C", EVT_NOTEON, 2},
            {"NOTE_OFF_C", EVT_NOTEOFF, 2},
            {"POLY_AFTERTOUCH_C", EVT_KEYPRESSURE, 2},
            {"CONTROL_C", EVT_CONTROL, 2},
            {"PROGRAM_C", EVT_PROGRAM, 1},
            {"CHANNEL_AFTERTOUCH_C", EVT_CHANPRESSURE, 1},
            {"PITCH_BEND_C", EVT_PITCHBEND, 1},
        };
        for (const Kind& kind : kKinds) {
            if (type != kind.name) continue;
            Count(f, 4 + static_cast<size_t>(kind.data));
            const uint8_t channel = static_cast<uint8_t>(Number(f, 3, 0, 15, "channel"));
            const uint8_t status = static_cast<uint8_t>(smf::StatusOfTypeCode(kind.code, channel));
            if (kind.code == EVT_PITCHBEND) {
                const long long bend = Number(f, 4, 0, 16383, "value");
                Add(status, static_cast<uint8_t>(bend & 127), static_cast<uint8_t>(bend >> 7),
                    time);
                return true;
            }
            const char* first = kind.code == EVT_PROGRAM        ? "program"
                                : kind.code == EVT_CONTROL      ? "controller"
                                : kind.code == EVT_CHANPRESSURE ? "value"
                                                                : "note";
            const uint8_t data1 = static_cast<uint8_t>(Number(f, 4, 0, 127, first));
            uint8_t data2 = 0;
            if (kind.data == 2) {
                const char* second =
                    kind.code == EVT_NOTEON || kind.code == EVT_NOTEOFF ? "velocity" : "value";
                data2 = static_cast<uint8_t>(Number(f, 5, 0, 127, second));
            }
            Add(status, data1, data2, time);
            return true;
        }
        return false;
    }

    bool MetaRecord(const std::string& type, const std::vector<Field>& f, int64_t time) {
        static const std::pair<const char*, uint32_t> kTexts[] = {
            {"TEXT_T", META_TEXT},           {"COPYRIGHT_T", META_COPYRIGHT},
            {"TITLE_T", META_TRACK_NAME},    {"INSTRUMENT_NAME_T", META_INSTRUMENT_NAME},
            {"LYRIC_T", META_LYRIC},         {"MARKER_T", META_MARKER},
            {"CUE_POINT_T", META_CUE_POINT},
        };
        for (const auto& [name, code] : kTexts) {
            if (type != name) continue;
            Count(f, 4);
            AddMeta(code, std::vector<uint8_t>(f[3].text.begin(), f[3].text.end()), time);
            return true;
        }
        auto bytes = [&](size_t first, size_t count, long long hi) {
            std::vector<uint8_t> data;
            for (size_t k = 0; k < count; ++k)
                data.push_back(static_cast<uint8_t>(Number(f, first + k, 0, hi, "value")));
            return data;
        };
        if (type == "SEQUENCE_NUMBER") {
            Count(f, 4);
            const long long v = Number(f, 3, 0, 65535, "number");
            AddMeta(META_SEQUENCE_NUMBER, {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)},
                    time);
        } else if (type == "CHANNEL_PREFIX") {
            Count(f, 4);
            AddMeta(META_CHANNEL_PREFIX, bytes(3, 1, 255), time);
        } else if (type == "MIDI_PORT") {
            Count(f, 4);
            AddMeta(META_PORT, bytes(3, 1, 255), time);
        } else if (type == "TEMPO") {
            Count(f, 4);
            const long long v = Number(f, 3, 0, 0xFFFFFF, "tempo");
            AddMeta(META_TEMPO,
                    {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                     static_cast<uint8_t>(v)},
                    time);
        } else if (type == "SMPTE_OFFSET") {
            Count(f, 8);
            AddMeta(META_SMPTE_OFFSET, bytes(3, 5, 255), time);
        } else if (type == "TIME_SIGNATURE") {
            Count(f, 7);
            AddMeta(META_TIME_SIGNATURE, bytes(3, 4, 255), time);
        } else if (type == "KEY_SIGNATURE") {
            Count(f, 5);
            const long long key = Number(f, 3, -7, 7, "key");
            const std::string mode = Upper(f[4].text);
            if (mode != "MAJOR" && mode != "MINOR") {
                Fail("Key_signature: the mode must be \"major\" or \"minor\", not '" +
                     Shown(f[4].text) + "'");
            }
            AddMeta(META_KEY_SIGNATURE,
                    {static_cast<uint8_t>(key), static_cast<uint8_t>(mode == "MINOR")}, time);
        } else if (type == "SEQUENCER_SPECIFIC") {
            AddMeta(META_SEQUENCER_SPECIFIC, Data(f, 3), time);
        } else if (type == "UNKNOWN_META_EVENT") {
            const long long code = Number(f, 3, 0, 255, "meta type");
            if (code == META_END_OF_TRACK)
                Fail("Unknown_meta_event: an end of track is an End_track record");
            AddMeta(static_cast<uint32_t>(code), Data(f, 4), time);
        } else {
            return false;
        }
        return true;
    }

    std::string name_;
    score::Sequence& song_;
    FILE* file_ = nullptr;
    char* line_ = nullptr;
    size_t capacity_ = 0;
    long lineNumber_ = 0;
    std::string type_;  // the record type as written, for messages
    bool headed_ = false;
    bool ended_ = false;
    int declaredTracks_ = 0;
    int tracks_ = 0;
    bool track_ = false;  // a track is open (the last of song_.tracks)
    int64_t lastTime_ = 0;
    long events_ = 0;
};

}  // namespace

int RunFromCsv(const FromCsvOptions& o) {
    score::Sequence song;
    CsvReader reader(o.in, song);
    reader.Read();
    const int tracks = static_cast<int>(song.tracks.size());
    if (reader.DeclaredTracks() != tracks) {
        std::fprintf(stderr, "midifolio: %s: the Header record counts %s; the file gets %d\n",
                     InputName(o.in).c_str(), Plural(reader.DeclaredTracks(), "track").c_str(),
                     tracks);
    }
    std::string error;
    const std::vector<uint8_t> bytes = score::Encode(song, &error);
    if (!error.empty())
        throw Failure(InputName(o.in) + ": cannot be written as a valid file: " + error);
    OutputTarget target(o.out);
    target.Out() << std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    target.Commit();
    if (target.IsStdout()) return kExitOk;
    if (o.common.json) {
        JsonWriter j(Stdout(), 2);
        j.BeginObject().Field("input", GivenName(o.in)).Field("output", GivenName(o.out));
        j.Field("format", song.format)
            .Field("tracks", tracks)
            .Field("division", song.division.word);
        j.Field("events", reader.Events()).Field("bytes", bytes.size()).EndObject();
    } else {
        Stdout() << "Wrote " << EscapeControls(o.out) << ": format " << song.format << ", "
                 << Plural(tracks, "track") << ", " << Plural(reader.Events(), "event") << ", "
                 << Plural(static_cast<long long>(bytes.size()), "byte") << "\n";
    }
    return kExitOk;
}

}  // namespace mfcli
