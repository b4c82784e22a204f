#!/usr/bin/env bash
# Installs the Debian packages midifolio needs to build, test and benchmark.
set -euo pipefail
PKGS=(cmake ninja-build g++ clang lld libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
      libcli11-dev nlohmann-json3-dev python3 python3-mido midicsv valgrind libxml2-utils pkgconf libportsmf-dev
      strace time bsdutils util-linux  # strace, time, script, setpriv: tests trace syncs, measure memory, use a terminal, drop rights
      librsvg2-bin  # rsvg-convert: the piano rolls of docs/ rendered to PNG
      librsvg2-dev libcairo2-dev fonts-dejavu-core  # roll -o x.png, drawn in the process; the font its labels are measured in
      chromium  # the roll's HTML page opened headless by the tests and the benchmark
      pybind11-dev python3-dev python3-numpy python3-pytest python3-venv python3-pip python3-dask
      python3-distributed  # the Python package, its tests (pytest, the pip route, the Dask recipe)
      libfluidsynth-dev libsndfile1-dev fluid-soundfont-gm  # audio: render, Song.synthesize
      fluidsynth timgm6mb-soundfont  # its tests: FluidSynth's own player, a small SoundFont
      python3-mypy)  # the Python package's type check (mypy --strict, a test)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
