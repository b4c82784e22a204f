// The views of midifolio.Song beside its notes and events: the maps, the tracks, controls,
// pitch bends and texts, beats, instruments, the summary and the piano roll; and the library's
// own voice check.
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>

#include "song_handle.h"

namespace mfpy {

using namespace midifolio;

namespace {

py::list Tempos(SongHandle& h) {
    auto view = h.View();
    py::list out;
    for (const score::TempoChange& t : view->tempos())
        out.append(py::make_tuple(t.tick, t.seconds,
                                  view->meter_map(t.track).at(static_cast<double>(t.tick)).bar,
                                  t.us_per_quarter, t.bpm(), t.track));
    return out;
}

py::list TimeSignatures(SongHandle& h) {
    py::list out;
    for (const score::TimeSignature& t : h.View()->time_signatures())
        out.append(py::make_tuple(t.tick, t.seconds, t.bar, t.numerator, t.denominator(), t.track));
    return out;
}

py::list KeyTuples(const std::vector<score::KeySignature>& keys) {
    py::list out;
    for (const score::KeySignature& k : keys)
        out.append(py::make_tuple(k.tick, k.seconds, k.bar, k.sharps, k.minor, k.track));
    return out;
}

// The events a filter keeps, in time order, as (track, channel, tick, seconds, a, b) rows for
// controls and pitch bends, (track, tick, seconds, meta type, payload) for texts.
template <class Keep, class Row>
std::vector<Row> Gather(SongHandle& h, Keep keep,
                        Row (*make)(const score::EventRecord&, const uint8_t*)) {
    std::shared_ptr<const score::Score> view = h.View();
    std::vector<Row> rows;
    py::gil_scoped_release release;
    score::EventStream stream(*view);
    const uint8_t* bytes = view->song().bytes().data();
    score::EventRecord ev;
    int64_t end = 0;
    while (stream.Next(ev, end))
        if (keep(ev)) rows.push_back(make(ev, bytes));
    return rows;
}

using ChannelRow = std::tuple<uint16_t, uint8_t, int64_t, double, int, int>;
ChannelRow ChannelRowOf(const score::EventRecord& e, const uint8_t*) {
    return {e.track, e.channel, e.tick, e.seconds, e.data1, e.data2};
}

std::vector<ChannelRow> Controls(SongHandle& h) {
    return Gather(
        h, [](const score::EventRecord& e) { return (e.status >> 4) == 0xB; }, &ChannelRowOf);
}

std::vector<ChannelRow> PitchBends(SongHandle& h) {
    return Gather(
        h, [](const score::EventRecord& e) { return (e.status >> 4) == 0xE; }, &ChannelRowOf);
}

using TextRow = std::tuple<uint16_t, int64_t, double, int, std::string>;
TextRow TextRowOf(const score::EventRecord& e, const uint8_t* bytes) {
    return {e.track, e.tick, e.seconds, e.meta, score::Text(bytes + e.offset, e.length)};
}

std::vector<TextRow> Texts(SongHandle& h) {
    return Gather(
        h,
        [](const score::EventRecord& e) {
            const smf::MetaInfo* m =
                e.status == 0xFF ? smf::MetaInfoOf(static_cast<uint32_t>(e.meta)) : nullptr;
            return m != nullptr && m->text;
        },
        &TextRowOf);
}

py::list Tracks(SongHandle& h) {
    py::list out;
    for (const score::TrackSummary& t : h.View()->track_summaries())
        out.append(py::make_tuple(t.index, t.name, t.channels, t.programs, t.notes, t.is_drum));
    return out;
}

py::list Instruments(SongHandle& h) {
    std::vector<score::Instrument> list;
    {
        auto view = h.View();
        py::gil_scoped_release release;
        list = view->instruments();
    }
    py::list out;
    for (const score::Instrument& i : list)
        out.append(py::make_tuple(i.channel, i.program, i.bank_msb, i.bank_lsb, i.name, i.tracks,
                                  i.notes, i.lowest, i.highest));
    return out;
}

py::dict Summary(SongHandle& h) {
    auto view = h.View();
    score::Summary s;
    {
        py::gil_scoped_release release;
        s = view->summary();
    }
    const score::Song& song = view->song();
    py::dict d;
    d["notes"] = s.notes;
    d["lowest_pitch"] = s.lowest_pitch < 0 ? py::object(py::none()) : py::int_(s.lowest_pitch);
    d["highest_pitch"] = s.highest_pitch < 0 ? py::object(py::none()) : py::int_(s.highest_pitch);
    d["duration"] = s.duration;
    d["bars"] = s.bars;
    d["programs"] = std::vector<int>(s.programs.begin(), s.programs.end());
    d["drums"] = s.drums;
    d["key_signatures"] = KeyTuples(s.keys);
    d["peak_polyphony"] = s.peak_polyphony;
    d["events"] = view->event_count();
    d["tracks"] = song.tracks().size();
    d["format"] = song.format();
    d["ticks_per_quarter"] = view->time_map().ticks_per_quarter();
    return d;
}

py::array PianoRoll(SongHandle& h, double fs, bool drums) {
    auto view = h.View();
    auto roll = std::make_shared<score::PianoRoll>();
    {
        py::gil_scoped_release release;
        *roll = view->piano_roll(fs, drums);
    }
    const size_t frames = roll->frames;
    if (roll->cells.empty()) return py::array_t<uint8_t>(std::vector<py::ssize_t>{128, 0});
    uint8_t* data = roll->cells.data();
    auto* owner = new std::shared_ptr<score::PianoRoll>(std::move(roll));
    py::capsule base(owner,
                     [](void* p) { delete static_cast<std::shared_ptr<score::PianoRoll>*>(p); });
    return py::array_t<uint8_t>({py::ssize_t{128}, static_cast<py::ssize_t>(frames)},
                                {static_cast<py::ssize_t>(frames), py::ssize_t{1}}, data, base);
}

// Seconds of ticks: exact int64 ticks through the bulk conversion (strides honoured), other
// numbers one by one through a cursor.
py::array TickToSeconds(SongHandle& h, const py::array& ticks) {
    auto view = h.View();
    const score::TimeMap& map = view->time_map();
    auto d = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(ticks);
    if (!d) throw py::type_error("ticks must be numbers");
    py::array_t<double> out(d.request().shape);
    const size_t n = static_cast<size_t>(d.size());
    const double* p = d.data();
    double* o = out.mutable_data();
    py::gil_scoped_release release;
    score::TimeMap::Cursor cursor(map);
    for (size_t i = 0; i < n; ++i) o[i] = std::isfinite(p[i]) ? cursor.seconds(p[i]) : p[i];
    return std::move(out);
}

py::array SecondsToTick(SongHandle& h, const py::array& seconds) {
    auto view = h.View();
    auto d = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(seconds);
    if (!d) throw py::type_error("seconds must be numbers");
    py::array_t<double> out(d.request().shape);
    const size_t n = static_cast<size_t>(d.size());
    if (n > 0) {
        const double* p = d.data();
        double* o = out.mutable_data();
        py::gil_scoped_release release;
        view->time_map().ticks(p, o, n);
    }
    return std::move(out);
}

py::array_t<double> Seconds(const std::vector<double>& values) {
    py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
    if (!values.empty())
        std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(double));
    return out;
}

py::list VoiceConflicts(SongHandle& h, int voices) {
    std::shared_ptr<CMidiFolio> core = h.Core();
    ConflictVoiceArray a;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(h.CoreMutex());
        core->CheckMidiByVoice(voices, &a);
    }
    py::list out;
    for (const _CONFLICTVOICE& c : a) out.append(py::make_tuple(c.lMsecs, c.nVoices));
    return out;
}

}  // namespace

void BindViews(HandleClass& cls) {
    cls.def("tempos", &Tempos)
        .def("time_signatures", &TimeSignatures)
        .def("key_signatures", [](SongHandle& h) { return KeyTuples(h.View()->key_signatures()); })
        .def("controls", &Controls,
             "(track, channel, tick, seconds, controller, value) rows in time order.")
        .def("pitch_bends", &PitchBends,
             "(track, channel, tick, seconds, lsb, msb) rows in time order.")
        .def("texts", &Texts, "(track, tick, seconds, meta type, text) rows in time order.")
        .def("tracks", &Tracks)
        .def("instruments", &Instruments)
        .def("summary", &Summary)
        .def("piano_roll", &PianoRoll, py::arg("fs"), py::arg("drums"))
        .def("tick_to_seconds", &TickToSeconds, py::arg("ticks"))
        .def("seconds_to_tick", &SecondsToTick, py::arg("seconds"))
        .def("tick_to_seconds_scalar",
             [](SongHandle& h, double tick) { return h.View()->time_map().seconds(tick); })
        .def("seconds_to_tick_scalar",
             [](SongHandle& h, double s) { return h.View()->time_map().ticks(s); })
        .def("beats", [](SongHandle& h) { return Seconds(h.View()->beats()); })
        .def("downbeats", [](SongHandle& h) { return Seconds(h.View()->downbeats()); })
        .def("duration", [](SongHandle& h) { return h.View()->duration(); })
        .def("end_tick", [](SongHandle& h) { return h.View()->end_tick(); })
        .def("bars", [](SongHandle& h) { return h.View()->bars(); })
        .def("ticks_per_quarter",
             [](SongHandle& h) { return h.View()->time_map().ticks_per_quarter(); })
        .def("event_count", [](SongHandle& h) { return h.View()->event_count(); })
        .def("bar_beat",
             [](SongHandle& h, double tick) {
                 const score::BarBeat b = h.View()->meter_map().at(tick);
                 return py::make_tuple(b.bar, b.beat, b.tick);
             })
        .def("voice_conflicts", &VoiceConflicts, py::arg("voices"));
}

}  // namespace mfpy
