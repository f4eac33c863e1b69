#!/usr/bin/env bash
# Times burnimg against dd on a 64 MiB image written onto a regular file in
# 64 KiB chunks: the plain copy against `dd bs=64k conv=notrunc`, and the
# verified copy (-c) against dd followed by cmp. Prints the median of each
# and the ratios.
#
#   bench/burnimg.sh [path/to/burnimg] [runs]
#
# Without a path it builds and uses the release build. The files live in a
# temporary folder under $TMPDIR (default /tmp), so the figures are those of
# that file system and its page cache.
set -eu
cd "$(dirname "$0")/.."
bin=${1:-}
runs=${2:-7}
if [ -z "$bin" ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release --target burnimg >/dev/null
    bin=build/release/burnimg/burnimg
fi
bin=$(realpath "$bin")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((64 << 20)) /dev/urandom >"$work/img"
cp "$work/img" "$work/tgt"  # the target exists at full size, as a device would

# Prints the wall time of one run of "$@" in microseconds.
time_us() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

dd_copy() { dd if="$work/img" of="$work/tgt" bs=64k conv=notrunc status=none; }
dd_cmp() { dd_copy && cmp "$work/img" "$work/tgt"; }
burn() { "$bin" -i "$work/img" -o "$work/tgt" -b 65536 "$@"; }

# Every command runs once untimed so that all start from a warm page cache;
# then the runs take turns, so a busy moment on the machine falls on all of
# them alike rather than on one.
names=(copy_burn copy_dd check_burn check_dd)
cmds=("burn" "dd_copy" "burn -c" "dd_cmp")
for c in "${cmds[@]}"; do $c >/dev/null; done
declare -A times
for _ in $(seq "$runs"); do
    for i in "${!cmds[@]}"; do
        times[${names[$i]}]+="$(time_us ${cmds[$i]}) "
    done
done
for n in "${names[@]}"; do
    printf -v "$n" '%s' "$(tr ' ' '\n' <<<"${times[$n]}" | grep . | median)"
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "64 MiB image, 64 KiB chunks, median of $runs runs (microseconds)"
printf '%-28s %10s\n' "burnimg" "$copy_burn" "dd bs=64k conv=notrunc" "$copy_dd" \
    "burnimg -c" "$check_burn" "dd + cmp" "$check_dd"
echo "copy:     burnimg / dd       = $(ratio "$copy_burn" "$copy_dd")"
echo "verified: burnimg -c / dd+cmp = $(ratio "$check_burn" "$check_dd")"
