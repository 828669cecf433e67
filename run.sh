#!/usr/bin/env bash
# Installs what is missing, builds Nocturo and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release --target nocturo -j "$(nproc)"
exec build/release/src/nocturo "$@"
