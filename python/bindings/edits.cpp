// The edits of midifolio.Song, each giving a new handle, and songs made from notes and from
// other songs.
#include <pybind11/stl.h>

#include <cmath>

#include "song_handle.h"

namespace mfpy {

using namespace midifolio;

namespace {

// The new handle of an edit, or ValueError with the library's reason.
Handle Result(score::Song song, const std::string& error) {
    if (!error.empty()) throw py::value_error(error);
    return std::make_shared<SongHandle>(std::move(song));
}

// The handle of a song make(&error) makes without the interpreter's lock.
template <class Make>
Handle Made(Make make) {
    std::string error;
    score::Song song;
    {
        py::gil_scoped_release release;
        song = make(&error);
    }
    return Result(std::move(song), error);
}

template <class Edit>
Handle Run(SongHandle& h, Edit edit) {
    std::shared_ptr<const score::Score> view = h.View();
    return Made([&](std::string* e) { return edit(view->song(), e); });
}

Handle Crop(SongHandle& h, double start, double end, const std::string& unit) {
    const score::CropUnit u =
        unit == "ticks"     ? score::CropUnit::kTicks
        : unit == "seconds" ? score::CropUnit::kSeconds
        : unit == "bars"    ? score::CropUnit::kBars
                            : throw py::value_error("unit must be 'seconds', 'ticks' or 'bars'");
    return Run(
        h, [&](const score::Song& s, std::string* e) { return score::Crop(s, start, end, u, e); });
}

Handle Select(SongHandle& h, std::vector<int> tracks, std::vector<int> channels,
              std::vector<int> programs, int drums) {
    score::Selection sel{std::move(tracks), std::move(channels), std::move(programs), drums};
    return Run(h, [&](const score::Song& s, std::string* e) { return score::Select(s, sel, e); });
}

Handle Quantize(SongHandle& h, const std::string& grid, bool ends) {
    const int64_t ticks = score::GridTicks(grid, h.View()->time_map().ticks_per_quarter());
    if (ticks <= 0)
        throw py::value_error(
            "grid must be a number of ticks or a note value such as '1/16', not " + grid);
    return Run(h, [&](const score::Song& s, std::string* e) {
        return score::Quantize(s, ticks, ends, e);
    });
}

Handle Merge(const std::vector<Handle>& handles) {
    std::vector<score::Song> songs;
    for (const Handle& h : handles) songs.push_back(h->View()->song());
    return Made([&](std::string* e) { return score::Merge(songs, e); });
}

// The notes of from_notes, given as arrays of one length: ticks (int64) or seconds (float64)
// through the tempo map.
struct NoteColumns {
    py::array_t<int64_t> startTick, endTick;
    py::array_t<double> start, end;
    py::array_t<uint16_t> track;
    py::array_t<int64_t> channel, program, pitch, velocity;
};

int64_t Tick(double seconds, const score::TimeMap& map, const char* what, size_t i) {
    const double t = map.ticks(seconds);
    if (!std::isfinite(t) || t < 0 || t > 4.6e18)
        throw py::value_error(std::string("note ") + std::to_string(i) + ": " + what + " " +
                              std::to_string(seconds) + " s is not a time of the song");
    return static_cast<int64_t>(std::floor(t + 0.5));
}

std::vector<score::NoteInput> NotesOf(const NoteColumns& c, const score::SongPlan& plan,
                                      bool seconds) {
    const size_t n = static_cast<size_t>(c.pitch.size());
    std::vector<score::NoteInput> notes(n);
    const score::TimeMap map(plan.ticks_per_quarter, plan.tempos);
    auto u8 = [](const py::array_t<int64_t>& a, size_t i, const char* what) {
        const int64_t v = a.data()[i];
        if (v < 0 || v > 255)
            throw py::value_error(std::string(what) + " of note " + std::to_string(i) + " is " +
                                  std::to_string(v));
        return static_cast<uint8_t>(v);
    };
    for (size_t i = 0; i < n; ++i) {
        score::NoteInput& note = notes[i];
        note.start_tick =
            seconds ? Tick(c.start.data()[i], map, "start", i) : c.startTick.data()[i];
        note.end_tick = seconds ? Tick(c.end.data()[i], map, "end", i) : c.endTick.data()[i];
        note.track = c.track.data()[i];
        note.channel = u8(c.channel, i, "the channel");
        note.program = u8(c.program, i, "the program");
        note.pitch = u8(c.pitch, i, "the pitch");
        note.velocity = u8(c.velocity, i, "the velocity");
    }
    return notes;
}

using Tempos = std::vector<std::pair<int64_t, uint32_t>>;
using Meters = std::vector<std::tuple<int64_t, int, int>>;
using Keys = std::vector<std::tuple<int64_t, int, bool>>;

score::SongPlan PlanOf(int32_t tpq, Tempos tempos, const Meters& meters, const Keys& keys,
                       std::vector<std::string> names) {
    if (tpq <= 0 || tpq > 32767) throw py::value_error("ticks_per_quarter must be 1..32767");
    score::SongPlan plan;
    plan.ticks_per_quarter = tpq;
    plan.tempos = std::move(tempos);
    for (const auto& [tick, num, power] : meters)
        plan.time_signatures.push_back(
            {tick, 0, 0, static_cast<uint8_t>(num), static_cast<uint8_t>(power), 0});
    for (const auto& [tick, sharps, minor] : keys)
        plan.key_signatures.push_back({tick, 0, 0, static_cast<int8_t>(sharps), minor, 0});
    plan.track_names = std::move(names);
    return plan;
}

Handle SongOf(const std::vector<score::NoteInput>& notes, const score::SongPlan& plan) {
    return Made([&](std::string* e) { return score::FromNotes(notes, plan, e); });
}

Handle FromNotes(const NoteColumns& columns, bool seconds, int32_t tpq, Tempos tempos,
                 const Meters& meters, const Keys& keys, std::vector<std::string> names) {
    const score::SongPlan plan = PlanOf(tpq, std::move(tempos), meters, keys, std::move(names));
    return SongOf(NotesOf(columns, plan, seconds), plan);
}

// from_notes of the records notes() gives (NOTE_DTYPE), in ticks: no column is converted. A
// read-only array (as notes() gives) is read in place; another is copied first, as another
// thread may write to it while the song is made without the interpreter's lock.
Handle FromNoteRecords(const py::array_t<score::Note, py::array::c_style>& records, int32_t tpq,
                       Tempos tempos, const Meters& meters, const Keys& keys,
                       std::vector<std::string> names) {
    const score::SongPlan plan = PlanOf(tpq, std::move(tempos), meters, keys, std::move(names));
    const size_t n = static_cast<size_t>(records.size());
    const score::Note* notes = records.data();
    for (size_t i = 0; i < n; ++i)
        if (notes[i].track > 65534)
            throw py::value_error("note " + std::to_string(i) + ": track " +
                                  std::to_string(notes[i].track) + " is outside 0..65534");
    if (records.writeable()) {
        std::vector<score::NoteInput> copy(n);
        for (size_t i = 0; i < n; ++i) {
            const score::Note& r = notes[i];
            copy[i] = {r.start_tick, r.end_tick, r.track,   r.channel,
                       r.program,    r.pitch,    r.velocity};
        }
        return SongOf(copy, plan);
    }
    return Made([&](std::string* e) { return score::FromNotes(notes, n, plan, e); });
}

}  // namespace

void BindEdits(py::module_& m, HandleClass& cls) {
    cls.def("transpose",
            [](SongHandle& h, int semitones, bool drums) {
                return Run(h, [&](const score::Song& s, std::string* e) {
                    return score::Transpose(s, semitones, drums, e);
                });
            })
        .def("scale_tempo",
             [](SongHandle& h, double factor) {
                 return Run(h, [&](const score::Song& s, std::string* e) {
                     return score::ScaleTempo(s, factor, e);
                 });
             })
        .def("crop", &Crop)
        .def("select", &Select)
        .def("quantize", &Quantize)
        .def("resample", [](SongHandle& h, int32_t tpq) {
            return Run(h, [&](const score::Song& s, std::string* e) {
                return score::Resample(s, tpq, e);
            });
        });
    py::class_<NoteColumns>(m, "_NoteColumns")
        .def(py::init<>())
        .def_readwrite("start_tick", &NoteColumns::startTick)
        .def_readwrite("end_tick", &NoteColumns::endTick)
        .def_readwrite("start", &NoteColumns::start)
        .def_readwrite("end", &NoteColumns::end)
        .def_readwrite("track", &NoteColumns::track)
        .def_readwrite("channel", &NoteColumns::channel)
        .def_readwrite("program", &NoteColumns::program)
        .def_readwrite("pitch", &NoteColumns::pitch)
        .def_readwrite("velocity", &NoteColumns::velocity);
    m.def("from_notes", &FromNotes);
    m.def("from_note_records", &FromNoteRecords);
    m.def("merge", &Merge);
}

}  // namespace mfpy
