// midifolio.core: the library's own classes and records, with the library's names.
//
// Differences that Python forces, each documented in the docstrings and docs/python.md:
// results that the library writes through pointer or reference arguments come back as
// return values; lists that the library fills come back as new Python lists; a MIDIEvent
// carries its payload in a bytes buffer of its own; a POSITION keeps its track alive.
#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include "bindings.h"

namespace mfpy {

using namespace midifolio;

PyEvent PyEvent::From(const MIDIEvent& e) {
    PyEvent out;
    out.ev = e;
    out.ev.pData = nullptr;
    if (OwnsPayload(e.dwType) && e.pData != nullptr && e.dwLength != 0 &&
        e.dwLength != PAIRING_MARK)
        out.payload.assign(e.pData, e.pData + e.dwLength);
    return out;
}

MIDIEvent PyEvent::Raw() {
    MIDIEvent r = ev;
    r.pData = nullptr;
    if (OwnsPayload(r.dwType)) {
        r.dwLength = static_cast<uint32_t>(payload.size());
        r.pData = payload.empty() ? nullptr : payload.data();
    }
    return r;
}

namespace {

// How many times the events of each track were released all at once (RemoveAllPt,
// SetMidiTrackRawData), which frees the nodes that positions point to. A position or an
// iterator remembers the count it was made at and is refused once it has changed. Entries are
// never dropped: a position keeps its track alive, so a track's address is taken again only
// by a track whose positions all start from the count found then.
std::unordered_map<const CMidiTrack*, uint64_t>& Releases() {
    static auto* releases = new std::unordered_map<const CMidiTrack*, uint64_t>();
    return *releases;
}

uint64_t ReleasesOf(const CMidiTrack& track) {
    const auto found = Releases().find(&track);
    return found == Releases().end() ? 0 : found->second;
}

// A position in a track's list. It holds the track's Python object, so the track outlives
// it; like the library's POSITION it becomes invalid when its event is deleted, and when the
// track's events are released all at once it is refused.
struct PyPosition {
    POSITION node = nullptr;
    const CMidiTrack* track = nullptr;
    py::object owner;
    uint64_t releases = 0;
};

py::object Position(POSITION node, const CMidiTrack& track, py::object owner) {
    if (node == nullptr) return py::none();
    return py::cast(PyPosition{node, &track, std::move(owner), ReleasesOf(track)});
}

void CheckNotReleased(const CMidiTrack& track, uint64_t releases) {
    if (ReleasesOf(track) != releases)
        throw py::value_error(
            "the position was taken before the track's events were released (RemoveAllPt, "
            "SetMidiTrackRawData)");
}

// The node of a position given for this track; a position of another track is refused (the
// library would walk the wrong list), and so is one whose node went with its events.
POSITION Node(const CMidiTrack& track, const PyPosition& pos) {
    if (pos.track != &track) throw py::value_error("the position belongs to another track");
    if (pos.node == nullptr) throw py::value_error("the position is null");
    CheckNotReleased(track, pos.releases);
    return pos.node;
}

// Progress calls into a Python object (SetRange(lower, upper), SetPos(pos)). The first
// exception it raises is kept, later calls are skipped, and the exception is raised again
// when the library's call has returned (it never passes through the library's code).
class PyProgress : public ProgressObserver {
  public:
    explicit PyProgress(py::object target) : m_target(std::move(target)) {}
    ProgressObserver* get() { return m_target.is_none() ? nullptr : this; }
    void SetRange(int lower, int upper) override { Call("SetRange", lower, upper); }
    void SetPos(int pos) override { Call("SetPos", pos); }
    void Rethrow() {
        if (!m_error) return;
        py::error_already_set e = std::move(*m_error);
        m_error.reset();
        throw e;
    }

  private:
    template <typename... A>
    void Call(const char* name, A... args) {
        py::gil_scoped_acquire gil;
        if (m_error) return;
        try {
            m_target.attr(name)(args...);
        } catch (py::error_already_set& e) {
            m_error = std::make_unique<py::error_already_set>(std::move(e));
        }
    }
    py::object m_target;
    std::unique_ptr<py::error_already_set> m_error;
};

std::string Text(const char* s) {
    return s == nullptr ? std::string() : std::string(s);
}

py::list QueryList(const MidiEventList& list) {
    py::list out;
    for (const MIDI_Event& rec : list)
        out.append(PyQueryEvent{rec.wTrack, rec.time, PyEvent::From(rec.event)});
    return out;
}

py::object QueryRecord(const MIDI_Event* rec) {
    if (rec == nullptr) return py::none();
    return py::cast(PyQueryEvent{rec->wTrack, rec->time, PyEvent::From(rec->event)});
}

std::string PathArg(const py::object& path) {
    // str, bytes or os.PathLike; the file system's encoding for text (as open() does).
    py::object os = py::module_::import("os");
    py::bytes raw = os.attr("fsencode")(path);
    std::string s = raw;
    if (s.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    return s;
}

// The header and the tempo map's records.
void BindHeaderRecords(py::module_& core) {
    py::class_<_MIDIHEAD>(core, "_MIDIHEAD", "Header information of a Standard MIDI File.")
        .def(py::init([](int32_t format, int32_t tracks, int32_t division) {
                 return _MIDIHEAD{format, tracks, division};
             }),
             py::arg("nFormat") = 0, py::arg("nTracks") = 0, py::arg("nDivision") = 0)
        .def_readwrite("nFormat", &_MIDIHEAD::nFormat, "0 or 1 after a successful load.")
        .def_readwrite("nTracks", &_MIDIHEAD::nTracks, "Number of track chunks.")
        .def_readwrite("nDivision", &_MIDIHEAD::nDivision, "Ticks per quarter note.")
        .def("__repr__", [](const _MIDIHEAD& h) {
            return "_MIDIHEAD(nFormat=" + std::to_string(h.nFormat) +
                   ", nTracks=" + std::to_string(h.nTracks) +
                   ", nDivision=" + std::to_string(h.nDivision) + ")";
        });

    py::class_<_TEMPO>(core, "_TEMPO", "One tempo change of the library's tempo map.")
        .def(py::init([](int32_t ticks, int32_t msecs, int32_t bpm, int32_t us) {
                 return _TEMPO{ticks, msecs, bpm, us};
             }),
             py::arg("lTicks") = 0, py::arg("lMsecs") = 0, py::arg("nBPM") = 0,
             py::arg("lUsPerQuarter") = smf::kDefaultUsPerQuarter)
        .def_readwrite("lTicks", &_TEMPO::lTicks, "Position in ticks.")
        .def_readwrite("lMsecs", &_TEMPO::lMsecs,
                       "Position in whole milliseconds (set by ReCalculateTempolst).")
        .def_readwrite("nBPM", &_TEMPO::nBPM, "Quarter notes per minute, rounded.")
        .def_readwrite("lUsPerQuarter", &_TEMPO::lUsPerQuarter, "Microseconds per quarter note.")
        .def("__repr__", [](const _TEMPO& t) {
            return "_TEMPO(lTicks=" + std::to_string(t.lTicks) +
                   ", lMsecs=" + std::to_string(t.lMsecs) + ", nBPM=" + std::to_string(t.nBPM) +
                   ", lUsPerQuarter=" + std::to_string(t.lUsPerQuarter) + ")";
        });

    py::class_<_BAR>(core, "_BAR", "Time signature of the tempo map.")
        .def(py::init([](uint32_t num, uint32_t note) {
                 return _BAR{num, note};
             }),
             py::arg("dwBaseBarNum") = 4, py::arg("dwBaseNoteNum") = 4)
        .def_readwrite("dwBaseBarNum", &_BAR::dwBaseBarNum, "Beats per measure (numerator).")
        .def_readwrite("dwBaseNoteNum", &_BAR::dwBaseNoteNum, "Note value of a beat (4, 8, ...).")
        .def("__repr__", [](const _BAR& b) {
            return "_BAR(dwBaseBarNum=" + std::to_string(b.dwBaseBarNum) +
                   ", dwBaseNoteNum=" + std::to_string(b.dwBaseNoteNum) + ")";
        });

    py::class_<_KEY>(core, "_KEY", "Key signature: the meta event's two data bytes.")
        .def(py::init([](uint32_t sf, uint32_t minor) {
                 return _KEY{sf, minor};
             }),
             py::arg("dwSharpsFlats") = 0, py::arg("dwMinor") = 0)
        .def_readwrite("dwSharpsFlats", &_KEY::dwSharpsFlats,
                       "0..7 sharps, 255..249 for 1..7 flats.")
        .def_readwrite("dwMinor", &_KEY::dwMinor, "0 major, 1 minor.")
        .def("__repr__", [](const _KEY& k) {
            return "_KEY(dwSharpsFlats=" + std::to_string(k.dwSharpsFlats) +
                   ", dwMinor=" + std::to_string(k.dwMinor) + ")";
        });
}

// The records of the analysis: instruments, drums, voice conflicts, channels.
void BindAnalysisRecords(py::module_& core) {
    py::class_<_INSTRUMENT>(core, "_INSTRUMENT", "One melodic instrument in use.")
        .def(py::init<>())
        .def_readwrite("strName", &_INSTRUMENT::strName, "General MIDI name of byProgram.")
        .def_readwrite("byBank", &_INSTRUMENT::byBank, "Bank Select LSB in force.")
        .def_readwrite("byBankCopy", &_INSTRUMENT::byBankCopy)
        .def_readwrite("byProgram", &_INSTRUMENT::byProgram, "0..127, 255 for no program.")
        .def_readwrite("byProgramCopy", &_INSTRUMENT::byProgramCopy)
        .def_readwrite("byLowNote", &_INSTRUMENT::byLowNote, "Lowest sounded note.")
        .def_readwrite("byHighNote", &_INSTRUMENT::byHighNote, "Highest sounded note.")
        .def("__repr__", [](const _INSTRUMENT& i) {
            return "_INSTRUMENT(byProgram=" + std::to_string(i.byProgram) + ", strName='" +
                   i.strName + "', byBank=" + std::to_string(i.byBank) +
                   ", byLowNote=" + std::to_string(i.byLowNote) +
                   ", byHighNote=" + std::to_string(i.byHighNote) + ")";
        });

    py::class_<_DRUM>(core, "_DRUM", "One drum in use.")
        .def(py::init<>())
        .def_readwrite("strName", &_DRUM::strName, "General MIDI drum name, empty when none.")
        .def_readwrite("byBank", &_DRUM::byBank)
        .def_readwrite("byBankCopy", &_DRUM::byBankCopy)
        .def_readwrite("byNote", &_DRUM::byNote)
        .def_readwrite("byNoteCopy", &_DRUM::byNoteCopy)
        .def_readwrite("strPitch", &_DRUM::strPitch, "Pitch name, e.g. 'C3' for note 36.")
        .def("__repr__", [](const _DRUM& d) {
            return "_DRUM(byNote=" + std::to_string(d.byNote) + ", strName='" + d.strName +
                   "', strPitch='" + d.strPitch + "')";
        });

    py::class_<_CONFLICTVOICE>(core, "_CONFLICTVOICE",
                               "A moment at which more notes sound than there are voices.")
        .def(py::init<>())
        .def_readwrite("lMsecs", &_CONFLICTVOICE::lMsecs, "Whole milliseconds from the start.")
        .def_readwrite("nVoices", &_CONFLICTVOICE::nVoices, "Notes sounding then.")
        .def("__repr__", [](const _CONFLICTVOICE& c) {
            return "_CONFLICTVOICE(lMsecs=" + std::to_string(c.lMsecs) +
                   ", nVoices=" + std::to_string(c.nVoices) + ")";
        });

    py::class_<_CH_INSTR>(core, "_CH_INSTR", "A channel with a bank and program.")
        .def(py::init<>())
        .def_readwrite("byChannel", &_CH_INSTR::byChannel)
        .def_readwrite("byBank", &_CH_INSTR::byBank)
        .def_readwrite("byProgram", &_CH_INSTR::byProgram);
}

// The records of the vocabulary: controllers and pitches.
void BindVocabularyRecords(py::module_& core) {
    py::class_<_MIDI_CONTROL_MSG>(core, "_MIDI_CONTROL_MSG", "A controller's name and type code.")
        .def_property_readonly(
            "lpszName", [](const _MIDI_CONTROL_MSG& c) { return Text(c.lpszName); },
            "The library's name (trailing blanks included).")
        .def_readonly("nType", &_MIDI_CONTROL_MSG::nType, "Type code, 0 for no controller.")
        .def("__repr__", [](const _MIDI_CONTROL_MSG& c) {
            return "_MIDI_CONTROL_MSG(lpszName='" + Text(c.lpszName) +
                   "', nType=" + std::to_string(c.nType) + ")";
        });

    py::class_<tagNoteMap>(core, "tagNoteMap", "A pitch: name, octave, frequency, note number.")
        .def(py::init<>())
        .def_property_readonly(
            "szName",
            [](const tagNoteMap& n) {
                return std::string(n.szName, strnlen(n.szName, sizeof n.szName));
            },
            "Pitch class name: 'C', 'C#', ... 'B'.")
        .def_readonly("byOctave", &tagNoteMap::byOctave, "Octave: note / 12 (middle C is 5).")
        .def_readonly("dFrequency", &tagNoteMap::dFrequency, "Table pitch in Hz.")
        .def_readonly("byNote", &tagNoteMap::byNote, "Note number (low 8 bits).")
        .def("__repr__", [](const tagNoteMap& n) {
            return "tagNoteMap(szName='" + std::string(n.szName, strnlen(n.szName, 4)) +
                   "', byOctave=" + std::to_string(n.byOctave) +
                   ", dFrequency=" + std::to_string(n.dFrequency) +
                   ", byNote=" + std::to_string(n.byNote) + ")";
        });
}

// Points in time in the four formats, and their makers.
void BindTimeRecords(py::module_& core) {
    py::enum_<TIME_FORMAT>(core, "TIME_FORMAT", "Formats of a _MIDI_TIME.")
        .value("TF_NONE", TF_NONE)
        .value("TF_MSEC", TF_MSEC)
        .value("TF_TICK", TF_TICK)
        .value("TF_MEASURE", TF_MEASURE)
        .value("TF_HMSF", TF_HMSF)
        .export_values();

    py::class_<_MIDI_TIME>(core, "_MIDI_TIME",
                           "A point in time tagged with its format; the fields of the four "
                           "formats overlap as in the library.")
        .def(py::init([]() { return _MIDI_TIME{}; }))
        .def_readwrite("format", &_MIDI_TIME::format)
        .def_readwrite("dMsecs", &_MIDI_TIME::dMsecs, "Milliseconds (TF_MSEC).")
        .def_readwrite("lTicks", &_MIDI_TIME::lTicks, "Ticks (TF_TICK).")
        .def_readwrite("lMeasure", &_MIDI_TIME::lMeasure, "Measure from 0 (TF_MEASURE).")
        .def_readwrite("nBeat", &_MIDI_TIME::nBeat, "Quarter note in the measure, from 0.")
        .def_readwrite("nTick", &_MIDI_TIME::nTick, "Tick in that quarter note.")
        .def_readwrite("lFrame", &_MIDI_TIME::lFrame, "25 ms frame (TF_HMSF).")
        .def_readwrite("lSecond", &_MIDI_TIME::lSecond)
        .def_readwrite("lMinute", &_MIDI_TIME::lMinute)
        .def_readwrite("lHour", &_MIDI_TIME::lHour)
        .def("__repr__", [](const _MIDI_TIME& t) {
            switch (t.format) {
                case TF_MSEC:
                    return "_MIDI_TIME(TF_MSEC, dMsecs=" + std::to_string(t.dMsecs) + ")";
                case TF_TICK:
                    return "_MIDI_TIME(TF_TICK, lTicks=" + std::to_string(t.lTicks) + ")";
                case TF_MEASURE:
                    return "_MIDI_TIME(TF_MEASURE, lMeasure=" + std::to_string(t.lMeasure) +
                           ", nBeat=" + std::to_string(t.nBeat) +
                           ", nTick=" + std::to_string(t.nTick) + ")";
                case TF_HMSF:
                    return "_MIDI_TIME(TF_HMSF, lHour=" + std::to_string(t.lHour) +
                           ", lMinute=" + std::to_string(t.lMinute) +
                           ", lSecond=" + std::to_string(t.lSecond) +
                           ", lFrame=" + std::to_string(t.lFrame) + ")";
                default:
                    return std::string("_MIDI_TIME(TF_NONE)");
            }
        });
    core.def("MakeTicks", &MakeTicks, py::arg("ticks"), "A _MIDI_TIME in ticks.");
    core.def("MakeMsecs", &MakeMsecs, py::arg("ms"), "A _MIDI_TIME in milliseconds.");
    core.def("MakeMeasure", &MakeMeasure, py::arg("measure"), py::arg("beat"), py::arg("tick"),
             "A _MIDI_TIME in measures (from 0), quarter-note beats (from 0) and ticks.");
    core.def("MakeHmsf", &MakeHmsf, py::arg("hour"), py::arg("minute"), py::arg("second"),
             py::arg("frame"), "A _MIDI_TIME in hours, minutes, seconds and 25 ms frames.");
}

// One event, as Python holds it.
void BindEventRecord(py::module_& core) {
    py::class_<PyEvent>(core, "MIDIEvent",
                        "One decoded event, a copy of the library's record. Meta and sysex "
                        "events carry their payload in `data` (bytes); for them dwLength "
                        "follows data when the event is handed to the library.")
        .def(py::init<>())
        .def_property(
            "lTime", [](const PyEvent& e) { return e.ev.lTime; },
            [](PyEvent& e, int32_t v) { e.ev.lTime = v; }, "Absolute time in ticks.")
        .def_property(
            "dwDelta", [](const PyEvent& e) { return e.ev.dwDelta; },
            [](PyEvent& e, uint32_t v) { e.ev.dwDelta = v; },
            "Ticks from this event to the next event of the track.")
        .def_property(
            "byPort", [](const PyEvent& e) { return e.ev.byPort; },
            [](PyEvent& e, uint8_t v) { e.ev.byPort = v; }, "MIDI port in force.")
        .def_property(
            "byChannel", [](const PyEvent& e) { return e.ev.byChannel; },
            [](PyEvent& e, uint8_t v) { e.ev.byChannel = v; },
            "0..15 for channel messages, 255 otherwise.")
        .def_property(
            "dwType", [](const PyEvent& e) { return e.ev.dwType; },
            [](PyEvent& e, uint32_t v) { e.ev.dwType = v; }, "EVT_* code.")
        .def_property(
            "byData1", [](const PyEvent& e) { return e.ev.byData1; },
            [](PyEvent& e, uint8_t v) { e.ev.byData1 = v; },
            "Note / controller / program / pressure.")
        .def_property(
            "byData2", [](const PyEvent& e) { return e.ev.byData2; },
            [](PyEvent& e, uint8_t v) { e.ev.byData2 = v; }, "Velocity / value / pressure.")
        .def_property(
            "byData3", [](const PyEvent& e) { return e.ev.byData3; },
            [](PyEvent& e, uint8_t v) { e.ev.byData3 = v; })
        .def_property(
            "byData4", [](const PyEvent& e) { return e.ev.byData4; },
            [](PyEvent& e, uint8_t v) { e.ev.byData4 = v; })
        .def_property(
            "wBend", [](const PyEvent& e) { return e.ev.wBend; },
            [](PyEvent& e, uint16_t v) { e.ev.wBend = v; },
            "Pitch bend 0..16383, centre 8192 (shares its bytes with byData1/2).")
        .def_property(
            "dwSubType", [](const PyEvent& e) { return e.ev.dwSubType; },
            [](PyEvent& e, uint32_t v) { e.ev.dwSubType = v; },
            "Meta type, or the status byte of system common / real-time events.")
        .def_property(
            "dwLength", [](const PyEvent& e) { return e.ev.dwLength; },
            [](PyEvent& e, uint32_t v) { e.ev.dwLength = v; },
            "Payload length of meta and sysex events; data bytes of system common events.")
        .def_property(
            "data",
            [](const PyEvent& e) {
                return py::bytes(reinterpret_cast<const char*>(e.payload.data()), e.payload.size());
            },
            [](PyEvent& e, const py::bytes& b) {
                std::string s = b;
                e.payload.assign(s.begin(), s.end());
                e.ev.dwLength = static_cast<uint32_t>(s.size());
            },
            "Payload of a meta or sysex event (bytes; empty for other kinds). Setting it "
            "sets dwLength too.")
        .def("__repr__", [](const PyEvent& e) {
            return "MIDIEvent(lTime=" + std::to_string(e.ev.lTime) +
                   ", dwType=" + std::to_string(e.ev.dwType) +
                   ", byChannel=" + std::to_string(e.ev.byChannel) +
                   ", byData1=" + std::to_string(e.ev.byData1) +
                   ", byData2=" + std::to_string(e.ev.byData2) +
                   ", dwSubType=" + std::to_string(e.ev.dwSubType) +
                   ", dwLength=" + std::to_string(e.ev.dwLength) + ")";
        });
}

// The record of a song query, and a position in a track's list.
void BindQueryRecords(py::module_& core) {
    py::class_<PyQueryEvent>(core, "MIDI_Event",
                             "One selected event of a song query: track index, time in the "
                             "format the query asked for, and a copy of the event.")
        .def_readonly("wTrack", &PyQueryEvent::wTrack)
        .def_readonly("time", &PyQueryEvent::time)
        .def_readonly("event", &PyQueryEvent::event)
        .def("__repr__", [](const PyQueryEvent& q) {
            return "MIDI_Event(wTrack=" + std::to_string(q.wTrack) +
                   ", lTime=" + std::to_string(q.event.ev.lTime) +
                   ", dwType=" + std::to_string(q.event.ev.dwType) + ")";
        });

    py::class_<PyPosition>(core, "POSITION",
                           "A position in a track's event list. It keeps its track alive and, "
                           "like the library's POSITION, is invalid once its event is deleted.")
        .def("__eq__",
             [](const PyPosition& a, const py::object& b) {
                 return py::isinstance<PyPosition>(b) && b.cast<const PyPosition&>().node == a.node;
             })
        .def("__hash__", [](const PyPosition& p) { return std::hash<const void*>()(p.node); })
        .def("__repr__", [](const PyPosition& p) {
            char text[64];
            std::snprintf(text, sizeof text, "<POSITION %p>", static_cast<const void*>(p.node));
            return std::string(text);
        });
}

// Every record, enumeration and maker of times, in the order Python first meets them.
void BindRecords(py::module_& core) {
    BindHeaderRecords(core);
    BindAnalysisRecords(core);
    BindVocabularyRecords(core);
    BindTimeRecords(core);
    BindEventRecord(core);
    BindQueryRecords(core);
}

// Tracks a song removed while Python still held them: kept alive (so that no handle points
// into freed memory) and marked, so that every use of their handles raises. An entry goes when
// the track's last handle does.
std::unordered_map<const CMidiTrack*, std::unique_ptr<CMidiTrack>>& RemovedTracks() {
    static auto* removed = new std::unordered_map<const CMidiTrack*, std::unique_ptr<CMidiTrack>>();
    return *removed;
}

void CheckNotRemoved(const CMidiTrack& track) {
    if (RemovedTracks().count(&track) != 0)
        throw std::runtime_error("this track was removed from its song (RemoveTrkAll)");
}

class TrackIterator {
  public:
    TrackIterator(const CMidiTrack& track, py::object owner)
        : m_track(track),
          m_owner(std::move(owner)),
          m_pos(track.GetEventHeadPosition()),
          m_releases(ReleasesOf(track)) {}
    PyEvent Next() {
        CheckNotRemoved(m_track);
        CheckNotReleased(m_track, m_releases);
        if (m_pos == nullptr) throw py::stop_iteration();
        return PyEvent::From(m_track.GetNextEvent(m_pos));
    }

  private:
    const CMidiTrack& m_track;
    py::object m_owner;  // keeps the track alive
    POSITION m_pos;
    uint64_t m_releases;  // ReleasesOf(m_track) when the iteration began
};

// The library's calls that release every event of a track at once, counted for the positions.
void RemoveAllEvents(CMidiTrack& track) {
    ++Releases()[&track];
    track.RemoveAllPt();
}

// RemoveTrkAll for Python: a track whose Python object still lives is kept as a removed track.
void RemoveAllTracks(CMidiFolio& song) {
    std::vector<std::unique_ptr<CMidiTrack>> tracks = song.TakeTracks();
    const py::detail::type_info* type = py::detail::get_type_info(typeid(CMidiTrack));
    for (std::unique_ptr<CMidiTrack>& t : tracks) {
        py::handle live = py::detail::get_object_handle(t.get(), type);
        if (!live) continue;  // destroyed with the vector
        const CMidiTrack* key = t.get();
        RemovedTracks()[key] = std::move(t);
        // When the handle goes, so does the track.
        py::weakref(live, py::cpp_function([key](py::handle ref) {
                        RemovedTracks().erase(key);
                        ref.dec_ref();
                    }))
            .release();
    }
}

using TrackClass = py::class_<CMidiTrack>;

// The track itself, its size and its iteration.
void BindTrackObject(TrackClass& cls) {
    cls.def(py::init<>())
        .def("__getattribute__",
             [](py::handle self, py::str name) {
                 CheckNotRemoved(*self.cast<const CMidiTrack*>());
                 PyObject* found = PyObject_GenericGetAttr(self.ptr(), name.ptr());
                 if (found == nullptr) throw py::error_already_set();
                 return py::reinterpret_steal<py::object>(found);
             })
        .def(py::init<const CMidiTrack&>(), py::arg("other"), "A copy with its own events.")
        .def("GetTrackNum", &CMidiTrack::GetTrackNum)
        .def("SetTrackNum", &CMidiTrack::SetTrackNum, py::arg("nTrackNum"))
        .def("GetTrkLen", &CMidiTrack::GetTrkLen, "Raw byte length.")
        .def("GetTrackEventNums", &CMidiTrack::GetTrackEventNums, "Event count modulo 65536.")
        .def("GetCount", &CMidiTrack::GetCount, "Event count.")
        .def("__len__",
             [](const CMidiTrack& t) {
                 CheckNotRemoved(t);
                 return std::max<int32_t>(t.GetCount(), 0);
             })
        .def(
            "__iter__",
            [](py::object self) {
                const CMidiTrack& t = self.cast<const CMidiTrack&>();
                CheckNotRemoved(t);
                return TrackIterator(t, self);
            },
            "Copies of the events, in list order.")
        .def("SetISValidatePercuss", &CMidiTrack::SetISValidatePercuss)
        .def("GetISValidatePercuss", &CMidiTrack::GetISValidatePercuss)
        .def("GetPercussValid", &CMidiTrack::GetPercussValid)
        .def("GetLastResult", &CMidiTrack::GetLastResult)
        .def("GetNoteUsage", &CMidiTrack::GetNoteUsage, py::arg("nRow"), py::arg("nNote"));
}

// Walking the list with positions, and the list's bytes.
void BindTrackPositions(TrackClass& cls) {
    cls.def(
           "GetEventHeadPosition",
           [](py::object self) {
               const CMidiTrack& t = self.cast<const CMidiTrack&>();
               return Position(t.GetEventHeadPosition(), t, self);
           },
           "The first position, None for an empty track.")
        .def(
            "GetTailPosition",
            [](py::object self) {
                const CMidiTrack& t = self.cast<const CMidiTrack&>();
                return Position(t.GetTailPosition(), t, self);
            },
            "The last position, None for an empty track.")
        .def(
            "GetNextEvent",
            [](py::object self, const PyPosition& pos) {
                const CMidiTrack& t = self.cast<const CMidiTrack&>();
                POSITION p = Node(t, pos);
                PyEvent ev = PyEvent::From(t.GetNextEvent(p));
                return py::make_tuple(ev, Position(p, t, self));
            },
            py::arg("pos"),
            "(event, next position): a copy of the event at pos and the position after it "
            "(None at the end).")
        .def(
            "GetAt",
            [](const CMidiTrack& t, const PyPosition& pos) {
                return PyEvent::From(t.GetAt(Node(t, pos)));
            },
            py::arg("pos"), "A copy of the event at pos.")
        .def(
            "FindIndex",
            [](py::object self, int index) {
                const CMidiTrack& t = self.cast<const CMidiTrack&>();
                return Position(t.FindIndex(index), t, self);
            },
            py::arg("nIndex"), "The position at an index of the list, None outside it.")
        .def("RemoveAllPt", &RemoveAllEvents,
             "Empties the list; positions and iterators taken before are refused from then on.")
        .def(
            "SetMidiTrackRawData",
            [](CMidiTrack& t, const py::bytes& data) {
                std::string s = data;
                if (s.size() > static_cast<size_t>(INT32_MAX))
                    throw py::value_error("track data beyond 2 GiB");
                if (!s.empty()) ++Releases()[&t];  // the decoder empties the list first
                return t.SetMidiTrackRawData(reinterpret_cast<const uint8_t*>(s.data()),
                                             static_cast<int32_t>(s.size()));
            },
            py::arg("data"), "Decodes track chunk data bytes into events: 1, or 0 on failure.")
        .def(
            "GetMidiTrackRawData",
            [](CMidiTrack& t) -> py::object {
                const uint32_t size = t.GetEncodedSize();
                if (size > static_cast<uint32_t>(INT32_MAX)) return py::none();
                std::string buffer(std::max<uint32_t>(size, 1), '\0');
                uint8_t* p = reinterpret_cast<uint8_t*>(&buffer[0]);
                int32_t length = static_cast<int32_t>(buffer.size());
                if (t.GetMidiTrackRawData(p, length) != 1) return py::none();
                return py::bytes(buffer.data(), static_cast<size_t>(length));
            },
            "The track chunk data bytes of the events, or None when they cannot be encoded.")
        .def("GetEncodedSize", &CMidiTrack::GetEncodedSize);
}

// Changing the list.
void BindTrackEditing(TrackClass& cls) {
    cls.def(
           "InsertEventAfter",
           [](py::object self, py::object pos, PyEvent event) {
               CMidiTrack& t = self.cast<CMidiTrack&>();
               POSITION after = pos.is_none() ? nullptr : Node(t, pos.cast<const PyPosition&>());
               const MIDIEvent raw = event.Raw();
               return Position(t.InsertEventAfter(after, raw), t, self);
           },
           py::arg("pos"), py::arg("event"),
           "Inserts a copy of event after pos (None appends); its position, or None.")
        .def(
            "DeleteEvent",
            [](CMidiTrack& t, const PyPosition& pos) { return t.DeleteEvent(Node(t, pos)); },
            py::arg("pos"), "1 deleted, 0 not (the position is invalid afterwards).")
        .def(
            "GetEvent",
            [](const CMidiTrack& t, int32_t time, uint16_t type) -> py::object {
                MIDIEvent ev{};
                if (t.GetEvent(time, type, &ev) != 1) return py::none();
                return py::cast(PyEvent::From(ev));
            },
            py::arg("lTime"), py::arg("wType") = 0, "The first event at lTime, or None.")
        .def(
            "SortTrackByLTime",
            [](CMidiTrack& t) {
                int32_t end = 0;
                const int result = t.SortTrackByLTime(&end);
                return py::make_tuple(result, end);
            },
            "Stable sort by lTime, rebuilding the delta times: (result, last time).")
        .def(
            "GetNextNoteOff",
            [](CMidiTrack& t, const PyPosition& pos) -> py::object {
                MIDIEvent off{};
                if (t.GetNextNoteOff(Node(t, pos), off) != 1) return py::none();
                return py::cast(PyEvent::From(off));
            },
            py::arg("pos"), "The note end paired with the note-on at pos (marked), or None.")
        .def("ClearPairingMarks", &CMidiTrack::ClearPairingMarks)
        .def("Convert2MSecond", &CMidiTrack::Convert2MSecond,
             "Every lTime becomes milliseconds through the attached tempo map.");
}

void BindTrack(py::module_& core) {
    py::class_<TrackIterator>(core, "_TrackIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &TrackIterator::Next);
    TrackClass cls(core, "CMidiTrack",
                   "One track: a list of decoded events walked with a POSITION.");
    BindTrackObject(cls);
    BindTrackPositions(cls);
    BindTrackEditing(cls);
}

void BindTempo(py::module_& core) {
    py::class_<CMidiTempo>(core, "CMidiTempo",
                           "The tempo map: ticks per quarter note, signatures, tempo changes and "
                           "the conversion between ticks and whole milliseconds.")
        .def(py::init<>())
        .def(py::init<const CMidiTempo&>(), py::arg("other"))
        .def("SetTicksPerQuarterNote", &CMidiTempo::SetTicksPerQuarterNote, py::arg("nTicks"))
        .def("GetTicksPerQuarterNote", &CMidiTempo::GetTicksPerQuarterNote)
        .def("SetBar", &CMidiTempo::SetBar, py::arg("bar"))
        .def("GetBar", &CMidiTempo::GetBar)
        .def("SetKeySignature", &CMidiTempo::SetKeySignature, py::arg("key"))
        .def("GetKeySignature", &CMidiTempo::GetKeySignature)
        .def(
            "SetTempo",
            [](CMidiTempo& t, _TEMPO& tempo) {
                t.SetTempo(tempo);
                return tempo;
            },
            py::arg("tempo"), "Fills tempo.nBPM and inserts a copy in tick order; returns tempo.")
        .def("ReCalculateTempolst", &CMidiTempo::ReCalculateTempolst)
        .def(
            "GetTempos", [](const CMidiTempo& t) { return t.GetTempos(); },
            "A copy of the tempo list.")
        .def("GetTempoIdxByTicks", &CMidiTempo::GetTempoIdxByTicks, py::arg("lTicks"))
        .def("GetTempoIdxByMs", &CMidiTempo::GetTempoIdxByMs, py::arg("lMsecs"))
        .def("TicksToMsecs", &CMidiTempo::TicksToMsecs, py::arg("lTicks"))
        .def("MsecsToTicks", &CMidiTempo::MsecsToTicks, py::arg("lMsecs"))
        .def(
            "SetMessageSink",
            [](CMidiTempo& t, py::object sink) {
                if (sink.is_none())
                    t.SetMessageSink(DefaultMessageSink());
                else
                    t.SetMessageSink(sink.cast<MessageSink>());
            },
            py::arg("sink"), "Where messages go: a callable taking the text, None for stderr.");
}

using Song = CMidiFolio;
using FolioClass = py::class_<Song, std::shared_ptr<Song>>;

// The song itself: its tracks, header, tempo map, and the conversions between bpm and
// microseconds per quarter note.
void BindFolioObject(FolioClass& cls) {
    cls.def(py::init<>())
        .def("GetTrack", &Song::GetTrack, py::arg("nIndex"),
             py::return_value_policy::reference_internal,
             "The track at an index (it keeps the song alive), None outside the list.")
        .def("GetTrackNum", &Song::GetTrackNum)
        .def(
            "CreateTrack", [](Song& s) { return std::unique_ptr<CMidiTrack>(s.CreateTrack()); },
            "A new, empty track (not in the list).")
        .def(
            "AddTrack", [](Song& s, const CMidiTrack& t) { return s.AddTrack(new CMidiTrack(t)); },
            py::arg("track"),
            "Appends a copy of the track (the song owns the copy; GetTrack returns it); its "
            "index.")
        .def(
            "InsertTrack",
            [](Song& s, const CMidiTrack& t, int index, int before) {
                auto copy = std::make_unique<CMidiTrack>(t);
                const int result = s.InsertTrack(copy.get(), index, before);
                if (result >= 0) copy.release();
                return result;
            },
            py::arg("track"), py::arg("nIndex"), py::arg("bBefore"),
            "Inserts a copy of the track before or after an index; its index, or -1.")
        .def("RemoveTrkAll", &RemoveAllTracks,
             "Removes every track; handles of them still held raise from then on.")
        .def(
            "SetMidiHeaderinfo",
            [](Song& s, const _MIDIHEAD& h) { return s.SetMidiHeaderinfo(&h); }, py::arg("head"))
        .def("GetMidiHeaderInfo", &Song::GetMidiHeaderInfo)
        .def("IsModified", &Song::IsModified)
        .def("SetModifiedFlag", &Song::SetModifiedFlag, py::arg("bModified"))
        .def(
            "GetMidiPath", [](const Song& s) { return py::bytes(s.GetMidiPath()); },
            "The path of the last load, as bytes in the file system's encoding.")
        .def("GetMidiTempo", &Song::GetMidiTempo, py::return_value_policy::reference_internal)
        .def(
            "SetMidiTempo", [](Song& s, CMidiTempo& t) { s.SetMidiTempo(&t); }, py::arg("tempo"))
        .def_static(
            "BpmToUsPB",
            [](int value) -> py::object {
                int result = 0;
                if (value == 0) return py::none();
                Song::BpmToUsPB(value, &result);
                return py::int_(result);
            },
            py::arg("nValue"), "60000000 / nValue, None for 0.")
        .def_static(
            "UsPBToBpm",
            [](int value) -> py::object {
                int result = 0;
                if (value == 0) return py::none();
                Song::UsPBToBpm(value, &result);
                return py::int_(result);
            },
            py::arg("nValue"), "60000000 / nValue, None for 0.");
}

// Loading and storing files, and the messages about them.
void BindFolioFiles(FolioClass& cls) {
    cls.def(
           "SetMessageSink",
           [](Song& s, py::object sink) {
               if (sink.is_none())
                   s.SetMessageSink(DefaultMessageSink());
               else
                   s.SetMessageSink(sink.cast<MessageSink>());
           },
           py::arg("sink"), "Where messages go: a callable taking the text, None for stderr.")
        .def(
            "LoadMidiFile",
            [](Song& s, py::object path, py::object progress) {
                const std::string p = PathArg(path);
                PyProgress observer(progress);
                int result;
                {
                    py::gil_scoped_release release;
                    result = s.LoadMidiFile(p, observer.get());
                }
                observer.Rethrow();
                return result;
            },
            py::arg("strPath"), py::arg("progress") = py::none(),
            "Reads a file and appends its tracks: 1, or 0 with one message to the sink. "
            "progress: None or an object with SetRange(lower, upper) and SetPos(pos).")
        .def(
            "IsLoaderTempo",
            [](const Song& s, const CMidiTrack& t, const PyPosition& pos) {
                return s.IsLoaderTempo(&t, Node(t, pos));
            },
            py::arg("track"), py::arg("pos"))
        .def("RemoveLoaderTempo", &Song::RemoveLoaderTempo)
        .def(
            "StoreMidiFile",
            [](Song& s, py::object path, py::object progress) {
                const std::string p = PathArg(path);
                PyProgress observer(progress);
                int result;
                {
                    py::gil_scoped_release release;
                    result = s.StoreMidiFile(p, observer.get());
                }
                observer.Rethrow();
                return result;
            },
            py::arg("strPath"), py::arg("progress") = py::none(),
            "Writes the song: 1, or 0 with GetStoreError() telling why.")
        .def("GetStoreError", &Song::GetStoreError);
}

// Converting times and selecting events by time, measure, track, channel and type.
void BindFolioSelection(FolioClass& cls) {
    cls.def(
           "ConvertMIDITime",
           [](Song& s, _MIDI_TIME& t, TIME_FORMAT target) {
               s.ConvertMIDITime(&t, target);
               return t;
           },
           py::arg("time"), py::arg("target"), "Converts time in place; returns it.")
        .def("GetBaseBarNum", &Song::GetBaseBarNum)
        .def("GetBaseNoteNum", &Song::GetBaseNoteNum)
        .def("ConvertTime2MS", &Song::ConvertTime2MS)
        .def(
            "GetMIDIByTime",
            [](Song& s, TIME_FORMAT format, _MIDI_TIME from, _MIDI_TIME to) {
                MidiEventList list;
                s.GetMIDIByTime(format, from, to, list);
                return QueryList(list);
            },
            py::arg("format"), py::arg("from_"), py::arg("to"))
        .def(
            "GetMIDIByMeasure",
            [](Song& s, int first, int last) {
                MidiEventList list;
                s.GetMIDIByMeasure(first, last, list);
                return QueryList(list);
            },
            py::arg("nFirst"), py::arg("nLast"))
        .def(
            "GetMIDIByTrack",
            [](Song& s, int first, int last) {
                MidiEventList list;
                s.GetMIDIByTrack(first, last, list);
                return QueryList(list);
            },
            py::arg("nFirst"), py::arg("nLast"))
        .def(
            "GetMIDIByChannel",
            [](Song& s, int channel) {
                MidiEventList list;
                s.GetMIDIByChannel(channel, list);
                return QueryList(list);
            },
            py::arg("nChannel"))
        .def(
            "GetMIDIByType",
            [](Song& s, uint32_t mask, TIME_FORMAT format) {
                MidiEventList list;
                s.GetMIDIByType(mask, format, list);
                return QueryList(list);
            },
            py::arg("dwMask"), py::arg("format"))
        .def(
            "MakeEventList", [](Song& s) { return QueryList(s.MakeEventList()); },
            "Rebuilds the song-wide event list; a copy of it.")
        .def("FreeEventList", &Song::FreeEventList)
        .def(
            "GetTotalEventList",
            [](Song& s) {
                MidiEventList* list = nullptr;
                s.GetTotalEventList(&list);
                return list == nullptr ? py::list() : QueryList(*list);
            },
            "A copy of the song-wide event list.");
}

// The lookups of playback in the song-wide event list.
void BindFolioPlayback(FolioClass& cls) {
    cls.def(
           "FindMidiEventByTime",
           [](Song& s, _MIDI_TIME time) {
               MIDI_Event* rec = nullptr;
               const int index = s.FindMidiEventByTime(time, rec);
               return py::make_tuple(index, QueryRecord(rec));
           },
           py::arg("time"), "(index, record) of the first event at or after the time.")
        .def(
            "FindPlayNoteOff",
            [](Song& s, int index) {
                int sustain = 0;
                const MIDI_Event* rec = s.FindPlayNoteOff(index, sustain);
                return py::make_tuple(QueryRecord(rec), sustain);
            },
            py::arg("nEventIndex"), "(note end record or None, sustain flag).")
        .def(
            "FindNextControl",
            [](Song& s, int index, uint8_t control, int32_t value) {
                return QueryRecord(s.FindNextControl(index, control, value));
            },
            py::arg("nEventIndex"), py::arg("byControl"), py::arg("lValue"))
        .def(
            "FindNextPitchBend",
            [](Song& s, int index, py::object stop) {
                const MIDI_Event* pStop = nullptr;
                if (!stop.is_none()) {
                    MidiEventList* list = nullptr;
                    s.GetTotalEventList(&list);
                    const long k = stop.cast<long>();
                    if (list != nullptr && k >= 0 && static_cast<size_t>(k) < list->size())
                        pStop = &(*list)[static_cast<size_t>(k)];
                }
                return QueryRecord(s.FindNextPitchBend(index, pStop));
            },
            py::arg("nEventIndex"), py::arg("stop") = py::none(),
            "stop: the index of the record to stop at in the song-wide list, or None.")
        .def(
            "FindNextPadel",
            [](Song& s, int index, int down) { return QueryRecord(s.FindNextPadel(index, down)); },
            py::arg("nEventIndex"), py::arg("bDown"))
        .def(
            "FindEndOfTrack",
            [](Song& s, int index) { return QueryRecord(s.FindEndOfTrack(index)); },
            py::arg("nEventIndex"));
}

// Channels, instruments, drums and voice conflicts.
void BindFolioAnalysis(FolioClass& cls) {
    cls.def("GetTotalChannels", &Song::GetTotalChannels)
        .def(
            "GetChannels",
            [](Song& s) {
                uint8_t channels[16] = {};
                s.GetChannels(channels);
                return std::vector<int>(channels, channels + 16);
            },
            "The library's 16 channel bytes.")
        .def("GetChAndInstrument",
             [](Song& s) {
                 _CH_INSTR r{};
                 s.GetChAndInstrument(&r);
                 return r;
             })
        .def(
            "GetInstIndexArrayByChannel",
            [](Song& s, int channel) {
                WordArray a;
                s.GetInstIndexArrayByChannel(channel, a);
                return a;
            },
            py::arg("nChannel"))
        .def(
            "GetInstrumentByTrack",
            [](Song& s, int track, int reserved) {
                InstrumentArray a;
                const _INSTRUMENT first = s.GetInstrumentByTrack(track, a, reserved);
                return py::make_tuple(first, a);
            },
            py::arg("nTrack"), py::arg("nReserved") = 0, "(first instrument, all of them).")
        .def(
            "GetInstruments",
            [](Song& s, int clear) {
                InstrumentArray a;
                s.GetInstruments(a, clear);
                return a;
            },
            py::arg("bClear") = 1)
        .def(
            "GetInstrumentByChannel",
            [](Song& s, int channel) {
                InstrumentArray a;
                s.GetInstrumentByChannel(channel, a);
                return a;
            },
            py::arg("nChannel"))
        .def(
            "GetInstrument",
            [](Song& s) {
                InstrumentArray a;
                s.GetInstrument(a);
                return a;
            },
            "Melodic instruments of every channel but 10.")
        .def(
            "GetDrums",
            [](Song& s, int clear) {
                DrumArray a;
                s.GetDrums(a, clear);
                return a;
            },
            py::arg("bClear") = 1)
        .def("GetDrumPitch", &Song::GetDrumPitch)
        .def("SetIsValidatePercussion", &Song::SetIsValidatePercussion)
        .def("GetIsValidatePercussion", &Song::GetIsValidatePercussion)
        .def("GetIsPercussionInRange", &Song::GetIsPercussionInRange)
        .def(
            "CheckMidiByVoice",
            [](Song& s, int voices) {
                ConflictVoiceArray a;
                s.CheckMidiByVoice(voices, &a);
                return a;
            },
            py::arg("nVoices"), "Moments at which more notes sound than nVoices.");
}

// Names of programs, drums, controllers and pitches.
void BindFolioVocabulary(FolioClass& cls) {
    cls.def_static("GetInstName", &Song::GetInstName, py::arg("nProgram"))
        .def_static("GetDrumName", &Song::GetDrumName, py::arg("nNote"))
        .def_static(
            "GetContrlMsg",
            [](int control) {
                if (control < 0 || control > 255) throw py::value_error("controller beyond 0..255");
                return Song::GetContrlMsg(static_cast<uint8_t>(control));
            },
            py::arg("byControl"))
        .def_static(
            "GetPitchInfo",
            [](int32_t note) -> py::object {
                tagNoteMap m{};
                if (Song::GetPitchInfo(note, &m) != 1) return py::none();
                return py::cast(m);
            },
            py::arg("nNote"), "The pitch of a note number, None when refused.")
        .def_static(
            "GetPitchInfo",
            [](double hz) -> py::object {
                tagNoteMap m{};
                if (Song::GetPitchInfo(hz, &m) != 1) return py::none();
                return py::cast(m);
            },
            py::arg("dFrequency"), "The pitch nearest a frequency, None when refused.")
        .def_static(
            "GetPitchInfo",
            [](const std::string& name) -> py::object {
                tagNoteMap m{};
                if (Song::GetPitchInfo(name, &m) != 1) return py::none();
                return py::cast(m);
            },
            py::arg("strName"), "The pitch of a name such as 'C#5', None when refused.")
        .def_static("GetEasySymbol", &Song::GetEasySymbol, py::arg("nNote"))
        .def("GetNoteUsage", &Song::GetNoteUsage, py::arg("nRow"), py::arg("nNote"));
}

void BindFolio(py::module_& core) {
    FolioClass cls(
        core, "CMidiFolio",
        "The song: loads and stores Standard MIDI Files, owns the tracks and the tempo map, and "
        "answers the library's time, selection, analysis and vocabulary questions. Like the "
        "library's song, one thread at a time; tracks and positions taken from it are invalid "
        "once it removes them (RemoveTrkAll).");
    BindFolioObject(cls);
    BindFolioFiles(cls);
    BindFolioSelection(cls);
    BindFolioPlayback(cls);
    BindFolioAnalysis(cls);
    BindFolioVocabulary(cls);
}

void BindConstants(py::module_& core) {
    core.attr("EVT_NOTEON") = EVT_NOTEON;
    core.attr("EVT_NOTEOFF") = EVT_NOTEOFF;
    core.attr("EVT_KEYPRESSURE") = EVT_KEYPRESSURE;
    core.attr("EVT_CONTROL") = EVT_CONTROL;
    core.attr("EVT_PROGRAM") = EVT_PROGRAM;
    core.attr("EVT_CHANPRESSURE") = EVT_CHANPRESSURE;
    core.attr("EVT_PITCHBEND") = EVT_PITCHBEND;
    core.attr("EVT_SYSEX") = EVT_SYSEX;
    core.attr("EVT_META") = EVT_META;
    core.attr("EVT_SYSCOMMON") = EVT_SYSCOMMON;
    core.attr("EVT_REALTIME") = EVT_REALTIME;
    core.attr("EVT_SYSEXESC") = EVT_SYSEXESC;
    core.attr("META_SEQUENCE_NUMBER") = META_SEQUENCE_NUMBER;
    core.attr("META_TEXT") = META_TEXT;
    core.attr("META_COPYRIGHT") = META_COPYRIGHT;
    core.attr("META_TRACK_NAME") = META_TRACK_NAME;
    core.attr("META_INSTRUMENT_NAME") = META_INSTRUMENT_NAME;
    core.attr("META_LYRIC") = META_LYRIC;
    core.attr("META_MARKER") = META_MARKER;
    core.attr("META_CUE_POINT") = META_CUE_POINT;
    core.attr("META_CHANNEL_PREFIX") = META_CHANNEL_PREFIX;
    core.attr("META_PORT") = META_PORT;
    core.attr("META_END_OF_TRACK") = META_END_OF_TRACK;
    core.attr("META_TEMPO") = META_TEMPO;
    core.attr("META_SMPTE_OFFSET") = META_SMPTE_OFFSET;
    core.attr("META_TIME_SIGNATURE") = META_TIME_SIGNATURE;
    core.attr("META_KEY_SIGNATURE") = META_KEY_SIGNATURE;
    core.attr("META_SEQUENCER_SPECIFIC") = META_SEQUENCER_SPECIFIC;
    core.attr("PERCUSSION_CHANNEL") = PERCUSSION_CHANNEL;
    core.attr("CONTROL_BANK_SELECT_LSB") = CONTROL_BANK_SELECT_LSB;
    core.attr("CONTROL_SUSTAIN_PEDAL") = CONTROL_SUSTAIN_PEDAL;
    core.attr("GM_DRUM_FIRST") = GM_DRUM_FIRST;
    core.attr("GM_DRUM_LAST") = GM_DRUM_LAST;
    core.attr("PAIRING_MARK") = PAIRING_MARK;
    core.attr("NOTE_USAGE_ROWS") = NOTE_USAGE_ROWS;
    core.attr("NOTE_USAGE_PERCUSSION_ROW") = NOTE_USAGE_PERCUSSION_ROW;
    core.attr("TEMPO_TABLE_SIZE") = TEMPO_TABLE_SIZE;
    core.def(
        "OwnsPayload", [](uint32_t type) { return OwnsPayload(type); }, py::arg("dwType"),
        "True for the kinds that carry a payload (meta, sysex, escaped sysex).");
    core.def(
        "GetVersion", []() { return std::string(GetVersion()); },
        "The library's version, 'MAJOR.MINOR.PATCH'.");
}

}  // namespace

void BindCore(py::module_& core) {
    core.doc() =
        "The library's own interface: CMidiFolio, CMidiTrack, CMidiTempo, MIDIEvent and the "
        "records and constants, with the library's names and rules.";
    BindConstants(core);
    BindRecords(core);
    BindTrack(core);
    BindTempo(core);
    BindFolio(core);
}

}  // namespace mfpy
