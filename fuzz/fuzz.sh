#!/usr/bin/env bash
# Builds and runs the libFuzzer targets (clang from Debian).
#
#   bash fuzz/fuzz.sh build                       configure + build build/fuzz
#   bash fuzz/fuzz.sh replay                      replay corpus, regressions and tests/data (ctest)
#   bash fuzz/fuzz.sh run TARGET SECONDS [FLAGS]  fuzz one target (fuzz_track, fuzz_load,
#                                                 fuzz_roundtrip, fuzz_queries, fuzz_song,
#                                                 fuzz_song_roundtrip, fuzz_edits) for SECONDS
#
# A run keeps its growing corpus in fuzz/corpus-TARGET/ (ignored by git) and writes findings
# as fuzz/crash-* / fuzz/timeout-* / fuzz/oom-* (ignored too); minimise a finding with
# `build/fuzz/fuzz/TARGET -minimize_crash=1 -runs=10000 FILE` and save it under
# fuzz/regressions/{track,file}/ so that the replay keeps checking it.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${MIDIFOLIO_FUZZ_BUILD:-build/fuzz}

# Builds take the machine's shared build lock, as every build here does.
LOCK=${MIDIFOLIO_BUILD_LOCK:-/tmp/midifolio-build.lock}

build() {
    CC=clang CXX=clang++ flock "$LOCK" cmake -S . -B "$BUILD" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIDIFOLIO_BUILD_FUZZ=ON -DMIDIFOLIO_BUILD_TESTS=OFF \
        -DMIDIFOLIO_BUILD_CLI=OFF -DMIDIFOLIO_BUILD_EXAMPLES=OFF -DMIDIFOLIO_BUILD_BENCH=OFF \
        -DMIDIFOLIO_BUILD_PYTHON=OFF -DMIDIFOLIO_BUILD_AUDIO=OFF
    flock "$LOCK" cmake --build "$BUILD" -j 2 --target fuzz_track fuzz_load fuzz_roundtrip \
        fuzz_queries fuzz_song fuzz_song_roundtrip fuzz_edits fuzz_extract_tracks
}

case "${1:-build}" in
build)
    build
    ;;
replay)
    build
    flock "$LOCK" ctest --test-dir "$BUILD/fuzz" --output-on-failure
    ;;
run)
    target=${2:?target}
    seconds=${3:?seconds}
    shift 3
    [ -x "$BUILD/fuzz/$target" ] || build
    work=fuzz/corpus-$target
    mkdir -p "$work"
    if [ "$target" = fuzz_track ]; then
        seeds=(fuzz/corpus/track fuzz/regressions/track "$BUILD/fuzz/seeds-track")
        "$BUILD/fuzz/fuzz_extract_tracks" "$BUILD/fuzz/seeds-track" tests/data >/dev/null
    elif [ "$target" = fuzz_edits ]; then
        seeds=(fuzz/corpus/edits fuzz/regressions/edits fuzz/regressions/song tests/data)
    elif [ "$target" = fuzz_song ] || [ "$target" = fuzz_song_roundtrip ]; then
        seeds=(fuzz/corpus/file fuzz/corpus/song fuzz/regressions/file fuzz/regressions/song
            tests/data)
    else
        seeds=(fuzz/corpus/file fuzz/regressions/file tests/data)
    fi
    exec "$BUILD/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -artifact_prefix=fuzz/ -print_final_stats=1 "$@" "$work" "${seeds[@]}"
    ;;
*)
    sed -n '2,13p' "$0"
    exit 2
    ;;
esac
