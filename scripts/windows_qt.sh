#!/usr/bin/env bash
# Builds a small static Qt for 64-bit Windows from Debian's own qt6-base
# source, once, into the cache, and prints its prefix. Later runs find it there.
# Usage: scripts/windows_qt.sh [--check]   (--check: only print the prefix if it is built)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null | sed 's/+.*//')
[ -n "$qt_version" ] || { echo "qt6-base-dev-tools is not installed" >&2; exit 1; }
cache=${XDG_CACHE_HOME:-$HOME/.cache}/nocturo
prefix=$cache/qt-$qt_version-mingw-static
if [ -f "$prefix/.built" ]; then
    echo "$prefix"
    exit 0
fi
[ "${1:-}" = --check ] && exit 1

# The source comes from the machine's own Debian suites; add their source
# entries when there are none, saying so, through sudo when not root.
if ! grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        entries=/etc/apt/sources.list.d/nocturo-deb-src.sources
        sources=$(sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources)
    else
        entries=/etc/apt/sources.list.d/nocturo-deb-src.list
        sources=$(sed -n 's/^deb /deb-src /p' /etc/apt/sources.list)
    fi
    echo "Adding the source entries of this machine's Debian suites, for qt6-base's source," \
        "as $entries" >&2
    "${as_root[@]}" tee "$entries" <<<"$sources" >/dev/null
    "${as_root[@]}" apt-get update -qq >&2
fi

work=$cache/qt-$qt_version-work
mkdir -p "$work"
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
if [ -z "$src" ]; then
    (cd "$work" && apt-get source -qq "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)" >&2)
    src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
fi
# Qt keeps the path of the toolchain it was built with: keep a copy beside it.
mkdir -p "$cache"
cp "$here/cmake/mingw-w64-x86_64.cmake" "$cache/"

rm -rf "$work/build" "$prefix"
mkdir -p "$work/build"
cd "$work/build"
echo "== configuring static Qt $qt_version for Windows (log: $work/build/configure.log)" >&2
"$src/configure" -prefix "$prefix" -release -static -static-runtime \
    -qt-host-path /usr -xplatform win32-g++ -nomake examples -nomake tests \
    -no-opengl -no-dbus -no-feature-sql -no-feature-network -no-feature-testlib \
    -no-feature-printsupport -no-feature-concurrent -no-feature-xml -no-feature-vulkan \
    -no-feature-tabletevent -no-feature-direct2d1_1 \
    -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre -qt-doubleconversion \
    -no-icu -no-zstd -no-fontconfig \
    -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$cache/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >configure.log 2>&1 ||
    { tail -n 40 configure.log >&2; exit 1; }
echo "== building static Qt (about half an hour on two cores; log: $work/build/build.log)" >&2
cmake --build . --parallel "$(nproc)" >build.log 2>&1 || { tail -n 40 build.log >&2; exit 1; }
cmake --install . >install.log 2>&1 || { tail -n 40 install.log >&2; exit 1; }
touch "$prefix/.built"
rm -rf "$work"
echo "$prefix"
