// Fuzz target: whole files through CMidiFolio::LoadMidiFile (the input is written to an
// in-memory file), with a progress observer and a message sink; every track is walked.
#include "fuzz_support.h"

using namespace midifolio;
using namespace fuzzsupport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = MemFile(data, size);
    Messages messages;
    Progress progress;
    CMidiFolio song;
    song.SetMessageSink(messages.Sink());
    const int r = song.LoadMidiFile(path, &progress);
    FUZZ_CHECK(r == 0 || r == 1);

    // Exactly one load message for a refused file, none for a loaded one (the tempo map's own
    // message may come in either case).
    int loadMessages = 0;
    for (const std::string& m : messages.list) loadMessages += IsLoadMessage(m);
    FUZZ_CHECK(loadMessages == (r == 0 ? 1 : 0));
    FUZZ_CHECK(progress.ranges <= 1);
    FUZZ_CHECK(progress.inOrder);

    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    if (r == 1) {
        FUZZ_CHECK(head.nFormat == 0 || head.nFormat == 1);
        FUZZ_CHECK(song.GetTrackNum() == head.nTracks);
        FUZZ_CHECK(progress.ranges == 1 && progress.upper == head.nTracks);
        FUZZ_CHECK(progress.next == head.nTracks);
    }
    for (long i = 0; i < song.GetTrackNum(); ++i) {
        const CMidiTrack* t = song.GetTrack(static_cast<int>(i));
        FUZZ_CHECK(t != nullptr);
        FUZZ_CHECK(WalkTrack(*t) == static_cast<size_t>(t->GetCount()));
    }
    FUZZ_CHECK(song.GetTrack(static_cast<int>(song.GetTrackNum())) == nullptr);
    FUZZ_CHECK(song.GetTrack(-1) == nullptr);
    return 0;
}
