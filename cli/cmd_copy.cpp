// `midifolio copy IN OUT [--sort]`: load a song and store it again, and say what changed.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "commands.h"

using namespace midifolio;

namespace mfcli {

namespace {

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
        const int32_t t = track.GetNextPtr(pos)->lTime;
        if (t < last) return false;
        last = t;
    }
    return true;
}

// Events of the song as the file holds them: the loader's tempo event is removed first (it
// says nothing the file format does not already assume, and stored it would make every copy
// one event longer).
long FileEvents(CMidiFolio& song) {
    song.RemoveLoaderTempo();
    return CountEvents(song);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw Failure(path + ": could not be written: " + std::strerror(errno));
    Output out(fd, path);
    try {
        out << std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        out.Flush();
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

}  // namespace

int RunCopy(const CopyOptions& o) {
    const bool toStdout = IsStdio(o.out);
    const std::string inName = InputName(o.in);
    const std::string outName = toStdout ? "standard output" : o.out;

    // Standard input can be read only once: its bytes are kept in a file the loader reads.
    std::string inPath = o.in;
    std::unique_ptr<TempFile> inCopy;
    if (IsStdio(o.in)) {
        inCopy = std::make_unique<TempFile>();
        WriteBytes(inCopy->Path(), ReadAll("-"));
        inPath = inCopy->Path();
    }
    LoadedSong loaded = LoadSongOrFail(inPath, o.common, inName);
    const std::vector<uint8_t> original = ReadAll(inPath);
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

    // A copy for standard output is stored in a file first: it is loaded again from there.
    std::unique_ptr<TempFile> outCopy;
    std::string outPath = o.out;
    if (toStdout) {
        outCopy = std::make_unique<TempFile>();
        outPath = outCopy->Path();
    }
    {
        TerminalProgress progress("writing", outName, !o.common.noProgress);
        const int stored = song.StoreMidiFile(outPath, &progress);
        progress.Clear();
        if (stored != 1) {
            const int err = song.GetStoreError();
            throw Failure(outName + ": could not be written" +
                          (err ? std::string(": ") + std::strerror(err) : ""));
        }
    }

    const std::vector<uint8_t> written = ReadAll(outPath);
    LoadedSong check = LoadSong(outPath, nullptr);
    const long eventsOut = check.ok ? FileEvents(*check.song) : -1;
    if (toStdout) {
        Stdout() << std::string_view(reinterpret_cast<const char*>(written.data()), written.size());
        Stdout().Flush();
    }
    const auto mismatch =
        std::mismatch(original.begin(), original.end(), written.begin(), written.end());
    const bool identical = mismatch.first == original.end() && mismatch.second == written.end();
    const long firstDifference = identical ? -1 : mismatch.first - original.begin();

    // With the copy on standard output, the report goes to stderr.
    Output stderrOut(STDERR_FILENO, "standard error");
    Output& report = toStdout ? stderrOut : Stdout();
    if (o.common.json) {
        JsonWriter j(report, 2);
        j.BeginObject();
        j.Key("input").BeginObject();
        j.Field("file", inName);
        j.Field("bytes", original.size());
        j.Field("format", head.nFormat);
        j.Field("tracks", head.nTracks);
        j.Field("events", eventsIn);
        j.EndObject();
        j.Key("output").BeginObject();
        j.Field("file", outName);
        j.Field("bytes", written.size());
        j.Field("loads", check.ok);
        j.Field("events", eventsOut);
        j.EndObject();
        if (o.sort) j.Field("reordered_tracks", reordered);
        j.Field("identical", identical);
        j.Key("first_difference");
        if (identical) {
            j.Null();
        } else {
            j.Int(firstDifference);
        }
        j.EndObject();
    } else {
        report << "Read    " << inName << ": format " << head.nFormat << ", "
               << Plural(head.nTracks, "track") << ", " << Plural(eventsIn, "event") << ", "
               << Plural(static_cast<long long>(original.size()), "byte") << "\n";
        if (o.sort) {
            report << "Sorted  " << Plural(reordered, "track was", "tracks were")
                   << " out of time order\n";
        }
        report << "Wrote   " << outName << ": "
               << Plural(static_cast<long long>(written.size()), "byte");
        if (check.ok) {
            report << ", loads again with " << Plural(eventsOut, "event") << "\n";
        } else {
            report << ", but it does not load again\n";
        }
        if (identical) {
            report << "Result  the copy is byte for byte the same as the original\n";
        } else {
            report << "Result  the copy differs from byte " << firstDifference << " on ("
                   << original.size() << " -> " << written.size() << " bytes)\n";
        }
    }
    report.Flush();
    return check.ok ? kExitOk : kExitFailure;
}

}  // namespace mfcli
