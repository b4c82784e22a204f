// `midifolio info FILE`: what a song is made of, from its header to its drums.
#include <CLI/CLI.hpp>
#include <iostream>
#include <set>

#include "common.h"
#include "describe.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct InfoOptions {
    CommonOptions common;
    std::string file;
};

Json TrackJson(const CMidiTrack& track, int index) {
    std::set<int> channels;
    std::string name;
    bool named = false;
    int lyrics = 0;
    for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr;) {
        const MIDIEvent ev = track.GetNextEvent(pos);
        if (ev.byChannel < 16) channels.insert(ev.byChannel + 1);
        if (ev.dwType == EVT_META && (ev.dwSubType & 0xFF) == 0x03 && !named) {
            name = DecodeText(ev.pData, ev.pData ? ev.dwLength : 0);
            named = true;
        }
        if (ev.dwType == EVT_META && (ev.dwSubType & 0xFF) == 0x05) ++lyrics;
    }
    Json j;
    j["number"] = index + 1;
    j["name"] = name;
    j["events"] = track.GetCount();
    j["channels"] = Json(std::vector<int>(channels.begin(), channels.end()));
    j["lyrics"] = lyrics;
    return j;
}

}  // namespace

// Everything `info` reports, as one JSON document; the text form is printed from it.
Json SongInfo(CMidiFolio& song, const std::string& path) {
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    CMidiTempo& tempo = song.GetMidiTempo();
    Json j;
    j["file"] = path;
    j["format"] = head.nFormat;
    j["tracks"] = head.nTracks;
    j["division"] = head.nDivision;

    const int32_t endTicks = SongEndTicks(song);
    const double endMs = TicksToMs(song, endTicks);
    _MIDI_TIME end = MakeTicks(endTicks);
    song.ConvertMIDITime(&end, TF_MEASURE);
    j["end_tick"] = endTicks;
    j["duration_ms"] = endMs;
    j["duration"] = ClockMs(endMs);
    j["end"] = TimeText(end, head.nDivision);

    const _BAR bar = tempo.GetBar();
    j["time_signature"] = {{"numerator", bar.dwBaseBarNum},
                           {"denominator", bar.dwBaseNoteNum},
                           {"text", Format("%u/%u", bar.dwBaseBarNum, bar.dwBaseNoteNum)}};
    const _KEY key = tempo.GetKeySignature();
    j["key_signature"] = {{"sharps_flats", key.dwSharpsFlats},
                          {"minor", key.dwMinor},
                          {"text", KeyName(key.dwSharpsFlats, key.dwMinor)}};

    Json tempos = Json::array();
    for (const _TEMPO& t : tempo.GetTempos()) {
        tempos.push_back({{"tick", t.lTicks},
                          {"ms", t.lMsecs},
                          {"bpm", t.lUsPerQuarter > 0 ? 60000000.0 / t.lUsPerQuarter : 0.0},
                          {"us_per_quarter", t.lUsPerQuarter}});
    }
    j["tempo_map"] = tempos;

    Json tracks = Json::array();
    for (int i = 0; i < static_cast<int>(song.GetTrackNum()); ++i) {
        if (const CMidiTrack* track = song.GetTrack(i)) tracks.push_back(TrackJson(*track, i));
    }
    j["track_list"] = tracks;

    uint8_t channels[16] = {};
    const int used = song.GetTotalChannels();
    song.GetChannels(channels);
    Json channelList = Json::array();
    Json instruments = Json::array();
    for (int i = 0; i < used && i < 16; ++i) {
        const int ch = channels[i];
        channelList.push_back(ch + 1);
        if (ch == 9) continue;  // the drums are listed on their own
        InstrumentArray list;
        song.GetInstrumentByChannel(ch, list);
        for (const _INSTRUMENT& in : list) {
            instruments.push_back({{"channel", ch + 1},
                                   {"bank", in.byBank},
                                   {"program", in.byProgram},
                                   {"name", in.strName},
                                   {"low_note", in.byLowNote},
                                   {"high_note", in.byHighNote},
                                   {"low", NoteName(in.byLowNote)},
                                   {"high", NoteName(in.byHighNote)}});
        }
    }
    j["channels"] = channelList;
    j["instruments"] = instruments;

    DrumArray drums;
    song.GetDrums(drums, 1);
    Json drumList = Json::array();
    for (const _DRUM& d : drums) {
        drumList.push_back(
            {{"bank", d.byBank}, {"note", d.byNote}, {"name", d.strName}, {"pitch", d.strPitch}});
    }
    j["drums"] = drumList;
    j["percussion_in_gm_range"] = song.GetIsPercussionInRange() == 1;
    return j;
}

static void PrintInfoText(const Json& j) {
    std::ostream& o = std::cout;
    o << "File        " << j["file"].get<std::string>() << "\n";
    o << "Format      " << j["format"] << ", " << j["tracks"] << " track"
      << (j["tracks"] == 1 ? "" : "s") << ", " << j["division"] << " ticks per quarter note\n";
    o << "Duration    " << j["duration"].get<std::string>() << " (" << j["end_tick"]
      << " ticks, ends at bar:beat:tick " << j["end"].get<std::string>() << ")\n";
    o << "Signature   " << j["time_signature"]["text"].get<std::string>() << ", "
      << j["key_signature"]["text"].get<std::string>() << "\n";

    o << "\nTempo map\n";
    o << Format("  %10s  %12s  %8s  %10s\n", "tick", "time", "BPM", "us/quarter");
    for (const auto& t : j["tempo_map"]) {
        o << Format("  %10d  %12s  %8.2f  %10d\n", t["tick"].get<int>(),
                    ClockMs(t["ms"].get<double>()).c_str(), t["bpm"].get<double>(),
                    t["us_per_quarter"].get<int>());
    }

    o << "\nTracks\n";
    o << Format("  %3s  %7s  %-12s  %s\n", "#", "events", "channels", "name");
    for (const auto& t : j["track_list"]) {
        std::string channels;
        for (const auto& c : t["channels"]) channels += (channels.empty() ? "" : ",") + c.dump();
        if (channels.empty()) channels = "-";
        o << Format("  %3d  %7d  %-12s  %s\n", t["number"].get<int>(), t["events"].get<int>(),
                    channels.c_str(), EscapeControls(t["name"].get<std::string>()).c_str());
    }

    std::string channels;
    for (const auto& c : j["channels"]) channels += (channels.empty() ? "" : ", ") + c.dump();
    o << "\nChannels    " << (channels.empty() ? "none" : channels) << "\n";

    o << "\nInstruments\n";
    if (j["instruments"].empty()) {
        o << "  none\n";
    } else {
        o << Format("  %2s  %4s  %4s  %-24s  %s\n", "ch", "bank", "prog", "name", "notes");
        for (const auto& in : j["instruments"]) {
            o << Format("  %2d  %4d  %4d  %-24s  %s (%d) .. %s (%d)\n", in["channel"].get<int>(),
                        in["bank"].get<int>(), in["program"].get<int>(),
                        in["name"].get<std::string>().c_str(), in["low"].get<std::string>().c_str(),
                        in["low_note"].get<int>(), in["high"].get<std::string>().c_str(),
                        in["high_note"].get<int>());
        }
    }

    o << "\nDrums (channel 10)\n";
    if (j["drums"].empty()) {
        o << "  none\n";
    } else {
        o << Format("  %4s  %4s  %-5s  %s\n", "bank", "note", "pitch", "name");
        for (const auto& d : j["drums"]) {
            const std::string name = d["name"].get<std::string>();
            o << Format("  %4d  %4d  %-5s  %s\n", d["bank"].get<int>(), d["note"].get<int>(),
                        d["pitch"].get<std::string>().c_str(),
                        name.empty() ? "(no General MIDI drum)" : name.c_str());
        }
    }
    o << "\nPercussion  "
      << (j["percussion_in_gm_range"].get<bool>()
              ? "every drum note lies within the General MIDI range (35..81)"
              : "some drum notes lie outside the General MIDI range (35..81)")
      << "\n";
}

void AddInfoCommand(CLI::App& app, Action& run) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* sub =
        app.add_subcommand("info",
                           "Show a song's header, duration, tempo map, tracks, channels, "
                           "instruments and drums");
    sub->add_option("FILE", options->file, "MIDI file to read")->required();
    AddCommonOptions(*sub, options->common);
    sub->footer(
        "Examples:\n"
        "  midifolio info examples/sample.mid\n"
        "  midifolio info song.mid --json | jq '.instruments[].name'");
    sub->callback([options, &run]() {
        run = [options]() {
            LoadedSong loaded = LoadSongOrFail(options->file, options->common);
            const Json j = SongInfo(*loaded.song, options->file);
            if (options->common.json) {
                PrintJson(j);
            } else {
                PrintInfoText(j);
            }
            return kExitOk;
        };
    });
}

}  // namespace mfcli
