#!/usr/bin/env bash
# Configures, builds and runs every test. Usage: scripts/test.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/release}
shift || true
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$BUILD" -j "$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)"
