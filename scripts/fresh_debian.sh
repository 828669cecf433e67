#!/usr/bin/env bash
# Proves the README's commands on a fresh machine: a minimal root of a Debian
# suite (debootstrap --variant=minbase, git added, from the mirror apt uses
# here) is made once into the cache and copied for each run; this checkout's
# HEAD is cloned into the copy, and .ci/run runs there: ./test.sh as root,
# then the checks that depend on privilege as a user with none. Or another
# command runs there, in the clone, with build/fresh-SUITE of this checkout
# at /root/out for what it makes.
#
#   scripts/fresh_debian.sh [SUITE [COMMAND...]]    (default: trixie, Debian 13)
#
# On these machines /dev/ttyS0 is the system console: the root gets a /dev of
# its own, in a private mount namespace, with no serial node in it.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
here=$(cd "$(dirname "$0")/.." && pwd)
suite=${1:-trixie}
[ $# -gt 0 ] && shift
command=${*:-bash .ci/run}
"$here/scripts/deps.sh" debootstrap
cache=${XDG_CACHE_HOME:-$HOME/.cache}/nocturo
base=$cache/root-$suite
if [ ! -d "$base" ]; then
    mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Created-By: Packages' |
        grep -v security | head -n 1)
    echo "== a minimal $suite root from $mirror, once, into $base"
    rm -rf "$base.new"
    debootstrap --variant=minbase --include=git "$suite" "$base.new" "$mirror" >/dev/null
    mv "$base.new" "$base"
fi
work=$(mktemp -d /var/tmp/nocturo-fresh-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp -a "$base/." "$work/"
git clone -q "$here" "$work/root/nocturo"
cp /etc/resolv.conf "$work/etc/resolv.conf"
mkdir -p "$cache/apt-$suite" # the packages downloaded, kept for the next run
out=$here/build/fresh-$suite
mkdir -p "$out" "$work/root/out"

echo "== $command, on a fresh $suite root"
export here work cache suite out command
unshare -m -p -f --kill-child --propagation private bash -euo pipefail -c '
    mount --bind "$work" "$work" # a mount of its own, whose propagation the Wine sandbox sets
    mount -t proc proc "$work/proc"
    mount --bind "$cache/apt-$suite" "$work/var/cache/apt/archives"
    mount --bind "$out" "$work/root/out"
    "$here/scripts/private_dev.sh" "$work/dev" /dev
    # The root itself, not a chroot: a user namespace (the Wine sandbox of a
    # user with no privilege) cannot be made inside a chroot. The tree of the
    # machine, its /dev and serial nodes with it, is let go of at once.
    cd "$work"
    mkdir .host
    pivot_root . .host
    exec /usr/bin/env -i HOME=/root LANG=C.UTF-8 NOCTURO_FRESH=inside \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -c "umount -l /.host && rmdir /.host && cd /root/nocturo && $command"
'
