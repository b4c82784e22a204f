// The handle behind midifolio.Song, shared by the binding's files. Private to the bindings.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bindings.h"

namespace mfpy {

bool Finalizing();

// A song and its view. The view is immutable; a mutex, held for pointer copies only, guards
// the pointers (refresh() replaces them). The library's own classes, which write working state
// into themselves, are used under the song's mutex with the GIL released.
class SongHandle {
  public:
    explicit SongHandle(midifolio::score::Song song)
        : m_view(std::make_shared<const midifolio::score::Score>(std::move(song))) {}
    SongHandle(const SongHandle&) = delete;
    SongHandle& operator=(const SongHandle&) = delete;
    // Releasing a big song takes a while: done without the GIL.
    ~SongHandle() {
        if (PyGILState_Check() && !Finalizing()) {
            py::gil_scoped_release release;
            m_view.reset();
            m_core.reset();
        }
    }

    std::shared_ptr<const midifolio::score::Score> View() {
        std::lock_guard<std::mutex> lock(m_viewMutex);
        return m_view;
    }
    const midifolio::score::Song& Song() { return View()->song(); }
    std::vector<std::string> messages;  // what reading found worth telling

    // The library's classes over the song's bytes, built on first use; a RuntimeError when
    // its loader refuses them, or when the song's ticks pass what a MIDIEvent's 32-bit lTime
    // holds (its loader would wrap them round).
    std::shared_ptr<midifolio::CMidiFolio> Core() {
        std::string refusal;
        {
            py::gil_scoped_release release;
            std::lock_guard<std::mutex> lock(m_coreMutex);
            const int64_t endTick = View()->end_tick();
            if (!m_core && endTick > INT32_MAX) {
                refusal = "its ticks count in 32 bits, and this song's last event stands at tick " +
                          std::to_string(endTick);
            } else if (!m_core) {
                auto core = std::make_shared<midifolio::CMidiFolio>();
                core->SetMessageSink([&refusal](const std::string& text) { refusal = text; });
                const int ok = View()->song().BuildCore(*core);
                core->SetMessageSink(midifolio::DefaultMessageSink());
                if (ok == 1) {
                    m_core = core;
                } else {
                    const midifolio::LoadReport report = core->GetLoadReport();
                    refusal += report.cause.empty() ? "" : " (" + report.cause + ")";
                }
            }
            if (m_core) return m_core;
        }
        throw std::runtime_error("the library's own classes cannot hold this song: " + refusal);
    }
    // The view made again from the library's classes, after a change through them.
    void Refresh() {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(m_coreMutex);
        if (!m_core) return;
        midifolio::score::ReadReport report;
        midifolio::score::Song song =
            midifolio::score::Song::FromSequence(midifolio::score::SequenceOf(*m_core), report);
        if (!report.ok()) {
            py::gil_scoped_acquire gil;
            throw py::value_error("the song as changed cannot be written validly: " +
                                  report.Text());
        }
        auto view = std::make_shared<const midifolio::score::Score>(std::move(song));
        std::lock_guard<std::mutex> viewLock(m_viewMutex);
        m_view = std::move(view);
    }
    // The bytes a save writes: the library's classes as changed, or the song's own.
    // When they are the song's bytes as read, `own` gets the view that holds them instead (no
    // copy is made; the bytes returned are empty).
    std::vector<uint8_t> Bytes(std::string& error,
                               std::shared_ptr<const midifolio::score::Score>& own) {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(m_coreMutex);
        if (m_core) return midifolio::score::Encode(midifolio::score::SequenceOf(*m_core), &error);
        std::shared_ptr<const midifolio::score::Score> view = View();
        if (view->song().SavesAsRead()) {
            own = std::move(view);
            return {};
        }
        return view->song().Save(&error);
    }

    // Held while the library's classes work (they write working state into themselves).
    std::mutex& CoreMutex() { return m_coreMutex; }

  private:
    std::mutex m_viewMutex;
    std::mutex m_coreMutex;
    std::shared_ptr<const midifolio::score::Score> m_view;
    std::shared_ptr<midifolio::CMidiFolio> m_core;
};

using Handle = std::shared_ptr<SongHandle>;

// A read-only numpy array viewing records that `owner` keeps alive.
template <class Record, class Owner>
py::array ViewOf(const Record* data, size_t n, std::shared_ptr<Owner> owner) {
    auto* keep = new std::shared_ptr<Owner>(std::move(owner));
    py::capsule base(keep, [](void* p) { delete static_cast<std::shared_ptr<Owner>*>(p); });
    py::array_t<Record> out({static_cast<py::ssize_t>(n)},
                            {static_cast<py::ssize_t>(sizeof(Record))}, data, base);
    out.attr("setflags")(py::arg("write") = false);
    return std::move(out);
}

using HandleClass = py::class_<SongHandle, Handle>;
void BindViews(HandleClass& cls);
void BindEdits(py::module_& m, HandleClass& cls);

}  // namespace mfpy
