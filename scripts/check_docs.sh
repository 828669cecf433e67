#!/usr/bin/env bash
# Checks the documents: every file the README and docs/ link to is there,
# and the manual page renders without a warning.
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
warnings=$(groff -ww -z -man assets/nocturo.1 2>&1)
[ -z "$warnings" ] || { echo "$warnings" >&2; status=1; }
[ "$status" -ne 0 ] || echo "every link of the README and docs/ leads to a file; the manual page renders without a warning"
exit "$status"
