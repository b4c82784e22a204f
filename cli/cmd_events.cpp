// `midifolio events FILE`: the song's events, one per line, in time order, printed as they are
// found (the library's EventStream), so that `| head` answers at once whatever the song's size.
#include <cstdio>

#include "commands.h"
#include "describe.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

namespace {

// Where the events go: a text table, a JSON array or JSON Lines.
class EventPrinter {
  public:
    EventPrinter(const EventsOptions& o, TimeColumn column, InputSong& song)
        : column_(column),
          song_(song),
          json_(Stdout(), o.jsonl ? -1 : 2),
          mode_(o.jsonl         ? kLines
                : o.common.json ? kArray
                                : kText) {
        if (mode_ == kArray) json_.BeginArray();
    }

    void Print(const score::EventRecord& ev, double length) {
        const uint8_t* payload = song_.Song().bytes().data() + ev.offset;
        if (mode_ == kText) {
            Output& out = Stdout();
            // The heading comes with the first event: an empty selection prints nothing.
            if (printed_ == 0)
                out << Format("%12s  %5s  %3s  %-12s  %s\n", TimeColumnName(column_), "track", "ch",
                              "event", "details");
            const bool off = (ev.status >> 4) == 0x9 && ev.data2 == 0;
            out << Format("%12s  %5d  %3s  %-12s  %s\n",
                          TimeText(column_, ev.tick, ev.track, song_).c_str(), ev.track + 1,
                          ChannelText(ev.channel).c_str(),
                          off ? "noteon (off)" : TypeName(ev.status).c_str(),
                          DescribeEvent(ev, payload, length).c_str());
        } else {
            json_.BeginObject();
            json_.Field("track", ev.track + 1).Field("tick", ev.tick);
            json_.Key("time");
            WriteTime(json_, column_, ev.tick, ev.track, song_);
            WriteEventFields(json_, ev, payload, length);
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
    InputSong& song_;
    JsonWriter json_;
    Mode mode_;
    long long printed_ = 0;
};

}  // namespace

int RunEvents(const EventsOptions& o) {
    // Every argument is checked before the file is read.
    const TimeColumn column = ParseTimeColumn(o.time);
    const uint32_t typeMask = o.types.empty() ? 0 : ParseTypeList(o.types);
    std::pair<int, int> tracks{1, INT32_MAX};
    if (!o.tracks.empty()) tracks = ParseRange(o.tracks, "--tracks");
    if (!o.measures.empty()) ParseRange(o.measures, "--measures");
    if (!o.from.empty()) ParseTimePoint(o.from, "--from");
    if (!o.to.empty()) ParseTimePoint(o.to, "--to");

    InputSong song = ReadSong(o.file, o.common, false);
    const TickRange range = ResolveRange(o.from, o.to, o.measures, song);
    score::EventStream stream(song.Score(), static_cast<size_t>(tracks.first - 1),
                              static_cast<size_t>(tracks.second - 1), range.from);
    EventPrinter printer(o, column, song);
    score::EventRecord ev;
    int64_t end = -1;
    while (!range.none && (o.limit < 0 || printer.Printed() < o.limit) && stream.Next(ev, end)) {
        if (range.to >= 0 && ev.tick > range.to) break;
        if (o.channel != 0 && ev.channel != o.channel - 1) continue;
        if (typeMask != 0 && (ev.kind & typeMask) == 0) continue;
        const double length =
            end >= 0
                ? song.Score().time_map(ev.track).seconds(static_cast<double>(end)) - ev.seconds
                : -1;
        printer.Print(ev, length);
    }
    printer.Finish();
    if (printer.Printed() == 0)
        std::fprintf(stderr, "midifolio: no events selected (the song has %s)\n",
                     Plural(static_cast<long long>(song.Song().tracks().size()), "track").c_str());
    return kExitOk;
}

}  // namespace mfcli
