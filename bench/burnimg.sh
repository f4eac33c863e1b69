#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times burnimg against dd (and, on the board's NAND flash, against flashcp
# and nandwrite) and prints the median of each and the ratios.
#
#   bench/burnimg.sh [path/to/burnimg] [runs]
#   bench/burnimg.sh --board [path/to/static/mipsel/burnimg] [runs]
#
# On a regular file: a 64 MiB image, the plain copy against
# `dd bs=64k conv=notrunc` and the verified copy (-c) against dd followed by
# cmp; and a fill of 16 MiB of 0xFF (an empty image and -f) against dd
# writing as many 0xFF bytes. Without a path it builds and uses the release
# build. The files live in a temporary folder under $TMPDIR (default /tmp),
# so the figures are those of that file system and its page cache.
#
# With --board, on the emulated flash board of tests/device/run.sh (fetched
# there when missing), timed inside the guest on devices of 8 MiB: on the
# RAM device /dev/mtd0, the fill of the whole device and the copy of an
# image as large as the device (-u, so that both write every byte), each
# against dd; on the NAND flash /dev/mtd1 with the chip's timing, the
# whole-partition update (flash_erase, then burnimg -u -c) against flashcp,
# and the copy alone against nandwrite and dd. Without a path it builds and
# measures the uClibc-ng static build (preset mipsel-uclibc-static).
set -eu
cd "$(dirname "$0")/.."
board=0
if [ "${1:-}" = --board ]; then
    board=1
    shift
fi
bin=${1:-}
runs=${2:-7}

# Reads "name microseconds" lines and sets a variable of each name to the
# median of its figures.
read_medians() {
    local name value
    while read -r name value; do
        printf -v "$name" '%s' "$value"
    done < <(sort -k1,1 -k2,2n | awk '{ v[$1, ++n[$1]] = $2 } END { for (k in n) print k, v[k, int((n[k] + 1) / 2)] }')
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

if [ "$board" = 1 ]; then
    work=build/device-bench
    if [ -z "$bin" ]; then
        scripts/build-uclibc.sh -q >/dev/null
        cmake --preset mipsel-uclibc-static >/dev/null
        cmake --build --preset mipsel-uclibc-static --target burnimg >/dev/null
        bin=build/mipsel-uclibc-static/burnimg/burnimg
    fi
    tests/device/run.sh --prepare --bench "$runs" --work "$work" --timeout 3600 --burnimg "$bin" >/dev/null ||
        { tail -n 20 "$work/console.log"; echo "bench/burnimg.sh: the board gave no figures" >&2; exit 1; }
    read_medians < <(sed -n 's/^bench \([a-z_]*\) \([0-9]*\)$/\1 \2/p' "$work/console.log")
    size=$(sed -n 's/^bench: [0-9]* runs on \([0-9]*\) bytes$/\1/p' "$work/console.log")
    echo "emulated board, $bin, devices of $size bytes, 64 KiB chunks, median of $runs runs (microseconds)"
    echo "/dev/mtd0, RAM:"
    printf '  %-40s %10s\n' "burnimg -f $size (empty image)" "$fill_burn" "dd of 0xFF, bs=65536" "$fill_dd" \
        "burnimg -u, image of $size bytes" "$copy_burn" "dd of the image, bs=65536" "$copy_dd"
    echo "  fill: burnimg / dd = $(ratio "$fill_burn" "$fill_dd")"
    echo "  copy: burnimg / dd = $(ratio "$copy_burn" "$copy_dd")"
    echo "/dev/mtd1, NAND (nandsim, do_delays=1), the whole partition:"
    printf '  %-40s %10s\n' "flash_erase, then burnimg -u -c" "$nand_update_burn" \
        "flashcp (erases, writes, verifies)" "$nand_update_flashcp" \
        "flash_erase alone" "$nand_erase" \
        "burnimg -u -c alone, erased partition" "$nand_check_burn" \
        "burnimg -u, on an erased partition" "$nand_copy_burn" \
        "nandwrite, on an erased partition" "$nand_copy_nandwrite" \
        "dd bs=65536, on an erased partition" "$nand_copy_dd"
    echo "  update: flash_erase + burnimg -c / flashcp = $(ratio "$nand_update_burn" "$nand_update_flashcp")"
    echo "  burnimg -c alone / flashcp = $(ratio "$nand_check_burn" "$nand_update_flashcp")"
    echo "  copy: burnimg / nandwrite = $(ratio "$nand_copy_burn" "$nand_copy_nandwrite")"
    echo "  copy: burnimg / dd = $(ratio "$nand_copy_burn" "$nand_copy_dd")"
    exit 0
fi

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
: >"$work/empty"
head -c $((16 << 20)) /dev/zero | tr '\0' '\377' >"$work/ff"

. bench/timing.sh

dd_copy() { dd if="$work/img" of="$work/tgt" bs=64k conv=notrunc status=none; }
dd_cmp() { dd_copy && cmp "$work/img" "$work/tgt"; }
dd_fill() { dd if="$work/ff" of="$work/tgt" bs=64k conv=notrunc status=none; }
burn() { "$bin" -i "$work/img" -o "$work/tgt" -b 65536 "$@"; }
burn_fill() { "$bin" -i "$work/empty" -o "$work/tgt" -b 65536 -f $((16 << 20)); }

# Every command runs once untimed so that all start from a warm page cache;
# then the runs take turns, so a busy moment on the machine falls on all of
# them alike rather than on one.
names=(copy_burn copy_dd check_burn check_dd fill_burn fill_dd)
cmds=("burn" "dd_copy" "burn -c" "dd_cmp" "burn_fill" "dd_fill")
for c in "${cmds[@]}"; do $c >/dev/null; done
for _ in $(seq "$runs"); do
    for i in "${!cmds[@]}"; do
        echo "${names[$i]} $(time_us ${cmds[$i]})"
    done
done >"$work/times"
read_medians <"$work/times"

echo "64 MiB image, 64 KiB chunks, median of $runs runs (microseconds)"
printf '%-28s %10s\n' "burnimg" "$copy_burn" "dd bs=64k conv=notrunc" "$copy_dd" \
    "burnimg -c" "$check_burn" "dd + cmp" "$check_dd"
echo "copy:     burnimg / dd       = $(ratio "$copy_burn" "$copy_dd")"
echo "verified: burnimg -c / dd+cmp = $(ratio "$check_burn" "$check_dd")"
echo "16 MiB fill of 0xFF, 64 KiB chunks, median of $runs runs (microseconds)"
printf '%-28s %10s\n' "burnimg -f 16777216" "$fill_burn" "dd of 0xFF, bs=64k" "$fill_dd"
echo "fill:     burnimg / dd       = $(ratio "$fill_burn" "$fill_dd")"
