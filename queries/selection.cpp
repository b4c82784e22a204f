// Song-wide event selection: events of the tracks copied into caller-owned result lists by
// time range, measure range, track range, channel and type, sorted by event time; the song's
// own event list and its search by time.
//
// How the work is shaped:
//   - every query counts its selection first and reserves the result list once;
//   - note-offs are paired with their note-ons in one forward pass per track (a queue of
//     open note-ons per channel and note), which gives exactly the partners, and leaves
//     exactly the pairing marks, that asking the track's GetNextNoteOff for every note-on in
//     list order would;
//   - when every visited track is in time order (as every decoded or sorted track is), the
//     tracks are merged straight into the result in its final order; otherwise the records
//     are appended track by track and sorted, through an array of (time, index) keys, with
//     each record moved once.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <vector>

#include "midifolio/midi_folio.h"
#include "queries/time_convert.h"

namespace midifolio {

namespace {

MIDI_Event MakeRecord(int nTrack, const MIDIEvent& ev) {
    MIDI_Event rec{};
    rec.wTrack = static_cast<uint16_t>(nTrack);
    rec.time = MakeTicks(ev.lTime);
    rec.event = ev;
    return rec;
}

bool IsNoteEnd(const MIDIEvent& ev) {
    return ev.dwType == EVT_NOTEOFF || (ev.dwType == EVT_NOTEON && ev.byData2 == 0);
}

bool IsSoundingNoteOn(const MIDIEvent& ev) {
    return ev.dwType == EVT_NOTEON && ev.byData2 != 0;
}

// Open note-ons of one track, queued per (channel, note) in list order. A note end meets the
// oldest open note-on of its channel and note: that is the partner a forward search from
// each note-on, in list order, skipping note ends already handed out, would have found.
class NotePairing {
  public:
    static constexpr int32_t kNone = -1;

    // Starts a new track (the key tables are kept between tracks, only the used keys reset).
    void Reset() {
        for (uint32_t key : m_touched) m_head[key] = kNone;
        m_touched.clear();
        m_open.clear();
    }

    // A sounding note-on, numbered nOrdinal among the track's sounding note-ons.
    void Open(const MIDIEvent& ev, int32_t nOrdinal) {
        if (m_head.empty()) {
            m_head.assign(kKeys, kNone);
            m_tail.assign(kKeys, kNone);
        }
        const uint32_t key = Key(ev);
        const int32_t idx = static_cast<int32_t>(m_open.size());
        m_open.push_back({kNone, nOrdinal, ev.lTime});
        if (m_head[key] == kNone) {
            m_head[key] = idx;
            m_touched.push_back(key);
        } else {
            m_open[m_tail[key]].next = idx;
        }
        m_tail[key] = idx;
    }

    // A note end not yet handed out: closes the oldest open note-on of its channel and note.
    // Returns false when none is open.
    bool Close(const MIDIEvent& ev, int32_t& nOrdinal, int32_t& lOnTime) {
        if (m_head.empty()) return false;
        const uint32_t key = Key(ev);
        const int32_t idx = m_head[key];
        if (idx == kNone) return false;
        m_head[key] = m_open[idx].next;
        nOrdinal = m_open[idx].ordinal;
        lOnTime = m_open[idx].lTime;
        return true;
    }

  private:
    static constexpr uint32_t kKeys = 256 * 256;
    static uint32_t Key(const MIDIEvent& ev) {
        return (static_cast<uint32_t>(ev.byChannel) << 8) | ev.byData1;
    }
    struct OpenNote {
        int32_t next;
        int32_t ordinal;
        int32_t lTime;
    };
    std::vector<int32_t> m_head, m_tail;
    std::vector<uint32_t> m_touched;
    std::vector<OpenNote> m_open;
};

// The length a sounding note-on gets in a time query (when its partner was found).
struct NoteLength {
    uint32_t dwLength;
    bool bPaired;
};

// The selected events of one track a query visits: the track's index in the song, its first
// selected node and the number of selected nodes.
struct Run {
    int nTrack;
    MIDIEventPtr* pFirst;
    size_t nSelected;
};

// (time, run) packed so that integer order is time order, then run order.
uint64_t MergeKey(int32_t lTime, size_t nRun) {
    const uint32_t biased = static_cast<uint32_t>(lTime) ^ 0x80000000u;
    return (static_cast<uint64_t>(biased) << 32) | static_cast<uint32_t>(nRun);
}

// Calls visit(run, node) for every selected event of the runs. When every visited track's
// list is in time order (bOrdered), the events come in the order a stable sort by time of the
// runs one after another would give them: by time, then run, then list order. The runs are
// merged through a heap of their next events, so the result is built in its final order at
// once. Otherwise they come run after run in list order, and the caller sorts.
template <typename Select, typename Visit>
void VisitSelected(const std::vector<Run>& runs, bool bOrdered, Select select, Visit visit) {
    // The selected node after p, or null when it was the run's last (remaining counts them).
    auto advance = [&select](MIDIEventPtr* p, size_t& remaining) -> MIDIEventPtr* {
        if (--remaining == 0) return nullptr;
        for (p = p->pNext; p && !select(*p);) p = p->pNext;
        return p;
    };
    if (!bOrdered || runs.size() == 1) {
        for (size_t r = 0; r < runs.size(); ++r) {
            size_t remaining = runs[r].nSelected;
            for (MIDIEventPtr* p = runs[r].pFirst; p; p = advance(p, remaining)) visit(r, p);
        }
        return;
    }
    std::vector<MIDIEventPtr*> next(runs.size());
    std::vector<size_t> remaining(runs.size());
    std::vector<uint64_t> heap;  // min-heap of the runs' next events
    heap.reserve(runs.size());
    for (size_t r = 0; r < runs.size(); ++r) {
        next[r] = runs[r].pFirst;
        remaining[r] = runs[r].nSelected;
        heap.push_back(MergeKey(next[r]->lTime, r));
    }
    const std::greater<uint64_t> later;
    std::make_heap(heap.begin(), heap.end(), later);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        const size_t r = static_cast<uint32_t>(heap.back());
        heap.pop_back();
        // Stay on this run while its events come before every other run's next event.
        for (;;) {
            MIDIEventPtr* p = next[r];
            next[r] = advance(p, remaining[r]);
            visit(r, p);
            if (!next[r]) break;
            const uint64_t key = MergeKey(next[r]->lTime, r);
            if (heap.empty() || key < heap.front()) continue;
            heap.push_back(key);
            std::push_heap(heap.begin(), heap.end(), later);
            break;
        }
    }
}

// Walks a track once: adds its run of selected events (when it has any) and returns the
// number selected; clears bOrdered when the track is not in time order. each(node) is called
// for every node, in list order.
template <typename Select, typename Each>
size_t AddRun(int nTrack, CMidiTrack* pTrack, Select select, Each each, std::vector<Run>& runs,
              bool& bOrdered) {
    Run run{nTrack, nullptr, 0};
    int32_t lPrevious = INT32_MIN;
    for (MIDIEventPtr* p = pTrack->GetEventHeadPosition(); p; p = p->pNext) {
        bOrdered = bOrdered && lPrevious <= p->lTime;
        lPrevious = p->lTime;
        each(p);
        if (!select(*p)) continue;
        if (!run.pFirst) run.pFirst = p;
        ++run.nSelected;
    }
    if (run.nSelected) runs.push_back(run);
    return run.nSelected;
}

// Number of tracks a song-wide query visits: 0..nTracks-1, of those that exist.
int QueryTrackCount(int32_t nTracks, long nListed) {
    return static_cast<int>(std::max<long>(0, std::min<long>(nTracks, nListed)));
}

// Adds the runs of tracks nFirst..nLast (a null getTrack(i) is skipped) without pairing;
// returns the number of events selected.
template <typename GetTrack, typename Select>
size_t CollectRuns(long nFirst, long nLast, GetTrack getTrack, Select select,
                   std::vector<Run>& runs, bool& bOrdered) {
    size_t nCount = 0;
    for (long i = nFirst; i <= nLast; ++i) {
        if (CMidiTrack* pTrack = getTrack(static_cast<int>(i))) {
            nCount += AddRun(
                static_cast<int>(i), pTrack, select, [](MIDIEventPtr*) {}, runs, bOrdered);
        }
    }
    return nCount;
}

}  // namespace

void CMidiFolio::GetMIDIByTime(TIME_FORMAT format, _MIDI_TIME from, _MIDI_TIME to,
                               MidiEventList& list) {
    FreePtrList(list);
    const detail::TimeConverter conv(&m_MidiTempo, GetAMeasureTicks());
    if (from.format != TF_TICK) conv.Convert(from, TF_TICK);
    if (to.format != TF_TICK) conv.Convert(to, TF_TICK);
    const int32_t lFrom = from.lTicks, lTo = to.lTicks;
    auto selected = [lFrom, lTo](const MIDIEvent& ev) {
        return lFrom <= ev.lTime && (lTo == -1 || ev.lTime <= lTo);
    };

    // First pass, per track: count the selection, check the time order, and pair every
    // sounding note-on (selected or not) with its note end, marking the partners.
    const int nTracks = QueryTrackCount(m_MidiHead.nTracks, GetTrackNum());
    std::vector<Run> runs;
    std::vector<std::vector<NoteLength>> lengths;  // per run, per selected sounding note-on
    std::vector<NoteLength> notes;
    NotePairing pairing;
    size_t nCount = 0;
    bool bOrdered = true;
    auto pair = [&](MIDIEventPtr* p) {
        int32_t nOrdinal = 0, lOnTime = 0;
        if (IsNoteEnd(*p) && p->dwLength != PAIRING_MARK && pairing.Close(*p, nOrdinal, lOnTime)) {
            p->dwLength = PAIRING_MARK;
            if (nOrdinal != NotePairing::kNone) {
                const int64_t lLength =
                    int64_t{conv.TicksToMsecs(p->lTime)} - conv.TicksToMsecs(lOnTime);
                notes[static_cast<size_t>(nOrdinal)] = {
                    static_cast<uint32_t>(static_cast<uint64_t>(lLength)), true};
            }
        }
        if (IsSoundingNoteOn(*p)) {
            if (selected(*p)) {
                pairing.Open(*p, static_cast<int32_t>(notes.size()));
                notes.push_back({0, false});
            } else {
                pairing.Open(*p, NotePairing::kNone);
            }
        }
    };
    for (int i = 0; i < nTracks; ++i) {
        CMidiTrack* pTrack = TrackForQuery(i);
        if (!pTrack) continue;
        // Marks left by earlier queries (or by the host) would leave notes unpaired: every
        // query pairs afresh, so repeated queries give the same note lengths.
        pTrack->ClearPairingMarks();
        pairing.Reset();
        notes.clear();
        const size_t nRuns = runs.size();
        nCount += AddRun(i, pTrack, selected, pair, runs, bOrdered);
        if (runs.size() > nRuns) lengths.push_back(std::move(notes));
        notes = std::vector<NoteLength>();
    }

    // Second pass: copy the selection, in time order when the tracks allow it. Note ends
    // were marked in the first pass, before they are copied, as a forward search from their
    // note-on would have marked them.
    list.reserve(nCount);
    std::vector<size_t> nextNote(runs.size(), 0);
    VisitSelected(runs, bOrdered, selected, [&](size_t r, const MIDIEventPtr* p) {
        list.push_back(MakeRecord(runs[r].nTrack, *p));
        MIDI_Event& rec = list.back();
        if (IsSoundingNoteOn(*p)) {
            const NoteLength& length = lengths[r][nextNote[r]++];
            if (length.bPaired) rec.event.dwLength = length.dwLength;
        }
        if (format != TF_TICK) conv.Convert(rec.time, format);
    });
    if (!bOrdered) SortEventList(list);
}

void CMidiFolio::GetMIDIByMeasure(int nFirst, int nLast, MidiEventList& list) {
    FreePtrList(list);
    // Events from the first tick of the first measure up to and including the first tick of
    // the last measure.
    GetMIDIByTime(TF_MEASURE, MakeMeasure(nFirst, 0, 0), MakeMeasure(nLast, 0, 0), list);
}

void CMidiFolio::GetMIDIByTrack(int nFirst, int nLast, MidiEventList& list) {
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
        list.push_back(MakeRecord(runs[r].nTrack, *p));
    });
    if (!bOrdered) SortEventList(list);
}

void CMidiFolio::GetMIDIByChannel(int nChannel, MidiEventList& list) {
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
        list.push_back(MakeRecord(runs[r].nTrack, *p));
    });
    if (!bOrdered) SortEventList(list);
}

void CMidiFolio::GetMIDIByType(uint32_t dwMask, TIME_FORMAT format, MidiEventList& list) {
    // The mask is 16 bits wide. An empty mask leaves the list exactly as it is; otherwise
    // the new records are appended to what the list holds and the whole list is sorted.
    const uint32_t dwTypes = dwMask & 0xFFFFu;
    if (dwTypes == 0) return;
    auto selected = [dwTypes](const MIDIEvent& ev) { return (ev.dwType & dwTypes) == ev.dwType; };
    const detail::TimeConverter conv(&m_MidiTempo, GetAMeasureTicks());
    std::vector<Run> runs;
    bool bOrdered = true;
    const size_t nCount = CollectRuns(
        0, QueryTrackCount(m_MidiHead.nTracks, GetTrackNum()) - 1,
        [this](int i) { return TrackForQuery(i); }, selected, runs, bOrdered);
    const size_t nOld = list.size();
    list.reserve(nOld + nCount);
    VisitSelected(runs, bOrdered, selected, [&](size_t r, const MIDIEventPtr* p) {
        list.push_back(MakeRecord(runs[r].nTrack, *p));
        if (format != TF_TICK) conv.Convert(list.back().time, format);
    });
    // Two ordered parts merge stably (the records held before first at equal times), which is
    // what sorting the whole list gives.
    auto earlier = [](const MIDI_Event& a, const MIDI_Event& b) {
        return a.event.lTime < b.event.lTime;
    };
    const auto middle = list.begin() + static_cast<std::ptrdiff_t>(nOld);
    if (bOrdered && std::is_sorted(list.begin(), middle, earlier)) {
        std::inplace_merge(list.begin(), middle, list.end(), earlier);
    } else {
        SortEventList(list);
    }
}

void CMidiFolio::SortEventList(MidiEventList& list) {
    const size_t n = list.size();
    if (n < 2) return;
    // The key is the copied event's lTime (never the record's time); equal keys keep their
    // list order. A list already in order stays as it is.
    bool bOrdered = true;
    for (size_t k = 1; k < n && bOrdered; ++k) {
        bOrdered = list[k - 1].event.lTime <= list[k].event.lTime;
    }
    if (bOrdered) return;

    // (time, index) packed into one integer: the signed time biased into the high half, the
    // list index in the low half, so plain integer order is the stable order by time.
    std::vector<uint64_t> keys(n);
    for (size_t k = 0; k < n; ++k) {
        const uint32_t biased = static_cast<uint32_t>(list[k].event.lTime) ^ 0x80000000u;
        keys[k] = (static_cast<uint64_t>(biased) << 32) | static_cast<uint32_t>(k);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<uint32_t> source(n);
    for (size_t k = 0; k < n; ++k) source[k] = static_cast<uint32_t>(keys[k]);
    std::vector<uint64_t>().swap(keys);

    // Position k receives the record that stood at source[k]; each cycle of the permutation
    // is followed once, so every record moves once. A finished position gets source[k] = k.
    for (size_t i = 0; i < n; ++i) {
        if (source[i] == i) continue;
        MIDI_Event held = list[i];
        size_t j = i;
        for (;;) {
            const size_t from = source[j];
            source[j] = static_cast<uint32_t>(j);
            if (from == i) {
                list[j] = held;
                break;
            }
            list[j] = list[from];
            j = from;
        }
    }
}

void CMidiFolio::FreePtrList(MidiEventList& list) {
    MidiEventList().swap(list);
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

}  // namespace midifolio
