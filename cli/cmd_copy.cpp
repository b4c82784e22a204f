// `midifolio copy IN OUT [--sort]`: load a song and store it again, and say what changed.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "common.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct CopyOptions {
    CommonOptions common;
    std::string in;
    std::string out;
    bool sort = false;
};

std::vector<char> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

long CountEvents(const CMidiFolio& song) {
    long n = 0;
    for (int i = 0; i < static_cast<int>(song.GetTrackNum()); ++i) {
        if (const CMidiTrack* t = song.GetTrack(i)) n += t->GetCount();
    }
    return n;
}

bool InTimeOrder(const CMidiTrack& track) {
    int32_t last = INT32_MIN;
    for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr;) {
        const int32_t t = track.GetNextEvent(pos).lTime;
        if (t < last) return false;
        last = t;
    }
    return true;
}

// The loader puts a default tempo event (120 BPM at tick 0) in front of the first track.
bool StartsWithLoaderTempo(const CMidiFolio& song) {
    const CMidiTrack* first = song.GetTrack(0);
    if (first == nullptr || first->GetEventHeadPosition() == nullptr) return false;
    const MIDIEvent ev = first->GetAt(first->GetEventHeadPosition());
    static const uint8_t kDefaultTempo[3] = {0x07, 0xA1, 0x20};
    return ev.dwType == EVT_META && (ev.dwSubType & 0xFF) == 0x51 && ev.dwLength == 3 &&
           ev.pData != nullptr && ev.lTime == 0 && std::memcmp(ev.pData, kDefaultTempo, 3) == 0;
}

// Events of the song as the file holds them: without the loader's tempo event.
long FileEvents(const CMidiFolio& song) {
    return CountEvents(song) - (StartsWithLoaderTempo(song) ? 1 : 0);
}

// Stored as it is, the loader's tempo event would make every copy one event longer; it says
// nothing the file format does not already assume, so the copy leaves it out.
void DropLoaderTempo(CMidiFolio& song) {
    if (!StartsWithLoaderTempo(song)) return;
    CMidiTrack* first = song.GetTrack(0);
    first->DeleteEvent(first->GetEventHeadPosition());
}

int RunCopy(const CopyOptions& o) {
    const std::vector<char> original = ReadBytes(o.in);
    LoadedSong loaded = LoadSongOrFail(o.in, o.common);
    CMidiFolio& song = *loaded.song;
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    const long eventsIn = FileEvents(song);

    int reordered = 0;
    if (o.sort) {
        for (int i = 0; i < static_cast<int>(song.GetTrackNum()); ++i) {
            CMidiTrack* track = song.GetTrack(i);
            if (track == nullptr) continue;
            if (!InTimeOrder(*track)) ++reordered;
            track->SortTrackByLTime(nullptr);
        }
    }
    DropLoaderTempo(song);

    {
        TerminalProgress progress("writing " + o.out, !o.common.noProgress);
        const int stored = song.StoreMidiFile(o.out, &progress);
        progress.Clear();
        if (stored != 1) {
            const int err = song.GetStoreError();
            throw Failure(o.out + ": could not be written" +
                          (err ? std::string(": ") + std::strerror(err) : ""));
        }
    }

    const std::vector<char> written = ReadBytes(o.out);
    LoadedSong check = LoadSong(o.out, nullptr);
    const long eventsOut = check.ok ? FileEvents(*check.song) : -1;
    long firstDifference = -1;
    const size_t common = std::min(original.size(), written.size());
    for (size_t i = 0; i < common; ++i) {
        if (original[i] != written[i]) {
            firstDifference = static_cast<long>(i);
            break;
        }
    }
    if (firstDifference < 0 && original.size() != written.size())
        firstDifference = static_cast<long>(common);
    const bool identical = firstDifference < 0;

    if (o.common.json) {
        Json j;
        j["input"] = {{"file", o.in},
                      {"bytes", original.size()},
                      {"format", head.nFormat},
                      {"tracks", head.nTracks},
                      {"events", eventsIn}};
        j["output"] = {
            {"file", o.out}, {"bytes", written.size()}, {"loads", check.ok}, {"events", eventsOut}};
        if (o.sort) j["reordered_tracks"] = reordered;
        j["identical"] = identical;
        j["first_difference"] = identical ? Json(nullptr) : Json(firstDifference);
        PrintJson(j);
    } else {
        std::cout << "Read    " << o.in << ": format " << head.nFormat << ", " << head.nTracks
                  << " tracks, " << eventsIn << " events, " << original.size() << " bytes\n";
        if (o.sort) {
            std::cout << "Sorted  " << reordered << " track" << (reordered == 1 ? " was" : "s were")
                      << " out of time order\n";
        }
        std::cout << "Wrote   " << o.out << ": " << written.size() << " bytes";
        if (check.ok) {
            std::cout << ", loads again with " << eventsOut << " events\n";
        } else {
            std::cout << ", but it does not load again\n";
        }
        if (identical) {
            std::cout << "Result  the copy is byte for byte the same as the original\n";
        } else {
            std::cout << "Result  the copy differs from byte " << firstDifference << " on ("
                      << original.size() << " -> " << written.size() << " bytes)\n";
        }
    }
    return check.ok ? kExitOk : kExitFailure;
}

}  // namespace

void AddCopyCommand(CLI::App& app, Action& run) {
    auto o = std::make_shared<CopyOptions>();
    CLI::App* sub =
        app.add_subcommand("copy",
                           "Load a song and store it again, optionally sorting every track, "
                           "and report what changed");
    sub->add_option("IN", o->in, "MIDI file to read")->required();
    sub->add_option("OUT", o->out, "MIDI file to write (replaced if it exists)")->required();
    sub->add_flag("--sort", o->sort,
                  "Sort every track's events by time (and rebuild delta times) first");
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "The copy is written by the library's encoder: running status only between neighbours of "
        "the\n"
        "same kind and channel, minimal delta times, nothing after an end-of-track event.\n"
        "Event counts leave out the default tempo event the loader puts in front of the first "
        "track.\n"
        "\n"
        "Examples:\n"
        "  midifolio copy song.mid copy.mid\n"
        "  midifolio copy edited.mid fixed.mid --sort --json");
    sub->callback([o, &run]() { run = [o]() { return RunCopy(*o); }; });
}

}  // namespace mfcli
