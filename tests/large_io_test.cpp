// Loading and storing songs whose chunks are larger than the reader's read-ahead or the
// writer's scratch buffer, or so many that the chunk headers cross read-ahead boundaries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

const Bytes kEnd = B({0x00, 0xFF, 0x2F, 0x00});
const Bytes kPrefix = B({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});

void LoadInto(CMidiFolio& song, const Bytes& bytes) {
    Messages messages;
    song.SetMessageSink(messages.Sink());
    ASSERT_EQ(song.LoadMidiFile(WriteFile("large_in.mid", bytes)), 1)
        << ::testing::PrintToString(messages.list);
}

Bytes Stored(CMidiFolio& song) {
    const std::string path = TmpPath("large_out.mid");
    EXPECT_EQ(song.StoreMidiFile(path), 1);
    return ReadFile(path);
}

// n rounds of: a note on, a text meta, then a note on in running status across the meta.
// The encoder repeats the status byte after each meta but leaves it out where a round
// begins (running status goes on from the previous round's note): the stored chunk is one
// byte longer than the one read. Returns the data as read and as it is stored.
std::pair<Bytes, Bytes> RunningAcrossMetas(int n, int channel) {
    Bytes read{0x00}, written{0x00};
    const int status = 0x90 | channel;
    auto add = [](Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); };
    for (int i = 0; i < n; ++i) {
        const int note = 40 + i % 40;
        const Bytes meta = B({0x00, 0xFF, 0x01, 0x03, 'a', 'b', 'c', 0x01});
        add(read, Cat({B({status, note, 0x40}), meta, B({note + 1, 0x40, 0x02})}));
        // Running status goes on from the previous round's last note.
        add(written, i == 0 ? B({status, note, 0x40}) : B({note, 0x40}));
        add(written, Cat({meta, B({status, note + 1, 0x40, 0x02})}));
    }
    add(read, B({0xFF, 0x2F, 0x00}));
    add(written, B({0xFF, 0x2F, 0x00}));
    return {read, written};
}

}  // namespace

TEST(LargeIo, TracksThatOutgrowTheirRawLengthAreStoredWhole) {
    // Tracks of about 17 KB and 1 KB, in both orders, so the growing encoding is met both
    // with a fresh buffer and with one left from a smaller and from a larger track.
    const auto big = RunningAcrossMetas(1000, 1);
    const auto small = RunningAcrossMetas(60, 2);
    CMidiFolio song;
    ASSERT_NO_FATAL_FAILURE(LoadInto(song, Smf(1, 96, {kEnd, big.first, small.first, big.first})));
    ASSERT_EQ(song.GetTrack(1)->GetCount(), 3001);
    ASSERT_LT(song.GetTrack(1)->GetTrkLen(), static_cast<int32_t>(big.second.size()));
    EXPECT_EQ(Stored(song),
              Smf(1, 96, {Cat({kPrefix, kEnd}), big.second, small.second, big.second}));
}

TEST(LargeIo, ManyShortTracksAndChunksLargerThanTheReadAheadLoadExactly) {
    // 3,000 short tracks (well over 64 KB of chunk headers and data), then one track of
    // 300 KB read past the read-ahead, then short ones again.
    std::vector<Bytes> tracks{kEnd};
    for (int i = 0; i < 3000; ++i)
        tracks.push_back(
            B({0x00, 0x90, i % 128, 0x40, 0x10, 0x80, i % 128, 0x00, 0x00, 0xFF, 0x2F, 0x00}));
    Bytes large{0x00};
    for (int i = 0; i < 100000; ++i) {
        // In running status, as the encoder writes it.
        const Bytes event = i == 0 ? B({0xB0, 7, 0, 0x00}) : B({7, i % 128, 0x00});
        large.insert(large.end(), event.begin(), event.end());
    }
    large.insert(large.end(), {0xFF, 0x2F, 0x00});
    tracks.push_back(large);
    for (int i = 0; i < 10; ++i) tracks.push_back(kEnd);
    const Bytes file = Smf(1, 480, tracks);

    CMidiFolio song;
    ASSERT_NO_FATAL_FAILURE(LoadInto(song, file));
    ASSERT_EQ(song.GetTrackNum(), static_cast<int>(tracks.size()));
    EXPECT_EQ(song.GetTrack(1)->GetCount(), 3);
    EXPECT_EQ(song.GetTrack(3000)->GetCount(), 3);
    EXPECT_EQ(song.GetTrack(3001)->GetCount(), 100001);
    EXPECT_EQ(song.GetTrack(3011)->GetCount(), 1);
    tracks[0] = Cat({kPrefix, kEnd});
    EXPECT_EQ(Stored(song), Smf(1, 480, tracks));

    // Cut anywhere in the large track, the load fails.
    const Bytes cut(file.begin(), file.end() - 1000);
    CMidiFolio broken;
    Messages messages;
    broken.SetMessageSink(messages.Sink());
    EXPECT_EQ(broken.LoadMidiFile(WriteFile("large_cut.mid", cut)), 0);
}
