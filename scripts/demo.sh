#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the tools and runs their main job on sample data made here.
set -eu
cd "$(dirname "$0")/.."
scripts/test.sh deps >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
bin=build/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# burnimg: a 150000-byte sample image onto a 256 KiB scratch "partition"
# (burnimg never creates its target), padded with 0xFF and verified. The
# target must then hold the image less its 8-byte tail, and 0xFF after it.
burnimg=$(pwd)/$bin/burnimg/burnimg
head -c 150000 /dev/urandom >"$work/firmware.img"
head -c 262144 /dev/zero >"$work/mtd.bin"
echo "\$ burnimg -i firmware.img -o mtd.bin -c -f 0x40000"
(cd "$work" && "$burnimg" -i firmware.img -o mtd.bin -c -f 0x40000)
{ head -c 149992 "$work/firmware.img"; head -c 112152 /dev/zero | tr '\0' '\377'; } >"$work/expected"
cmp "$work/expected" "$work/mtd.bin"
echo "burnimg: mtd.bin holds the image without its tail, then 0xFF to 256 KiB"
echo

# lcrmerge: both modes on the sample images in samples/ (their rules are in
# the .txt files beside them). `lcrtool merge` tells beforehand what each mode
# drops and adds and why, `lcrtool diff` shows afterwards what it took out of
# the current table (-) and what it added (+); the numbers left are checked.
lcrmerge=$(pwd)/$bin/lcrmerge/lcrmerge
lcrtool=$(pwd)/$bin/lcrtool/lcrtool
cp samples/current.lcr samples/current_default.lcr "$work/"
expect_1="0180 0301 040 110 112"
expect_2="00 01801 0302 089 0900 110 112 19222"
for mode in 1 2; do
    echo "\$ lcrtool merge $mode current.lcr current_default.lcr"
    (cd "$work" && "$lcrtool" merge "$mode" current.lcr current_default.lcr)
    echo "\$ lcrmerge $mode current.lcr current_default.lcr merged$mode.lcr"
    (cd "$work" && "$lcrmerge" "$mode" current.lcr current_default.lcr "merged$mode.lcr")
    echo "\$ lcrtool diff current.lcr merged$mode.lcr"
    (cd "$work" && "$lcrtool" diff current.lcr "merged$mode.lcr") || [ $? -eq 1 ]
    left=$("$lcrtool" dump "$work/merged$mode.lcr" | awk -F'\t' '$1 ~ /^[0-9]+$/ { print $1 }' | LC_ALL=C sort | xargs)
    expected=expect_$mode
    [ "$left" = "${!expected}" ] || { echo "lcrmerge mode $mode left: $left" >&2; exit 1; }
    echo "lcrmerge: mode $mode leaves $left"
    echo
done
