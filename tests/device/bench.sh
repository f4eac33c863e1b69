# SPDX-License-Identifier: MIT
# burnimg against the tools people use, run by the guest's /init for
# `tests/device/run.sh --bench RUNS`:
#
# - on /dev/mtd0 (RAM), against dd: the fill of the whole device with 0xFF,
#   and the copy of an image as large as the device, in 64 KiB chunks;
# - on /dev/mtd1 (nandsim with the chip's timing), a whole-partition
#   update, flash_erase and burnimg -c against flashcp (which erases, writes
#   and verifies), and its two parts alone; and the copy alone against
#   nandwrite and dd. Each run of burnimg -c or a copy alone gets a partition
#   erased beforehand, untimed.
#
# The runs take turns, after one untimed round, in the order below and its
# reverse. Each prints "bench NAME MICROSECONDS", timed with the shell's
# $EPOCHREALTIME (busybox's date has no sub-second format); the host takes
# the medians.
#
# Files, built by the host: /img/full.bin (random bytes) and /img/ff (0xFF
# bytes) are as large as either device, /img/empty is empty.

. /suite.conf
dev=/dev/mtd0
nand=/dev/mtd1
size=$((MTD_KIB * 1024))

fill_burn() { burnimg -i /img/empty -o $dev -b 65536 -f $size; }
fill_dd() { dd if=/img/ff of=$dev bs=65536 conv=notrunc; }
copy_burn() { burnimg -i /img/full.bin -o $dev -b 65536 -u; }
copy_dd() { dd if=/img/full.bin of=$dev bs=65536 conv=notrunc; }
nand_update_burn() {
    flash_erase -q $nand 0 0 && burnimg -i /img/full.bin -o $nand -b 65536 -u -c
}
nand_update_flashcp() { flashcp /img/full.bin $nand; }
nand_erase() { flash_erase -q $nand 0 0; }
nand_check_burn() { burnimg -i /img/full.bin -o $nand -b 65536 -u -c; }
nand_copy_burn() { burnimg -i /img/full.bin -o $nand -b 65536 -u; }
nand_copy_nandwrite() { nandwrite -q $nand /img/full.bin; }
nand_copy_dd() { dd if=/img/full.bin of=$nand bs=65536; }

# timed NAME: runs the function NAME once and prints its time; a copy or a
# verified copy onto the NAND flash gets an erased partition first. A run that fails says so,
# and the host then reports no figures.
timed() {
    case $1 in nand_copy_* | nand_check_*) flash_erase -q $nand 0 0 >/dev/null 2>&1 ;; esac
    start=$EPOCHREALTIME
    if ! $1 >/dev/null 2>&1; then
        echo "bench: $1 failed"
        exit 1
    fi
    end=$EPOCHREALTIME
    echo "bench $1 $((${end/./} - ${start/./}))"
}

[ "$(cat /sys/class/mtd/mtd1/size)" = "$size" ] ||
    { echo "bench: the NAND flash is not $size bytes"; exit 1; }
echo "bench: $RUNS runs on $size bytes"
names="fill_burn fill_dd copy_burn copy_dd"
names="$names nand_update_burn nand_update_flashcp nand_erase nand_check_burn"
names="$names nand_copy_burn nand_copy_nandwrite nand_copy_dd"
for n in $names; do timed $n >/dev/null; done
# Every other round runs in the reverse order, so that a load on the host
# that grows or shrinks during a round weighs on each run alike.
reversed=
for n in $names; do reversed="$n $reversed"; done
i=0
while [ $i -lt "$RUNS" ]; do
    if [ $((i % 2)) = 0 ]; then order=$names; else order=$reversed; fi
    for n in $order; do timed $n; done
    i=$((i + 1))
done
echo "bench: done"
