#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors under
# AddressSanitizer and UndefinedBehaviorSanitizer, checks the formatting,
# runs every test, checks the Windows build under Wine and the ARM builds
# under qemu. Needs no display.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh g++-mingw-w64-x86-64 build-essential dpkg-dev debhelper file desktop-file-utils appstream \
    lintian librapidcheck-dev groff-base dbus-daemon python3-dbusmock

# The code is laid out as clang-format 14 lays it out, the version .clang-format
# was written for; later versions lay some places out otherwise. A check for
# developers, not a test of the program: without that version it is skipped.
echo "== formatting"
if apt-cache show clang-format-14 >/dev/null 2>&1; then
    scripts/deps.sh clang-format-14
fi
if command -v clang-format-14 >/dev/null; then
    find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format-14 --dry-run --Werror
    echo "laid out as clang-format 14 lays it out"
else
    echo "skipped: clang-format 14, which .clang-format is written for, is not available here"
fi

echo "== build"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DNOCTURO_WERROR=ON -DNOCTURO_SANITIZE=ON \
    -DBUILD_TESTING=ON >/dev/null
cmake --build build/test -j "$(nproc)"

echo "== tests"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build/test --output-on-failure -j "$(nproc)"

echo "== package"
scripts/check_package.sh

echo "== documents"
scripts/check_docs.sh

# The Windows build: all of it where the static Qt for Windows has been built
# on this machine (./windows.sh builds it), otherwise the parts that need no Qt.
echo "== Windows, under Wine"
if scripts/windows_qt.sh --check >/dev/null 2>&1; then
    ./windows.sh
else
    ./windows.sh --core
fi

# ARM: the logic and its tests for 32-bit ARM always (no foreign architecture
# needed; char unsigned, long and time_t 32 bits), and the whole suite for
# each ARM architecture whose Qt is installed on this machine (./arm.sh
# installs it), all under qemu.
echo "== ARM, under qemu"
./arm.sh armhf --core
for arch in arm64 armhf; do
    if dpkg-query -W -f='${Status}' "qt6-base-dev:$arch" 2>/dev/null | grep -q 'install ok installed'; then
        ./arm.sh "$arch" --suite
    fi
done
