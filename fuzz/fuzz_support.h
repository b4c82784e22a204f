// Helpers shared by the fuzz targets: in-memory files, a private scratch folder, quiet
// sinks, event comparison and a check macro that aborts (which libFuzzer reports as a crash).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace fuzzsupport {

// Puts the bytes into an in-memory file (memfd) and returns a path that opens it
// ("/proc/self/fd/N"). The same file is reused, rewritten on every call.
std::string MemFile(const uint8_t* data, size_t size);

// A folder of this process for files the targets write (under /dev/shm when it exists),
// removed at exit.
const std::string& ScratchDir();

// Texts LoadMidiFile shows for a refused file.
bool IsLoadMessage(const std::string& text);

// Reads every payload byte of the event (dwLength bytes at pData for the buffer-owning kinds),
// so that AddressSanitizer sees a payload shorter than its declared length.
uint32_t TouchPayload(const midifolio::MIDIEvent& ev);

// Walks every event of the track, touching payloads; returns the number of events walked.
size_t WalkTrack(const midifolio::CMidiTrack& track);

// True when two decoded events say the same thing: time, port, type and the fields their
// kind defines (payload bytes included). dwDelta is compared when compareDelta is set.
bool SameEvent(const midifolio::MIDIEvent& a, const midifolio::MIDIEvent& b, bool compareDelta);
std::string Describe(const midifolio::MIDIEvent& ev);

// Collects messages, records progress calls and checks their order.
struct Messages {
    std::vector<std::string> list;
    midifolio::MessageSink Sink() {
        return [this](const std::string& text) { list.push_back(text); };
    }
};
struct Progress : midifolio::ProgressObserver {
    int ranges = 0, lower = -1, upper = -1, next = 0;
    bool inOrder = true;
    void SetRange(int lo, int hi) override {
        ++ranges;
        lower = lo;
        upper = hi;
    }
    void SetPos(int pos) override {
        if (pos != next) inOrder = false;
        ++next;
    }
};

}  // namespace fuzzsupport
