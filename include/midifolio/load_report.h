// What the last load of a song met, beyond its result and its message: where and why a
// refused file stopped being read, and the readings of an accepted file in which other MIDI
// tools see something else. LoadMidiFile's results and messages stay exactly what they are;
// this report only explains them (CMidiFolio::GetLoadReport).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE

// Why a load stopped.
enum class LoadStop : int32_t {
    kNone = 0,           // the whole file was read (or nothing was loaded yet)
    kCannotOpen,         // the system refused to open the file (errno in LoadReport::error)
    kNotMidi,            // the file does not start with "MThd"
    kHeaderCut,          // the file ends inside the header chunk
    kFormatUnsupported,  // a format other than 0 and 1
    kTimeUnsupported,    // a division in SMPTE frames
    kFormat0Tracks,      // format 0 with more than one track declared
    kNotATrack,          // a chunk where a track chunk belongs is not "MTrk"
    kChunkCut,           // the file ends inside a chunk's id, length or data
    kChunkTooLong,       // a chunk claims more bytes than the file or a track can hold
    kEmptyTrack,         // a track chunk (the first one aside) without any byte
    kEventCut,           // the track's data ends inside an event or a delta time
    kNoMemory,           // memory ran out
};

// A reading of an accepted file in which other tools see something else.
enum class LoadWarning : int32_t {
    kBytesAfterEnd,      // bytes after a track's end-of-track event, not read
    kMoreTracks,         // more track chunks than the header declares, not read
    kEscapedSysex,       // F7 packets read as one-byte system-common events
    kDataByteAbove127,   // channel messages with a data byte above 127
    kDataWithoutStatus,  // data bytes with no running status in force (type code 0)
};

struct LoadNote {
    LoadWarning kind;
    int32_t track;     // index of the track, -1 for the file as a whole
    int64_t offset;    // byte of the file where it starts, -1 when not known
    uint64_t count;    // bytes, chunks or events concerned
    std::string text;  // in plain words, e.g. "track 2: 12 bytes after the end-of-track event
                       // at byte 1,204 are not read"
};

struct LoadReport {
    int32_t result = 0;   // LoadMidiFile's result
    std::string message;  // the message LoadMidiFile showed ("" after a successful load)
    LoadStop stop = LoadStop::kNone;
    int32_t track = -1;      // the track being read when it stopped (index from 0), -1: the header
    int64_t offset = -1;     // byte of the file where the problem lies, -1 when not known
    uint64_t claimed = 0;    // bytes a chunk or an event claims (kChunkTooLong, kEventCut)
    uint64_t available = 0;  // bytes that were left for it
    int error = 0;           // errno of kCannotOpen
    // The cause in plain words, e.g. "track 3 at byte 1,204: the chunk claims 2,147,483,647
    // bytes but 812 remain" ("" when the whole file was read).
    std::string cause;
    std::vector<LoadNote> warnings;  // of the tracks the song holds now
};

MIDIFOLIO_END_NAMESPACE
