// Helpers of the tests that run the midifolio tool as a program (tests/cli_*_test.cpp): the
// tool with its output, exit status and messages captured, shell commands, and python3-mido's
// reading of a file as JSON. Included only where the tool is built (MIDIFOLIO_CLI).
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace clitest {

using testsupport::Bytes;
using Json = nlohmann::json;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// A word for the shell, whatever it holds.
inline std::string Quote(const std::string& s) {
    std::string quoted = "'";
    for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline const std::string& Tool() {
    static const std::string path = MIDIFOLIO_CLI;
    return path;
}

// A shell command's standard output (and exit status).
inline std::string Sh(const std::string& command, int* status = nullptr) {
    return testsupport::Run(command, status);
}

inline std::string Text(const std::string& path) {
    const Bytes b = testsupport::ReadFile(path);
    return std::string(b.begin(), b.end());
}

// Runs `PREFIX midifolio ARGS <INPUT` with stdout and stderr captured (neither is a terminal).
inline Result Cli(const std::string& args, const std::string& input = "/dev/null",
                  const std::string& prefix = "") {
    const std::string errPath = testsupport::TmpPath("stderr.txt");
    Result r;
    r.out =
        Sh(prefix + Tool() + " " + args + " 2>" + Quote(errPath) + " <" + Quote(input), &r.status);
    r.err = Text(errPath);
    std::remove(errPath.c_str());
    return r;
}

// A file of tests/data/cli, quoted.
inline std::string Data(const std::string& name) {
    return Quote(testsupport::DataPath("cli/" + name));
}

inline Json ParseJson(const std::string& text) {
    return Json::parse(text, nullptr, false);
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A fresh folder in the build's tmp folder.
inline std::string MakeDir(const std::string& name) {
    const std::string dir = testsupport::TmpPath(name);
    mkdir(dir.c_str(), 0755);
    return dir;
}

// Whether text holds a control character a terminal would act on: anything below a blank but
// the line break, and DEL.
inline bool HasRawControls(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
    return false;
}

inline bool HaveMido() {
    int rc = -1;
    Sh("/usr/bin/python3 -c 'import mido' 2>/dev/null", &rc);
    return rc == 0;
}

// python3-mido's reading of a file: {"type", "ticks_per_beat", "length", "tracks": [[message,
// ...], ...]}, each message mido's dict with "tick" (from the start of its track) beside its
// delta "time"; {"error": "..."} when mido refuses the file.
inline Json Mido(const std::string& path) {
    static const std::string script = [] {
        const std::string py =
            "import json, sys, mido\n"
            "try:\n"
            "    m = mido.MidiFile(sys.argv[1])\n"
            "except Exception as e:\n"
            "    print(json.dumps({'error': str(e)}))\n"
            "    sys.exit(0)\n"
            "tracks = []\n"
            "for t in m.tracks:\n"
            "    tick, out = 0, []\n"
            "    for msg in t:\n"
            "        tick += msg.time\n"
            "        d = msg.dict()\n"
            "        d['tick'] = tick\n"
            "        out.append(d)\n"
            "    tracks.append(out)\n"
            "print(json.dumps({'type': m.type, 'ticks_per_beat': m.ticks_per_beat,\n"
            "                  'length': m.length, 'tracks': tracks}, default=list))\n";
        return testsupport::WriteFile("mido_read.py", Bytes(py.begin(), py.end()));
    }();
    return ParseJson(Sh("/usr/bin/python3 " + Quote(script) + " " + Quote(path)));
}

// The messages of a mido reading, every track's, of one type ("note_on", "set_tempo", ...).
inline std::vector<Json> MidoMessages(const Json& mido, const std::string& type) {
    std::vector<Json> found;
    if (!mido.contains("tracks")) return found;
    for (const Json& track : mido["tracks"])
        for (const Json& msg : track)
            if (msg["type"] == type) found.push_back(msg);
    return found;
}

}  // namespace clitest
