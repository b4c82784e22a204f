#include <midifolio/midifolio.h>

#include <cstdio>

int main() {
    midifolio::CMidiFolio song;
    std::printf("midifolio %s, %ld tracks\n", midifolio::GetVersion(), song.GetTrackNum());
    return song.GetTrackNum() == 0 ? 0 : 1;
}
