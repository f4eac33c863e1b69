#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times lcrmerge in both modes on two images of the largest size it writes:
# 499 trie records each (every number of 1 and 2 digits and 000 to 387, 498
# rules), most of them matching. Prints the median wall time and the peak
# resident memory of each mode next to those of /bin/true, which show what
# starting a process costs on this machine. Where valgrind is installed it
# also prints the instructions each run executes (callgrind), and how they
# grow with the size of the images: at 60, 125, 250 and 499 trie records
# the instructions per rule beyond those of /bin/true stay about the same
# when every step is linear.
#
#   bench/lcrmerge.sh [path/to/lcrmerge] [runs]
#
# Without a path it builds and uses the release build. The images are made
# with the lcrtool of the same build.
set -eu
cd "$(dirname "$0")/.."
runs=${2:-21}
. bench/release-tools.sh
if [ ! -x /usr/bin/time ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Rule i: every fifth goes by provider (never a match), the others take
# fixed route i % 10. The default set gives every eighth rule another route.
# The numbers: all of 1 digit, the first $2 of 2 digits, the first $3 of 3
# digits; each is one trie record, and the root is one more.
rules() {
    awk -v shift_routes="$1" -v n2="${2:-100}" -v n3="${3:-388}" 'BEGIN {
        print "number\troute\tprovider"
        i = 0
        for (len = 1; len <= 3; len++)
            for (k = 0; k < (len == 1 ? 10 : len == 2 ? n2 : n3); k++) {
                route = i % 10; provider = 0
                if (i % 5 == 4) { route = -2; provider = i % 9 + 1 }
                else if (shift_routes && i % 8 == 0) route = (route + 1) % 10
                printf "%0*d\t%d\t%d\n", len, k, route, provider
                i++
            }
    }'
}
rules 0 >"$work/current.txt"
rules 1 >"$work/default.txt"
"$lcrtool" build "$work/current.txt" "$work/current.lcr"
"$lcrtool" build "$work/default.txt" "$work/default.lcr"

. bench/timing.sh
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
peak_kib() { /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null && cat "$work/rss"; }

# Command lines, split at blanks when run (the paths hold none).
merge() { echo "$bin $1 $work/current.lcr $work/default.lcr $work/out$1.lcr"; }
names=(true mode1 mode2)
cmds=("/bin/true" "$(merge 1)" "$(merge 2)")
# One untimed run each warms the page cache; then the commands take turns,
# so a busy moment on the machine falls on all of them alike.
for c in "${cmds[@]}"; do $c; done
declare -A wall rss
for _ in $(seq "$runs"); do
    for i in "${!cmds[@]}"; do
        wall[${names[$i]}]+="$(time_us ${cmds[$i]}) "
        rss[${names[$i]}]+="$(peak_kib ${cmds[$i]}) "
    done
done
med() { tr ' ' '\n' <<<"$1" | grep . | median; }
count_rules() { "$lcrtool" dump "$1" | awk -F'\t' '$1 ~ /^[0-9]+$/' | wc -l; }

echo "two images of $(stat -c %s "$work/current.lcr") and $(stat -c %s "$work/default.lcr") bytes," \
    "$(count_rules "$work/current.lcr") rules each; median of $runs runs"
printf '%-16s %10s %14s %12s\n' "" "wall (us)" "peak RSS (KiB)" "rules left"
printf '%-16s %10s %14s %12s\n' "/bin/true" "$(med "${wall[true]}")" "$(med "${rss[true]}")" "-"
for m in 1 2; do
    printf '%-16s %10s %14s %12s\n' "lcrmerge mode $m" "$(med "${wall[mode$m]}")" "$(med "${rss[mode$m]}")" \
        "$(count_rules "$work/out$m.lcr")"
done

command -v valgrind >/dev/null || exit 0

# Instructions one run of "$@" executes.
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
        sed -n 's/.*Collected : *//p'
}
echo
echo "instructions executed (callgrind)"
true_ir=$(instructions /bin/true)
printf '%-16s %12s\n' "/bin/true" "$true_ir"
for m in 1 2; do
    printf '%-16s %12s\n' "lcrmerge mode $m" "$(instructions $(merge $m))"
done

# Images of n trie records: 10 of 1 digit, up to 100 of 2, the rest of 3.
# "per rule" is beyond the instructions of /bin/true; "added" is per rule
# added since the row above, which stays flat when every step is linear.
echo
echo "instructions by size"
printf '%8s %6s %10s %9s %7s %10s %9s %7s\n' records rules mode1 "per rule" added mode2 "per rule" added
prev_n=0
prev=(0 0)
for records in 60 125 250 499; do
    n2=$((records - 11 < 100 ? records - 11 : 100))
    n3=$((records - 11 - n2))
    rules 0 "$n2" "$n3" >"$work/current.txt"
    rules 1 "$n2" "$n3" >"$work/default.txt"
    "$lcrtool" build "$work/current.txt" "$work/current.lcr"
    "$lcrtool" build "$work/default.txt" "$work/default.lcr"
    n=$((records - 1))
    row=()
    for m in 1 2; do
        ir=$(instructions $(merge $m))
        added=-
        [ "$prev_n" -gt 0 ] && added=$(((ir - prev[m - 1]) / (n - prev_n)))
        row+=("$ir" "$(((ir - true_ir) / n))" "$added")
        prev[m - 1]=$ir
    done
    prev_n=$n
    printf '%8s %6s %10s %9s %7s %10s %9s %7s\n' "$records" "$n" "${row[@]}"
done
