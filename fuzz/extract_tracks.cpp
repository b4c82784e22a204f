// fuzz_extract_tracks OUTDIR FILE...: writes the data of every "MTrk" chunk of the given
// MIDI files (folders searched recursively) to OUTDIR, one file per chunk: the seed corpus
// of the track decoder target.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

size_t Split(const fs::path& file, const fs::path& outDir, size_t serial) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    if (b.size() < 14 || std::memcmp(b.data(), "MThd", 4) != 0) return 0;
    size_t written = 0;
    for (size_t i = 14; i + 8 <= b.size();) {
        const uint32_t len = (uint32_t(b[i + 4]) << 24) | (uint32_t(b[i + 5]) << 16) |
                             (uint32_t(b[i + 6]) << 8) | b[i + 7];
        const size_t n = std::min<size_t>(len, b.size() - i - 8);
        if (std::memcmp(&b[i], "MTrk", 4) == 0 && n <= (1u << 20)) {
            const fs::path out = outDir / ("track-" + std::to_string(serial + written));
            std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(&b[i + 8]), n);
            ++written;
        }
        i += 8 + n;
    }
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: fuzz_extract_tracks OUTDIR FILE|DIR...\n");
        return 2;
    }
    const fs::path outDir = argv[1];
    fs::create_directories(outDir);
    size_t n = 0;
    for (int i = 2; i < argc; ++i) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const auto& e : fs::recursive_directory_iterator(argv[i], ec))
                if (e.is_regular_file()) n += Split(e.path(), outDir, n);
        } else {
            n += Split(argv[i], outDir, n);
        }
    }
    std::printf("%zu track chunks written to %s\n", n, outDir.c_str());
    return 0;
}
