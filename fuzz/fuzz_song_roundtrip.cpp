// Fuzz target: a song the exact reader takes (with recovery, so damaged files are written too)
// is saved with Song::Save. Either the writer refuses, for the reason foreseen (a delta time
// beyond the format's 28 bits between two events it writes, or before the end of a track), or
// the bytes
//   (a) read again with nothing to tell (no warning, nothing left out);
//   (b) hold the events the model of the writer foresees (song_checks.h: meta events at the
//       size the standard gives their type, one end of track at the track's last tick, format
//       0 of several tracks written as format 1), and the same notes, tempo and meter changes;
//   (c) are a fixed point: the song read from them saves to the very same bytes, and encoded
//       anew gives them again.
// Song::FromSequence must agree with Save and score::Encode.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "song_checks.h"

using namespace midifolio;
using namespace fuzzsupport;
using sc::ReadOptions;
using sc::ReadReport;
using sc::Song;

namespace {

// The writer's reasons for a delta time it cannot write.
bool IsDeltaRefusal(const std::string& error) {
    return error.rfind("track ", 0) == 0 &&
           (error.find("are more than a delta time holds (268,435,455)") != std::string::npos ||
            error.find("its end lies too far after its last event") != std::string::npos);
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "round trip: %s\n", what.c_str());
    std::abort();
}

// Song::FromSequence writes what Encode writes and reads it; it fails where Encode does.
void CheckFromSequence(const Song& song, const WriterModel& model,
                       const std::vector<uint8_t>& saved) {
    const sc::Sequence sequence = song.ToSequence();
    ReadReport report;
    const Song made = Song::FromSequence(sequence, report);
    std::string error;
    const std::vector<uint8_t> encoded = sc::Encode(sequence, &error);
    const bool several = sequence.format == 0 && sequence.tracks.size() > 1;
    if (model.refused || several) {
        FUZZ_CHECK(encoded.empty() && !error.empty());
        FUZZ_CHECK(several ? error.rfind("format 0 holds one track", 0) == 0
                           : IsDeltaRefusal(error));
        FUZZ_CHECK(report.status == sc::ReadStatus::kUnsupported && report.cause == error);
        FUZZ_CHECK(made.bytes().empty() && made.tracks().empty());
        return;
    }
    FUZZ_CHECK(error.empty() && !encoded.empty());
    FUZZ_CHECK(Quiet(report) && made.bytes() == encoded);
    // Save writes anew exactly when it does not hand back the bytes as read.
    if (saved != song.bytes()) FUZZ_CHECK(encoded == saved);
}

void CheckWritten(const Song& song, const WriterModel& model, const Song& reread) {
    FUZZ_CHECK(reread.format() == model.format);
    FUZZ_CHECK(reread.division().word == song.division().word);
    FUZZ_CHECK(reread.tracks().size() == model.tracks.size());
    const std::vector<std::vector<ModelEvent>> written = EventsOf(reread);
    for (size_t t = 0; t < model.tracks.size(); ++t) {
        size_t at = 0;
        if (!SameModelEvents(written[t], model.tracks[t], &at))
            Fail("track " + std::to_string(t) + ": event " + std::to_string(at) +
                 " is not as the writer writes it (" + std::to_string(written[t].size()) +
                 " events written, " + std::to_string(model.tracks[t].size()) + " foreseen)");
        FUZZ_CHECK(reread.tracks()[t].ended && reread.tracks()[t].end_tick == model.ends[t]);
    }
    const sc::Score before(song), after(reread);
    const std::vector<sc::Note>& a = before.notes();
    const std::vector<sc::Note>& b = after.notes();
    FUZZ_CHECK(a.size() == b.size());
    for (size_t k = 0; k < a.size(); ++k) {
        FUZZ_CHECK(a[k].track == b[k].track && a[k].channel == b[k].channel);
        FUZZ_CHECK(a[k].program == b[k].program && a[k].pitch == b[k].pitch);
        FUZZ_CHECK(a[k].velocity == b[k].velocity);
        FUZZ_CHECK(a[k].start_tick == b[k].start_tick && a[k].end_tick == b[k].end_tick);
        FUZZ_CHECK(a[k].start == b[k].start && a[k].end == b[k].end);
    }
    FUZZ_CHECK(before.tempos().size() == after.tempos().size());
    for (size_t k = 0; k < before.tempos().size(); ++k) {
        const sc::TempoChange &x = before.tempos()[k], &y = after.tempos()[k];
        FUZZ_CHECK(x.tick == y.tick && x.us_per_quarter == y.us_per_quarter && x.track == y.track);
        FUZZ_CHECK(x.seconds == y.seconds);
    }
    FUZZ_CHECK(before.time_signatures().size() == after.time_signatures().size());
    for (size_t k = 0; k < before.time_signatures().size(); ++k) {
        const sc::TimeSignature &x = before.time_signatures()[k], &y = after.time_signatures()[k];
        FUZZ_CHECK(x.tick == y.tick && x.numerator == y.numerator && x.bar == y.bar);
        FUZZ_CHECK(x.denominator_power == y.denominator_power && x.track == y.track);
    }
    FUZZ_CHECK(before.key_signatures().size() == after.key_signatures().size());
    for (size_t k = 0; k < before.key_signatures().size(); ++k) {
        const sc::KeySignature &x = before.key_signatures()[k], &y = after.key_signatures()[k];
        FUZZ_CHECK(x.tick == y.tick && x.minor == y.minor && x.track == y.track);
        FUZZ_CHECK(y.sharps == std::max<int>(-7, std::min<int>(7, x.sharps)));
    }
}

// The written bytes are a fixed point of reading and writing.
void CheckFixedPoint(const Song& song, const std::vector<uint8_t>& saved, const Song& reread) {
    std::string error;
    FUZZ_CHECK(reread.Save(&error) == saved && error.empty());
    const std::vector<uint8_t> once = sc::Encode(reread.ToSequence(), &error);
    FUZZ_CHECK(error.empty());
    if (saved != song.bytes()) {
        FUZZ_CHECK(once == saved);
        return;
    }
    // Saved as read (a valid file): encoded anew, the bytes may differ, but only once.
    ReadReport report;
    const Song again = Song::FromBytes(once, ReadOptions{}, report);
    FUZZ_CHECK(Quiet(report));
    FUZZ_CHECK(sc::Encode(again.ToSequence(), &error) == once && error.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    ReadOptions recover;
    recover.recover = true;
    ReadReport report;
    const Song song = Song::FromBytes(input, recover, report);
    if (!report.ok()) return 0;
    const WriterModel model = ModelSave(song);
    std::string error;
    const std::vector<uint8_t> saved = song.Save(&error);
    CheckFromSequence(song, model, saved);
    if (model.refused) {
        if (!saved.empty() || !IsDeltaRefusal(error))
            Fail("a delta beyond 28 bits, but Save says \"" + error + "\"");
        return 0;
    }
    if (!error.empty() || saved.empty()) Fail("Save refused: " + error);
    ReadReport again;
    const Song reread = Song::FromBytes(saved, ReadOptions{}, again);
    if (!Quiet(again))
        Fail("the saved bytes read with something to tell: " + (!again.ok() ? again.Text()
                                                                : !again.warnings.empty()
                                                                    ? again.warnings[0].text
                                                                    : again.dropped[0].text));
    CheckWritten(song, model, reread);
    CheckFixedPoint(song, saved, reread);
    return 0;
}
