#!/usr/bin/env bash
# Installs a built tree into a scratch prefix, then builds and runs a consumer through
# find_package(midifolio) and through pkg-config. Usage: scripts/check-install.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/release}
PREFIX=$(mktemp -d)
trap 'rm -rf "$PREFIX"' EXIT
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
cmake -S tests/install -B "$PREFIX/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$PREFIX" >/dev/null
cmake --build "$PREFIX/consumer" >/dev/null
LD_LIBRARY_PATH="$PREFIX/lib" "$PREFIX/consumer/consumer"
export PKG_CONFIG_PATH="$PREFIX/lib/pkgconfig"
g++ -o "$PREFIX/consumer-pc" tests/install/consumer.cpp $(pkg-config --cflags --libs midifolio)
LD_LIBRARY_PATH="$PREFIX/lib" "$PREFIX/consumer-pc"
# The installed tool finds its library, and its module for PNG rolls and audio, from its own
# folder wherever the prefix is.
"$PREFIX/bin/midifolio" info examples/sample.mid >/dev/null
if [ -n "$(find "$PREFIX" -name midifolio-media.so)" ]; then
  "$PREFIX/bin/midifolio" roll examples/sample.mid -o "$PREFIX/roll.png" >/dev/null
  [ "$(head -c 4 "$PREFIX/roll.png" | tail -c 3)" = PNG ]
  FONT=/usr/share/sounds/sf2/TimGM6mb.sf2
  if [ -e "$FONT" ]; then
    "$PREFIX/bin/midifolio" render examples/sample.mid -o "$PREFIX/a.wav" --soundfont "$FONT" \
      --to 2 --no-progress >/dev/null
    [ "$(head -c 4 "$PREFIX/a.wav")" = RIFF ]
  fi
fi
echo "install check passed"
