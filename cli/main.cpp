// midifolio: read, analyse, draw and rewrite Standard MIDI Files from a terminal.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "common.h"

using namespace mfcli;

int main(int argc, char** argv) {
    CLI::App app{
        "midifolio: read, analyse, draw and rewrite Standard MIDI Files (formats 0 and 1).",
        "midifolio"};
    app.set_version_flag("--version", std::string("midifolio ") + midifolio::GetVersion());
    app.require_subcommand(1);
    app.footer(
        "Numbering: tracks, channels (1..16, drums on 10), bars and beats count from 1;\n"
        "ticks, programs (0..127) and notes (0..127, middle C = 60 = C5) from 0.\n"
        "\n"
        "Examples:\n"
        "  midifolio info song.mid\n"
        "  midifolio events song.mid --channel 10 --measures 1-4 --time measure\n"
        "  midifolio roll song.mid -o song.svg\n"
        "  midifolio scan ~/music --jobs 4 --csv > songs.csv\n"
        "\n"
        "Run 'midifolio SUBCOMMAND --help' for the options and examples of each subcommand.");

    Action run;
    AddInfoCommand(app, run);
    AddEventsCommand(app, run);
    AddVoicesCommand(app, run);
    AddCopyCommand(app, run);
    AddPitchCommand(app, run);
    AddNamesCommand(app, run);
    AddRollCommand(app, run);
    AddScanCommand(app, run);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string where = "midifolio";
        for (const CLI::App* sub : app.get_subcommands()) where += " " + sub->get_name();
        std::fprintf(stderr, "midifolio: %s\nRun '%s --help' for more information.\n", e.what(),
                     where.c_str());
        return kExitUsage;
    }

    if (!run) return kExitUsage;
    try {
        const int status = run();
        std::cout.flush();
        return status;
    } catch (const Failure& e) {
        std::cout.flush();
        std::fprintf(stderr, "midifolio: %s\n", e.what());
        return kExitFailure;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::fprintf(stderr, "midifolio: unexpected error: %s\n", e.what());
        return kExitFailure;
    }
}
