// The exact layer: read a song as the MIDI standard defines it, edit it, name what it holds,
// and write it back as a valid file.
// Usage: exact_layer SONG.mid DAMAGED.mid FORMAT0_SEVERAL_TRACKS.mid OUT.mid
#include <midifolio/edit.h>
#include <midifolio/file_output.h>
#include <midifolio/names.h>
#include <midifolio/song.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace midifolio;

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s SONG DAMAGED FORMAT0 OUT\n", argv[0]);
        return 2;
    }
    // [read]
    score::ReadOptions options;
    options.max_memory = 64 << 20;  // refuse a song that would take more than 64 MiB
    score::ReadReport report;
    const score::Song song = score::Song::Load(argv[1], options, report);
    if (!report.ok()) {
        std::fprintf(stderr, "%s\n", report.Text().c_str());
        return 1;
    }
    std::printf("format %d, %zu tracks, %d ticks per quarter note, %llu events\n", song.format(),
                song.tracks().size(), song.division().ticks_per_quarter(),
                static_cast<unsigned long long>(song.events()));
    const std::vector<score::EventRecord> events = song.Events();
    std::printf("first event: track %u tick %lld status %02X\n", events[0].track,
                static_cast<long long>(events[0].tick), events[0].status);
    // [read]

    // [recover]
    score::Song damaged = score::Song::Load(argv[2], score::ReadOptions{}, report);
    std::printf("%s\n", report.Text().c_str());
    score::ReadOptions keep;
    keep.recover = true;
    damaged = score::Song::Load(argv[2], keep, report);
    std::printf("recovered %llu events; left out: %s\n",
                static_cast<unsigned long long>(damaged.events()),
                report.dropped.empty() ? "nothing" : report.dropped[0].text.c_str());
    // [recover]

    // [save]
    std::string error;
    // A song read from a file of format 0 holding two tracks: warned of, saved as format 1.
    const score::Song odd = score::Song::Load(argv[3], score::ReadOptions{}, report);
    for (const score::ReadIssue& issue : report.warnings) std::printf("%s\n", issue.text.c_str());
    const std::vector<uint8_t> fixed = odd.Save(&error);
    std::printf("saved %zu bytes, header format %d\n", fixed.size(),
                fixed.size() > 9 ? fixed[9] : -1);

    // Encode refuses what no valid file can hold, and says why.
    score::Sequence sequence = song.ToSequence();
    for (size_t k = 1; k < sequence.tracks[0].size(); ++k)
        sequence.tracks[0][k].tick += 0x10000000;  // a delta time beyond 28 bits
    const std::vector<uint8_t> none = score::Encode(sequence, &error);
    std::printf("%zu bytes: %s\n", none.size(), error.c_str());
    // [save]

    // [edit]
    score::Song edited = score::Transpose(song, 2, false, &error);  // up a whole tone
    if (error.empty()) edited = score::Crop(edited, 1.0, 2.0, score::CropUnit::kBars, &error);
    const std::vector<uint8_t> out = error.empty() ? edited.Save(&error) : std::vector<uint8_t>{};
    if (!error.empty() || WriteWholeFile(argv[4], out.data(), out.size()) != 0) {
        std::fprintf(stderr, "cannot edit: %s\n", error.c_str());
        return 1;
    }
    std::printf("bars 1-2 a whole tone up: %zu bytes, %llu events\n", out.size(),
                static_cast<unsigned long long>(edited.events()));
    score::Transpose(song, 100, false, &error);
    std::printf("%s\n", error.c_str());
    // [edit]

    // [names]
    std::printf("%s / %s / %s\n", names::ProgramName(0), names::DrumName(38),
                names::ControllerName(64));
    std::printf("note 60 is %s (%s with middle C as C5); \"Db4\" is %d\n",
                names::PitchName(60).c_str(), names::PitchName(60, 5).c_str(),
                names::ParsePitchName("Db4"));
    std::printf("A4 = %.1f Hz, 261.63 Hz = note %.2f, %s, %s\n", names::NoteFrequency(69),
                names::FrequencyNote(261.63), names::KeyName(-3, false).c_str(),
                names::KeyName(3, true).c_str());
    // [names]
    return 0;
}
