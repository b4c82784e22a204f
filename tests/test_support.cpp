#include "test_support.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace testsupport {

Bytes B(std::initializer_list<int> bytes) {
    Bytes out;
    for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
    return out;
}

Bytes Vlq(uint32_t value) {
    Bytes out{static_cast<uint8_t>(value & 0x7F)};
    while (value >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

static Bytes Be(uint32_t v, int n) {
    Bytes out;
    for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

Bytes Header(int format, int ntracks, int division) {
    return Cat({B({'M', 'T', 'h', 'd'}), Be(6, 4), Be(format, 2), Be(ntracks, 2), Be(division, 2)});
}

Bytes Chunk(const char* type, const Bytes& data) {
    Bytes out(type, type + 4);
    Bytes len = Be(static_cast<uint32_t>(data.size()), 4);
    out.insert(out.end(), len.begin(), len.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes Track(const Bytes& data) {
    return Chunk("MTrk", data);
}

Bytes Smf(int format, int division, const std::vector<Bytes>& tracks) {
    Bytes out = Header(format, static_cast<int>(tracks.size()), division);
    for (const Bytes& t : tracks) {
        Bytes c = Track(t);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

std::string DataPath(const std::string& relative) {
    return std::string(MIDIFOLIO_TEST_DATA) + "/" + relative;
}

std::string TmpPath(const std::string& name) {
    static std::atomic<int> counter{0};
    return std::string(MIDIFOLIO_TEST_TMP) + "/" + std::to_string(getpid()) + "_" +
           std::to_string(counter++) + "_" + name;
}

std::string WriteFile(const std::string& name, const Bytes& bytes) {
    std::string path = TmpPath(name);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    return path;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

midifolio::MessageSink Messages::Sink() {
    return [this](const std::string& text) { list.push_back(text); };
}

void ProgressLog::SetRange(int lower, int upper) {
    calls.push_back("range " + std::to_string(lower) + " " + std::to_string(upper));
}
void ProgressLog::SetPos(int pos) {
    calls.push_back("pos " + std::to_string(pos));
}

static std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) out.push_back(field);
    return out;
}

static OracleDump ParseOracle(std::istream& in) {
    OracleDump dump;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("ERROR", 0) == 0) {  // no event line starts so: the reader refused
            dump.error = true;
            return dump;
        }
        const std::vector<std::string> f = SplitTabs(line);
        if (f.size() >= 4 && f[0] == "header") {
            dump.format = std::stoi(f[1]);
            dump.ntracks = std::stoi(f[2]);
            dump.division = std::stoi(f[3]);
        } else if (f.size() >= 3) {
            dump.events.push_back(
                {std::stoi(f[0]), std::stol(f[1]), f[2], {f.begin() + 3, f.end()}});
        }
    }
    return dump;
}

OracleDump ReadOracle(const std::string& path) {
    std::ifstream f(path);
    return ParseOracle(f);
}

std::map<std::string, OracleDump> MidoDumps(const std::vector<std::string>& midiPaths) {
    const std::string script = TmpPath("dump_many.py");
    std::ofstream(script) << "import sys\nsys.path.insert(0, '" << DataPath("../tools")
                          << "')\nimport dump_mido\nfor path in sys.argv[1:]:\n"
                          << "    with open(path + '.mido.txt', 'w') as out:\n"
                          << "        dump_mido.dump(path, out)\n";
    std::string command = "/usr/bin/python3 '" + script + "'";
    for (const std::string& p : midiPaths) command += " '" + p + "'";
    int status = -1;
    Run(command, &status);
    std::map<std::string, OracleDump> dumps;
    for (const std::string& p : midiPaths)
        if (status == 0) dumps[p] = ReadOracle(p + ".mido.txt");
    return dumps;
}

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> names;
    std::string dir = DataPath("corpus");
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".mid") == 0) names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

static std::string Hex(const uint8_t* p, uint32_t n) {
    std::string s = n == 0 || p == nullptr ? "-" : "";
    char buf[3];
    for (uint32_t i = 0; p && i < n; ++i) s += (std::snprintf(buf, sizeof buf, "%02x", p[i]), buf);
    return s;
}

std::string Canonical(const midifolio::MIDIEvent& ev) {
    using namespace midifolio;
    auto ch = std::to_string(ev.byChannel);
    auto d1 = std::to_string(ev.byData1);
    auto d2 = std::to_string(ev.byData2);
    char sub[8];
    std::snprintf(sub, sizeof sub, "%02x", static_cast<unsigned>(ev.dwSubType & 0xFF));
    switch (ev.dwType) {
        case EVT_NOTEON:
            return "noteon " + ch + " " + d1 + " " + d2;
        case EVT_NOTEOFF:
            return "noteoff " + ch + " " + d1 + " " + d2;
        case EVT_KEYPRESSURE:
            return "keypressure " + ch + " " + d1 + " " + d2;
        case EVT_CONTROL:
            return "control " + ch + " " + d1 + " " + d2;
        case EVT_PROGRAM:
            return "program " + ch + " " + d1;
        case EVT_CHANPRESSURE:
            return "chanpressure " + ch + " " + d1;
        case EVT_PITCHBEND:
            return "pitchbend " + ch + " " + std::to_string(ev.wBend);
        case EVT_META:
            return std::string("meta ") + sub + " " + Hex(ev.pData, ev.dwLength);
        case EVT_SYSEX:
        case EVT_SYSEXESC: {
            // Like the independent decoders: without a leading F0 and a trailing F7.
            const uint8_t* p = ev.pData;
            uint32_t n = ev.dwLength;
            if (n && p && p[0] == 0xF0) ++p, --n;
            if (n && p && p[n - 1] == 0xF7) --n;
            return "sysex " + Hex(p, n);
        }
        default:
            return "other " + std::string(sub);
    }
}

std::string Canonical(const OracleEvent& ev) {
    std::string s = ev.kind;
    for (const std::string& f : ev.fields) s += " " + f;
    return s;
}

std::string Run(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

}  // namespace testsupport
