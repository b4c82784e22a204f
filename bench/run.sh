#!/usr/bin/env bash
# Builds the benchmarks and prints every figure of docs/performance.md.
#
#   bash bench/run.sh [BENCHMARK FLAGS...]      e.g. --benchmark_filter=LoadMidiFile
#
# MIDIFOLIO_BENCH_BUILD   build folder (default build/bench)
# MIDIFOLIO_BENCH_DIR     where the generated inputs go (default /tmp/midifolio-bench)
# MIDIFOLIO_BENCH_PARTS   which parts to run (default "targets bench cold memory callgrind compare
#                         render")
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${MIDIFOLIO_BENCH_BUILD:-build/bench}
export MIDIFOLIO_BENCH_DIR=${MIDIFOLIO_BENCH_DIR:-/tmp/midifolio-bench}
PARTS=${MIDIFOLIO_BENCH_PARTS:-targets bench cold memory callgrind compare render}
WARM="glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=1099511627776"
DIR=$MIDIFOLIO_BENCH_DIR
has() { [[ " $PARTS " == *" $1 "* ]]; }

# Builds on the shared machine take turns (the lock every build of the project takes).
LOCK=(flock /tmp/midifolio-build.lock)
command -v flock >/dev/null || LOCK=()
"${LOCK[@]}" cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIDIFOLIO_BUILD_BENCH=ON \
    -DMIDIFOLIO_BUILD_TESTS=OFF -DMIDIFOLIO_BUILD_EXAMPLES=OFF -DMIDIFOLIO_BUILD_PYTHON=ON >/dev/null
targets=(midifolio_bench midifolio_perf)
# (The list is taken once: `ninja ... | grep -q` under pipefail fails when grep stops reading
# before ninja has written everything.)
built=$(ninja -C "$BUILD" -t targets all 2>/dev/null)
buildable() { grep -q "^$1:" <<<"$built"; }
# The targets part also times the command-line tool and the Python package.
if has targets; then
    for t in midifolio_cli _midifolio midifolio_python_files; do
        buildable "$t" && targets+=("$t")
    done
fi
buildable portsmf_load && targets+=(portsmf_load)
buildable midifolio_render_bench && targets+=(midifolio_render_bench)
"${LOCK[@]}" cmake --build "$BUILD" -j 2 --target "${targets[@]}"
PERF=$BUILD/bench/midifolio_perf

mkdir -p "$DIR"
echo "== inputs ($DIR)"
"$PERF" gen "$DIR"
echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
    "$(free -g | awk '/^Mem:/{print $2}') GB"

if has targets; then
    echo "== targets (default glibc; every figure against the floor measured in this run)"
    env -u GLIBC_TUNABLES /usr/bin/python3 bench/targets.py "$BUILD" "$DIR" \
        --json "$DIR/targets.json" || echo "  the targets part stopped (see above); the other parts go on"
fi
if has bench; then
    echo "== warm benchmarks (GLIBC_TUNABLES=$WARM; medians of 5 repetitions)"
    GLIBC_TUNABLES=$WARM "$BUILD/bench/midifolio_bench" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true --benchmark_out="$DIR/bench.json" \
        --benchmark_out_format=json "$@"
    /usr/bin/python3 bench/report.py "$DIR/bench.json"
fi
if has cold; then
    echo "== cold loads (one load per fresh process, default glibc; 3 processes each)"
    for f in a a2 f0 b c d; do
        for i in 1 2 3; do echo "$f: $("$PERF" load "$DIR/$f.mid" 1 | sed -n 2p)"; done
    done
    echo "== the cold floor: read and walk in a fresh process (3 processes each)"
    for f in a a2; do
        for i in 1 2 3; do "$PERF" floor "$DIR/$f.mid"; done
    done
fi
if has memory; then
    echo "== resident memory after a cold load"
    "$PERF" memory "$DIR/a.mid"
    "$PERF" memory "$DIR/a2.mid"
fi
if has callgrind; then
    echo "== instructions per event (valgrind --tool=callgrind)"
    # f0: 5 MB format 0; b40k: 40,000 tempo changes; c: 1,000 short tracks; b: 20,000 tempo
    # changes. convert is ConvertTime2MS, every event's tick time to milliseconds.
    for what in load:f0 walk:f0 load:b40k load:c convert:f0 convert:b; do
        cmd=${what%%:*} file=$DIR/${what##*:}.mid
        fn=$(tr '[:lower:]' '[:upper:]' <<<"${cmd:0:1}")${cmd:1}Once
        out="$DIR/callgrind.$cmd.${what##*:}"
        events=$("$PERF" "$cmd" "$file" 1 | grep -o '[0-9]* events' | head -1 | cut -d' ' -f1)
        valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="*$fn*" \
            "$PERF" "$cmd" "$file" 1 >/dev/null 2>&1
        ir=$(grep -E '^(summary|totals):' "$out" | head -1 | awk '{print $2}')
        awk -v c="$what" -v ir="$ir" -v ev="$events" \
            'BEGIN { printf "  %s: %d instructions, %d events, %.1f instructions/event\n", c, ir, ev, ir / ev }'
    done
fi
if has compare; then
    echo "== side-by-side with Debian's readers"
    /usr/bin/python3 bench/compare.py "$BUILD" "$DIR"
fi
if has render; then
    echo "== audio: examples/sample.mid rendered, seconds of audio per second of CPU (x_realtime)"
    if [ -x "$BUILD/bench/midifolio_render_bench" ]; then
        "$BUILD/bench/midifolio_render_bench" --benchmark_repetitions=5 \
            --benchmark_report_aggregates_only=true
    else
        echo "  not built: the build found no FluidSynth or libsndfile"
    fi
fi
