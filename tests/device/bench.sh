# burnimg against dd on /dev/mtd0, run by the guest's /init for
# `tests/device/run.sh --bench RUNS`: the fill of the whole device with 0xFF,
# and the copy of an image as large as the device, in 64 KiB chunks. The
# runs take turns, after one untimed round. Each prints
# "bench NAME MICROSECONDS", timed with the shell's $EPOCHREALTIME (busybox's
# date has no sub-second format); the host takes the medians.
#
# Files, built by the host: /img/full.bin (random bytes) and /img/ff (0xFF
# bytes) are as large as the device, /img/empty is empty.

. /suite.conf
dev=/dev/mtd0
size=$((MTD_KIB * 1024))

fill_burn() { burnimg -i /img/empty -o $dev -b 65536 -f $size; }
fill_dd() { dd if=/img/ff of=$dev bs=65536 conv=notrunc; }
copy_burn() { burnimg -i /img/full.bin -o $dev -b 65536 -u; }
copy_dd() { dd if=/img/full.bin of=$dev bs=65536 conv=notrunc; }

# timed NAME: runs the function NAME once and prints its time; a run that
# fails says so, and the host then reports no figures.
timed() {
    start=$EPOCHREALTIME
    if ! $1 >/dev/null 2>&1; then
        echo "bench: $1 failed"
        exit 1
    fi
    end=$EPOCHREALTIME
    echo "bench $1 $((${end/./} - ${start/./}))"
}

echo "bench: $RUNS runs on $size bytes"
names="fill_burn fill_dd copy_burn copy_dd"
for n in $names; do $n >/dev/null 2>&1; done
i=0
while [ $i -lt "$RUNS" ]; do
    for n in $names; do timed $n; done
    i=$((i + 1))
done
echo "bench: done"
