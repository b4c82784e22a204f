// The handle behind midifolio.Song: a loaded song, its exact view (score::Score) built once
// and shared with the numpy arrays that look into it, and the GIL released around the
// library's work so that songs on different threads run at once.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bindings.h"

namespace mfpy {

using namespace midifolio;

// One row of Song.events(): 32 bytes, no pointers.
struct EventRow {
    uint16_t track;    // index of the track, from 0
    uint8_t channel;   // 0..15, 255 for events without a channel
    uint8_t status;    // the status byte the event stands for (0 for a stray data byte)
    uint16_t kind;     // the EVT_* code
    uint8_t data1;     // first data byte (note, controller, program, pressure, bend LSB)
    uint8_t data2;     // second data byte (velocity, value, bend MSB), 0 for one-byte kinds
    int32_t tick;      // absolute tick
    int16_t meta;      // meta type 0..127 of a meta event, -1 otherwise
    uint8_t port;      // the port in force (last port meta event), 0 before any
    uint8_t reserved;  //
    uint32_t length;   // payload bytes of meta and sysex events, 0 otherwise
    uint32_t reserved2;
    double seconds;  // exact time of the tick
};
static_assert(sizeof(EventRow) == 32, "EventRow is a fixed table layout");

namespace {

bool Finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

// A loaded song and its exact view. Work on the song (the view's construction, the
// analyses, which write working state into it, and saving) holds the song's mutex, which is
// taken only after the GIL has been released and is never held while the GIL is taken. The
// view itself is immutable and shared with the arrays that look into it; a second mutex,
// held for a pointer copy only, guards the cached pointer.
class SongHandle {
  public:
    SongHandle() : m_song(std::make_shared<CMidiFolio>()) {}
    SongHandle(const SongHandle&) = delete;
    SongHandle& operator=(const SongHandle&) = delete;
    // Releasing a song's events takes about as long as a quarter of its load: done without
    // the GIL, so that threads that load and drop songs do not queue for it.
    ~SongHandle() {
        if (PyGILState_Check() && !Finalizing()) {
            py::gil_scoped_release release;
            m_view.reset();
            m_song.reset();
        }
    }
    CMidiFolio& song() { return *m_song; }
    std::shared_ptr<CMidiFolio> shared_song() { return m_song; }
    // The library's messages of the load (normally none after a successful one).
    std::vector<std::string> messages;
    std::mutex& mutex() { return m_mutex; }

    // The exact view, built on first use. ViewLocked: the song's mutex is held.
    std::shared_ptr<const score::Score> ViewLocked() {
        std::shared_ptr<const score::Score> view = Cached();
        if (view) return view;
        view = std::make_shared<const score::Score>(*m_song);
        std::lock_guard<std::mutex> lock(m_viewMutex);
        m_view = view;
        return view;
    }
    std::shared_ptr<const score::Score> View() {
        std::shared_ptr<const score::Score> view = Cached();
        if (view) return view;
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(m_mutex);
        return ViewLocked();
    }
    void Refresh() {
        std::lock_guard<std::mutex> lock(m_viewMutex);
        m_view.reset();
    }

  private:
    std::shared_ptr<const score::Score> Cached() {
        std::lock_guard<std::mutex> lock(m_viewMutex);
        return m_view;
    }
    std::shared_ptr<CMidiFolio> m_song;
    std::mutex m_mutex;
    std::mutex m_viewMutex;
    std::shared_ptr<const score::Score> m_view;
};

std::string BytesArg(const py::bytes& b) {
    std::string s = b;
    if (s.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    return s;
}

// The bytes of a path given as str, bytes or os.PathLike, in the file system's encoding (as
// open() takes it); ValueError for an embedded null byte, TypeError for anything else.
std::string PathBytes(const py::handle& path) {
    PyObject* converted = nullptr;
    if (!PyUnicode_FSConverter(path.ptr(), &converted)) throw py::error_already_set();
    py::bytes bytes = py::reinterpret_steal<py::bytes>(converted);
    return std::string(PyBytes_AS_STRING(converted),
                       static_cast<size_t>(PyBytes_GET_SIZE(converted)));
}

// Loads a file with the GIL released: the handle, or, when the file is refused, a tuple of
// the library's message, the cause in plain words from its load report, the errno of a file
// that could not be opened (0 otherwise) and the library's messages. The work done with the
// GIL held is kept small: on two cores, every moment one thread holds it is a moment the
// other may wait (and be woken) for it.
py::object Load(const py::handle& path) {
    const std::string p = PathBytes(path);
    std::shared_ptr<SongHandle> handle;
    int ok;
    LoadReport report;
    {
        py::gil_scoped_release release;
        handle = std::make_shared<SongHandle>();
        CMidiFolio& song = handle->song();
        std::vector<std::string>& messages = handle->messages;
        song.SetMessageSink([&messages](const std::string& text) { messages.push_back(text); });
        ok = song.LoadMidiFile(p);
        song.SetMessageSink(DefaultMessageSink());
        if (ok != 1) report = song.GetLoadReport();
    }
    if (ok != 1)
        return py::make_tuple(report.message, report.cause,
                              report.stop == LoadStop::kCannotOpen ? report.error : 0,
                              handle->messages);
    return py::cast(std::move(handle));
}

bool IsLoaderTempoCandidate(const MIDIEvent& ev) {
    return ev.dwType == EVT_META && ev.dwSubType == META_TEMPO && ev.lTime == 0;
}

bool HasLoaderTempo(const CMidiFolio& song) {
    for (long t = 0; t < song.GetTrackNum(); ++t) {
        const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
        for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr; pos = pos->pNext)
            if (IsLoaderTempoCandidate(*pos) && song.IsLoaderTempo(track, pos)) return true;
    }
    return false;
}

// Stores the song as the file held it: without the tempo events its loads put in front of
// their first tracks. The song itself is not changed: when it holds such an event, a copy of
// its tracks without it is stored. Returns 0 or the errno value of the failure.
int Save(SongHandle& h, const py::bytes& path) {
    const std::string p = BytesArg(path);
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(h.mutex());
    CMidiFolio& song = h.song();
    if (!HasLoaderTempo(song)) return song.StoreMidiFile(p) == 1 ? 0 : song.GetStoreError();

    CMidiFolio copy;
    _MIDIHEAD head = song.GetMidiHeaderInfo();
    copy.SetMidiHeaderinfo(&head);
    for (long t = 0; t < song.GetTrackNum(); ++t) {
        const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
        auto mine = std::make_unique<CMidiTrack>(*track);
        // The copy holds its events in the same order: walk both lists together.
        POSITION theirs = track->GetEventHeadPosition();
        POSITION pos = mine->GetEventHeadPosition();
        while (theirs != nullptr && pos != nullptr) {
            POSITION next = pos->pNext;
            if (IsLoaderTempoCandidate(*theirs) && song.IsLoaderTempo(track, theirs))
                mine->DeleteEvent(pos);
            theirs = theirs->pNext;
            pos = next;
        }
        if (copy.AddTrack(mine.get()) < 0) return ENOMEM;
        mine.release();
    }
    return copy.StoreMidiFile(p) == 1 ? 0 : copy.GetStoreError();
}

// A read-only numpy view on the view's notes, which the array keeps alive.
py::array Notes(SongHandle& h) {
    std::shared_ptr<const score::Score> view = h.View();
    const std::vector<score::Note>& notes = view->notes();
    auto* owner = new std::shared_ptr<const score::Score>(std::move(view));
    py::capsule base(owner,
                     [](void* p) { delete static_cast<std::shared_ptr<const score::Score>*>(p); });
    py::array_t<score::Note> out({static_cast<py::ssize_t>(notes.size())},
                                 {static_cast<py::ssize_t>(sizeof(score::Note))}, notes.data(),
                                 base);
    out.attr("setflags")(py::arg("write") = false);  // shared by every view of the notes
    return std::move(out);
}

uint8_t StatusOf(const MIDIEvent& ev) {
    switch (ev.dwType) {
        case EVT_NOTEOFF:
            return static_cast<uint8_t>(0x80 | (ev.byChannel & 0x0F));
        case EVT_NOTEON:
            return static_cast<uint8_t>(0x90 | (ev.byChannel & 0x0F));
        case EVT_KEYPRESSURE:
            return static_cast<uint8_t>(0xA0 | (ev.byChannel & 0x0F));
        case EVT_CONTROL:
            return static_cast<uint8_t>(0xB0 | (ev.byChannel & 0x0F));
        case EVT_PROGRAM:
            return static_cast<uint8_t>(0xC0 | (ev.byChannel & 0x0F));
        case EVT_CHANPRESSURE:
            return static_cast<uint8_t>(0xD0 | (ev.byChannel & 0x0F));
        case EVT_PITCHBEND:
            return static_cast<uint8_t>(0xE0 | (ev.byChannel & 0x0F));
        case EVT_SYSEX:
            return 0xF0;
        case EVT_SYSEXESC:
            return 0xF7;
        case EVT_META:
            return 0xFF;
        case EVT_SYSCOMMON:
        case EVT_REALTIME:
            return static_cast<uint8_t>(ev.dwSubType);
        default:
            return 0;
    }
}

EventRow RowOf(const MIDIEvent& ev, uint16_t track) {
    EventRow r{};
    r.track = track;
    r.tick = ev.lTime;
    r.kind = static_cast<uint16_t>(ev.dwType);
    r.status = StatusOf(ev);
    r.port = ev.byPort;
    r.meta = -1;
    switch (ev.dwType) {
        case EVT_NOTEON:
        case EVT_NOTEOFF:
        case EVT_KEYPRESSURE:
        case EVT_CONTROL:
        case 0:  // data bytes without running status in force
            r.channel = ev.byChannel;
            r.data1 = ev.byData1;
            r.data2 = ev.byData2;
            break;
        case EVT_PROGRAM:
        case EVT_CHANPRESSURE:
            r.channel = ev.byChannel;
            r.data1 = ev.byData1;  // the record's second byte is left over from before
            break;
        case EVT_PITCHBEND:
            r.channel = ev.byChannel;
            r.data1 = static_cast<uint8_t>(ev.wBend & 0x7F);
            r.data2 = static_cast<uint8_t>((ev.wBend >> 7) & 0x7F);
            break;
        case EVT_META:
            r.channel = 255;
            r.meta = static_cast<int16_t>(ev.dwSubType & 0xFF);
            r.length = ev.pData != nullptr ? ev.dwLength : 0;
            break;
        case EVT_SYSEX:
        case EVT_SYSEXESC:
            r.channel = 255;
            r.length = ev.pData != nullptr ? ev.dwLength : 0;
            break;
        case EVT_SYSCOMMON: {
            // The data bytes are in dwLength, lowest addressed byte first.
            r.channel = 255;
            const uint32_t n = ev.dwSubType == 0xF2                             ? 2
                               : (ev.dwSubType == 0xF1 || ev.dwSubType == 0xF3) ? 1
                                                                                : 0;
            uint8_t bytes[4];
            std::memcpy(bytes, &ev.dwLength, 4);
            if (n >= 1) r.data1 = bytes[0];
            if (n >= 2) r.data2 = bytes[1];
            break;
        }
        default:
            r.channel = 255;
            break;
    }
    return r;
}

// The events' dtype with a further object field, payload, after the 32 bytes of a row.
constexpr size_t kPayloadItem = sizeof(EventRow) + sizeof(PyObject*);
py::dtype PayloadDtype() {
    py::dtype rows = py::dtype::of<EventRow>();
    py::list names, formats, offsets;
    for (py::handle name : rows.attr("names")) {
        py::tuple field = rows.attr("fields")[name];
        names.append(name);
        formats.append(field[0]);
        offsets.append(field[1]);
    }
    names.append("payload");
    formats.append(py::dtype("O"));
    offsets.append(sizeof(EventRow));
    py::dict layout;
    layout["names"] = names;
    layout["formats"] = formats;
    layout["offsets"] = offsets;
    layout["itemsize"] = kPayloadItem;
    return py::dtype::from_args(layout);
}

// Every event of the song but the loaders' tempo events, track by track in list order, with
// exact seconds; and, when asked, the payloads (bytes, None for kinds without one).
py::array Events(SongHandle& h, bool payload) {
    std::shared_ptr<const score::Score> view = h.View();
    std::vector<EventRow> rows;
    std::vector<std::pair<size_t, std::string>> payloads;  // row, bytes
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(h.mutex());
        const CMidiFolio& song = h.song();
        rows.reserve(view->events());
        for (long t = 0; t < song.GetTrackNum(); ++t) {
            const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
            const size_t first = rows.size();
            for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr; pos = pos->pNext) {
                if (IsLoaderTempoCandidate(*pos) && song.IsLoaderTempo(track, pos)) continue;
                if (payload && OwnsPayload(pos->dwType)) {
                    const char* data = reinterpret_cast<const char*>(pos->pData);
                    payloads.emplace_back(rows.size(), data != nullptr
                                                           ? std::string(data, pos->dwLength)
                                                           : std::string());
                }
                rows.push_back(RowOf(*pos, static_cast<uint16_t>(t)));
            }
            if (rows.size() > first)
                view->time_map().seconds(&rows[first].tick, sizeof(EventRow), &rows[first].seconds,
                                         sizeof(EventRow), rows.size() - first);
        }
    }
    if (!payload) {
        py::array_t<EventRow> out(static_cast<py::ssize_t>(rows.size()));
        if (!rows.empty())
            std::memcpy(out.mutable_data(), rows.data(), rows.size() * sizeof(EventRow));
        return std::move(out);
    }
    // The rows followed by an object field: every slot is written here (None, or the
    // payload's bytes), whatever the new array held.
    py::array out(PayloadDtype(), std::vector<py::ssize_t>{static_cast<py::ssize_t>(rows.size())});
    char* base = static_cast<char*>(out.mutable_data());
    for (size_t i = 0; i < rows.size(); ++i) {
        char* item = base + i * kPayloadItem;
        std::memcpy(item, &rows[i], sizeof(EventRow));
        PyObject** slot = reinterpret_cast<PyObject**>(item + sizeof(EventRow));
        Py_XDECREF(*slot);
        Py_INCREF(Py_None);
        *slot = Py_None;
    }
    for (auto& [row, bytes] : payloads) {
        PyObject* b =
            PyBytes_FromStringAndSize(bytes.data(), static_cast<py::ssize_t>(bytes.size()));
        if (b == nullptr) throw py::error_already_set();
        PyObject** slot =
            reinterpret_cast<PyObject**>(base + row * kPayloadItem + sizeof(EventRow));
        Py_DECREF(*slot);
        *slot = b;
    }
    return out;
}

py::list Tempos(SongHandle& h) {
    auto view = h.View();
    py::list out;
    for (const score::TempoChange& t : view->tempos())
        out.append(py::make_tuple(t.tick, t.seconds, view->meter_map().at(t.tick).bar,
                                  t.us_per_quarter, t.bpm(), t.track));
    return out;
}

py::list TimeSignatures(SongHandle& h) {
    auto view = h.View();
    py::list out;
    for (const score::TimeSignature& t : view->time_signatures())
        out.append(py::make_tuple(t.tick, t.seconds, t.bar, t.numerator, t.denominator(), t.track));
    return out;
}

py::list KeyTuples(const std::vector<score::KeySignature>& keys) {
    py::list out;
    for (const score::KeySignature& k : keys)
        out.append(py::make_tuple(k.tick, k.seconds, k.bar, k.sharps, k.minor, k.track));
    return out;
}

py::dict Summary(SongHandle& h) {
    score::Summary s;
    _MIDIHEAD head{};
    long tracks = 0;
    std::shared_ptr<const score::Score> view;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(h.mutex());
        view = h.ViewLocked();
        s = view->summary();
        head = h.song().GetMidiHeaderInfo();
        tracks = h.song().GetTrackNum();
    }
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
    d["events"] = view->events();
    d["tracks"] = tracks;
    d["format"] = head.nFormat;
    d["ticks_per_quarter"] = view->time_map().ticks_per_quarter();
    return d;
}

py::array PianoRoll(SongHandle& h, double fs, bool drums) {
    auto view = h.View();
    auto roll = std::make_unique<score::PianoRoll>();
    {
        py::gil_scoped_release release;
        *roll = view->piano_roll(fs, drums);
    }
    const size_t frames = roll->frames;
    if (roll->cells.empty()) return py::array_t<uint8_t>(std::vector<py::ssize_t>{128, 0});
    uint8_t* data = roll->cells.data();
    auto* owner = roll.release();
    py::capsule base(owner, [](void* p) { delete static_cast<score::PianoRoll*>(p); });
    return py::array_t<uint8_t>({py::ssize_t{128}, static_cast<py::ssize_t>(frames)},
                                {static_cast<py::ssize_t>(frames), py::ssize_t{1}}, data, base);
}

// Seconds of ticks: exact int32 ticks through the bulk conversion (strides honoured), other
// numbers one by one through a cursor.
py::array TickToSeconds(SongHandle& h, const py::array& ticks) {
    auto view = h.View();
    const score::TimeMap& map = view->time_map();
    py::array_t<double> out(ticks.request().shape);
    double* o = out.mutable_data();
    const size_t n = static_cast<size_t>(ticks.size());
    if (n == 0) return std::move(out);
    if (ticks.ndim() == 1 && py::isinstance<py::array_t<int32_t>>(ticks)) {
        auto t = py::array_t<int32_t>::ensure(ticks);
        const int32_t* p = t.data();
        const size_t stride = static_cast<size_t>(t.strides(0));
        if (t.strides(0) > 0) {
            py::gil_scoped_release release;
            map.seconds(p, stride, o, sizeof(double), n);
            return std::move(out);
        }
    }
    auto d = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(ticks);
    if (!d) throw py::type_error("ticks must be numbers");
    const double* p = d.data();
    {
        py::gil_scoped_release release;
        score::TimeMap::Cursor cursor(map);
        for (size_t i = 0; i < n; ++i) o[i] = std::isfinite(p[i]) ? cursor.seconds(p[i]) : p[i];
    }
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

// The library's analyses write working state into the song: under its lock.
template <typename F>
auto Locked(SongHandle& h, F work) {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(h.mutex());
    return work(h.song());
}

py::list Instruments(SongHandle& h) {
    InstrumentArray a = Locked(h, [](CMidiFolio& s) {
        InstrumentArray r;
        s.GetInstrument(r);
        return r;
    });
    py::list out;
    for (const _INSTRUMENT& i : a)
        out.append(py::make_tuple(i.byProgram, i.byBank, i.strName, i.byLowNote, i.byHighNote));
    return out;
}

py::list Drums(SongHandle& h) {
    DrumArray a = Locked(h, [](CMidiFolio& s) {
        DrumArray r;
        s.GetDrums(r, 1);
        return r;
    });
    py::list out;
    for (const _DRUM& d : a) out.append(py::make_tuple(d.byNote, d.byBank, d.strName, d.strPitch));
    return out;
}

py::list VoiceConflicts(SongHandle& h, int voices) {
    ConflictVoiceArray a = Locked(h, [voices](CMidiFolio& s) {
        ConflictVoiceArray r;
        s.CheckMidiByVoice(voices, &r);
        return r;
    });
    py::list out;
    for (const _CONFLICTVOICE& c : a) out.append(py::make_tuple(c.lMsecs, c.nVoices));
    return out;
}

}  // namespace

void BindExact(py::module_& m) {
    // The two table layouts, field by field with their offsets (the reserved bytes are left
    // out): numpy's structured dtypes of the arrays below.
    PYBIND11_NUMPY_DTYPE(score::Note, track, channel, program, pitch, velocity, start_tick,
                         end_tick, start, end);
    PYBIND11_NUMPY_DTYPE(EventRow, track, tick, seconds, kind, status, channel, data1, data2, meta,
                         port, length);

    py::class_<SongHandle, std::shared_ptr<SongHandle>>(
        m, "_SongHandle", "A loaded song and its exact view (the engine of midifolio.Song).")
        .def_readonly("messages", &SongHandle::messages, "The library's messages of the load.")
        .def_property_readonly("core", &SongHandle::shared_song,
                               "The library's song object (midifolio.core.CMidiFolio).")
        .def("save", &Save, py::arg("path"), "Stores the song: 0, or the errno value.")
        .def("refresh", &SongHandle::Refresh, "Drops the exact view (built again on next use).")
        .def("notes", &Notes, "A read-only structured array viewing the notes.")
        .def("events", &Events, py::arg("payload"), "The events, with a payload field when asked.")
        .def("tempos", &Tempos)
        .def("time_signatures", &TimeSignatures)
        .def("key_signatures", [](SongHandle& h) { return KeyTuples(h.View()->key_signatures()); })
        .def("summary", &Summary)
        .def("piano_roll", &PianoRoll, py::arg("fs"), py::arg("drums"))
        .def("tick_to_seconds", &TickToSeconds, py::arg("ticks"))
        .def("seconds_to_tick", &SecondsToTick, py::arg("seconds"))
        .def("tick_to_seconds_scalar",
             [](SongHandle& h, double tick) { return h.View()->time_map().seconds(tick); })
        .def("seconds_to_tick_scalar",
             [](SongHandle& h, double s) { return h.View()->time_map().ticks(s); })
        .def("duration", [](SongHandle& h) { return h.View()->duration(); })
        .def("end_tick", [](SongHandle& h) { return h.View()->end_tick(); })
        .def("bars", [](SongHandle& h) { return h.View()->bars(); })
        .def("ticks_per_quarter",
             [](SongHandle& h) { return h.View()->time_map().ticks_per_quarter(); })
        .def("event_count", [](SongHandle& h) { return h.View()->events(); })
        .def("header",
             [](SongHandle& h) {
                 return Locked(h, [](CMidiFolio& s) {
                     const _MIDIHEAD head = s.GetMidiHeaderInfo();
                     return std::make_tuple(head.nFormat, static_cast<int>(s.GetTrackNum()),
                                            head.nDivision);
                 });
             })
        .def("bar_beat",
             [](SongHandle& h, double tick) {
                 const score::BarBeat b = h.View()->meter_map().at(tick);
                 return py::make_tuple(b.bar, b.beat, b.tick);
             })
        .def("instruments", &Instruments)
        .def("drums", &Drums)
        .def("voice_conflicts", &VoiceConflicts, py::arg("voices"));

    m.def("load", &Load, py::arg("path"),
          "Loads a file (str, bytes or os.PathLike) with the GIL released: the handle, or for a "
          "refused file the tuple (message, cause, errno, messages).");
    m.attr("NOTE_DTYPE") = py::dtype::of<score::Note>();
    m.attr("EVENT_DTYPE") = py::dtype::of<EventRow>();
    m.attr("EVENT_PAYLOAD_DTYPE") = PayloadDtype();
}

}  // namespace mfpy
