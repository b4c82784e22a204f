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
//   - sorting orders an array of (time, index) keys and then moves each record once.
#include <algorithm>
#include <cstdint>
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

    // A sounding note-on; nRecord is its record in the result list, or kNone.
    void Open(const MIDIEvent& ev, int32_t nRecord) {
        if (m_head.empty()) m_head.assign(kKeys, kNone), m_tail.assign(kKeys, kNone);
        const uint32_t key = Key(ev);
        const int32_t idx = static_cast<int32_t>(m_open.size());
        m_open.push_back({kNone, nRecord, ev.lTime});
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
    bool Close(const MIDIEvent& ev, int32_t& nRecord, int32_t& lOnTime) {
        if (m_head.empty()) return false;
        const uint32_t key = Key(ev);
        const int32_t idx = m_head[key];
        if (idx == kNone) return false;
        m_head[key] = m_open[idx].next;
        nRecord = m_open[idx].record;
        lOnTime = m_open[idx].lTime;
        return true;
    }

  private:
    static constexpr uint32_t kKeys = 256 * 256;
    static uint32_t Key(const MIDIEvent& ev) {
        return (static_cast<uint32_t>(ev.byChannel) << 8) | ev.byData1;
    }
    struct Open_ {
        int32_t next;
        int32_t record;
        int32_t lTime;
    };
    std::vector<int32_t> m_head, m_tail;
    std::vector<uint32_t> m_touched;
    std::vector<Open_> m_open;
};

// Number of tracks a song-wide query visits: 0..nTracks-1, of those that exist.
int QueryTrackCount(int32_t nTracks, long nListed) {
    return static_cast<int>(std::max<long>(0, std::min<long>(nTracks, nListed)));
}

}  // namespace

void CMidiFolio::GetMIDIByTime(TIME_FORMAT format, _MIDI_TIME from, _MIDI_TIME to,
                               MidiEventList& list) {
    FreePtrList(list);
    const detail::TimeConverter conv(&m_MidiTempo, GetAMeasureTicks());
    if (from.format != TF_TICK) conv.Convert(from, TF_TICK);
    if (to.format != TF_TICK) conv.Convert(to, TF_TICK);
    const int32_t lFrom = from.lTicks, lTo = to.lTicks;
    auto selected = [lFrom, lTo](int32_t lTime) {
        return lFrom <= lTime && (lTo == -1 || lTime <= lTo);
    };

    const int nTracks = QueryTrackCount(m_MidiHead.nTracks, GetTrackNum());
    size_t nCount = 0;
    for (int i = 0; i < nTracks; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (!pTrack) continue;
        for (const MIDIEventPtr* p = pTrack->GetEventHeadPosition(); p; p = p->pNext) {
            if (selected(p->lTime)) ++nCount;
        }
    }
    list.reserve(nCount);

    NotePairing pairing;
    for (int i = 0; i < nTracks; ++i) {
        CMidiTrack* pTrack = TrackForQuery(i);
        if (!pTrack) continue;
        // Marks left by earlier queries (or by the host) would leave notes unpaired: every
        // query pairs afresh, so repeated queries give the same note lengths.
        pTrack->ClearPairingMarks();
        pairing.Reset();
        for (MIDIEventPtr* p = pTrack->GetEventHeadPosition(); p; p = p->pNext) {
            int32_t nRecord = NotePairing::kNone;
            // A note end is paired (and marked) before it is copied, as a forward search
            // from its note-on would have marked it before the walk reached it.
            if (IsNoteEnd(*p) && p->dwLength != PAIRING_MARK) {
                int32_t nOnRecord = NotePairing::kNone, lOnTime = 0;
                if (pairing.Close(*p, nOnRecord, lOnTime)) {
                    p->dwLength = PAIRING_MARK;
                    if (nOnRecord != NotePairing::kNone) {
                        const int64_t lLength = int64_t{conv.TicksToMsecs(p->lTime)} -
                                                int64_t{conv.TicksToMsecs(lOnTime)};
                        list[nOnRecord].event.dwLength =
                            static_cast<uint32_t>(static_cast<uint64_t>(lLength));
                    }
                }
            }
            if (selected(p->lTime)) {
                nRecord = static_cast<int32_t>(list.size());
                list.push_back(MakeRecord(i, *p));
                if (format != TF_TICK) conv.Convert(list.back().time, format);
            }
            if (IsSoundingNoteOn(*p)) pairing.Open(*p, nRecord);
        }
    }
    SortEventList(list);
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
    size_t nCount = 0;
    for (long i = nFrom; i <= nTo; ++i) {
        if (const CMidiTrack* pTrack = GetTrack(static_cast<int>(i))) {
            nCount += static_cast<size_t>(std::max<int32_t>(0, pTrack->GetCount()));
        }
    }
    list.reserve(nCount);
    for (long i = nFrom; i <= nTo; ++i) {
        const CMidiTrack* pTrack = GetTrack(static_cast<int>(i));
        if (!pTrack) continue;
        for (const MIDIEventPtr* p = pTrack->GetEventHeadPosition(); p; p = p->pNext) {
            list.push_back(MakeRecord(static_cast<int>(i), *p));
        }
    }
    SortEventList(list);
}

void CMidiFolio::GetMIDIByChannel(int nChannel, MidiEventList& list) {
    FreePtrList(list);
    // The low byte of the argument: 255 selects the meta, sysex and system events.
    const uint8_t byChannel = static_cast<uint8_t>(static_cast<unsigned>(nChannel) & 0xFFu);
    const int nTracks = QueryTrackCount(m_MidiHead.nTracks, GetTrackNum());
    size_t nCount = 0;
    for (int i = 0; i < nTracks; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (!pTrack) continue;
        for (const MIDIEventPtr* p = pTrack->GetEventHeadPosition(); p; p = p->pNext) {
            if (p->byChannel == byChannel) ++nCount;
        }
    }
    list.reserve(nCount);
    for (int i = 0; i < nTracks; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (!pTrack) continue;
        for (const MIDIEventPtr* p = pTrack->GetEventHeadPosition(); p; p = p->pNext) {
            if (p->byChannel == byChannel) list.push_back(MakeRecord(i, *p));
        }
    }
    SortEventList(list);
}

void CMidiFolio::GetMIDIByType(uint32_t dwMask, TIME_FORMAT format, MidiEventList& list) {
    // The mask is 16 bits wide. An empty mask leaves the list exactly as it is; otherwise
    // the new records are appended to what the list holds and the whole list is sorted.
    const uint32_t dwTypes = dwMask & 0xFFFFu;
    if (dwTypes == 0) return;
    auto selected = [dwTypes](uint32_t dwType) { return (dwType & dwTypes) == dwType; };
    const detail::TimeConverter conv(&m_MidiTempo, GetAMeasureTicks());
    const int nTracks = QueryTrackCount(m_MidiHead.nTracks, GetTrackNum());
    size_t nCount = 0;
    for (int i = 0; i < nTracks; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (!pTrack) continue;
        for (const MIDIEventPtr* p = pTrack->GetEventHeadPosition(); p; p = p->pNext) {
            if (selected(p->dwType)) ++nCount;
        }
    }
    list.reserve(list.size() + nCount);
    for (int i = 0; i < nTracks; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (!pTrack) continue;
        for (const MIDIEventPtr* p = pTrack->GetEventHeadPosition(); p; p = p->pNext) {
            if (!selected(p->dwType)) continue;
            list.push_back(MakeRecord(i, *p));
            if (format != TF_TICK) conv.Convert(list.back().time, format);
        }
    }
    SortEventList(list);
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
