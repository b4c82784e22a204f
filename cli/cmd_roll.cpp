// `midifolio roll FILE -o roll.svg`: draw the song as a piano roll.
#include <algorithm>
#include <array>

#include "commands.h"
#include "describe.h"
#include "roll_svg.h"

using namespace midifolio;

namespace mfcli {

namespace {

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Notes, bars, tempo marks and channel labels of the song, all taken from the library.
RollModel BuildModel(CMidiFolio& song, const std::string& path) {
    RollModel m;
    m.title = BaseName(path);
    m.ticksPerQuarter = song.GetMidiTempo().GetTicksPerQuarterNote();
    m.endTicks = SongEndTicks(song);
    _MIDI_TIME bar = MakeMeasure(1, 0, 0);
    song.ConvertMIDITime(&bar, TF_TICK);
    m.barTicks = bar.lTicks > 0 ? bar.lTicks : 0;

    const auto& tempos = song.GetMidiTempo().GetTempos();
    for (size_t i = 0; i < tempos.size(); ++i) {
        const _TEMPO& t = tempos[i];
        if (t.lUsPerQuarter <= 0) continue;
        // The loader's default tempo is only worth a mark when no tempo of the file replaces it.
        if (i + 1 < tempos.size() && tempos[i + 1].lTicks == t.lTicks) continue;
        m.tempos.push_back({t.lTicks, 60000000.0 / t.lUsPerQuarter});
    }

    MidiEventList list;
    song.GetMIDIByTime(TF_TICK, MakeTicks(0), MakeTicks(-1), list);
    // Tick length of a note whose end the pairing did not find: a sixteenth note.
    const int32_t shortNote = std::max(1, m.ticksPerQuarter / 4);
    std::array<bool, 16> programSeen{};
    for (const MIDI_Event& rec : list) {
        const MIDIEvent& ev = rec.event;
        if (ev.byChannel >= 16) continue;
        const size_t ch = ev.byChannel;
        if (ev.dwType == EVT_PROGRAM && !programSeen[ch]) {
            programSeen[ch] = true;
            m.channelLabels[ch] = ch == 9 ? "drums" : Trim(CMidiFolio::GetInstName(ev.byData1));
        }
        if (ev.dwType != EVT_NOTEON || ev.byData2 == 0) continue;
        RollNote n;
        n.start = ev.lTime;
        n.note = ev.byData1;
        n.channel = ev.byChannel;
        n.velocity = ev.byData2;
        n.track = rec.wTrack;
        n.end = n.start + shortNote;
        if (ev.dwLength < 0x80000000u && ev.dwLength > 0) {
            // The pairing gives the length in milliseconds; the roll is drawn in ticks.
            _MIDI_TIME end = MakeMsecs(TicksToMs(song, n.start) + ev.dwLength);
            song.ConvertMIDITime(&end, TF_TICK);
            if (end.lTicks > n.start) n.end = end.lTicks;
        }
        _MIDI_TIME at = MakeTicks(n.start);
        song.ConvertMIDITime(&at, TF_MEASURE);
        n.where = "bar " + TimeText(at, m.ticksPerQuarter);
        m.endTicks = std::max(m.endTicks, n.end);
        m.notes.push_back(n);
    }
    CMidiFolio::FreePtrList(list);
    for (const RollNote& n : m.notes) {
        const size_t ch = static_cast<size_t>(n.channel);
        if (m.channelLabels[ch].empty())
            m.channelLabels[ch] = ch == 9 ? "drums" : Trim(CMidiFolio::GetInstName(0));
    }
    for (int note = 0; note < 128; ++note) {
        const std::string name = CMidiFolio::GetDrumName(note);
        if (!name.empty()) m.drumNames.emplace_back(note, name);
    }
    return m;
}

}  // namespace

int RunRoll(const RollOptions& o) {
    LoadedSong loaded = LoadSongOrFail(o.file, o.common);
    const RollModel model = BuildModel(*loaded.song, InputName(o.file));
    const std::string svg = RenderRollSvg(model, o.width);
    if (IsStdio(o.out)) {
        Stdout() << svg;
        return kExitOk;
    }
    {
        AtomicFile file(o.out);
        file.Out() << svg;
        file.Commit();
    }
    int melodic = 0, drums = 0;
    for (const RollNote& n : model.notes) (n.channel == 9 ? drums : melodic)++;
    if (o.common.json) {
        JsonWriter j(Stdout(), 2);
        j.BeginObject();
        j.Field("file", InputName(o.file));
        j.Field("svg", o.out);
        j.Field("notes", melodic);
        j.Field("drum_strokes", drums);
        j.Field("bytes", svg.size());
        j.EndObject();
    } else {
        Stdout() << "Wrote " << o.out << ": " << Plural(melodic, "note") << " and "
                 << Plural(drums, "drum stroke") << ", "
                 << Plural(static_cast<long long>(svg.size()), "byte") << "\n";
    }
    return kExitOk;
}

}  // namespace mfcli
