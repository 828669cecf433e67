#!/usr/bin/env bash
# Builds Nocturo's Debian packages from this checkout's last commit (and its
# uncommitted changes to tracked files) as a distribution builds them: the
# upstream tarball from git, the source package, then the binary package
# with dpkg-buildpackage, its tests run by dh_auto_test.
#
#   scripts/build_deb.sh OUT [ARCH] [-- DPKG_BUILDPACKAGE_OPTIONS...]
#
# OUT receives nocturo_<version>.orig.tar.gz, .dsc, .debian.tar.xz,
# .changes, .buildinfo and the .debs. For this machine's architecture the
# source and the binary packages are built; for another (arm64, armhf) the
# binary ones alone, cross-built with the cross and nocheck build profiles.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
shift
arch=$(dpkg --print-architecture)
if [ $# -gt 0 ] && [ "$1" != -- ]; then
    arch=$1
    shift
fi
[ "${1:-}" = -- ] && shift

cd "$here"
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
ref=$(git stash create)
ref=${ref:-HEAD}
tree=$out/nocturo-$upstream
rm -rf "$tree"
git archive --format=tar --prefix="nocturo-$upstream/" "$ref" -- . ':!debian' |
    gzip -9n >"$out/nocturo_$upstream.orig.tar.gz"
tar -xzf "$out/nocturo_$upstream.orig.tar.gz" -C "$out"
git archive --format=tar "$ref" debian | tar -x -C "$tree"

cd "$tree"
if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    dpkg-buildpackage -us -uc "$@"
else
    dpkg-buildpackage -us -uc -b -a "$arch" -Pcross,nocheck "$@"
fi
rm -rf "$tree"
