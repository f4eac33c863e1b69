# The update scripts on the board, sourced by scenarios.sh after nand.sh:
# each runs under busybox sh with the board's own programs, as
# `cmake --install` put it into /usr/sbin (run.sh --scripts), and each case
# checks the exit status, the exact standard output and error, and what the
# flash or the table holds afterwards.
#
# Files: /img/current.lcr and /img/current_default.lcr, the sample tables.

# example NAME SCRIPT ARG...: runs the update script whose source is
# examples/SCRIPT by the name it is installed under (CMakeLists.txt); its
# output goes to /tmp/out and /tmp/err, its exit status to $status.
example() {
    scenario "$1"
    case $2 in
        update-firmware.sh) script=burnimg-update-firmware ;;
        update-table.sh) script=lcrmerge-update-table ;;
        *) script=$2 ;;
    esac
    shift 2
    "/usr/sbin/$script" "$@" >/tmp/out 2>/tmp/err
    status=$?
}

# no_output: standard output must be empty.
no_output() {
    [ -s /tmp/out ] && problem "standard output: $(head -c 200 /tmp/out)"
}

# expect_err TEXT...: standard error must be the TEXTs joined.
expect_err() {
    expect_stream "standard error" /tmp/err "$@"
}

# expect_table: /tmp/table.lcr holds what lcrmerge made of the sample
# tables, /tmp/merged.lcr.
expect_table() {
    cmp -s /tmp/merged.lcr /tmp/table.lcr ||
        problem "/tmp/table.lcr: $(cmp /tmp/merged.lcr /tmp/table.lcr 2>&1)"
}

firmware_done='burnimg: copy /img/n.bin to /dev/mtd1\nprogramming: ..........\n'
firmware_done=$firmware_done'closing: /dev/mtd1 \n'"${verified_nand}"'burnimg: successful!\n'

nand_preload /img/b.bin
example "update-firmware: erases, writes and verifies" update-firmware.sh /img/n.bin $nand
expect_status 0
expect_output "$firmware_done"
expect_nand /img/n.bin:0:614400 ff:$((nand_size - 614400))
end_scenario

# The refusals come before the erase: the flash keeps its data.
# firmware_refused DESCRIPTION IMAGE MESSAGE: the script refuses IMAGE.
firmware_refused() {
    example "update-firmware: $1 is refused" update-firmware.sh "$2" $nand
    expect_status 1
    no_output
    expect_err "$3"
    expect_nand /img/b.bin:0:300000 ff:$((nand_size - 300000))
    end_scenario
}

nand_preload /img/b.bin
firmware_refused "a missing image" /img/none.bin 'update-firmware: /img/none.bin: not a regular file\n'
head -c 8 /img/n.bin >/tmp/eight.bin
firmware_refused "an image of 8 bytes" /tmp/eight.bin \
    'update-firmware: /tmp/eight.bin: 8 bytes, no more than the 8-byte tail\n'

nand_load badblocks=3
example "update-firmware: a partition with a bad block is refused" \
    update-firmware.sh /img/n.bin $nand
expect_status 1
no_output
expect_err 'update-firmware: /dev/mtd1: 1 bad blocks; write it with nandwrite, which skips them\n'
end_scenario

# nandsim fails the first erase of block 0; flash_erase says so, goes on
# and exits 0.
nand_load weakblocks=0:0
example "update-firmware: a failed erase" update-firmware.sh /img/n.bin $nand
expect_status 2
no_output
head -n 1 /tmp/err >/tmp/first
printf '%s\n' 'update-firmware: /dev/mtd1: the erase failed (flash_erase exit status 0);'\
' the partition may hold old and new data' | cmp -s - /tmp/first ||
    problem "standard error: $(head -c 300 /tmp/err)"
grep -q '^flash_erase: error!: /dev/mtd1: MTD Erase failure$' /tmp/err ||
    problem "no word of flash_erase's failure"
end_scenario

# nandsim fails every program of page 0: each cycle's first write fails,
# the comparison fails, and timeout stops the run.
nand_load weakpages=0:0
example "update-firmware: a failed write that never verifies" update-firmware.sh /img/n.bin $nand 2
expect_status 3
expect_err 'update-firmware: /dev/mtd1: burnimg -c did not verify within 2 s and was stopped' \
    ' (exit status 143); the partition is not usable\n'
head -n 2 /tmp/out | grep -qx 'programming: burnimg: write error -1 errno 5 (wrote 0 bytes)' ||
    problem "no write error on the first cycle: $(head -c 200 /tmp/out)"
nand_load
end_scenario

if command -v lcrmerge >/dev/null && command -v lcrtool >/dev/null; then
    cp /img/current.lcr /tmp/table.lcr
    example "update-table: a sound table is merged into place" \
        update-table.sh 2 /img/current.lcr /img/current_default.lcr /tmp/table.lcr
    expect_status 0
    expect_output ''
    lcrmerge 2 /img/current.lcr /img/current_default.lcr /tmp/merged.lcr
    expect_table
    end_scenario

    # refused DESCRIPTION CHECK_STATUS CHECK_TEXT...: update-table.sh of
    # /tmp/new.lcr is refused, logs check's findings and keeps the old table.
    refused() {
        example "update-table: $1 is refused and the old one stays" \
            update-table.sh 2 /tmp/new.lcr /img/current_default.lcr /tmp/table.lcr
        expect_status 1
        no_output
        check_status=$2
        shift 2
        expect_err 'update-table: lcrmerge refused /tmp/new.lcr (exit status 1); /tmp/table.lcr keeps the old table\n' \
            "update-table: lcrtool check /tmp/new.lcr (exit status $check_status):" "$@"
        expect_table
        end_scenario
    }

    head -c 6353 /img/current.lcr >/tmp/new.lcr
    refused "a cut table" 1 ' /tmp/new.lcr: 6353 bytes,' \
        ' not 5892 + 21n: the last 20 bytes, too few for a record, are ignored\n' \
        '/tmp/new.lcr: child link for 112 leads to record 21, past the 21 records read:' \
        ' the image was cut, and lcrmerge refuses it\n'

    head -c 6000 /img/b.bin >/tmp/new.lcr
    refused "a file that is no table" 2 \
        ' lcrtool: /tmp/new.lcr: not a version-3 lcr image (version word 2754050703)\n'
else
    echo "SKIP update-table: no lcrmerge and lcrtool on the board"
fi
