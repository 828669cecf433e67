#!/usr/bin/env bash
# Inside a fresh root (scripts/fresh_debian.sh SUITE scripts/deb_in_root.sh):
# installs only what debian/control names, builds the source and the binary
# packages with their tests, builds them again elsewhere and later and
# compares the two, runs lintian on everything built, and the autopkgtest
# on the package installed. What it makes goes to /root/out.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
out=/root/out
rm -rf "${out:?}"/*
apt-get update -qq
apt-get build-dep -y -qq ./ >/dev/null
echo "== build-dep installed: $(dpkg-query -W -f='${Package}\n' | wc -l) packages in the root"

started=$(date +%s)
scripts/build_deb.sh "$out/first" >"$out/first.log" 2>&1 || { tail -n 80 "$out/first.log"; exit 1; }
echo "== built with its tests in $(($(date +%s) - started)) s:" \
    "$(grep -E '^[0-9]+% tests passed' "$out/first.log")"
# Again, from another folder, a minute later or more, as another run would.
sleep 61
mkdir -p /var/tmp/elsewhere
started=$(date +%s)
scripts/build_deb.sh /var/tmp/elsewhere/second -- -Pnocheck >"$out/second.log" 2>&1 ||
    { tail -n 80 "$out/second.log"; exit 1; }
echo "== built again elsewhere, without the tests, in $(($(date +%s) - started)) s"
for deb in "$out"/first/*.deb; do
    other=/var/tmp/elsewhere/second/$(basename "$deb")
    cmp "$deb" "$other" || { echo "$(basename "$deb") differs between the two builds" >&2; exit 1; }
    echo "reproducible: $(basename "$deb") $(sha256sum <"$deb" | cut -c1-16)… $(stat -c %s "$deb") bytes"
done

apt-get install -y -qq lintian autopkgtest >/dev/null
# lintian runs as a user with no privilege, as it asks, on a copy it may read.
lintdir=$(mktemp -d)
cp "$out"/first/* "$lintdir/"
chmod -R a+rX "$lintdir"
echo "== lintian $(lintian --version)"
lint=(lintian --fail-on error,warning --display-info --pedantic)
# As scripts/check_package.sh: AppStream's validation again, without its
# allowance for the missing homepage.
if lintian-explain-tags --list-tags | grep -x appstream-metadata-validation-failed >/dev/null; then
    lint+=(--suppress-tags appstream-metadata-validation-failed)
fi
(cd "$lintdir" && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$lintdir" \
    "${lint[@]}" ./*.changes)
echo "== autopkgtest"
autopkgtest "$out"/first/*.changes -- null
