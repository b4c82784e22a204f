#!/usr/bin/env bash
# The piano roll of the benchmarks' 20 MB song (2.6 million notes): how long `midifolio roll`
# takes to write it as SVG, PNG and HTML and how big each is, and how long headless Chromium
# takes to open the page: the whole run of the browser (start, load, first drawing, screenshot,
# exit) and, from the page itself, the milliseconds from navigation to the first drawing done.
#
#   bash bench/roll_page.sh [RUNS]      (default 3 runs of the browser)
#
# MIDIFOLIO_BENCH_BUILD   build folder (default build/bench)
# MIDIFOLIO_BENCH_DIR     where the song and the rolls go (default /tmp/midifolio-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${MIDIFOLIO_BENCH_BUILD:-build/bench}
DIR=${MIDIFOLIO_BENCH_DIR:-/tmp/midifolio-bench}
RUNS=${1:-3}
CHROMIUM=$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)
[ -n "$CHROMIUM" ] || { echo "no chromium found (Debian: apt-get install chromium)" >&2; exit 1; }

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIDIFOLIO_BUILD_BENCH=ON \
    -DMIDIFOLIO_BUILD_TESTS=OFF -DMIDIFOLIO_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target midifolio_cli midifolio_perf >/dev/null
CLI=$BUILD/cli/midifolio
mkdir -p "$DIR"
[ -f "$DIR/a.mid" ] || "$BUILD/bench/midifolio_perf" gen "$DIR" >/dev/null

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

echo "== midifolio roll of a.mid ($(stat -c %s "$DIR/a.mid") bytes)"
for ext in svg png html; do
    start=$(now)
    "$CLI" roll "$DIR/a.mid" -o "$DIR/a.$ext" >/dev/null
    echo "$ext: $(seconds "$start" "$(now)") s, $(stat -c %s "$DIR/a.$ext") bytes"
done
notes=$("$CLI" roll "$DIR/a.mid" -o "$DIR/a.html" --json | awk -F'[:,]' \
    '/"notes"|"drum_strokes"/ { n += $2 } END { print n }')
awk -v b="$(stat -c %s "$DIR/a.html")" -v n="$notes" \
    'BEGIN { printf "html: %d notes, %.2f bytes a note all told\n", n, b / n }'

echo "== headless Chromium opening a.html ($RUNS runs)"
flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run
       --disable-background-networking --disable-component-update --disable-sync
       --hide-scrollbars --window-size=1400,900)
for run in $(seq "$RUNS"); do
    profile=$(mktemp -d)
    start=$(now)
    "$CHROMIUM" "${flags[@]}" --user-data-dir="$profile" --screenshot="$DIR/a-page.png" \
        "file://$DIR/a.html" >/dev/null 2>&1
    wall=$(seconds "$start" "$(now)")
    ready=$("$CHROMIUM" "${flags[@]}" --user-data-dir="$profile" --dump-dom "file://$DIR/a.html" \
        2>/dev/null | grep -o 'data-ready="[0-9]*"' | grep -o '[0-9]*')
    rm -rf "$profile"
    echo "run $run: open, draw and screenshot ${wall} s; first drawing done ${ready} ms after navigation"
done
