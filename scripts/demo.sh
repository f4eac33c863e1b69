#!/usr/bin/env bash
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

# lcrmerge: (added with the program)
