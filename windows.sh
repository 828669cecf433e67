#!/usr/bin/env bash
# Builds Nocturo for 64-bit Windows on Debian and checks it under Wine:
# build/windows/nocturo-<version>-win64.exe (the installer) and .zip (the
# one nocturo.exe). The first run also builds a small static Qt for Windows
# from Debian's qt6-base source into ~/.cache/nocturo (about half an hour);
# later runs reuse it.
#
#   ./windows.sh          everything: Qt, nocturo.exe, the packages, all checks
#   ./windows.sh --core   only what needs no Qt: the logic's tests and the
#                         serial line, built for Windows and run under Wine
#
# Wine runs only inside scripts/wine_sandbox.sh, where it can reach no real
# serial port.
set -euo pipefail
cd "$(dirname "$0")"
mode=${1:-all}

scripts/deps.sh g++-mingw-w64-x86-64-posix mingw-w64-tools ninja-build wine wine64 googletest \
    python3 dpkg-dev
if [ "$mode" != --core ]; then
    scripts/deps.sh qt6-base-dev-tools nsis xvfb xdotool x11-utils imagemagick
fi

echo "== the modem-line recorder, for this machine"
cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build build/host --target modem_recorder >/dev/null
recorder=build/host/tests/fakes/libmodem_recorder.so
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake

if [ "$mode" = --core ]; then
    echo "== the logic and the serial line, built for Windows"
    cmake -S . -B build/windows-core -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DNOCTURO_WITH_QT=OFF -DNOCTURO_WERROR=ON -DBUILD_TESTING=ON >/dev/null
    cmake --build build/windows-core
    echo "== under Wine"
    scripts/wine_sandbox.sh /usr/bin/python3 scripts/wine_checks.py --recorder "$recorder" \
        --tests build/windows-core/tests
    exit 0
fi

echo "== static Qt for Windows"
qt=$(scripts/windows_qt.sh)
echo "$qt"

echo "== nocturo.exe"
started=$(date +%s)
"$qt/bin/qt-cmake" -S . -B build/windows -G Ninja -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DNOCTURO_WERROR=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build/windows
(cd build/windows && cpack >/dev/null)
echo "built in $(($(date +%s) - started)) s"
exe=build/windows/src/nocturo.exe
installer=$(ls build/windows/nocturo-*-win64.exe)
ls -l "$exe" "$installer" build/windows/nocturo-*-win64.zip
echo "DLLs nocturo.exe imports:"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | grep 'DLL Name')
echo "$imports"
if grep -iE 'qt6|libstdc|libgcc|winpthread' <<<"$imports"; then
    echo "nocturo.exe needs a DLL that Windows does not have" >&2
    exit 1
fi

echo "== under Wine"
scripts/wine_sandbox.sh /usr/bin/python3 scripts/wine_checks.py --recorder "$recorder" \
    --tests build/windows/tests --program "$exe" --installer "$installer" \
    --screenshot build/windows/nocturo-wine.png
