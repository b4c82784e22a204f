// The words of a piano roll: how wide a label is, labels cut or wrapped to fit, the texts of
// the axes, the caption and a note's description. Pure text, no layout.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "roll_model.h"

namespace mfcli {

// The font the pictures name first; TextWidth measures with its advance widths.
constexpr const char* kRollFont = "DejaVu Sans, Verdana, sans-serif";

// Width of a text in pixels at a font size, from DejaVu Sans' advance widths (a character
// outside ASCII counts as a wide letter).
double TextWidth(const std::string& text, double fontSize, bool bold = false);

// The text cut to at most `width` pixels, ending in "…" when cut.
std::string FitText(const std::string& text, double width, double fontSize, bool bold = false);

// The words of a text in lines no wider than `width` pixels (a word wider than that is cut).
std::vector<std::string> WrapText(const std::string& text, double width, double fontSize,
                                  bool bold = false);

// A mark of the seconds axis every `step` seconds of a song `duration` seconds long:
// "0.5 s", "12 s", "1:05", "1:02:05".
std::string SecondsLabel(double seconds, double step, double duration);

// "♩=120".
std::string TempoLabel(double bpm);

// The tempo range of a roll: "72..100" (whole beats per minute), "120" for one tempo.
std::string TempoRangeLabel(double low, double high);

// "3/8"; "3/?" for a signature without a note value.
std::string MeterLabel(int numerator, unsigned denominator);

// The instrument of a note: its program's General MIDI name, or its drum's name on the
// percussion channel ("note 20" for a drum without one).
std::string InstrumentName(const RollNote& note);

// The name of a drum row: "Bass Drum 1", "note 20".
std::string DrumRowName(int pitch);

// Where a tick falls, as musicians count: "3:2" (bar 3, beat 2), "3:2:120" off the beat.
std::string BarBeatLabel(const RollSong& song, double tick);

// A note in words, for the hover text of a picture: "Violin E4 (64), velocity 100; track 2
// (Strings), ch 1; bar 3:2 to 4:1, 4.500 s to 5.250 s".
std::string NoteDescription(const RollSong& song, const RollNote& note);

// The line of facts under the title: "138 notes, 144 drum strokes; 00:00:30.715, bars 1-12".
std::string FactsLine(const RollSong& song);

// What a density picture says under its title.
std::string DensityCaption(size_t notes, double plotWidth, int rows, const RollSong& song);

}  // namespace mfcli
