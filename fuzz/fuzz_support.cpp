#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace fuzzsupport {

using namespace midifolio;

std::string MemFile(const uint8_t* data, size_t size) {
    static int fd = -1;
    if (fd < 0) {
        fd = memfd_create("midifolio-fuzz", 0);
        FUZZ_CHECK(fd >= 0);
    }
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        FUZZ_CHECK(n > 0);
        done += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

namespace {
std::string g_scratch;
void RemoveScratch() {
    std::error_code ec;
    if (!g_scratch.empty()) std::filesystem::remove_all(g_scratch, ec);
}
}  // namespace

const std::string& ScratchDir() {
    if (g_scratch.empty()) {
        std::error_code ec;
        std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
        std::string templ = base + "/midifolio-fuzz-XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        FUZZ_CHECK(mkdtemp(buf.data()) != nullptr);
        g_scratch = buf.data();
        std::atexit(RemoveScratch);
    }
    return g_scratch;
}

bool IsLoadMessage(const std::string& text) {
    return text == "Not Midi file!!" || text == "Error read data!!" ||
           text == "Error time unsupport!!" || text == "Error format unsupport!!" ||
           text == "Error Track!!";
}

uint32_t TouchPayload(const MIDIEvent& ev) {
    uint32_t sum = 0;
    if (OwnsPayload(ev.dwType) && ev.pData != nullptr) {
        // Keep the walk bounded for absurd lengths: the allocation would have been refused.
        for (uint32_t i = 0; i < ev.dwLength; ++i) sum += ev.pData[i];
    }
    return sum;
}

size_t WalkTrack(const CMidiTrack& track) {
    size_t n = 0;
    volatile uint32_t sink = 0;
    for (POSITION p = track.GetEventHeadPosition(); p != nullptr;) {
        const MIDIEvent ev = track.GetNextEvent(p);
        sink = sink + TouchPayload(ev);
        ++n;
    }
    return n;
}

bool SameEvent(const MIDIEvent& a, const MIDIEvent& b, bool compareDelta) {
    if (a.lTime != b.lTime || a.byPort != b.byPort || a.dwType != b.dwType) return false;
    if (compareDelta && a.dwDelta != b.dwDelta) return false;
    switch (a.dwType) {
        case EVT_NOTEON:
        case EVT_NOTEOFF:
        case EVT_KEYPRESSURE:
        case EVT_CONTROL:
        case 0:
            return a.byChannel == b.byChannel && a.byData1 == b.byData1 && a.byData2 == b.byData2;
        case EVT_PROGRAM:
        case EVT_CHANPRESSURE:
            return a.byChannel == b.byChannel && a.byData1 == b.byData1;
        case EVT_PITCHBEND:
            return a.byChannel == b.byChannel && a.wBend == b.wBend;
        case EVT_REALTIME:
            return a.dwSubType == b.dwSubType;
        case EVT_SYSCOMMON: {
            if (a.dwSubType != b.dwSubType) return false;
            const int n = a.dwSubType == 0xF2 ? 2 : (a.dwSubType == 0xF1 || a.dwSubType == 0xF3);
            return std::memcmp(&a.dwLength, &b.dwLength, n) == 0;
        }
        case EVT_META:
        case EVT_SYSEX:
        case EVT_SYSEXESC:
            if (a.dwType == EVT_META && a.dwSubType != b.dwSubType) return false;
            if (a.dwLength != b.dwLength) return false;
            if (a.dwLength == 0) return true;
            if (a.pData == nullptr || b.pData == nullptr) return a.pData == b.pData;
            return std::memcmp(a.pData, b.pData, a.dwLength) == 0;
        default:
            return a.byChannel == b.byChannel && a.dwSubType == b.dwSubType &&
                   a.dwLength == b.dwLength;
    }
}

std::string Describe(const MIDIEvent& ev) {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "time %d delta %u port %u channel %u type 0x%x data %02x %02x %02x %02x "
                  "length %u",
                  ev.lTime, ev.dwDelta, ev.byPort, ev.byChannel, ev.dwType, ev.byData1, ev.byData2,
                  ev.byData3, ev.byData4, ev.dwLength);
    return buf;
}

}  // namespace fuzzsupport
