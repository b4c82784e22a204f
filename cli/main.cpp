// midifolio: read, analyse, draw and rewrite Standard MIDI Files from a terminal.
//
// This file is the command line: every subcommand's options, their checks and help texts, and
// what happens to errors. It is the only part of the tool that sees the command-line library.
#include <CLI/CLI.hpp>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <sstream>
#include <string>

#include "commands.h"
#include "describe.h"

using namespace mfcli;

namespace {

// What the chosen subcommand does, set by its callback while the command line is parsed.
using Action = std::function<int()>;

// The octave number of middle C in the pitch names read and shown (--middle-c): one value for
// the one subcommand that runs.
int g_middleC = midifolio::names::kMiddleC;

// --max-memory SIZE: bytes, or with K, M, G, T (powers of 1024).
void AddMemoryOption(CLI::App& sub, CommonOptions& options) {
    sub.add_option_function<std::string>(
           "--max-memory",
           [&options](const std::string& text) {
               if (!ParseSize(text, options.maxMemory))
                   throw CLI::ValidationError(
                       "--max-memory must be a size such as 512M or 2G, not '" + Shown(text) + "'");
           },
           "Refuse a song whose reading would take more memory than this (512M, 2G; default: "
           "half the machine's memory)")
        ->type_name("SIZE");
}

// The options of every subcommand; `loads` for those that read a MIDI file.
void AddCommonOptions(CLI::App& sub, CommonOptions& options, bool json = true, bool loads = true) {
    if (json) sub.add_flag("--json", options.json, "Print machine-readable JSON instead of text");
    sub.add_flag("--no-progress", options.noProgress,
                 "Never draw a progress bar (none is drawn anyway when stderr is not a terminal)");
    sub.add_option("--middle-c", g_middleC,
                   "Octave number of middle C (note 60) in pitch names: 4 (scientific, the "
                   "default), 3 or 5")
        ->check(CLI::Range(3, 5))
        ->type_name("3|4|5");
    if (loads) {
        sub.add_flag("--strict", options.strict,
                     "Refuse a file read with warnings (bytes after an end of track, more "
                     "tracks than declared, unknown chunks, data bytes above 127, a missing "
                     "end of track)");
        sub.add_flag("--recover", options.recover,
                     "Read what a damaged file holds before the damage in each track, and say "
                     "on stderr what was left out");
        AddMemoryOption(sub, options);
    }
}

// --csv, which --json excludes: after AddCommonOptions, which adds --json.
void AddCsvFlag(CLI::App& sub, bool& csv, const std::string& help) {
    sub.add_flag("--csv", csv, help)->excludes(sub.get_option("--json"));
}

// The option's long name ("--limit" of "-l,--limit").
std::string LongName(const std::string& names) {
    const auto comma = names.rfind(',');
    return comma == std::string::npos ? names : names.substr(comma + 1);
}

// A whole-number option within lo..hi. It is checked as text, so that the message names the
// range and repeats no more than a little of what was given.
template <typename T>
CLI::Option* AddInteger(CLI::App& sub, const std::string& names, T& value, long long lo,
                        long long hi, const std::string& help) {
    const std::string name = LongName(names);
    CLI::Option* option = sub.add_option_function<std::string>(
        names,
        [&value, lo, hi, name](const std::string& text) {
            long long v = 0;
            if (!ParseInteger(text, v, true) || v < lo || v > hi) {
                throw CLI::ValidationError(Format("%s must be %lld..%lld, not '%s'", name.c_str(),
                                                  lo, hi, Shown(text).c_str()));
            }
            value = static_cast<T>(v);
        },
        help);
    option->type_name(Format("%lld..%lld", lo, hi));
    return option;
}

// Every word of a message from the command-line library cut as Shown cuts values: the
// library repeats what it did not expect, whatever its length.
std::string CutLongWords(const std::string& message) {
    std::string out;
    std::istringstream words(message);
    for (std::string word; words >> word;) out += (out.empty() ? "" : " ") + Shown(word);
    return out;
}

void AddInfo(CLI::App& app, Action& run) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* sub = app.add_subcommand("info",
                                       "Show a song's header, duration, tempo map, tracks, "
                                       "channels, instruments and drums");
    sub->add_option("FILE", o->file, "MIDI file to read ('-' for standard input)")->required();
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Durations, bars, signatures and tempos are exact: seconds through every tempo change,\n"
        "bars as the time signatures lay them out, and only the file's own events (the tempo\n"
        "event the library's loader puts in front of the first track is not counted). With\n"
        "--json the library's own answers stay beside them: duration_ms (whole milliseconds in\n"
        "each tempo segment), end (measures of quarter notes under the last time signature),\n"
        "time_signature and key_signature (the last read) and tempo_map.\n"
        "\n"
        "Examples:\n"
        "  midifolio info examples/sample.mid\n"
        "  midifolio info song.mid --json | jq '.instruments[].name'\n"
        "  curl -s https://example.org/song.mid | midifolio info -");
    sub->callback([o, &run]() { run = [o]() { return RunInfo(*o); }; });
}

void AddEvents(CLI::App& app, Action& run) {
    auto o = std::make_shared<EventsOptions>();
    CLI::App* sub =
        app.add_subcommand("events", "List a song's events, one per line, with filters");
    sub->add_option("FILE", o->file, "MIDI file to read ('-' for standard input)")->required();
    sub->add_option("--tracks", o->tracks, "Only tracks A to B (A-B, or A), counted from 1");
    AddInteger(*sub, "--channel", o->channel, 1, 16,
               "Only events of this channel (1..16; 10 = drums)");
    sub->add_option("--type", o->types, "Only these kinds, comma-separated: " + TypeNamesHelp());
    sub->add_option(
        "--from", o->from,
        "From this time on, in any form the time column prints: ticks (960), 1500ms, 2.5s, "
        "bar:beat[:tick] (3:1) or h:m:s:frame");
    sub->add_option("--to", o->to, "Up to and including this time (same forms as --from)");
    sub->add_option("--measures", o->measures, "Only bars A to B (A-B, or A), counted from 1")
        ->excludes("--from")
        ->excludes("--to");
    sub->add_option("--time", o->time,
                    "Time column: tick, ms, s, measure (bar:beat:tick) or hmsf (h:m:s:frame)")
        ->capture_default_str();
    AddInteger(*sub, "--limit", o->limit, 1, 2147483647, "Print at most N events");
    AddCommonOptions(*sub, o->common);
    sub->add_flag("--jsonl", o->jsonl, "Print one JSON object per event, one per line")
        ->excludes("--json");
    sub->footer(
        "Seconds (s) are exact through every tempo change; bars and beats (measure, --measures)\n"
        "follow the time signatures, counted from 1. Milliseconds (ms, and the note-ons'\n"
        "lengths) and hmsf are the library's: whole milliseconds in each tempo segment. A time\n"
        "the time column prints goes back in as --from or --to. The tempo event the library's\n"
        "loader puts in front of the first track is not listed. Events are printed as they are\n"
        "found, so `| head` answers at once, whatever the song's size.\n"
        "\n"
        "Examples:\n"
        "  midifolio events song.mid --limit 20\n"
        "  midifolio events song.mid --channel 10 --type noteon --measures 2-3 --time measure\n"
        "  midifolio events song.mid --type meta --time s\n"
        "  midifolio events song.mid --tracks 2 --from 3:1 --to 5s --json\n"
        "  midifolio events song.mid --type noteon --jsonl | jq -c '[.tick, .note]'");
    sub->callback([o, &run]() { run = [o]() { return RunEvents(*o); }; });
}

void AddNotes(CLI::App& app, Action& run) {
    auto o = std::make_shared<NotesOptions>();
    CLI::App* sub = app.add_subcommand(
        "notes", "List a song's notes, one per line, with their times in ticks and exact seconds");
    sub->add_option("FILE", o->file, "MIDI file to read ('-' for standard input)")->required();
    sub->add_option("--tracks", o->tracks, "Only tracks A to B (A-B, or A), counted from 1");
    AddInteger(*sub, "--channel", o->channel, 1, 16,
               "Only notes of this channel (1..16; 10 = drums)");
    AddCommonOptions(*sub, o->common);
    AddCsvFlag(*sub, o->csv,
               "Print CSV: track,channel,program,pitch,velocity,start_tick,end_tick,start_s,end_s");
    sub->add_flag("--sustain", o->sustain,
                  "Lengthen the notes the sustain pedal (controller 64) holds, as a synthesiser "
                  "plays them");
    sub->footer(
        "A note is a sounding note-on and the note-off (or note-on of velocity 0) that ends it:\n"
        "within a track, the oldest sounding note of its channel and pitch ends first; a note\n"
        "nothing ends lasts to the last event of its track. The program is the last program\n"
        "change of the note's channel at or before its start. Seconds are exact through every\n"
        "tempo change (CSV: nine decimals); bars follow the time signatures, counted from 1.\n"
        "\n"
        "Examples:\n"
        "  midifolio notes song.mid\n"
        "  midifolio notes song.mid --channel 10 --csv > drums.csv\n"
        "  midifolio notes song.mid --tracks 2-3 --json | jq '.[] | select(.pitch > 72)'");
    sub->callback([o, &run]() { run = [o]() { return RunNotes(*o); }; });
}

void AddVoices(CLI::App& app, Action& run) {
    auto o = std::make_shared<VoicesOptions>();
    CLI::App* sub = app.add_subcommand("voices",
                                       "Find the moments at which more notes sound than a "
                                       "synthesiser has voices");
    sub->add_option("FILE", o->file, "MIDI file to read ('-' for standard input)")->required();
    AddInteger(*sub, "-l,--limit", o->limit, 1, 65535,
               "Number of voices the synthesiser has (default 24)");
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Every note of every channel counts, drums included; a note sounds from its note-on for "
        "its\n"
        "length. Moments in the same millisecond are reported once, with the count after the last "
        "note.\n"
        "\n"
        "Examples:\n"
        "  midifolio voices song.mid\n"
        "  midifolio voices song.mid --limit 8\n"
        "  midifolio voices song.mid -l 16 --json");
    sub->callback([o, &run]() { run = [o]() { return RunVoices(*o); }; });
}

void AddCopy(CLI::App& app, Action& run) {
    auto o = std::make_shared<CopyOptions>();
    CLI::App* sub = app.add_subcommand("copy",
                                       "Read a song and write it again as a valid Standard MIDI "
                                       "File, and report what changed");
    sub->add_option("IN", o->in, "MIDI file to read ('-' for standard input)")->required();
    sub->add_option("OUT", o->out,
                    "MIDI file to write (replaced if it exists; '-' for standard output, the "
                    "report then goes to stderr)")
        ->required();
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "A file that is already valid is copied byte for byte. Any other is written anew: the\n"
        "header counts the tracks that follow, every track ends with one end-of-track event,\n"
        "data bytes stay within 0..127, running status only between channel messages that\n"
        "follow each other; what comes after an end of track and unknown chunks are left out.\n"
        "With --recover a damaged file is copied as far as it can be read.\n"
        "\n"
        "Examples:\n"
        "  midifolio copy song.mid copy.mid\n"
        "  midifolio copy broken.mid fixed.mid --recover --json\n"
        "  midifolio copy - - < in.mid > out.mid");
    sub->callback([o, &run]() { run = [o]() { return RunCopy(*o); }; });
}

void AddPitch(CLI::App& app, Action& run) {
    auto o = std::make_shared<PitchOptions>();
    CLI::App* sub = app.add_subcommand("pitch",
                                       "Turn a note name, note number or frequency into the "
                                       "others and into numbered notation");
    sub->add_option("VALUE", o->value,
                    "A note name (C#4, Db4, E#4), a note number (0..127) or a frequency (440hz)")
        ->required();
    AddCommonOptions(*sub, o->common, true, false);
    sub->footer(
        "Names are scientific: note 60 (middle C) is C4 and A4 (note 69) is 440 Hz; --middle-c\n"
        "3 or 5 reads and writes them as other programs number middle C. Sharps (C#4), flats\n"
        "(Db4, Cb4, in any case) and doubled ones (C##4) are understood. A frequency is named by\n"
        "the nearest equal-tempered note, with its distance in cents. Numbered notation writes\n"
        "the scale degree 1..7 with an octave mark (none for notes 60..71). The last line is the\n"
        "library's own pitch record (CMidiFolio::GetPitchInfo), whose octaves put middle C at 5.\n"
        "\n"
        "Examples:\n"
        "  midifolio pitch C#4\n"
        "  midifolio pitch Bb5\n"
        "  midifolio pitch 60\n"
        "  midifolio pitch 445hz --json");
    sub->callback([o, &run]() { run = [o]() { return RunPitch(*o); }; });
}

void AddNames(CLI::App& app, Action& run) {
    auto o = std::make_shared<NamesOptions>();
    CLI::App* sub =
        app.add_subcommand("names", "Name General MIDI programs, drums and controllers");
    sub->add_option("TABLE", o->table, "program, drum or controller")->required();
    sub->add_option("N", o->numbers, "Numbers to name (all of the table when none is given)");
    AddCommonOptions(*sub, o->common, true, false);
    sub->footer(
        "Programs are numbered 0..127 as in the file (General MIDI lists often count 1..128).\n"
        "Drums are note numbers 27..87 on channel 10; controllers 0..127 (with --json, the\n"
        "library's type code of each).\n"
        "A number without a name is reported on stderr (exit status 1); the others are still "
        "printed.\n"
        "\n"
        "Examples:\n"
        "  midifolio names program 0 40 73\n"
        "  midifolio names drum\n"
        "  midifolio names controller 64 --json");
    sub->callback([o, &run]() { run = [o]() { return RunNames(*o); }; });
}

void AddRoll(CLI::App& app, Action& run) {
    auto o = std::make_shared<RollOptions>();
    CLI::App* sub = app.add_subcommand(
        "roll", "Draw a song as a piano roll: an SVG or PNG picture, or an interactive HTML page");
    sub->add_option("FILE", o->file, "MIDI file to read ('-' for standard input)")->required();
    sub->add_option("-o,--output", o->out,
                    "File to write: NAME.svg, NAME.png or NAME.html ('-' for standard output)")
        ->required();
    sub->add_option("--format", o->format,
                    "svg, png or html (default: from the output's name, else svg)")
        ->check(CLI::IsMember({"svg", "png", "html"}));
    AddInteger(*sub, "--width", o->width, 300, 100000,
               "Width of an SVG or PNG picture in pixels (default 1600; a PNG at most 32767)");
    CLI::Option* from = sub->add_option(
        "--from", o->from,
        "From this time on: ticks (960), 1500ms, 2.5s, bar:beat[:tick] (3:1) or h:m:s:frame, "
        "as `events` takes it");
    CLI::Option* to =
        sub->add_option("--to", o->to, "Up to and including this time (same forms as --from)");
    sub->add_option("--measures", o->measures, "Only bars A to B (A-B, or A), counted from 1")
        ->excludes(from)
        ->excludes(to);
    sub->add_option("--tracks", o->tracks,
                    "Only these tracks, counted from 1: a list of numbers and ranges (1,3-5)");
    sub->add_option(
        "--channels", o->channels,
        "Only these channels 1..16 (10 = drums): a list of numbers and ranges (1-9,11)");
    sub->add_option("--color-by", o->colourBy,
                    "What gives a note its colour: channel, track or program (default channel)")
        ->check(CLI::IsMember({"channel", "track", "program"}));
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Time runs across: bars as the time signatures lay them out (a bar of 3/8 is 3/8 long),\n"
        "exact seconds on an axis below, the tempo as a curve above. Pitch goes up; the drums\n"
        "have a lane of their own. Notes are opaque and notes in unison share their row in\n"
        "stripes, so every colour drawn is in the legend. A picture too dense for its size\n"
        "(more than 20,000 notes, or more than a note per four pixels of its rows) shows note\n"
        "density per pixel instead, and says so. An HTML page is one file that needs no\n"
        "network: it draws what is in view, zooms and scrolls in time and pitch, shows and\n"
        "hides tracks and channels, and tells what a note is on hover. A file is replaced\n"
        "only once it is completely written.\n"
        "\n"
        "Examples:\n"
        "  midifolio roll examples/sample.mid -o sample.svg\n"
        "  midifolio roll song.mid -o song.png --width 2400 --measures 9-16\n"
        "  midifolio roll song.mid -o song.html --color-by track\n"
        "  midifolio roll song.mid -o - --format png --channels 10 | display");
    sub->callback([o, &run]() { run = [o]() { return RunRoll(*o); }; });
}

void AddScan(CLI::App& app, Action& run) {
    auto o = std::make_shared<ScanOptions>();
    CLI::App* sub = app.add_subcommand("scan",
                                       "Analyse every MIDI file under some folders in parallel: "
                                       "one row per file, then the files loaded and refused");
    sub->add_option("DIR", o->paths,
                    "Folders to search (and single files to include; '-' for standard input)")
        ->required();
    AddInteger(*sub, "-j,--jobs", o->jobs, 1, 1024,
               "Worker threads, one song each (default: one per core)");
    AddCommonOptions(*sub, o->common);
    AddCsvFlag(*sub, o->csv, "Print the rows as CSV (the final counts then go to stderr)");
    sub->footer(
        "Folders are searched recursively for .mid, .midi, .kar and .smf files; a folder that "
        "cannot\n"
        "be read is reported on stderr and skipped. A refused file gets the library's message "
        "and its\n"
        "cause, and the scan goes on; the exit status is 0 unless a path is missing, a folder\n"
        "unreadable, or --strict met a file with warnings. Durations are exact seconds, bars\n"
        "follow every time signature; instruments are channel, program and bank in use.\n"
        "\n"
        "Examples:\n"
        "  midifolio scan ~/music\n"
        "  midifolio scan corpus/ more/ --jobs 8 --csv > songs.csv\n"
        "  midifolio scan corpus/ --json | jq '.files[] | select(.status == \"refused\")'");
    sub->callback([o, &run]() { run = [o]() { return RunScan(*o); }; });
}

void AddCsv(CLI::App& app, Action& run) {
    auto o = std::make_shared<CsvOptions>();
    CLI::App* sub = app.add_subcommand(
        "csv", "Write a song as midicsv's CSV: one record per event, exactly as midicsv does");
    sub->add_option("FILE", o->file, "MIDI file to read ('-' for standard input)")->required();
    sub->add_option("-o,--output", o->out, "CSV file to write (default '-', standard output)")
        ->capture_default_str();
    AddCommonOptions(*sub, o->common, false);
    sub->footer(
        "The records are those of midicsv(1) and midicsv(5): csvmidi and `midifolio from-csv` "
        "turn\n"
        "them back into a MIDI file. F7 packets are System_exclusive_packet records.\n"
        "\n"
        "Examples:\n"
        "  midifolio csv song.mid > song.csv\n"
        "  midifolio csv song.mid | grep Note_on_c | wc -l");
    sub->callback([o, &run]() { run = [o]() { return RunCsv(*o); }; });
}

void AddFromCsv(CLI::App& app, Action& run) {
    auto o = std::make_shared<FromCsvOptions>();
    CLI::App* sub = app.add_subcommand(
        "from-csv", "Build a valid MIDI file from midicsv's CSV (as csvmidi does)");
    sub->add_option("IN", o->in, "CSV file to read ('-' for standard input)")->required();
    sub->add_option("OUT", o->out, "MIDI file to write ('-' for standard output)")->required();
    AddCommonOptions(*sub, o->common, true, false);
    sub->footer(
        "Reads the records of midicsv(5): a Header, each track from Start_track to End_track, "
        "then\n"
        "End_of_file; lines starting with # or ; are comments. A record that cannot be read "
        "stops\n"
        "the tool with its line number and field, and nothing is written; so does what csvmidi\n"
        "refuses (data bytes above 127, keys outside -7..7, a second track in format 0).\n"
        "\n"
        "Examples:\n"
        "  midifolio csv song.mid | sed 's/Program_c, 0, 0/Program_c, 0, 40/' | "
        "midifolio from-csv - violin.mid\n"
        "  midifolio from-csv song.csv song.mid --json");
    sub->callback([o, &run]() { run = [o]() { return RunFromCsv(*o); }; });
}

void AddEdit(CLI::App& app, Action& run) {
    auto o = std::make_shared<EditOptions>();
    CLI::App* sub = app.add_subcommand("edit",
                                       "Change a song: keep tracks or channels, crop, transpose, "
                                       "quantize, change tempo, resolution or format");
    sub->add_option("IN", o->in, "MIDI file to read ('-' for standard input)")->required();
    sub->add_option("OUT", o->out,
                    "MIDI file to write ('-' for standard output, the report then goes to stderr)")
        ->required();
    sub->add_option("--tracks", o->tracks,
                    "Keep the channel events of these tracks only (1,3-5; from 1)");
    sub->add_option("--channels", o->channels, "Keep these channels only (10, 1-9; from 1)");
    sub->add_option("--from", o->from,
                    "Crop: from this time on (ticks, 1500ms, 2.5s, bar:beat[:tick])");
    sub->add_option("--to", o->to, "Crop: up to this time (what starts there is left out)");
    sub->add_option("--measures", o->measures, "Crop: bars A to B (A-B, or A), counted from 1")
        ->excludes("--from")
        ->excludes("--to");
    AddInteger(*sub, "--transpose", o->transpose, -127, 127,
               "Move every note by N semitones (not the drums)");
    sub->add_flag("--drums", o->drums, "Transpose the drums (channel 10) too");
    sub->add_option("--quantize", o->quantize,
                    "Move starts and ends to a grid: ticks or a note value (1/16, 1/8.)");
    sub->add_option_function<std::string>(
           "--tempo-scale",
           [o](const std::string& text) {
               char* end = nullptr;
               const double factor = std::strtod(text.c_str(), &end);
               if (text.empty() || *end != '\0' || !(factor > 0) || !std::isfinite(factor))
                   throw CLI::ValidationError("--tempo-scale must be a number above 0, not '" +
                                              Shown(text) + "'");
               o->tempoScale = factor;
           },
           "Multiply every tempo (2 plays twice as fast)")
        ->type_name("FACTOR");
    AddInteger(*sub, "--resample", o->resample, 1, 32767, "New ticks per quarter note");
    AddInteger(*sub, "--format", o->format, 0, 1, "Write format 0 (one track) or 1");
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "The edits apply in this order: --tracks/--channels, the crop (--from/--to or "
        "--measures),\n"
        "--transpose, --quantize, --tempo-scale, --resample, --format. A crop keeps the notes\n"
        "that start in it, cut at its end, and states again at its start the programs,\n"
        "controllers, pitch bends, tempo and signatures in force there. A note transposed out\n"
        "of 0..127 stops the edit, and nothing is written. The file written is always valid.\n"
        "\n"
        "Examples:\n"
        "  midifolio edit song.mid higher.mid --transpose 2\n"
        "  midifolio edit song.mid chorus.mid --measures 9-16 --tempo-scale 0.9\n"
        "  midifolio edit song.mid drums.mid --channels 10\n"
        "  midifolio edit song.mid tidy.mid --quantize 1/16 --format 0");
    sub->callback([o, &run]() { run = [o]() { return RunEdit(*o); }; });
}

void AddMerge(CLI::App& app, Action& run) {
    auto o = std::make_shared<MergeOptions>();
    CLI::App* sub = app.add_subcommand("merge", "Put the tracks of several songs into one");
    sub->add_option("IN", o->in, "MIDI files to read, in order")->required();
    sub->add_option("-o,--output", o->out, "MIDI file to write ('-' for standard output)")
        ->required();
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "The song holds every track of each, in order, at the first song's resolution (the\n"
        "others are resampled) and with the first song's tempo map.\n"
        "\n"
        "Examples:\n"
        "  midifolio merge melody.mid drums.mid -o both.mid");
    sub->callback([o, &run]() { run = [o]() { return RunMerge(*o); }; });
}

void AddSplit(CLI::App& app, Action& run) {
    auto o = std::make_shared<SplitOptions>();
    CLI::App* sub =
        app.add_subcommand("split", "Write one file per track or per channel of a song");
    sub->add_option("IN", o->in, "MIDI file to read ('-' for standard input)")->required();
    sub->add_option("-o,--output", o->dir, "Folder the files go to")->required();
    sub->add_option("--by", o->by, "track or channel")->capture_default_str();
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Each file (NAME-track-3.mid, NAME-channel-10.mid) is a valid song of format 1 whose\n"
        "first track holds every tempo, time- and key-signature event of the song.\n"
        "\n"
        "Examples:\n"
        "  midifolio split song.mid -o parts/ --by channel");
    sub->callback([o, &run]() { run = [o]() { return RunSplit(*o); }; });
}

void AddRender(CLI::App& app, Action& run) {
    auto o = std::make_shared<RenderOptions>();
    CLI::App* sub = app.add_subcommand(
        "render", "Play a song through FluidSynth and a SoundFont into a WAV, FLAC or Ogg file");
    sub->add_option("FILE", o->file, "MIDI file to read ('-' for standard input)")->required();
    sub->add_option("-o,--output", o->out,
                    "Audio file to write: .wav, .flac or .ogg ('-' for WAV on standard output)")
        ->required();
    sub->add_option("--soundfont", o->soundfont,
                    "SoundFont to play with (default: the system's General MIDI set, "
                    "/usr/share/sounds/sf2/FluidR3_GM.sf2 on Debian)");
    AddInteger(*sub, "--rate", o->rate, 8000, 96000, "Frames per second (default 44100)");
    sub->add_option_function<std::string>(
           "--gain",
           [o](const std::string& text) {
               char* end = nullptr;
               const double gain = std::strtod(text.c_str(), &end);
               if (text.empty() || *end != '\0' || !(gain >= 0 && gain <= 10)) {
                   throw CLI::ValidationError(
                       Format("--gain must be 0..10, not '%s'", Shown(text).c_str()));
               }
               o->gain = gain;
           },
           "FluidSynth's master gain (default 0.2)")
        ->type_name("0..10");
    sub->add_option("--from", o->from,
                    "Start at this time, in any form `events` takes: ticks (960), 1500ms, 2.5s, "
                    "bar:beat[:tick] (3:1) or h:m:s:frame");
    sub->add_option("--to", o->to, "End after this time (same forms as --from)");
    sub->add_option("--measures", o->measures, "Only bars A to B (A-B, or A), counted from 1")
        ->excludes("--from")
        ->excludes("--to");
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Every channel plays, channel 10 as drums, with its program and bank changes,\n"
        "controllers, pitch bends and system exclusive resets, each sent at its exact time in\n"
        "seconds (FluidSynth starts it with its next block of 64 frames). The audio lasts to the\n"
        "song's last event, then until the last note has faded below -90 dBFS (3 s at most).\n"
        "A stretch (--from, --to, --measures) starts with the channels set up as the song left\n"
        "them there; notes begun before it are not heard, and every note is released at its end.\n"
        "The audio file replaces its target only once it is completely written.\n"
        "\n"
        "Examples:\n"
        "  midifolio render song.mid -o song.wav\n"
        "  midifolio render song.mid -o song.flac --soundfont ~/sf2/piano.sf2 --rate 48000\n"
        "  midifolio render song.mid -o intro.ogg --measures 1-8\n"
        "  midifolio render song.mid -o - --from 30s --to 45s | aplay");
    sub->callback([o, &run]() { run = [o]() { return RunRender(*o); }; });
}

// The subcommands, in the order --help lists them.
using AddFunction = void (*)(CLI::App&, Action&);
const std::pair<const char*, AddFunction> kSubcommands[] = {
    {"info", AddInfo},   {"events", AddEvents}, {"notes", AddNotes},      {"voices", AddVoices},
    {"copy", AddCopy},   {"pitch", AddPitch},   {"names", AddNames},      {"roll", AddRoll},
    {"scan", AddScan},   {"csv", AddCsv},       {"from-csv", AddFromCsv}, {"edit", AddEdit},
    {"merge", AddMerge}, {"split", AddSplit},   {"render", AddRender}};

// Adds the subcommand the first word names, alone: it is the only one its command line can
// run (a later word that names another is an argument of it), and building the options of
// all of them takes a third of a millisecond, a sixth of the tool's start. Otherwise
// (--help, --version, a mistake) adds them all. False when the first word is not an option
// and names no subcommand.
bool AddSubcommands(CLI::App& app, Action& run, const char* first) {
    for (const auto& [name, add] : kSubcommands) {
        if (first != nullptr && std::strcmp(first, name) == 0) {
            add(app, run);
            return true;
        }
    }
    for (const auto& [name, add] : kSubcommands) add(app, run);
    return first == nullptr || first[0] == '-';
}

// Reports a failure, and what standard output still owes (which may fail in its turn).
int ReportFailure(const std::string& what) {
    std::fprintf(stderr, "midifolio: %s\n", what.c_str());
    try {
        Stdout().Flush();
    } catch (const Failure& e) {
        std::fprintf(stderr, "midifolio: %s\n", e.what());
    } catch (const OutputClosed&) {
    }
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away shows up as EPIPE on the next write, where the tool stops.
    std::signal(SIGPIPE, SIG_IGN);
    InstallSignalCleanup();

    CLI::App app{"midifolio: read, analyse, draw, edit and write Standard MIDI Files.",
                 "midifolio"};
    app.set_version_flag("--version", std::string("midifolio ") + midifolio::GetVersion());
    app.require_subcommand(1);
    app.footer(
        "Numbering: tracks, channels (1..16, drums on 10), bars and beats count from 1;\n"
        "ticks, programs (0..127) and notes (0..127, middle C = 60 = C4) from 0.\n"
        "A FILE of '-' is standard input; an output file of '-' is standard output.\n"
        "\n"
        "Examples:\n"
        "  midifolio info song.mid\n"
        "  midifolio events song.mid --channel 10 --measures 1-4 --time measure\n"
        "  midifolio roll song.mid -o song.svg\n"
        "  midifolio scan ~/music --jobs 4 --csv > songs.csv\n"
        "  midifolio csv song.mid | midifolio from-csv - copy.mid\n"
        "\n"
        "Run 'midifolio SUBCOMMAND --help' for the options and examples of each subcommand.");

    Action run;
    if (!AddSubcommands(app, run, argc > 1 ? argv[1] : nullptr)) {
        std::fprintf(stderr,
                     "midifolio: unknown subcommand '%s'\nRun 'midifolio --help' for the "
                     "subcommands.\n",
                     Shown(argv[1]).c_str());
        return kExitUsage;
    }

    try {
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            // Help and version go to standard output like any other result.
            std::ostringstream out, err;
            const int status = app.exit(e, out, err);
            if (status == 0) {
                Stdout() << out.str();
                Stdout().Flush();
                return kExitOk;
            }
            std::string where = "midifolio";
            for (const CLI::App* sub : app.get_subcommands()) where += " " + sub->get_name();
            // The checks of AddInteger word their messages themselves.
            const bool own = dynamic_cast<const CLI::ValidationError*>(&e) != nullptr;
            std::fprintf(stderr, "midifolio: %s\nRun '%s --help' for more information.\n",
                         own ? e.what() : CutLongWords(e.what()).c_str(), where.c_str());
            return kExitUsage;
        }
        if (!run) return kExitUsage;
        SetMiddleC(g_middleC);
        const int status = run();
        Stdout().Flush();
        return status;
    } catch (const OutputClosed&) {
        return kExitOk;
    } catch (const Failure& e) {
        return ReportFailure(e.what());
    } catch (const std::exception& e) {
        return ReportFailure(std::string("unexpected error: ") + e.what());
    }
}
