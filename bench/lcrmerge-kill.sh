#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cuts lcrmerge off at random moments, as a power cut would, and counts what
# the cuts leave: runs of mode 2 onto an existing output of about 16 KB, each
# killed with SIGKILL after a random delay between 0 and twice the time of a
# whole run. Prints how many runs were cut before they finished, how many
# left the output neither old nor new, how many files other than the output
# the cuts left in its folder, and how many of those are still there after
# one more run that finishes (a run sweeps what cut runs left).
#
#   bench/lcrmerge-kill.sh [path/to/lcrmerge] [runs]
#
# Without a path it builds and uses the release build; the images are made
# with the lcrtool of the same build.
set -eu
cd "$(dirname "$0")/.."
runs=${2:-200}
. bench/release-tools.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"

# Every number of 1 and 2 digits and 000 to 385 by route 1: 497 trie
# records, and room for the two that 19222 adds in mode 2. The default set
# matches none of them, so the merged image is as large as the first.
awk 'BEGIN {
    print "number\troute\tprovider"
    for (len = 1; len <= 3; len++)
        for (k = 0; k < (len < 3 ? 10 ^ len : 386); k++)
            printf "%0*d\t1\t0\n", len, k
}' >"$work/current.txt"
printf 'number\troute\tprovider\n5\t2\t0\n' >"$work/default.txt"
"$lcrtool" build "$work/current.txt" "$work/current.lcr"
"$lcrtool" build "$work/default.txt" "$work/default.lcr"
"$bin" 2 "$work/current.lcr" "$work/default.lcr" "$work/new.lcr"
old="$work/current.lcr"
out="$work/out/table.lcr"

# One whole run, in nanoseconds, sets the range of the delays.
cp "$old" "$out"
start=$(date +%s%N)
"$bin" 2 "$work/current.lcr" "$work/default.lcr" "$out"
span=$((2 * ($(date +%s%N) - start)))

# Files other than the output in its folder, one per line.
others() {
    for f in "$work/out"/* "$work/out"/.[!.]*; do
        [ -e "$f" ] && [ "$f" != "$out" ] && echo "$f"
    done
    true
}

cut=0 torn=0
declare -A seen=()
for _ in $(seq "$runs"); do
    cp "$old" "$out"
    delay=$(((RANDOM * 32768 + RANDOM) % span))
    status=0
    # --foreground: only lcrmerge is killed, not timeout and this shell.
    timeout --foreground -s KILL "$(printf '0.%09d' "$delay")" \
        "$bin" 2 "$work/current.lcr" "$work/default.lcr" "$out" || status=$?
    [ "$status" -ne 0 ] && cut=$((cut + 1))
    if ! cmp -s "$out" "$old" && ! cmp -s "$out" "$work/new.lcr"; then
        torn=$((torn + 1))
    fi
    # A later cut run may sweep a file before it is counted here; each
    # name counts once.
    while read -r f; do
        seen[$f]=1
    done < <(others)
done
"$bin" 2 "$work/current.lcr" "$work/default.lcr" "$out"
echo "$runs runs onto a $(stat -c %s "$old")-byte output, killed within $((span / 1000)) us:"
echo "  cut off:             $cut"
echo "  output torn:         $torn"
echo "  files left by cuts:  ${#seen[@]}"
echo "  files left after one run that finishes: $(others | grep -c .)"
