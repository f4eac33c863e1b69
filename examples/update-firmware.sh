#!/bin/sh
# SPDX-License-Identifier: MIT
# Writes a firmware image onto a flash partition and reads it back:
#
#   update-firmware.sh IMAGE /dev/mtdN [SECONDS]
#
# The image ends in the 8-byte tail that burnimg leaves out; what comes
# before the tail must fill whole pages of the flash, as the NAND driver
# refuses a write that ends inside a page. burnimg only writes, and on NOR
# or NAND flash a write can only clear bits, so the partition is erased
# first. burnimg -c repeats a comparison that fails for ever (a page that
# will not program), so it runs under timeout, SECONDS long (default 300).
#
# Every argument and every program the update needs (flash_erase, timeout,
# burnimg) is checked before the erase, which cannot be undone.
#
# burnimg's progress goes to standard output; each failure is told in words
# on standard error and, where the device has logger, in the system log
# under the tag update-firmware. Exit status: 0 written and verified; 1 an
# argument, a program, the image or the partition is not fit (or has bad
# blocks), and nothing was touched; 2 the erase failed; 3 burnimg failed or
# did not verify in time.

tag=update-firmware
syslog=$(command -v logger)

# say MESSAGE: one line on standard error and in the system log.
say() {
    printf '%s\n' "$tag: $*" >&2
    if [ -n "$syslog" ]; then logger -t $tag -- "$*"; fi
}

# relay TEXT: another program's lines, passed on in the same way.
relay() {
    [ -n "$1" ] || return 0
    printf '%s\n' "$1" >&2
    if [ -n "$syslog" ]; then printf '%s\n' "$1" | logger -t $tag; fi
}

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    say "usage: ${0##*/} IMAGE /dev/mtdN [SECONDS]"
    exit 1
fi
image=$1 dev=$2 limit=${3-300}

# timeout takes fractions and units as well, 0 means no limit to it, and
# busybox's timeout refuses a number past 32 bits: the limit is whole
# seconds from 1 to 4294967295. (The test fails on a number past 64 bits.)
case $limit in
    '' | *[!0-9]*) false ;;
    *) [ "$limit" -ge 1 ] 2>/dev/null && [ "$limit" -le 4294967295 ] ;;
esac || {
    say "$limit: not a whole number of seconds from 1 to 4294967295"
    exit 1
}

for tool in flash_erase timeout burnimg; do
    if ! command -v $tool >/dev/null; then
        say "$tool: not found"
        exit 1
    fi
done

# The partition's size and the size of its write unit (a page on NAND, 1 on
# the RAM device).
sysfs=/sys/class/mtd/${dev#/dev/}
if [ ! -c "$dev" ] || [ ! -r "$sysfs/size" ]; then
    say "$dev: not a flash partition"
    exit 1
fi
part=$(cat "$sysfs/size")
page=$(cat "$sysfs/writesize")

# A name that is not a regular file (a pipe, a device) would lose 8 bytes
# per read, and an image of 8 bytes or fewer has nothing to write.
if [ ! -f "$image" ]; then
    say "$image: not a regular file"
    exit 1
fi
size=$(wc -c <"$image")
if [ "$size" -le 8 ]; then
    say "$image: $size bytes, no more than the 8-byte tail"
    exit 1
fi
data=$((size - 8))
if [ "$data" -gt "$part" ]; then
    say "$image: $data bytes to write, more than the $part bytes of $dev"
    exit 1
fi
if [ $((data % page)) -ne 0 ]; then
    say "$image: $data bytes to write, not whole pages of $page bytes"
    exit 1
fi

# burnimg writes through bad blocks, which may not keep what is written
# there; nandwrite skips them, and the reader of the partition must skip
# them too.
bad=$(cat "$sysfs/bad_blocks" 2>/dev/null || echo 0)
if [ "$bad" -ne 0 ]; then
    say "$dev: $bad bad blocks; write it with nandwrite, which skips them"
    exit 1
fi

# flash_erase reports a block it cannot erase on standard error and goes on
# with the next; its exit status stays 0 then. The shell's 126 and 127 say
# that it never ran.
errors=$(flash_erase -q "$dev" 0 0 2>&1 >/dev/null)
status=$?
if [ $status -eq 126 ] || [ $status -eq 127 ]; then
    say "flash_erase could not start (exit status $status); nothing was touched"
    relay "$errors"
    exit 1
fi
if [ $status -ne 0 ] || printf '%s\n' "$errors" | grep -q 'MTD Erase failure'; then
    say "$dev: the erase failed (flash_erase exit status $status);" \
        "the partition may hold old and new data"
    relay "$errors"
    exit 2
fi

# burnimg writes everything to standard output; the redirection keeps the
# shell's "Terminated" out of the log when timeout stops it.
timeout "$limit" burnimg -i "$image" -o "$dev" -c 2>/dev/null
status=$?
case $status in
    0) ;;
    124 | 143)
        say "$dev: burnimg -c did not verify within $limit s and was stopped" \
            "(exit status $status); the partition is not usable"
        exit 3
        ;;
    *)
        say "$dev: burnimg failed (exit status $status)"
        exit 3
        ;;
esac
