# SPDX-License-Identifier: MIT
# The update scripts on the board, sourced by scenarios.sh after nand.sh:
# each runs under busybox sh with the board's own programs, as
# `cmake --install` put it into /usr/sbin (run.sh --scripts), and each case
# checks the exit status, the exact standard output and error, and what the
# flash or the table holds afterwards.
#
# Files: /img/current.lcr and /img/current_default.lcr, the sample tables.
#
# The scripts log each message to the system log as well, where the board
# has logger: busybox's syslogd, where the board has it, writes that log to
# /tmp/syslog.
syslog=
command -v syslogd >/dev/null && syslogd -O /tmp/syslog && syslog=/tmp/syslog

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

# expect_err TEXT...: standard error must be the TEXTs joined, and each of
# its lines must be in the system log where the script could use logger.
expect_err() {
    expect_stream "standard error" /tmp/err "$@"
    [ -n "$syslog" ] && command -v logger >/dev/null || return 0
    # syslogd writes a moment after logger has sent the message.
    tries=0
    until grep -qF -- "$(tail -n 1 /tmp/err)" $syslog || [ $tries -ge 20 ]; do
        usleep 100000
        tries=$((tries + 1))
    done
    while IFS= read -r line; do
        grep -qF -- "$line" $syslog || problem "not in the system log: $line"
    done </tmp/err
    : >$syslog
}

# bin_without NAME...: /tmp/bin holds every program of /bin and /usr/sbin
# but the NAMEs, for a PATH that lacks them.
bin_without() {
    rm -rf /tmp/bin && mkdir /tmp/bin && ln -s /bin/* /usr/sbin/* /tmp/bin/
    for name in "$@"; do rm "/tmp/bin/$name"; done
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
# firmware_refused DESCRIPTION MESSAGE IMAGE [SECONDS]: the script refuses
# to write IMAGE.
firmware_refused() {
    what=$1 text=$2
    shift 2
    image=$1
    shift
    example "update-firmware: $what is refused" update-firmware.sh "$image" $nand "$@"
    expect_status 1
    no_output
    expect_err "$text"
    expect_nand /img/b.bin:0:300000 ff:$((nand_size - 300000))
    end_scenario
}

nand_preload /img/b.bin
firmware_refused "a missing image" 'update-firmware: /img/none.bin: not a regular file\n' /img/none.bin
head -c 8 /img/n.bin >/tmp/eight.bin
firmware_refused "an image of 8 bytes" \
    'update-firmware: /tmp/eight.bin: 8 bytes, no more than the 8-byte tail\n' /tmp/eight.bin
firmware_refused "a limit that is no number of seconds" \
    'update-firmware: abc: not a whole number of seconds from 1 to 4294967295\n' /img/n.bin abc
# Without logger, the messages go to standard error alone.
bin_without flash_erase logger
PATH=/tmp/bin firmware_refused "a board without flash_erase" \
    'update-firmware: flash_erase: not found\n' /img/n.bin

# A flash_erase whose interpreter is missing: the shell's status 127, which
# is no failed erase.
printf '#!/none\n' >/tmp/bin/flash_erase && chmod 755 /tmp/bin/flash_erase
PATH=/tmp/bin example "update-firmware: a flash_erase that cannot start" \
    update-firmware.sh /img/n.bin $nand
expect_status 1
no_output
head -n 1 /tmp/err |
    grep -qx 'update-firmware: flash_erase could not start (exit status 127); nothing was touched' ||
    problem "standard error: $(head -c 300 /tmp/err)"
expect_nand /img/b.bin:0:300000 ff:$((nand_size - 300000))
end_scenario

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

    # table_refused DESCRIPTION STATUS TEXT...: update-table.sh of
    # /tmp/new.lcr against the sample defaults, in mode $mode (default 2)
    # into $table (default /tmp/table.lcr), exits with STATUS and writes the
    # TEXTs on standard error, and the old table stays.
    table_refused() {
        example "update-table: $1 is refused and the old one stays" update-table.sh \
            "${mode:-2}" /tmp/new.lcr /img/current_default.lcr "${table:-/tmp/table.lcr}"
        expect_status "$2"
        shift 2
        no_output
        expect_err "$@"
        expect_table
        end_scenario
    }
    kept='/tmp/table.lcr keeps the old table'
    would_refuse="update-table: lcrmerge 2 would refuse /tmp/new.lcr; $kept\nupdate-table: refuse:"
    losses="update-table: $kept; --accept-losses merges all the same\n"

    # The arguments and the tools, before anything is read.
    cp /img/current.lcr /tmp/new.lcr
    mode=3 table_refused "mode 3" 1 "update-table: mode 3: not 1 or 2; $kept\n"
    table=/tmp/none/t.lcr table_refused "an output in a missing folder" 1 \
        'update-table: /tmp/none/t.lcr: its folder /tmp/none does not exist or cannot be written\n'
    bin_without lcrtool
    PATH=/tmp/bin table_refused "a table on a board without lcrtool" 1 \
        "update-table: lcrtool: not found; $kept\n"

    # What lcrmerge would refuse, with lcrtool merge's reason.
    head -c 6353 /img/current.lcr >/tmp/new.lcr
    table_refused "a cut table" 2 \
        "$would_refuse /tmp/new.lcr: cut short: the trie links past the 6353 bytes read\n"
    head -c 6000 /img/b.bin >/tmp/new.lcr
    table_refused "a file that is no table" 2 \
        "$would_refuse /tmp/new.lcr: not a version-3 lcr image (version word 2754050703)\n"
    # 368 rules with 110 and 112 take 498 of the 499 trie records; 19222,
    # which mode 2 adds, needs 4 more.
    awk 'BEGIN { print "110\t-2\t0"; print "112\t-2\t0"
        for (i = 0; i < 360; i++) print 200 + i "\t1\t0"
        for (i = 0; i < 6; i++)
            print "3" i "123456789012345" (i < 3 ? "678" : "") "\t1\t0" }' >/tmp/new.txt
    lcrtool build /tmp/new.txt /tmp/new.lcr
    table_refused "a table too large for mode 2" 2 "$would_refuse 19222: Telefon locate tree too" \
        " large: it needs trie record 502, past the 499 that lcrmerge's compiler holds\n"

    # Losses that --accept-losses takes.
    head -c 5892 /img/current.lcr >/tmp/new.lcr
    table_refused "a table without rules" 2 "update-table: the merge of /tmp/new.lcr keeps" \
        " none of its rules: result: 0 of 0 rules kept, 3 added\n$losses"
    # Rule 0301 takes route 2; its timetable 3 takes provider 3 by day.
    lcrtool dump /img/current.lcr >/tmp/new.txt
    printf 'timetable\t3\troute 2; 08:00-18:00 provider 3\n' >>/tmp/new.txt
    lcrtool build /tmp/new.txt /tmp/new.lcr
    differs='differs in 20 of 48 slots: a merge writes route 2 in all of them'
    table_refused "a table with time-of-day routing" 2 \
        "update-table: the merge of /tmp/new.lcr loses time-of-day routing:\n" \
        "update-table: lose timetable 3: $differs\n$losses"

    example "update-table: --accept-losses merges a table with time-of-day routing" \
        update-table.sh --accept-losses 2 /tmp/new.lcr /img/current_default.lcr /tmp/table.lcr
    expect_status 0
    no_output
    expect_err "update-table: note: the merge of /tmp/new.lcr loses time-of-day routing:\n" \
        "update-table: lose timetable 3: $differs\n" \
        "update-table: note: lcrtool check /tmp/new.lcr (exit status 1):\n" \
        "update-table: /tmp/new.lcr: timetable 3 $differs\n"
    lcrmerge 2 /tmp/new.lcr /img/current_default.lcr /tmp/merged.lcr
    expect_table
    end_scenario
else
    echo "SKIP update-table: no lcrmerge and lcrtool on the board"
fi
