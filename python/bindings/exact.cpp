// The handle behind midifolio.Song: reading a song (from a path or bytes), its notes and
// events as numpy arrays, the library's own classes, and its bytes. Its other views are in
// views.cpp, its edits in edits.cpp.
#include <pybind11/stl.h>

#include <cstring>

#include "song_handle.h"

namespace mfpy {

using namespace midifolio;

bool Finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

namespace {

// The result of a reading: the handle, or (status, message, cause, errno).
py::object Outcome(score::Song song, const score::ReadReport& report) {
    if (!report.ok())
        return py::make_tuple(static_cast<int>(report.status), report.message, report.cause,
                              report.status == score::ReadStatus::kCannotOpen ? report.error : 0);
    Handle h = std::make_shared<SongHandle>(std::move(song));
    for (const score::ReadIssue& w : report.warnings) h->messages.push_back(w.text);
    for (const score::ReadIssue& d : report.dropped) h->messages.push_back("left out: " + d.text);
    return py::cast(std::move(h));
}

score::ReadOptions Options(bool recover, uint64_t maxMemory) {
    score::ReadOptions o;
    o.recover = recover;
    o.max_memory = maxMemory;
    return o;
}

py::object ReadPath(const py::bytes& path, bool recover, uint64_t maxMemory) {
    const std::string p = path;
    if (p.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    score::ReadReport report;
    score::Song song;
    {
        py::gil_scoped_release release;
        song = score::Song::Load(p, Options(recover, maxMemory), report);
    }
    return Outcome(std::move(song), report);
}

// Bytes of a C-contiguous buffer (bytes, bytearray, a memoryview of them).
py::object ReadBytes(const py::buffer& data, bool recover, uint64_t maxMemory) {
    const py::buffer_info info = data.request();
    const size_t size = static_cast<size_t>(info.size) * static_cast<size_t>(info.itemsize);
    if (maxMemory != 0 && size > maxMemory)
        return py::make_tuple(
            static_cast<int>(score::ReadStatus::kTooLarge), std::string("too large"),
            "the data holds " + std::to_string(size) + " bytes, more than the memory budget allows",
            0);
    const auto* p = static_cast<const uint8_t*>(info.ptr);
    std::vector<uint8_t> bytes(p, p + size);
    score::ReadReport report;
    score::Song song;
    {
        py::gil_scoped_release release;
        song = score::Song::FromBytes(std::move(bytes), Options(recover, maxMemory), report);
    }
    return Outcome(std::move(song), report);
}

py::array Notes(SongHandle& h, bool sustain) {
    std::shared_ptr<const score::Score> view = h.View();
    if (!sustain) return ViewOf(view->notes().data(), view->notes().size(), view);
    auto notes = std::make_shared<std::vector<score::Note>>();
    {
        py::gil_scoped_release release;
        *notes = view->sustained_notes();
    }
    return ViewOf(notes->data(), notes->size(), notes);
}

// The events' dtype with a further object field, payload, after the 40 bytes of a record.
constexpr size_t kPayloadItem = sizeof(score::EventRecord) + sizeof(PyObject*);
py::dtype PayloadDtype() {
    py::dtype rows = py::dtype::of<score::EventRecord>();
    py::list names, formats, offsets;
    for (py::handle name : rows.attr("names")) {
        py::tuple field = rows.attr("fields")[name];
        names.append(name);
        formats.append(field[0]);
        offsets.append(field[1]);
    }
    names.append("payload");
    formats.append(py::dtype("O"));
    offsets.append(sizeof(score::EventRecord));
    py::dict layout;
    layout["names"] = names;
    layout["formats"] = formats;
    layout["offsets"] = offsets;
    layout["itemsize"] = kPayloadItem;
    return py::dtype::from_args(layout);
}

// Every event, track after track, written in place into a new array (with seconds).
py::array Events(SongHandle& h, bool payload) {
    std::shared_ptr<const score::Score> view = h.View();
    const size_t n = static_cast<size_t>(view->event_count());
    py::array_t<score::EventRecord> rows(static_cast<py::ssize_t>(n));
    score::EventRecord* out = rows.mutable_data();
    {
        py::gil_scoped_release release;
        if (n != 0) view->events(out);
    }
    if (!payload) return std::move(rows);
    // The records followed by an object field: None, or the payload's bytes.
    py::array with(PayloadDtype(), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n)});
    char* base = static_cast<char*>(with.mutable_data());
    const uint8_t* bytes = view->song().bytes().data();
    for (size_t i = 0; i < n; ++i) {
        char* item = base + i * kPayloadItem;
        std::memcpy(item, &out[i], sizeof(score::EventRecord));
        PyObject** slot = reinterpret_cast<PyObject**>(item + sizeof(score::EventRecord));
        Py_XDECREF(*slot);
        const uint8_t s = out[i].status;
        if (s == 0xFF || s == 0xF0 || s == 0xF7) {
            *slot = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes + out[i].offset),
                                              static_cast<py::ssize_t>(out[i].length));
            if (*slot == nullptr) throw py::error_already_set();
        } else {
            Py_INCREF(Py_None);
            *slot = Py_None;
        }
    }
    return with;
}

// The bytes a save writes (the song's own, or made for it), alive as long as the object.
struct SavedBytes {
    std::vector<uint8_t> made;
    std::shared_ptr<const score::Score> own;  // holds the song's own bytes, when they are
    explicit SavedBytes(SongHandle& h) {
        std::string error;
        made = h.Bytes(error, own);
        if (!error.empty()) throw py::value_error("the song cannot be written validly: " + error);
    }
    const std::vector<uint8_t>& bytes() const { return own ? own->song().bytes() : made; }
};

py::bytes Dumps(SongHandle& h) {
    const SavedBytes saved(h);
    return py::bytes(reinterpret_cast<const char*>(saved.bytes().data()), saved.bytes().size());
}

// Saves the song atomically: 0, or the errno value of the failure.
int Save(SongHandle& h, const py::bytes& path) {
    const std::string p = path;
    if (p.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    const SavedBytes saved(h);
    py::gil_scoped_release release;
    return WriteWholeFile(p, saved.bytes().data(), saved.bytes().size());
}

py::tuple Header(SongHandle& h) {
    const score::Song& song = h.Song();
    return py::make_tuple(song.format(), song.tracks().size(), song.division().word);
}

}  // namespace

void BindExact(py::module_& m) {
    // The two table layouts, field by field with their offsets (the reserved bytes are left
    // out): numpy's structured dtypes of the arrays below.
    PYBIND11_NUMPY_DTYPE(score::Note, track, channel, program, pitch, velocity, start_tick,
                         end_tick, start, end);
    PYBIND11_NUMPY_DTYPE(score::EventRecord, tick, seconds, track, kind, channel, status, data1,
                         data2, meta, port, length);

    HandleClass cls(m, "_SongHandle", "A song and its exact view (the engine of midifolio.Song).");
    cls.def_readonly("messages", &SongHandle::messages, "What reading found worth telling.")
        .def_property_readonly("core", &SongHandle::Core,
                               "The library's song object (midifolio.core.CMidiFolio).")
        .def("refresh", &SongHandle::Refresh, "Makes the view again from the library's classes.")
        .def("save", &Save, py::arg("path"), "Writes the song: 0, or the errno value.")
        .def("dumps", &Dumps, "The song's bytes as a valid Standard MIDI File.")
        .def("notes", &Notes, py::arg("sustain"), "A read-only structured array of the notes.")
        .def("events", &Events, py::arg("payload"), "The events, with a payload field when asked.")
        .def("header", &Header, "(format, tracks, division word)");
    BindViews(cls);
    BindEdits(m, cls);

    m.def("read_path", &ReadPath, py::arg("path"), py::arg("recover"), py::arg("max_memory"),
          "Reads a file with the GIL released: the handle, or (status, message, cause, errno).");
    m.def("read_bytes", &ReadBytes, py::arg("data"), py::arg("recover"), py::arg("max_memory"),
          "Reads bytes likewise.");
    m.attr("NOTE_DTYPE") = py::dtype::of<score::Note>();
    m.attr("EVENT_DTYPE") = py::dtype::of<score::EventRecord>();
    m.attr("EVENT_PAYLOAD_DTYPE") = PayloadDtype();
}

}  // namespace mfpy
