// Host-facing hooks: where user messages go and who hears about progress.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE

// Receives the library's user messages ("Not Midi file!!", ...). One call per message,
// the text without a trailing newline. The default sink writes the text and a newline
// to stderr.
using MessageSink = std::function<void(const std::string&)>;

// The sink every new song (and tempo map) starts with.
MIDIFOLIO_API MessageSink DefaultMessageSink();

// Progress of loading and storing: SetRange(0, n) once for n tracks, then SetPos(i)
// after track i has been read or written. Calls come synchronously on the caller's thread.
class MIDIFOLIO_API ProgressObserver {
  public:
    virtual ~ProgressObserver() = default;
    virtual void SetRange(int lower, int upper) = 0;
    virtual void SetPos(int pos) = 0;
    // Bytes of the file read so far, of its total (0 when the size is not known), called as
    // a load reads: at least once per megabyte and once per chunk. Does nothing unless
    // overridden; a bar that moves by bytes moves smoothly through a file of one long track.
    virtual void SetBytes(uint64_t done, uint64_t total) {
        (void)done;
        (void)total;
    }
};

// Library version, "MAJOR.MINOR.PATCH".
MIDIFOLIO_API const char* GetVersion();

MIDIFOLIO_END_NAMESPACE
