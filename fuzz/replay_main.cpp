// A main() for the fuzz targets where libFuzzer is not available (GCC builds): runs the
// target once on every file named on the command line, folders searched recursively. This is
// how CI replays the saved corpus and regression inputs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
    std::fprintf(stderr, "Running: %s\n", path.c_str());
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!arg.empty() && arg[0] == '-') continue;  // libFuzzer flags: ignored here
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            std::vector<std::filesystem::path> files;
            for (auto it = std::filesystem::recursive_directory_iterator(arg, ec);
                 it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
                if (ec) break;
                if (it->is_regular_file()) files.push_back(it->path());
            }
            std::sort(files.begin(), files.end());
            for (const auto& f : files) runs += RunFile(f);
        } else if (std::filesystem::is_regular_file(arg, ec)) {
            runs += RunFile(arg);
        } else {
            std::fprintf(stderr, "no such input: %s\n", arg.c_str());
            return 1;
        }
    }
    std::printf("%s: %zu inputs replayed\n", argc > 0 ? argv[0] : "replay", runs);
    return 0;
}
