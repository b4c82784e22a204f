// General MIDI vocabulary: instrument, drum and controller names.
// The texts are the library's own display texts, spelling and trailing blanks included:
// hosts compare against them.
#include <array>
#include <cstdint>
#include <string>

#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace {

// Program number 0..127 -> instrument name.
constexpr std::array<const char*, 128> kInstrumentNames = {
    "Acoustic Grand",          // 0
    "Bright Acoustic Paino",   // 1
    "Electric Grand Piano",    // 2
    "Honky-tonk Piano",        // 3
    "Rhodes Piano",            // 4
    "Chorused Piano",          // 5
    "Harpsichord",             // 6
    "Clavinet",                // 7
    "Celesta",                 // 8
    "Glockenspiel",            // 9
    "Music Box",               // 10
    "Vibraphone",              // 11
    "Marimba",                 // 12
    "Xylophon",                // 13
    "Tubular Bell",            // 14
    "Dulcimer",                // 15
    "Hammond Organ",           // 16
    "Percussive Organ",        // 17
    "Rock Organ",              // 18
    "Church Organ",            // 19
    "Reed Organ",              // 20
    "Accordian",               // 21
    "Harmonica",               // 22
    "Tango Accordion",         // 23
    "Acoustic Guitar(nylon)",  // 24
    "Acoustic Guitar(Steel)",  // 25
    "Electric(Jazz)",          // 26
    "Electric(Clean)",         // 27
    "Electric(Muted)",         // 28
    "Overdriven Guitar",       // 29
    "Distortion Guitar",       // 30
    "Guitar Hamonics",         // 31
    "Acoustic Bass",           // 32
    "Electric(Fingrt)",        // 33
    "Electric(Pick))",         // 34
    "Fretless Bass",           // 35
    "Slap Bass 1",             // 36
    "Slap Bass 2",             // 37
    "Synth Bass 1",            // 38
    "Synth Bass 2",            // 39
    "Violin",                  // 40
    "Viola",                   // 41
    "Cello",                   // 42
    "ContraBass",              // 43
    "Termolo Strings",         // 44
    "Pizzicato Strings",       // 45
    "Orchestral Harp",         // 46
    "Timpani",                 // 47
    "String Ensemble 1",       // 48
    "String Ensemble 2",       // 49
    "String Synths 1 ",        // 50
    "String Synths 2",         // 51
    "Choir Aahs",              // 52
    "Voice Oohs",              // 53
    "Synth Voice",             // 54
    "Orchestra Hit",           // 55
    "Trumpet",                 // 56
    "Trombone",                // 57
    "Tuba",                    // 58
    "Muted Turmpet",           // 59
    "French horn",             // 60
    "Brass Section",           // 61
    "Synth Brass 1",           // 62
    "Synyh Brass 2",           // 63
    "Soprano Sax",             // 64
    "Alto Sax",                // 65
    "Tenor Sax",               // 66
    "Baritone Sax",            // 67
    "Oboe",                    // 68
    "English Horn",            // 69
    "Bassoon",                 // 70
    "Clarinet",                // 71
    "Piccolo",                 // 72
    "Flute",                   // 73
    "Recorder",                // 74
    "Pan Flute",               // 75
    "Blow Bottle",             // 76
    "Shakhchi",                // 77
    "Whistle",                 // 78
    "Ocarina",                 // 79
    "Lead 1 (square)",         // 80
    "Lead 2 (sawtooth)",       // 81
    "Lead 3 (Calliop lead)",   // 82
    "Lead 4 (Chiff lead)",     // 83
    "Lead 5 (Charange)",       // 84
    "Lead 6 (Voice)",          // 85
    "Lead 7 (fifth)",          // 86
    "lead 8 (bass+lead)",      // 87
    "Pad 1 (new age)",         // 88
    "Pad 2 (warm)",            // 89
    "Pad 3 (polysynth)",       // 90
    "Pad 4 (choir)",           // 91
    "Pad 5 (bowed)",           // 92
    "Pad 6 (metallic)",        // 93
    "Pad 7 (halo)",            // 94
    "Pad 8 (sweep)",           // 95
    "FX1 (rain)",              // 96
    "FX2 (soundtrack)",        // 97
    "FX3 (crystal)",           // 98
    "FX4 (atmosphere)",        // 99
    "FX5 (brightness)",        // 100
    "FX6 (goblins)",           // 101
    "FX7 (echoes)",            // 102
    "FX8 (sci-fi)",            // 103
    "Sitar",                   // 104
    "Banjo",                   // 105
    "Shamisen",                // 106
    "Koto",                    // 107
    "Kalimba",                 // 108
    "BagPipe",                 // 109
    "Fiddle",                  // 110
    "Shanai",                  // 111
    "Tinkle Bell",             // 112
    "Agogo",                   // 113
    "Steel Drums",             // 114
    "Woodblock",               // 115
    "Taiko",                   // 116
    "Melodic Tom",             // 117
    "Synth Drum",              // 118
    "Reverse Cymbal",          // 119
    "Guitar Fret Noise",       // 120
    "Breath Noise",            // 121
    "Seashore",                // 122
    "Bird Tweet",              // 123
    "Telephone Ring",          // 124
    "Helicopter",              // 125
    "Applause",                // 126
    "Gunshot",                 // 127
};

struct DrumRow {
    uint8_t byNote;
    const char* lpszName;
};

// Percussion note 27..87 -> drum name, in ascending note order.
constexpr std::array<DrumRow, 61> kDrumNames = {{
    {27, "High Q"},          {28, "Slap"},           {29, "Scratch Push"},
    {30, "Scratch Pull"},    {31, "Sticks"},         {32, "Square Click"},
    {33, "Metronome Click"}, {34, "Metronome Bell"}, {35, "Acoustic Bass Drum"},
    {36, "Bass Drum1"},      {37, "Side Stick"},     {38, "Acoustic Snare"},
    {39, "Hand Clap"},       {40, "Electric Snare"}, {41, "Low Floor Tom"},
    {42, "Closed Hi-Hat"},   {43, "High Floor Tom"}, {44, "Pedal Hi-Hat"},
    {45, "Low Tom"},         {46, "Open Hi-Hat"},    {47, "Low-Mid Tom"},
    {48, "Hi-Mid Tom"},      {49, "Crash Cymbal 1"}, {50, "High Tom"},
    {51, "Ride Cymbal 1"},   {52, "Chinese Cymbal"}, {53, "Ride Bell"},
    {54, "Tambourine"},      {55, "Splash Cymbal"},  {56, "Cowbell"},
    {57, "Crashk Cymbal 2"}, {58, "Vibraslap"},      {59, "Ride Cymbal 2"},
    {60, "Hi Bongo"},        {61, "Low Bongo"},      {62, "Mute Hi Conga"},
    {63, "Open Hi Conga"},   {64, "Low Conga"},      {65, "High Timbale"},
    {66, "Low Timebale"},    {67, "High Agogo"},     {68, "Low Agogo"},
    {69, "Cabasa"},          {70, "Maracas"},        {71, "Short Whistle"},
    {72, "Long Whistle"},    {73, "Short Guiro"},    {74, "Long Guiro"},
    {75, "Claves"},          {76, "Hi Wood Block"},  {77, "Low Wood Block"},
    {78, "Mute Cuica"},      {79, "Open Cuica"},     {80, "Mute Triangle"},
    {81, "Open Triangle"},   {82, "Shark"},          {83, "Jingel Bell"},
    {84, "Bell Tree"},       {85, "Castinets"},      {86, "Mute Surdo"},
    {87, "Open Surdo"},
}};

// Controller number 0..127 -> name and type code. Type codes: 1 ordinary controller,
// 2 switch pedal (64..69), 3 data increment (96), 4 undefined block (102..119),
// 5 channel mode message, 6 local control (122), 7 poly mode (126).
constexpr std::array<_MIDI_CONTROL_MSG, 128> kControllers = {{
    {"Bank Select (MSB)", 1},                          // 0
    {"Modulation Wheel (MSB)", 1},                     // 1
    {"Breath controller (MSB) ", 1},                   // 2
    {"Undefined (MSB)", 1},                            // 3
    {"Foot Pedal (MSB) ", 1},                          // 4
    {"Portamento Time (MSB) ", 1},                     // 5
    {"Data Entry (MSB) ", 1},                          // 6
    {"Channel volume MSB", 1},                         // 7
    {"Balance (MSB) ", 1},                             // 8
    {"Undefined", 1},                                  // 9
    {"Pan (MSB) ", 1},                                 // 10
    {"Expression Controller(MSB) ", 1},                // 11
    {"Effect Control 1 (MSB) ", 1},                    // 12
    {"Effect Control 2 (MSB) ", 1},                    // 13
    {"Undefined", 1},                                  // 14
    {"Undefined", 1},                                  // 15
    {"General Purpose Controller 1", 1},               // 16
    {"General Purpose Controller 2", 1},               // 17
    {"General Purpose Controller 3", 1},               // 18
    {"General Purpose Controller 4", 1},               // 19
    {"Undefined", 1},                                  // 20
    {"Undefined", 1},                                  // 21
    {"Undefined", 1},                                  // 22
    {"Undefined", 1},                                  // 23
    {"Undefined", 1},                                  // 24
    {"Undefined", 1},                                  // 25
    {"Undefined", 1},                                  // 26
    {"Undefined", 1},                                  // 27
    {"Undefined", 1},                                  // 28
    {"Undefined", 1},                                  // 29
    {"Undefined", 1},                                  // 30
    {"Undefined", 1},                                  // 31
    {"Bank Select (LSB) ", 1},                         // 32
    {"Modulation Wheel (LSB) ", 1},                    // 33
    {"Breath control (LSB) ", 1},                      // 34
    {"Undefined", 1},                                  // 35
    {"Foot Pedal (LSB) ", 1},                          // 36
    {"Portamento Time (LSB) ", 1},                     // 37
    {"Data Entry (LSB) ", 1},                          // 38
    {"Channel Volume (LSB) ", 1},                      // 39
    {"Balance (LSB) ", 1},                             // 40
    {"Undefined", 1},                                  // 41
    {"Pan (LSB) ", 1},                                 // 42
    {"Expression Controller (LSB) ", 1},               // 43
    {"Effect Control 1 (LSB) ", 1},                    // 44
    {"Effect Control 2 (LSB) ", 1},                    // 45
    {"Undefined", 1},                                  // 46
    {"Undefined", 1},                                  // 47
    {"General Purpose Controller #1 LSB", 1},          // 48
    {"General Purpose Controller #2 LSB", 1},          // 49
    {"General Purpose Controller #3 LSB", 1},          // 50
    {"General Purpose Controller #4 LSB", 1},          // 51
    {"Undefined", 1},                                  // 52
    {"Undefined", 1},                                  // 53
    {"Undefined", 1},                                  // 54
    {"Undefined", 1},                                  // 55
    {"Undefined", 1},                                  // 56
    {"Undefined", 1},                                  // 57
    {"Undefined", 1},                                  // 58
    {"Undefined", 1},                                  // 59
    {"Undefined", 1},                                  // 60
    {"Undefined", 1},                                  // 61
    {"Undefined", 1},                                  // 62
    {"Undefined", 1},                                  // 63
    {"Damper Pedal (on/off) ", 2},                     // 64
    {"Portamento (on/off) ", 2},                       // 65
    {"Sustenuto Pedal (on/off) ", 2},                  // 66
    {"Soft Pedal (on/off) ", 2},                       // 67
    {"Legato Footswitch (on/off) ", 2},                // 68
    {"Hold 2", 2},                                     // 69
    {"Sound Control 1(Sound Variation) LSB ", 1},      // 70
    {"Sound Control 2(Timbre) LSB", 1},                // 71
    {"Sound Control 3(Release Time) LSB", 1},          // 72
    {"Sound Control 4(Attack Time) LSB", 1},           // 73
    {"Sound Control 5(Brightness) LSB", 1},            // 74
    {"Sound Control 6(LSB)", 1},                       // 75
    {"Sound Control 7(LSB)", 1},                       // 76
    {"Sound Control 8 (LSB)", 1},                      // 77
    {"Sound Control 9 (LSB)", 1},                      // 78
    {"Sound Control 10(LSB) ", 1},                     // 79
    {"General Purpose Controller#5(LSB)", 1},          // 80
    {"General Purpose Controller#6(LSB)", 1},          // 81
    {"General Purpose Controller#7(LSB)", 1},          // 82
    {"General Purpose Controller#8(LSB)", 1},          // 83
    {"Portamento Control Source No", 1},               // 84
    {"Undefined", 1},                                  // 85
    {"Undefined", 1},                                  // 86
    {"Undefined", 1},                                  // 87
    {"Undefined", 1},                                  // 88
    {"Undefined", 1},                                  // 89
    {"Undefined", 1},                                  // 90
    {"Effects 1 Depth (LSB)", 1},                      // 91
    {"Effects 2 Depth (LSB)", 1},                      // 92
    {"Effects 3 Depth (LSB)", 1},                      // 93
    {"Effects 4 Depth (LSB)", 1},                      // 94
    {"Effects 5 Depth (LSB)", 1},                      // 95
    {"Data entry +1 ", 3},                             // 96
    {"Data entry -1 ", 1},                             // 97
    {"Non-registered Parameter Number(LSB) ", 1},      // 98
    {"Non-registered Parameter Number(MSB) ", 1},      // 99
    {"Registered Parameter Number(LSB) ", 1},          // 100
    {"Registered Parameter Number(MSB) ", 1},          // 101
    {"Undefined", 4},                                  // 102
    {"Undefined", 4},                                  // 103
    {"Undefined", 4},                                  // 104
    {"Undefined", 4},                                  // 105
    {"Undefined", 4},                                  // 106
    {"Undefined", 4},                                  // 107
    {"Undefined", 4},                                  // 108
    {"Undefined", 4},                                  // 109
    {"Undefined", 4},                                  // 110
    {"Undefined", 4},                                  // 111
    {"Undefined", 4},                                  // 112
    {"Undefined", 4},                                  // 113
    {"Undefined", 4},                                  // 114
    {"Undefined", 4},                                  // 115
    {"Undefined", 4},                                  // 116
    {"Undefined", 4},                                  // 117
    {"Undefined", 4},                                  // 118
    {"Undefined", 4},                                  // 119
    {"All Sound Off", 5},                              // 120
    {"Reset All Controllers", 5},                      // 121
    {"Local Control (on/off) ", 6},                    // 122
    {"All Notes Off", 5},                              // 123
    {"Omni mode off(includes all notes off)", 5},      // 124
    {"Omni mode on(includes all notes off)", 5},       // 125
    {"Poly mode on/off(includes all notes off)", 7},   // 126
    {"Poly mode on(incl mono=off&all notes off)", 5},  // 127
}};

}  // namespace

std::string CMidiFolio::GetInstName(int32_t nProgram) {
    if (nProgram < 0 || nProgram >= static_cast<int32_t>(kInstrumentNames.size())) return {};
    return kInstrumentNames[static_cast<size_t>(nProgram)];
}

std::string CMidiFolio::GetDrumName(int32_t nNote) {
    for (const DrumRow& row : kDrumNames) {
        if (row.byNote == nNote) return row.lpszName;
    }
    return {};
}

// Controller numbers 128..255 have no row: they get an empty name and type 0.
_MIDI_CONTROL_MSG CMidiFolio::GetContrlMsg(uint8_t byControl) {
    if (byControl >= kControllers.size()) return {"", 0};
    return kControllers[byControl];
}

MIDIFOLIO_END_NAMESPACE
