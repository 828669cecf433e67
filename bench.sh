#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them. Takes about ten minutes.
# No real serial device is opened: the exposures go to a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh xvfb at-spi2-core dbus-daemon
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DNOCTURO_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen

echo "== a 30-second wait, three times, with the shipped pump and with a busy loop"
build/bench/bench/wait_bench 3 30

echo
echo "== whole series from outside, shipped pump and busy loop, and start-up time"
build/bench/bench/series_bench bench/results.md

echo
echo "== wake-ups during an exposure, window shown and hidden, and idle: X server, accessibility bus"
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 xvfb-run -a dbus-run-session -- \
    build/bench/bench/wakeup_bench bench/wakeups.md
