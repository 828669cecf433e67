#!/usr/bin/env bash
# Builds Nocturo for a Raspberry Pi or another ARM computer on Debian, runs
# every test under qemu and packs build/deb-<arch>/nocturo_<version>_<arch>.deb
# from debian/, cross-built with the cross and nocheck build profiles.
#
#   ./arm.sh arm64|armhf           everything: the packages it needs (adding the
#                                  architecture to dpkg), the build, every test,
#                                  the .deb checked, installed, started and removed
#   ./arm.sh arm64|armhf --suite   the build, every test and the checked .deb, with
#                                  the architecture's Qt already installed
#   ./arm.sh arm64|armhf --core    only the logic and its tests: no Qt, and no
#                                  foreign architecture in dpkg
#
# Programs built for ARM run through qemu-user, called explicitly: no binfmt
# handler is registered on the machine. No test opens a real serial port.
set -euo pipefail
cd "$(dirname "$0")"
arch=${1:-}
mode=${2:-all}
case "$arch" in
arm64) triplet=aarch64-linux-gnu qemu=qemu-aarch64-static ;;
armhf) triplet=arm-linux-gnueabihf qemu=qemu-arm-static ;;
*)
    echo "usage: ./arm.sh arm64|armhf [--suite|--core]" >&2
    exit 2
    ;;
esac
toolchain=$PWD/cmake/$triplet.cmake
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

scripts/deps.sh "g++-$triplet" qemu-user-static googletest
if [ "$mode" = all ]; then
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        echo "Adding the $arch architecture to dpkg, for its Qt libraries"
        "${as_root[@]}" dpkg --add-architecture "$arch"
        "${as_root[@]}" apt-get update -qq
    fi
    scripts/deps.sh "crossbuild-essential-$arch" dpkg-dev debhelper file desktop-file-utils appstream lintian \
        dbus-daemon python3-dbusmock "qt6-base-dev:$arch" "qt6-serialport-dev:$arch" \
        "qt6-qpa-plugins:$arch" "libgl-dev:$arch" "libasan8:$arch" "libubsan1:$arch"
fi

build=build/$arch
options=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Debug -DNOCTURO_WERROR=ON
         -DNOCTURO_SANITIZE=ON -DBUILD_TESTING=ON)
# Under qemu-arm the guest's memory lies partly outside what AddressSanitizer
# maps on 32-bit ARM, so it fails its own checks there (in the window tests);
# UBSan still runs.
[ "$arch" = armhf ] && options+=(-DNOCTURO_SANITIZE_ADDRESS=OFF)
if [ "$mode" = --core ]; then
    build=build/$arch-core
    options+=(-DNOCTURO_WITH_QT=OFF)
fi
echo "== build for $arch"
started=$(date +%s)
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "built in $(($(date +%s) - started)) s"

echo "== tests for $arch, under $qemu"
started=$(date +%s)
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure --timeout 300 -j "$(nproc)"
echo "tested in $(($(date +%s) - started)) s"
[ "$mode" = --core ] && exit 0

echo "== package for $arch"
scripts/check_package.sh "$arch"
[ "$mode" = --suite ] && exit 0

echo "== installed and started under $qemu"
deb=$(ls "$PWD"/build/deb-"$arch"/nocturo_*_"$arch".deb)
"${as_root[@]}" apt-get install -y -qq "$deb" >/dev/null
QT_QPA_PLATFORM=offscreen "/usr/bin/$qemu" /usr/bin/nocturo &
program=$!
sleep 5
kill -TERM "$program"
status=0
wait "$program" || status=$?
"${as_root[@]}" apt-get remove -y -qq "nocturo:$arch" >/dev/null
# 128 + 15: ended by SIGTERM, as a desktop session ends it; a crash would end it otherwise.
[ "$status" -eq 143 ] || { echo "/usr/bin/nocturo ended with status $status, not by SIGTERM" >&2; exit 1; }
echo "/usr/bin/nocturo ($arch) started, and ended by SIGTERM; the package is removed again"
