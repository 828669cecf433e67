#!/usr/bin/env bash
# Runs a command with Wine where Wine can reach no real serial port.
#
#   scripts/wine_sandbox.sh COMMAND [ARGS...]
#
# Wine maps COM1, COM2... to /dev/ttyS0, /dev/ttyS1... unless told otherwise:
# at every start it links COM1, COM2... to each /dev/ttyS*, /dev/ttyUSB* and
# /dev/ttyACM* node that exists, and its server opens the device itself. On
# many machines /dev/ttyS0 is the system console. So the command runs in a
# private mount namespace whose /dev holds only what Wine and the checks need
# (scripts/private_dev.sh): no serial node is there to be found, opened or
# linked. A Wine prefix is made inside the namespace
# with its COM links removed; the command points COM1 at its own
# pseudo-terminal and nothing else; the Wine server is stopped before the
# namespace ends. As root the namespace is the machine's own kind; otherwise
# it sits in a user namespace of its own.
set -euo pipefail

if [ "${NOCTURO_WINE_SANDBOX:-}" != inside ]; then
    export NOCTURO_WINE_SANDBOX=inside
    namespaces=(-m --propagation private)
    [ "$(id -u)" -eq 0 ] || namespaces=(-r "${namespaces[@]}")
    exec unshare "${namespaces[@]}" "$0" "$@"
fi

# The new /dev binds its few nodes from the machine's, reached meanwhile here.
host_dev=$(mktemp -d /tmp/nocturo-dev-XXXXXX)
mount --rbind /dev "$host_dev"
"$(dirname "$0")/private_dev.sh" /dev "$host_dev"
umount -l "$host_dev"
rmdir "$host_dev"

WINEPREFIX=$(mktemp -d /tmp/nocturo-wine-XXXXXX)
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
wineserver -w
rm -f "$WINEPREFIX"/dosdevices/com*

"$@"
