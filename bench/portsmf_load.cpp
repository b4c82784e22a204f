// portsmf_load FILE [REPEAT]: reads FILE with portsmf (Debian's libportsmf-dev) and prints the
// wall time of each read; the reference reader of docs/performance.md.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// allegro.h uses memcpy without including <cstring>, so it comes after it.
#include <allegro.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: portsmf_load FILE [REPEAT]\n");
        return 2;
    }
    const int repeat = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::vector<double> times;
    long events = 0;
    for (int i = 0; i < repeat; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        auto seq = std::make_unique<Alg_seq>(argv[1], true);
        const auto t1 = std::chrono::steady_clock::now();
        if (seq->get_read_error() != alg_no_error) {
            std::fprintf(stderr, "portsmf refused %s\n", argv[1]);
            return 1;
        }
        events = 0;
        for (int t = 0; t < seq->tracks(); ++t) events += seq->track(t)->length();
        times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::printf("portsmf %s: %ld events, first %.2f ms", argv[1], events, times.front());
    if (times.size() > 1) {
        std::vector<double> later(times.begin() + 1, times.end());
        std::sort(later.begin(), later.end());
        std::printf(", later median %.2f ms", later[later.size() / 2]);
    }
    std::printf("\n");
    return 0;
}
