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
echo "install check passed"
