#include "bench_support.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

namespace benchgen {

const std::vector<std::string>& InputNames() {
    static const std::vector<std::string> names = {"a",    "a2", "f0",  "b", "b1", "b10k",
                                                   "b40k", "c",  "c2k", "d", "d2m"};
    return names;
}

Bytes MakeInput(const std::string& name) {
    if (name == "a") return FileA(1.0);
    if (name == "a2") return FileA(2.0);
    if (name == "f0") return FileFormat0(5.0);
    if (name == "b") return TempoSong(20000, 500000, false);
    if (name == "b1") return TempoSong(20000, 500000, true);
    if (name == "b10k") return TempoSong(10000, 500000, false);
    // As many tempo changes as note events: the cost of a tempo change itself.
    if (name == "b40k") return TempoSong(40000, 40000, false);
    if (name == "c") return ManyTracks(1000, 20);
    if (name == "c2k") return ManyTracks(2000, 20);
    if (name == "d2m") return BigSysex(2u << 20);
    if (name == "d") return BigSysex(1u << 20);
    std::fprintf(stderr, "unknown input %s\n", name.c_str());
    std::abort();
}

std::string BenchDir() {
    const char* env = std::getenv("MIDIFOLIO_BENCH_DIR");
    std::string dir = env != nullptr && *env != '\0' ? env : "/tmp/midifolio-bench";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

const Input& GetInput(const std::string& name) {
    static std::map<std::string, std::unique_ptr<Input>> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return *it->second;
    auto input = std::make_unique<Input>();
    input->name = name;
    input->path = BenchDir() + "/" + name + ".mid";
    const Bytes bytes = MakeInput(name);
    input->bytes = bytes.size();
    // Reuse a file of the same size left by an earlier run (the generators are deterministic).
    struct stat st {};
    if (stat(input->path.c_str(), &st) != 0 || static_cast<size_t>(st.st_size) != bytes.size()) {
        if (!WriteFile(input->path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", input->path.c_str());
            std::abort();
        }
    }
    return *cache.emplace(name, std::move(input)).first->second;
}

std::vector<std::string> RealFiles(const std::string& dataDir) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dataDir, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const auto& p = it->path();
        const std::string ext = p.extension().string();
        if (it->is_regular_file() && (ext == ".mid" || ext == ".midi" || ext == ".MID"))
            files.push_back(p.string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

size_t EventCount(const midifolio::CMidiFolio& song) {
    size_t n = 0;
    for (long i = 0; i < song.GetTrackNum(); ++i) {
        const midifolio::CMidiTrack* t = song.GetTrack(static_cast<int>(i));
        if (t != nullptr) n += static_cast<size_t>(t->GetCount());
    }
    return n;
}

midifolio::MessageSink QuietSink() {
    return [](const std::string&) {};
}

}  // namespace benchgen
