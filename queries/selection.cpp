// Song-wide event selection: events of the tracks copied into caller-owned result lists by
// time range, measure range, track range, channel and type, sorted by event time; the song's
// own event list and its search by time.
//
// Every query counts its selection first and reserves the result list once, and builds the
// list in its final order where the tracks allow it (queries/event_merge.h). The time query
// pairs note-ons with their note ends through the track's pairing pass
// (track/note_pairing.h), which leaves the pairing marks GetNextNoteOff would.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "midifolio/midi_folio.h"
#include "platform/no_memory.h"
#include "platform/prefetch.h"
#include "queries/event_merge.h"
#include "queries/time_convert.h"
#include "tempo/tempo_cursor.h"
#include "track/note_pairing.h"

MIDIFOLIO_BEGIN_NAMESPACE

using queries_detail::CollectRuns;
using queries_detail::Run;
using queries_detail::RunBuilder;
using queries_detail::VisitSelected;

namespace {

// Appends the record of a track's event, written in place: a record put together on the
// stack and copied whole would be read back before its small stores reach the cache.
MIDI_Event& AppendRecord(MidiEventList& list, int nTrack, const MIDIEvent& ev) {
    MIDI_Event& rec = list.emplace_back();  // zeroed, padding and the time's union included
    rec.wTrack = static_cast<uint16_t>(nTrack);
    rec.time.format = TF_TICK;
    rec.time.lTicks = ev.lTime;
    rec.event = ev;
    return rec;
}

// The length a sounding note-on gets in a time query (when its partner was found).
struct NoteLength {
    uint32_t dwLength;
    bool bPaired;
};

// Number of tracks a song-wide query visits: 0..nTracks-1, of those that exist.
int QueryTrackCount(int32_t nTracks, long nListed) {
    return static_cast<int>(std::max<long>(0, std::min<long>(nTracks, nListed)));
}

// The events of a time range, with the length of every selected sounding note-on.
template <class Selected>
class TimeSelection {
  public:
    TimeSelection(const Selected& selected, const CMidiTempo& tempo)
        : selected_(selected), tempo_(tempo) {}

    // First pass, per track: count the selection, check the time order, and pair every
    // sounding note-on (selected or not) with its note end, marking the partners. Marks left
    // by earlier queries (or by the host) would leave notes unpaired: every query pairs
    // afresh, so repeated queries give the same note lengths.
    void AddTrack(int i, CMidiTrack& track) {
        notes_.clear();
        slots_.clear();
        RunBuilder<Selected> run(i, selected_);
        // The ends come in list order, and so nearly do the starts they close.
        tempo_detail::TickCursor ends(tempo_), starts(tempo_);
        pairing_.Run(
            track.GetEventHeadPosition(), track_detail::PairingMarks::kRewrite,
            [&](MIDIEventPtr* p) { run.Add(p); },
            [&](const MIDIEventPtr* on, uint32_t) {
                slots_.push_back(selected_(*on) ? static_cast<int32_t>(notes_.size()) : -1);
                if (selected_(*on)) notes_.push_back({0, false});
            },
            [&](const MIDIEventPtr* end, const MIDIEventPtr* on, uint32_t ordinal) {
                const int32_t slot = slots_[ordinal];
                if (slot < 0) return;
                const int64_t lLength =
                    int64_t{ends.TicksToMsecs(end->lTime)} - starts.TicksToMsecs(on->lTime);
                notes_[static_cast<size_t>(slot)] = {
                    static_cast<uint32_t>(static_cast<uint64_t>(lLength)), true};
            });
        const size_t nRuns = runs_.size();
        count_ += run.Finish(runs_, ordered_);
        if (runs_.size() > nRuns) lengths_.push_back(std::move(notes_));
        notes_ = std::vector<NoteLength>();
    }

    // Second pass: copy the selection, in time order when the tracks allow it. Note ends were
    // marked in the first pass, before they are copied, as a forward search from their
    // note-on would have marked them.
    void Copy(MidiEventList& list, TIME_FORMAT format, const queries_detail::TimeConverter& conv) {
        list.reserve(count_);
        std::vector<size_t> nextNote(runs_.size(), 0);
        VisitSelected(runs_, ordered_, selected_, [&](size_t r, const MIDIEventPtr* p) {
            MIDI_Event& rec = AppendRecord(list, runs_[r].nTrack, *p);
            if (track_detail::IsSoundingNoteOn(*p)) {
                const NoteLength& length = lengths_[r][nextNote[r]++];
                // The run's lengths are read in order, amid every other run's events and
                // lengths: those a few notes on are asked for before they are needed.
                platform_detail::PrefetchAhead(&length, 32 * sizeof(NoteLength));
                if (length.bPaired) rec.event.dwLength = length.dwLength;
            }
            if (format == TF_MSEC) {
                // Ticks straight to milliseconds (what Convert does for this pair), walking
                // the tempo map along with the times.
                rec.time.dMsecs = static_cast<double>(conv.TicksToMsecs(rec.time.lTicks));
                rec.time.format = TF_MSEC;
            } else if (format != TF_TICK) {
                conv.Convert(rec.time, format);
            }
        });
        if (!ordered_) CMidiFolio::SortEventList(list);
    }

  private:
    const Selected& selected_;
    const CMidiTempo& tempo_;
    std::vector<Run> runs_;
    std::vector<std::vector<NoteLength>> lengths_;  // per run, per selected sounding note-on
    std::vector<NoteLength> notes_;
    std::vector<int32_t> slots_;  // per sounding note-on of the track: its place in notes_, or -1
    track_detail::NotePairing pairing_;
    size_t count_ = 0;
    bool ordered_ = true;
};

}  // namespace

void CMidiFolio::GetMIDIByTime(TIME_FORMAT format, _MIDI_TIME from, _MIDI_TIME to,
                               MidiEventList& list) {
    platform_detail::OrWhenNoMemory(
        [&] {
            FreePtrList(list);
            const queries_detail::TimeConverter conv(&m_MidiTempo, GetAMeasureTicks());
            if (from.format != TF_TICK) conv.Convert(from, TF_TICK);
            if (to.format != TF_TICK) conv.Convert(to, TF_TICK);
            const int32_t lFrom = from.lTicks, lTo = to.lTicks;
            auto selected = [lFrom, lTo](const MIDIEvent& ev) {
                return lFrom <= ev.lTime && (lTo == -1 || ev.lTime <= lTo);
            };
            TimeSelection<decltype(selected)> selection(selected, m_MidiTempo);
            const int nTracks = QueryTrackCount(m_MidiHead.nTracks, GetTrackNum());
            for (int i = 0; i < nTracks; ++i) {
                if (CMidiTrack* pTrack = TrackForQuery(i)) selection.AddTrack(i, *pTrack);
            }
            selection.Copy(list, format, conv);
        },
        [&] { list.clear(); });
}

void CMidiFolio::GetMIDIByMeasure(int nFirst, int nLast, MidiEventList& list) {
    platform_detail::OrWhenNoMemory(
        [&] {
            FreePtrList(list);
            // Events from the first tick of the first measure up to and including the first tick of
            // the last measure.
            GetMIDIByTime(TF_MEASURE, MakeMeasure(nFirst, 0, 0), MakeMeasure(nLast, 0, 0), list);
        },
        [&] { list.clear(); });
}

void CMidiFolio::GetMIDIByTrack(int nFirst, int nLast, MidiEventList& list) {
    platform_detail::OrWhenNoMemory(
        [&] {
            FreePtrList(list);
            // Tracks of the list itself, not bounded by the header's track count.
            const long nFrom = std::max<long>(nFirst, 0);
            const long nTo = std::min<long>(nLast, GetTrackNum() - 1);
            auto all = [](const MIDIEvent&) { return true; };
            std::vector<Run> runs;
            bool bOrdered = true;
            const size_t nCount = CollectRuns(
                nFrom, nTo, [this](int i) { return GetTrack(i); }, all, runs, bOrdered);
            list.reserve(nCount);
            VisitSelected(runs, bOrdered, all, [&](size_t r, const MIDIEventPtr* p) {
                AppendRecord(list, runs[r].nTrack, *p);
            });
            if (!bOrdered) SortEventList(list);
        },
        [&] { list.clear(); });
}

void CMidiFolio::GetMIDIByChannel(int nChannel, MidiEventList& list) {
    platform_detail::OrWhenNoMemory(
        [&] {
            FreePtrList(list);
            // The low byte of the argument: 255 selects the meta, sysex and system events.
            const uint8_t byChannel = static_cast<uint8_t>(static_cast<unsigned>(nChannel) & 0xFFu);
            auto selected = [byChannel](const MIDIEvent& ev) { return ev.byChannel == byChannel; };
            std::vector<Run> runs;
            bool bOrdered = true;
            const size_t nCount = CollectRuns(
                0, QueryTrackCount(m_MidiHead.nTracks, GetTrackNum()) - 1,
                [this](int i) { return TrackForQuery(i); }, selected, runs, bOrdered);
            list.reserve(nCount);
            VisitSelected(runs, bOrdered, selected, [&](size_t r, const MIDIEventPtr* p) {
                AppendRecord(list, runs[r].nTrack, *p);
            });
            if (!bOrdered) SortEventList(list);
        },
        [&] { list.clear(); });
}

void CMidiFolio::GetMIDIByType(uint32_t dwMask, TIME_FORMAT format, MidiEventList& list) {
    platform_detail::OrWhenNoMemory(
        [&] {
            // The mask is 16 bits wide. An empty mask leaves the list exactly as it is; otherwise
            // the new records are appended to what the list holds and the whole list is sorted.
            const uint32_t dwTypes = dwMask & 0xFFFFu;
            if (dwTypes == 0) return;
            auto selected = [dwTypes](const MIDIEvent& ev) {
                return (ev.dwType & dwTypes) == ev.dwType;
            };
            const queries_detail::TimeConverter conv(&m_MidiTempo, GetAMeasureTicks());
            std::vector<Run> runs;
            bool bOrdered = true;
            const size_t nCount = CollectRuns(
                0, QueryTrackCount(m_MidiHead.nTracks, GetTrackNum()) - 1,
                [this](int i) { return TrackForQuery(i); }, selected, runs, bOrdered);
            const size_t nOld = list.size();
            list.reserve(nOld + nCount);
            VisitSelected(runs, bOrdered, selected, [&](size_t r, const MIDIEventPtr* p) {
                AppendRecord(list, runs[r].nTrack, *p);
                if (format != TF_TICK) conv.Convert(list.back().time, format);
            });
            // Two ordered parts merge stably (the records held before first at equal times), which
            // is what sorting the whole list gives.
            auto earlier = [](const MIDI_Event& a, const MIDI_Event& b) {
                return a.event.lTime < b.event.lTime;
            };
            const auto middle = list.begin() + static_cast<std::ptrdiff_t>(nOld);
            if (bOrdered && std::is_sorted(list.begin(), middle, earlier)) {
                std::inplace_merge(list.begin(), middle, list.end(), earlier);
            } else {
                SortEventList(list);
            }
        },
        [&] { list.clear(); });
}

MidiEventList& CMidiFolio::MakeEventList() {
    FreeEventList();
    GetMIDIByTime(TF_MSEC, MakeTicks(0), MakeTicks(-1), m_EventList);
    return m_EventList;
}

void CMidiFolio::FreeEventList() {
    MidiEventList().swap(m_EventList);
}

void CMidiFolio::GetTotalEventList(MidiEventList** ppList) {
    if (ppList) *ppList = &m_EventList;
}

int CMidiFolio::FindMidiEventByTime(_MIDI_TIME time, MIDI_Event*& pEvent) {
    MakeEventList();
    pEvent = nullptr;
    if (m_EventList.empty()) return -1;
    if (time.format != TF_MSEC) ConvertMIDITime(&time, TF_MSEC);
    const double dMsecs = time.dMsecs;
    // A time before the start names the first record; a time after the last record names
    // none (-1 and null): the index and the record always agree.
    if (dMsecs < 0.0) {
        pEvent = &m_EventList.front();
        return 0;
    }
    const size_t n = m_EventList.size();
    for (size_t k = 0; k < n; ++k) {
        if (m_EventList[k].time.dMsecs >= dMsecs) {
            pEvent = &m_EventList[k];
            return static_cast<int>(k);
        }
    }
    return -1;
}

MIDIFOLIO_END_NAMESPACE
