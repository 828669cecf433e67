#!/usr/bin/env bash
# Checks the documents: every file the README and docs/ link to is there,
# the README's first screen says what a photographer must know before
# anything else, and the manual page renders without a warning.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
for doc in README.md docs/*.md; do
    # Links and pictures, ](target), other than web addresses and anchors.
    while read -r target; do
        [ -e "$(dirname "$doc")/${target%%#*}" ] || {
            echo "$doc links to $target, which is not there" >&2
            status=1
        }
    done < <(grep -oE '\]\([^)#][^)]*\)' "$doc" | sed -E 's/^\]\(//; s/\)$//' | grep -vE '^[a-z]+:' || true)
done
# Its first screen, 40 lines: Bulb and DTR, the limits, and the group that
# opens serial ports on Linux.
first_screen=$(head -n 40 README.md)
for needed in Bulb DTR dialout "5 to 300 s" "1 to 25" "1 to 15 s" "1 to 10 s" "half a second" \
    "not kept"; do
    grep -qF "$needed" <<<"$first_screen" || {
        echo "the README's first screen does not say \"$needed\"" >&2
        status=1
    }
done
warnings=$(groff -ww -z -man assets/nocturo.1 2>&1)
[ -z "$warnings" ] || { echo "$warnings" >&2; status=1; }
[ "$status" -ne 0 ] || echo "every link of the README and docs/ leads to a file; the README's first screen says what it must; the manual page renders without a warning"
exit "$status"
