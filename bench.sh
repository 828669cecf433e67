#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them. Takes about seven minutes.
# No real serial device is opened: the exposures go to a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DNOCTURO_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen

echo "== a 30-second wait, three times, with the shipped pump and with a busy loop"
build/bench/bench/wait_bench 3 30

echo
echo "== whole series from outside, shipped pump and busy loop, and start-up time"
build/bench/bench/series_bench bench/results.md
