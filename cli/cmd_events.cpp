// `midifolio events FILE`: the song's events, one per line, printed as they are found.
//
// The song's time query would copy every selected event into a list of 64-byte records before
// the first line could be printed. Here the tracks are walked in place instead and merged by
// time, so that memory stays that of the loaded song and `| head` answers at once. The order,
// the selection and the note lengths are the time query's:
//   - events by time, then track, then list order (a track out of time order is put in order
//     through an index of its selected events, ties kept in list order);
//   - an event is selected when from <= time and (to == -1 or time <= to), in ticks;
//   - each track's note ends are paired with its sounding note-ons in list order, selected or
//     not: a note-off (or a note-on of velocity 0) closes the oldest open note-on of its
//     channel and note, and that note-on's length is the difference of their times in
//     milliseconds.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <queue>
#include <unordered_map>
#include <utility>

#include "commands.h"
#include "describe.h"

using namespace midifolio;

namespace mfcli {

namespace {

bool IsNoteEnd(const MIDIEvent& ev) {
    return ev.dwType == EVT_NOTEOFF || (ev.dwType == EVT_NOTEON && ev.byData2 == 0);
}

bool IsSoundingNoteOn(const MIDIEvent& ev) {
    return ev.dwType == EVT_NOTEON && ev.byData2 != 0;
}

// The note pairing of one track, worked out only as far ahead as the note-on being printed
// needs: a second cursor (the pass) runs ahead of the printing one to the note end of that
// note-on, and keeps what it learns on the way for the note-ons that follow.
class NotePairing {
  public:
    NotePairing(const CMidiTrack& track, const CMidiTempo& tempo)
        : track_(track), tempo_(tempo), ahead_(track.GetEventHeadPosition()) {}

    // To be called for every sounding note-on of the track in list order: the dwLength the
    // time query gives it. With `wanted` false (the note-on is not selected) the pass is not
    // moved on for it, and the result means nothing.
    uint32_t Next(const MIDIEvent& noteOn, bool wanted) {
        const uint64_t k = passed_;  // this note-on's number in the track
        if (wanted) {
            while (ahead_ != nullptr && (numbered_ <= k || !slots_.front().paired)) Step();
        }
        // A note-on left unpaired keeps the record's own value, pairing marks cleared.
        uint32_t length = noteOn.dwLength == PAIRING_MARK ? 0 : noteOn.dwLength;
        if (numbered_ > k) {
            if (slots_.front().paired) length = slots_.front().length;
            slots_.pop_front();
        }
        ++passed_;
        return length;
    }

  private:
    struct Slot {
        int32_t onTime;
        uint32_t length;
        bool paired;
    };
    static uint32_t Key(const MIDIEvent& ev) { return (uint32_t{ev.byChannel} << 8) | ev.byData1; }

    // The pass takes one more event.
    void Step() {
        const MIDIEventPtr* p = track_.GetNextPtr(ahead_);
        if (IsNoteEnd(*p)) {
            auto it = open_.find(Key(*p));
            if (it != open_.end() && !it->second.empty()) {
                const uint64_t n = it->second.front();
                it->second.pop_front();
                if (n >= passed_) {  // a note-on still to be printed: keep its length
                    Slot& slot = slots_[static_cast<size_t>(n - passed_)];
                    const int64_t ms =
                        int64_t{tempo_.TicksToMsecs(p->lTime)} - tempo_.TicksToMsecs(slot.onTime);
                    slot.length = static_cast<uint32_t>(static_cast<uint64_t>(ms));
                    slot.paired = true;
                }
            }
        } else if (IsSoundingNoteOn(*p)) {
            const uint64_t n = numbered_++;
            open_[Key(*p)].push_back(n);
            if (n >= passed_) slots_.push_back({p->lTime, 0, false});
        }
    }

    const CMidiTrack& track_;
    const CMidiTempo& tempo_;
    POSITION ahead_;
    uint64_t passed_ = 0;    // sounding note-ons the printing cursor is done with
    uint64_t numbered_ = 0;  // sounding note-ons the pass has met
    // Note-ons numbered passed_ .. numbered_ - 1, when the pass is ahead.
    std::deque<Slot> slots_;
    // Open note-ons by channel and note, oldest first.
    std::unordered_map<uint32_t, std::deque<uint64_t>> open_;
};

// A selected event, with the dwLength the time query gives it.
struct Selected {
    const MIDIEventPtr* node;
    uint32_t length;
};

// The selected events of one track, in time order.
class TrackStream {
  public:
    TrackStream(const CMidiTrack& track, int index, const CMidiTempo& tempo, int32_t from,
                int32_t to)
        : track_(track), index_(index), from_(from), to_(to), pairing_(track, tempo) {
        int32_t previous = INT32_MIN;
        for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr && ordered_;) {
            const int32_t t = track.GetNextPtr(pos)->lTime;
            ordered_ = previous <= t;
            previous = t;
        }
        if (ordered_) {
            pos_ = track.GetEventHeadPosition();
        } else {
            // Rare (a decoded track is in order): an index of the selected events, sorted.
            for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr;) {
                const MIDIEventPtr* p = track.GetNextPtr(pos);
                const bool selected = IsSelected(*p);
                const uint32_t length =
                    IsSoundingNoteOn(*p) ? pairing_.Next(*p, selected) : p->dwLength;
                if (selected) sorted_.push_back({p, length});
            }
            std::stable_sort(
                sorted_.begin(), sorted_.end(),
                [](const Selected& a, const Selected& b) { return a.node->lTime < b.node->lTime; });
        }
        Advance();
    }

    int Index() const { return index_; }
    bool Done() const { return !hasCurrent_; }
    const Selected& Current() const { return current_; }

    void Advance() {
        hasCurrent_ = false;
        if (!ordered_) {
            if (next_ < sorted_.size()) {
                current_ = sorted_[next_++];
                hasCurrent_ = true;
            }
            return;
        }
        while (pos_ != nullptr) {
            const MIDIEventPtr* p = track_.GetNextPtr(pos_);
            const bool selected = IsSelected(*p);
            const uint32_t length =
                IsSoundingNoteOn(*p) ? pairing_.Next(*p, selected) : p->dwLength;
            if (selected) {
                current_ = {p, length};
                hasCurrent_ = true;
                return;
            }
            if (to_ != -1 && p->lTime > to_) pos_ = nullptr;  // in order: nothing more to find
        }
    }

  private:
    bool IsSelected(const MIDIEvent& ev) const {
        return from_ <= ev.lTime && (to_ == -1 || ev.lTime <= to_);
    }

    const CMidiTrack& track_;
    int index_;
    int32_t from_;
    int32_t to_;
    NotePairing pairing_;
    bool ordered_ = true;
    POSITION pos_ = nullptr;
    std::vector<Selected> sorted_;
    size_t next_ = 0;
    Selected current_{};
    bool hasCurrent_ = false;
};

// Where the events go: a text table, a JSON array or JSON Lines.
class EventPrinter {
  public:
    EventPrinter(const EventsOptions& o, TimeColumn column, const SongClock& clock)
        : column_(column),
          clock_(clock),
          json_(Stdout(), o.jsonl ? -1 : 2),
          mode_(o.jsonl         ? kLines
                : o.common.json ? kArray
                                : kText) {
        if (mode_ == kArray) json_.BeginArray();
    }

    void Print(int track, const MIDIEvent& ev, int64_t length) {
        Output& out = Stdout();
        if (mode_ == kText) {
            // The heading comes with the first event: an empty selection prints nothing.
            if (printed_ == 0) {
                out << Format("%12s  %5s  %3s  %-12s  %s\n", TimeColumnName(column_), "track", "ch",
                              "event", "details");
            }
            const std::string type =
                ev.dwType == EVT_NOTEON && ev.byData2 == 0 ? "noteon (off)" : TypeName(ev.dwType);
            out << Format("%12s  %5d  %3s  %-12s  %s\n",
                          TimeText(column_, ev.lTime, clock_).c_str(), track + 1,
                          ChannelText(ev.byChannel).c_str(), type.c_str(),
                          DescribeEvent(ev, length).c_str());
        } else {
            json_.BeginObject();
            json_.Field("track", track + 1);
            json_.Field("tick", ev.lTime);
            json_.Key("time");
            WriteTime(json_, column_, ev.lTime, clock_);
            WriteEventFields(json_, ev, length);
            json_.EndObject();
        }
        ++printed_;
    }

    void Finish() {
        if (mode_ == kArray) json_.EndArray();
    }

    long long Printed() const { return printed_; }

  private:
    enum Mode { kText, kArray, kLines };
    TimeColumn column_;
    const SongClock& clock_;
    JsonWriter json_;
    Mode mode_;
    long long printed_ = 0;
};

}  // namespace

int RunEvents(const EventsOptions& o) {
    // Check every argument before the file is read.
    const TimeColumn column = ParseTimeColumn(o.time);
    const uint32_t typeMask = o.types.empty() ? 0 : ParseTypeList(o.types);
    std::pair<int, int> trackRange{1, INT32_MAX};
    if (!o.tracks.empty()) trackRange = ParseRange(o.tracks, "--tracks");
    std::pair<int, int> measureRange{0, 0};
    if (!o.measures.empty()) measureRange = ParseRange(o.measures, "--measures");
    std::optional<TimePoint> fromPoint, toPoint;
    if (!o.from.empty()) fromPoint = ParseTimePoint(o.from, "--from");
    if (!o.to.empty()) toPoint = ParseTimePoint(o.to, "--to");

    LoadedSong loaded = LoadSongOrFail(o.file, o.common);
    CMidiFolio& song = *loaded.song;
    const score::TimeMap timeMap(song);
    const score::MeterMap meterMap(song);
    const SongClock clock{song, timeMap, meterMap, song.GetMidiTempo().GetTicksPerQuarterNote()};

    // The stretch of time, in ticks: [from, to], to -1 for no end.
    int64_t from = fromPoint ? ResolveTime(*fromPoint, false, clock) : 0;
    int64_t to = toPoint ? ResolveTime(*toPoint, true, clock) : -1;
    if (!o.measures.empty()) {
        // Whole bars: from the first tick of bar A to the last tick before bar B + 1.
        from = static_cast<int64_t>(std::ceil(meterMap.bar_start(measureRange.first)));
        to = static_cast<int64_t>(std::ceil(meterMap.bar_start(measureRange.second + 1))) - 1;
    }
    // Nothing lies beyond the last tick a track can hold; an end before 0 selects nothing.
    const bool none = (toPoint || !o.measures.empty()) && (to < 0 || to < from);
    from = std::clamp<int64_t>(from, 0, INT32_MAX);
    to = to < 0 ? -1 : std::min<int64_t>(to, INT32_MAX);

    // The tracks the time query visits (those the header counts), narrowed by --tracks.
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    const long queried = std::max<long>(0, std::min<long>(head.nTracks, song.GetTrackNum()));
    const int first = trackRange.first - 1;
    const int last = static_cast<int>(std::min<long>(trackRange.second, queried)) - 1;
    std::vector<TrackStream> streams;
    streams.reserve(static_cast<size_t>(std::max(0, last - first + 1)));
    for (int i = first; i <= last; ++i) {
        if (const CMidiTrack* track = song.GetTrack(i)) {
            streams.emplace_back(*track, i, song.GetMidiTempo(), static_cast<int32_t>(from),
                                 static_cast<int32_t>(to));
        }
    }

    // Merge: the earliest event next, the lower track first at equal times.
    auto later = [&streams](size_t a, size_t b) {
        const int32_t ta = streams[a].Current().node->lTime;
        const int32_t tb = streams[b].Current().node->lTime;
        return ta != tb ? ta > tb : a > b;
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heads(later);
    for (size_t s = 0; s < streams.size(); ++s) {
        if (!streams[s].Done()) heads.push(s);
    }

    // The tempo event the loader put in front of the first track is not the file's.
    const CMidiTrack* first0 = song.GetTrack(0);
    const MIDIEventPtr* loaderTempo =
        first0 != nullptr && song.IsLoaderTempo(first0, first0->GetEventHeadPosition())
            ? first0->GetEventHeadPosition()
            : nullptr;

    EventPrinter printer(o, column, clock);
    while (!none && !heads.empty() && (o.limit < 0 || printer.Printed() < o.limit)) {
        const size_t s = heads.top();
        heads.pop();
        TrackStream& stream = streams[s];
        const Selected selected = stream.Current();
        stream.Advance();
        if (!stream.Done()) heads.push(s);

        const MIDIEvent& ev = *selected.node;
        if (selected.node == loaderTempo) continue;
        if (o.channel != 0 && ev.byChannel != o.channel - 1) continue;
        if (typeMask != 0 && ((ev.dwType & typeMask) != ev.dwType || ev.dwType == 0)) continue;
        // A sounding note-on the pairing gave a length carries it in milliseconds.
        int64_t length = -1;
        if (IsSoundingNoteOn(ev) && selected.length > 0 && selected.length < 0x80000000u) {
            length = selected.length;
        }
        printer.Print(stream.Index(), ev, length);
    }
    printer.Finish();
    if (printer.Printed() == 0) {
        std::fprintf(stderr, "midifolio: no events selected (the song has %s)\n",
                     Plural(song.GetTrackNum(), "track").c_str());
    }
    return kExitOk;
}

}  // namespace mfcli
