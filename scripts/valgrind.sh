#!/usr/bin/env bash
# Runs the decoding, loading, editing and malformed-file tests under valgrind's leak checker.
# Usage: scripts/valgrind.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/release}
for t in decoder_test track_editing_test load_test store_test bad_files_test; do
  [ -x "$BUILD/tests/$t" ] || continue
  echo "valgrind: $t"
  valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=9 \
    "$BUILD/tests/$t" --gtest_brief=1 >/dev/null
done
echo "valgrind: no leaks, no errors"
