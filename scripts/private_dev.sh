#!/usr/bin/env bash
# Mounts at TARGET a /dev of its own holding only what a build, its tests and
# Wine need: null, zero, full, random, urandom and tty (bound from the /dev at
# FROM), pseudo-terminals and shared memory of its own, and the fd links. No
# serial node is there to be found, opened or linked. Run inside a private
# mount namespace.
#
#   scripts/private_dev.sh TARGET FROM
set -euo pipefail
target=$1
from=$2
mount -t tmpfs -o mode=755 nocturo-dev "$target"
for node in null zero full random urandom tty; do
    touch "$target/$node"
    mount --bind "$from/$node" "$target/$node"
done
mkdir "$target/pts" "$target/shm"
# The host's ptmx may be closed to a user namespace (mode 000), a fresh
# instance is not.
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 nocturo-pts "$target/pts"
ln -s pts/ptmx "$target/ptmx"
mount -t tmpfs -o mode=1777 nocturo-shm "$target/shm"
ln -s /proc/self/fd "$target/fd"
for stream in 0:stdin 1:stdout 2:stderr; do
    ln -s "/proc/self/fd/${stream%%:*}" "$target/${stream#*:}"
done
shopt -s nullglob
masked=("$target"/ttyS* "$target"/ttyUSB* "$target"/ttyACM*)
[ ${#masked[@]} -eq 0 ] || { echo "serial nodes still visible: ${masked[*]}" >&2; exit 1; }
