# SPDX-License-Identifier: MIT
# burnimg on NAND flash, sourced by scenarios.sh with its helpers.
#
# /dev/mtd1 is nandsim's flash of 32 MiB, in 256 erase blocks of 64 pages of
# 2048 bytes. A write there can only clear bits, only an erase sets them
# again, and the driver takes writes in whole sub-pages of 512 bytes only.
# Each scenario erases the flash with Debian's flash_erase (and writes old
# contents with nandwrite where it needs them) and reads the whole flash
# back with dd from the character device, which reads bad blocks like any
# other, so that every offset stays where it is (or with nanddump, for the
# raw bits), compared by checksum so that no copy of the flash sits in
# memory.
#
# Images: /img/n.bin is 300 pages and an 8-byte tail (614408 bytes),
# /tmp/pages.bin its 300 pages alone; /img/and.bin is what programming the
# first 300000 bytes of /img/b.bin over n.bin's leaves.
nand=/dev/mtd1
nand_size=33554432
head -c 614400 /img/n.bin >/tmp/pages.bin

# 4 MiB of 0xFF, so that the 32 MiB of an erased flash take few pieces.
cat /tmp/ff /tmp/ff /tmp/ff /tmp/ff >/tmp/ff1m
cat /tmp/ff1m /tmp/ff1m /tmp/ff1m /tmp/ff1m >/tmp/ff4m
rm /tmp/ff1m
ff_file=/tmp/ff4m ff_size=4194304

# nand_load [PARAMETER...]: loads nandsim afresh (an erased flash) with the
# board's geometry and the PARAMETERs, such as badblocks= or bitflips=.
nand_load() {
    rmmod nandsim
    # shellcheck disable=SC2086  # NAND_ARGS holds one parameter per word
    modprobe nandsim $NAND_ARGS "$@" && [ -c $nand ] || problem "cannot load nandsim $*"
}

# nand_preload [FILE]: erases the whole flash and writes FILE from its
# first byte with nandwrite, padded to a whole page.
nand_preload() {
    flash_erase -q $nand 0 0 >/tmp/erase 2>&1 || problem "flash_erase failed: $(head -c 200 /tmp/erase)"
    [ -z "${1:-}" ] || nandwrite -q -p $nand "$1" || problem "nandwrite $1 failed"
}

# read_nand: the whole flash on standard output, through the ECC with dd,
# or raw with nanddump -n when $raw is set.
raw=
read_nand() {
    if [ -n "$raw" ]; then
        nanddump -q -n --bb=dumpbad $nand 2>/dev/null
    else
        dd if=$nand bs=65536 2>/dev/null
    fi
}

# expect_nand SEGMENT...: the flash must hold exactly the segments' bytes.
expect_nand() {
    want=$(emit "$@" | md5sum)
    have=$(read_nand | md5sum)
    [ "$want" = "$have" ] && return
    emit "$@" >/tmp/want.bin
    read_nand >/tmp/device
    problem "$nand: $(cmp /tmp/want.bin /tmp/device 2>&1 | head -n 1) (want $(wc -c </tmp/want.bin) bytes, have $(wc -c </tmp/device))"
    rm -f /tmp/want.bin /tmp/device
}

# expect_log TEXT: the kernel log since the scenario began holds TEXT.
expect_log() {
    dmesg | grep -qF "$1" || problem "the kernel log does not say: $1"
}

# nand_scenario NAME: a scenario that starts from an empty kernel log.
nand_scenario() {
    dmesg -c >/dev/null
    scenario "$1"
}

verified_nand='check firmware on: /dev/mtd1 check firmware /dev/mtd1 success '

# What a run of burnimg -u -c of /tmp/pages.bin prints that copied and
# verified the image in one cycle.
expect_pages_verified() {
    expect_status 0
    expect_output 'burnimg: copy /tmp/pages.bin to /dev/mtd1\n' \
        'programming: ..........\n' \
        'closing: /dev/mtd1 \n' \
        "${verified_nand}burnimg: successful!\n"
}

nand_scenario "the NAND device: 32 MiB in 128 KiB blocks of 2 KiB pages, erased"
mtdinfo $nand >/tmp/info 2>&1 || problem "mtdinfo failed: $(head -c 200 /tmp/info)"
for want in 'Type:                           nand' \
    'Eraseblock size:                131072 bytes, 128.0 KiB' \
    'Amount of eraseblocks:          256 (33554432 bytes, 32.0 MiB)' \
    'Minimum input/output unit size: 2048 bytes' \
    'Sub-page size:                  512 bytes'; do
    grep -qxF "$want" /tmp/info || problem "mtdinfo does not say: $want"
done
expect_nand ff:$nand_size
end_scenario

nand_scenario "NAND: erased, then -u -c of whole pages: the image, then 0xFF"
nand_preload
burn -u -c -i /tmp/pages.bin -o $nand
expect_pages_verified
expect_nand /tmp/pages.bin:0:614400 ff:$((nand_size - 614400))
end_scenario

# The tenth chunk, 24576 bytes, is cut to 24568: the driver refuses a write
# that does not end on a sub-page boundary, with EINVAL, and writes nothing
# of it.
nand_scenario "NAND: whole pages without -u: the cut last chunk is refused"
nand_preload
burn -i /tmp/pages.bin -o $nand
expect_status 255
expect_output 'burnimg: copy /tmp/pages.bin to /dev/mtd1\n' \
    'programming: .........burnimg: write error -1 errno 22 (wrote 589824 bytes)\n' \
    '\n' \
    'closing: /dev/mtd1 \n' \
    'burnimg: failed!\n'
expect_log 'nand_do_write_ops: attempt to write non page aligned data'
expect_nand /tmp/pages.bin:0:589824 ff:$((nand_size - 589824))
end_scenario

# Programming over old data clears the bits that either holds, and the
# page's ECC no longer matches; the comparison fails on every cycle, and
# timeout ends the run. The flash is read back raw.
nand_scenario "NAND: -c over old data without an erase: old AND new, every cycle fails"
nand_preload /img/b.bin
timeout 2 burnimg -u -c -i /tmp/pages.bin -o $nand >/tmp/out 2>/tmp/err
status=$?
expect_status 143
printf '%b' 'burnimg: copy /tmp/pages.bin to /dev/mtd1\nprogramming: ..........\n' \
    'closing: /dev/mtd1 \ncheck firmware on: /dev/mtd1 check firmware read error (cmp error)' >/tmp/cycle
cycles=$(grep -o 'burnimg: copy' /tmp/out | wc -l)
: >/tmp/want
i=0
while [ $i -lt "$cycles" ]; do cat /tmp/cycle >>/tmp/want; i=$((i + 1)); done
[ "$cycles" -ge 2 ] || problem "$cycles cycles in 2 s"
head -c "$(wc -c </tmp/out)" /tmp/want | cmp -s - /tmp/out ||
    { problem "the output is not cycles of:"; show /tmp/cycle; echo "  got:"; show /tmp/out; }
echo "  $cycles cycles in 2 s"
raw=1
expect_nand /img/and.bin:0:300000 /tmp/pages.bin:300000:314400 ff:$((nand_size - 614400))
raw=
end_scenario

# n.bin is 300 pages and its tail: the copy ends on a page boundary, and the
# fill goes on from there in chunks of whole pages. 0xFF is what the erase
# left, so the fill changes no bit.
nand_scenario "NAND: a fill from a page boundary in whole pages succeeds"
nand_preload
burn -i /img/n.bin -o $nand -b 0x20000 -f 0x100000 -c
expect_status 0
expect_output 'burnimg: copy /img/n.bin to /dev/mtd1\n' \
    'programming: .....\n' \
    'burnimg: write 434176 0xFF to end of mtd\n' \
    'closing: /dev/mtd1 \n' \
    "${verified_nand}burnimg: successful!\n"
expect_nand /img/n.bin:0:614400 ff:$((nand_size - 614400))
end_scenario

# An image of 293 sub-pages ends 512 bytes into a page; the driver takes the
# fill from there. The fill up to 0x3fff8 ends 8 bytes short of a sub-page:
# its last chunk is refused, then its first single byte, and the fill stops
# there without failing the run.
nand_scenario "NAND: a fill from inside a page: whole sub-pages only"
nand_preload
head -c 150016 /img/b.bin >/tmp/subpages.bin
burn -u -b 2048 -i /tmp/subpages.bin -o $nand -f 0x3fff8
expect_status 0
expect_output 'burnimg: copy /tmp/subpages.bin to /dev/mtd1\n' \
    "programming: $(dots 74)\n" \
    'burnimg: write 112120 0xFF to end of mtd\n' \
    'burnimg: write error -1 errno 22\n' \
    'closing: /dev/mtd1 \n' \
    'burnimg: successful!\n'
expect_nand /img/b.bin:0:150016 ff:$((nand_size - 150016))
end_scenario

# Block 2 (bytes 262144 to 393215) is bad. flash_erase skips it, and the
# MTD character device writes it like any other: burnimg's writes and its
# comparison succeed there. nandwrite skips the bad block and writes its
# share into block 3, so the image lies on good blocks only and nanddump,
# which skips bad blocks too, reads it back whole; the bad block, which no
# erase reaches, keeps what burnimg put there.
nand_scenario "NAND: a bad block in the range: burnimg writes it, nandwrite skips it"
nand_load badblocks=2
nand_preload
burn -u -c -i /tmp/pages.bin -o $nand
expect_pages_verified
expect_nand /tmp/pages.bin:0:614400 ff:$((nand_size - 614400))
grep -qx 1 /sys/class/mtd/mtd1/bad_blocks || problem "bad_blocks: $(cat /sys/class/mtd/mtd1/bad_blocks)"
nand_preload /tmp/pages.bin
expect_nand /tmp/pages.bin:0:393216 /tmp/pages.bin:262144:352256 ff:$((nand_size - 745472))
nanddump -q $nand | head -c 614400 | cmp -s - /tmp/pages.bin ||
    problem "nanddump skipping bad blocks does not read the image"
nand_load
end_scenario

# nandsim flips one bit in about one read in 1024 of a page that holds data,
# and the ECC corrects it: the read returns the right bytes. burnimg -c runs
# until one of its runs has read a corrected flip (each run reads the 300
# pages once); every run compares equal in its first cycle.
nand_scenario "NAND: bit flips that the ECC corrects: -c succeeds in one cycle"
nand_load bitflips=1
nand_preload
runs=0 flipped=0
while [ "$flipped" = 0 ] && [ $runs -lt 100 ]; do
    before=$(cat /sys/class/mtd/mtd1/corrected_bits)
    burn -u -c -i /tmp/pages.bin -o $nand
    flipped=$(($(cat /sys/class/mtd/mtd1/corrected_bits) - before))
    runs=$((runs + 1))
    expect_pages_verified
done
[ "$flipped" -gt 0 ] || problem "no bit flip corrected in $runs runs"
echo "  run $runs read $flipped corrected bit flips"
expect_nand /tmp/pages.bin:0:614400 ff:$((nand_size - 614400))
nand_load
end_scenario

# flashcp erases the blocks the image covers, writes and verifies; blocks
# beyond the image keep their data, and the rest of the last block covered
# is erased. An image that ends inside a sub-page (a.bin) fails at its last
# write, with the driver's EINVAL. Its -p, which is to skip the blocks that
# already hold the image's bytes, fails on this board (Debian's mtd-utils
# 2.1.5): it dies of a segmentation fault, or exits 1 after a short read
# from a garbled name.
nand_scenario "NAND: flashcp erases the blocks it needs, writes and verifies"
nand_preload /img/b.bin
nandwrite -q -p -s 0xa0000 $nand /img/b.bin || problem "nandwrite at 0xa0000 failed"
flashcp /tmp/pages.bin $nand >/tmp/out 2>/tmp/err
status=$?
expect_status 0
expect_output ''
expect_nand /tmp/pages.bin:0:614400 ff:40960 /img/b.bin:0:300000 ff:$((nand_size - 955360))
flashcp /img/a.bin $nand >/tmp/out 2>/tmp/err
status=$?
expect_status 1
grep -q 'Invalid argument' /tmp/err || problem "flashcp of a.bin: $(head -c 200 /tmp/err)"
flashcp -p /tmp/pages.bin $nand >/tmp/out 2>/tmp/err
status=$?
[ "$status" != 0 ] || problem "flashcp -p succeeded"
echo "  flashcp -p: exit status $status"
end_scenario
