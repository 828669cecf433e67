#!/usr/bin/env bash
# Builds the Debian package in Release and checks it: its control data, its
# contents, an install into a temporary root, the desktop entry and the
# AppStream metadata.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/package
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target nocturo -j "$(nproc)" >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/nocturo_*.deb)

fail() { echo "package check failed: $*" >&2; exit 1; }

info=$(dpkg-deb --info "$deb")
grep -q '^ Package: nocturo$' <<<"$info" || fail "no package name"
grep -E '^ Depends:.*libqt6widgets6' <<<"$info" >/dev/null || fail "Qt runtime not declared"
grep -E '^ Depends:.*libqt6dbus6' <<<"$info" >/dev/null || fail "Qt D-Bus runtime not declared"

contents=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/nocturo \
    ./usr/share/applications/org.nocturo.Nocturo.desktop \
    ./usr/share/metainfo/org.nocturo.Nocturo.metainfo.xml \
    ./usr/share/icons/hicolor/32x32/apps/org.nocturo.Nocturo.png \
    ./usr/share/icons/hicolor/scalable/apps/org.nocturo.Nocturo.svg \
    ./usr/share/doc/nocturo/copyright; do
    grep -qF " $path" <<<"$contents" || fail "$path missing from the package"
done
grep -qE '\.a$|/include/' <<<"$contents" && fail "build-only files in the package"

dpkg-deb -x "$deb" "$root/deb"
cmake --install "$build" --prefix "$root/usr" >/dev/null
for tree in "$root/deb/usr" "$root/usr"; do
    [ -x "$tree/bin/nocturo" ] || fail "$tree/bin/nocturo not installed"
    desktop-file-validate "$tree/share/applications/org.nocturo.Nocturo.desktop"
    appstreamcli validate --no-net "$tree/share/metainfo/org.nocturo.Nocturo.metainfo.xml" >/dev/null
done
echo "package ok: $(basename "$deb")"
dpkg-deb --info "$deb" | grep -E '^ (Version|Depends):'
