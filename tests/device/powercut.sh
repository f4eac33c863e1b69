# SPDX-License-Identifier: MIT
# lcrmerge through power cuts on the board's flash file systems, run by the
# guest's /init for `tests/device/run.sh --powercut CUTS` (busybox sh).
#
# UBIFS on UBI on the NAND flash (/dev/mtd1) is cut by two mechanisms of the
# kernel: UBI's, which turns the flash read-only after a chosen number of
# header writes, and UBIFS's recovery test, which cuts a write of its own
# choosing and corrupts it. JFFS2 on the RAM device (/dev/mtd0, as a NOR
# board has it) has no such emulation; there lcrmerge is killed with
# SIGKILL at a random moment, or stopped there while the flash is copied,
# and the copy put back after the kill (snapshot). Every round ends with an
# unmount, on UBI a detach and attach as well, and a mount, so that the file
# system recovers from what reached the flash.
#
# A round runs the writer onto t.lcr, alternating mode 1 and mode 2, one run
# in three with t.lcr as its first input, until the cut. After the cut:
# t.lcr holds the table from before the cut run or the one that run would
# have written, byte for byte; a.lcr and b.lcr are unchanged; the file
# system mounted without an error; and one more run that finishes leaves no
# .lcrmerge-* file. A cut counts only when the kernel reports it (or, on
# JFFS2, when the kill ended a run that was still going). Each mechanism
# ends with the line
#   "powercut MECHANISM cuts N runs N torn N lost N left N found N"
# where "found" is what the same check found when the writer is a program
# that truncates the table, syncs and then writes it in place (SELF rounds,
# the harness's test of itself; 0 rounds in the device stage).
#
# From suite.conf: CUTS, the cuts per mechanism (UBIFS_CUTS for UBIFS's),
# and SELF, the in-place writer's cuts per mechanism. The samples are
# /img/a.lcr and /img/b.lcr.

. /suite.conf
passed=0
failed=0
ubifs=/mnt/ubifs
jffs2=/mnt/jffs2
dbg=/sys/kernel/debug
# Runs of one round before it gives up waiting for a cut: UBI's cut comes
# within a few runs, UBIFS's may wait for up to a minute.
ubi_runs=60
ubifs_runs=400

say() { echo "  $*"; }

mount -t debugfs debugfs $dbg || say "debugfs does not mount"
# UBIFS asks the crypto layer for its compressors when it loads; they are
# loaded first, as the board has no module aliases.
for m in zstd deflate ubi ubifs jffs2; do
    modprobe $m || say "the module $m does not load"
done
mkdir -p $ubifs $jffs2 /tmp/w

# The UBIFS volume: UBI attached to the NAND flash, one volume over all of
# it. The JFFS2 file system starts on the erased RAM device.
attach_ubi() { ubiattach -m 1 >/dev/null; }
mount_ubifs() { mount -t ubifs ubi0:tables $ubifs; }
mount_jffs2() { mount -t jffs2 mtd0 $jffs2; }
attach_ubi && ubimkvol /dev/ubi0 -N tables -m >/dev/null && mount_ubifs ||
    say "no UBIFS volume on /dev/mtd1"
flash_erase -q /dev/mtd0 0 0 && mount_jffs2 || say "no JFFS2 on /dev/mtd0"

# The tables a run may find or write, each once on tmpfs: /tmp/w/c/t0 is
# a.lcr, the first table t.lcr holds; $table names the one t.lcr holds now.
mkdir -p /tmp/w/c
cp /img/a.lcr /tmp/w/c/t0
tables=0

# prepare_run N: the arguments of run N in $args, the table before it in
# $before and the one it writes in $after. The table it writes is made once
# with lcrmerge on tmpfs, from the expected contents of its inputs, and
# remembered for that table and that kind of run.
prepare_run() {
    kind=$(($1 % 3))
    case $kind in
        0) args="1 a.lcr b.lcr" ;;
        1) args="2 a.lcr b.lcr" ;;
        2) args="1 t.lcr b.lcr" ;;
    esac
    before=$table
    eval "after=\${memo_${before##*/}_$kind-}"
    [ -n "$after" ] && return
    (cd /tmp/w && cp /img/a.lcr a.lcr && cp /img/b.lcr b.lcr && cp "$before" t.lcr &&
        lcrmerge $args new >/dev/null 2>&1) || say "lcrmerge fails on tmpfs: $args"
    for f in /tmp/w/c/t*; do
        cmp -s /tmp/w/new "$f" && after=$f && break
    done
    if [ -z "$after" ]; then
        tables=$((tables + 1))
        after=/tmp/w/c/t$tables
        mv /tmp/w/new "$after"
    fi
    eval "memo_${before##*/}_$kind=$after"
}

# write_table: the writer under test, run in the folder of the table, onto
# t.lcr with $args. The in-place writer truncates t.lcr, syncs, writes the
# table the run would write in place and syncs again.
write_table() {
    if [ "$writer" = lcrmerge ]; then
        lcrmerge $args t.lcr >/dev/null 2>&1
    else
        { : >t.lcr && sync && cat "$after" >t.lcr && sync; } 2>/dev/null
    fi
}

# check_round DIR: the checks after the recovering mount, for a round that
# was cut as for one that was not (its last run finished, or the cut came
# after it).
check_round() {
    if cmp -s "$1/t.lcr" "$after"; then
        table=$after
    elif cmp -s "$1/t.lcr" "$before"; then
        table=$before
    else
        torn=$((torn + 1))
        [ "$writer" = lcrmerge ] && say "torn table after round $rounds: $(wc -c <"$1/t.lcr") bytes"
        cp "$before" "$1/t.lcr"
        table=$before
    fi
    for f in a b; do
        cmp -s "$1/$f.lcr" /img/$f.lcr && continue
        lost=$((lost + 1))
        say "$f.lcr changed after round $rounds"
        cp /img/$f.lcr "$1/$f.lcr"
    done
    # One more run that finishes sweeps what the cut run left.
    prepare_run $runs
    (cd "$1" && write_table) || say "the run after round $rounds failed"
    runs=$((runs + 1))
    cmp -s "$1/t.lcr" "$after" || say "the run after round $rounds wrote another table"
    table=$after
    n=$(ls -a "$1" | grep -c '^\.lcrmerge-')
    left=$((left + n))
}

# mounted_clean DIR: the recovering mount happened; errors that the kernel
# logged meanwhile are counted.
mounted_clean() {
    if ! grep -q " $1 " /proc/mounts; then
        say "$1 does not mount after round $rounds"
        unclean=$((unclean + 1))
        return 1
    fi
    if dmesg | grep -E 'error|corrupted PEBs: [1-9]' >/tmp/w/errors; then
        say "errors on mounting $1 after round $rounds: $(head -n 2 /tmp/w/errors)"
        mount_errors=$((mount_errors + 1))
    fi
    return 0
}

# cut_by_* : arm the mechanism, run until the kernel reports the cut (1)
# or give up (0), then bring the file system back.
cut_by_ubi() {
    d=$dbg/ubi/ubi0
    count=$((RANDOM % 4 + 1))
    echo $count >$d/tst_emulate_power_cut_min
    echo $count >$d/tst_emulate_power_cut_max
    echo 3 >$d/tst_emulate_power_cut
    run_until 'emulating a power cut' $ubifs $ubi_runs
    hit=$?
    echo 0 >$d/tst_emulate_power_cut
    umount $ubifs
    ubidetach -m 1 >/dev/null && dmesg -c >/dev/null && attach_ubi && mount_ubifs
    return $hit
}
cut_by_ubifs() {
    echo 1 >$dbg/ubifs/ubi0_0/tst_recovery
    run_until 'Power cut emulated' $ubifs $ubifs_runs
    hit=$?
    umount $ubifs
    dmesg -c >/dev/null
    mount_ubifs
    return $hit
}
# start_writer: one run of the writer on JFFS2 in the background, to be
# cut after a random part of a run's time; its process, lcrmerge itself or
# the in-place writer's shell, in $pid.
start_writer() {
    prepare_run $runs
    runs=$((runs + 1))
    cd $jffs2
    if [ "$writer" = lcrmerge ]; then
        lcrmerge $args t.lcr >/dev/null 2>&1 &
    else
        write_table &
    fi
    pid=$!
    usleep $((RANDOM * kill_window / 32768))
}
# end_writer [IMAGE]: kills the writer, unmounts JFFS2 (a command of the
# killed shell may still be writing), puts IMAGE onto the RAM device when
# given, and mounts again. The writer's status in $status.
end_writer() {
    kill -9 $pid 2>/dev/null
    wait $pid 2>/dev/null
    status=$?
    cd /
    i=0
    while ! umount $jffs2 2>/dev/null && [ $i -lt 50 ]; do
        usleep 100000
        i=$((i + 1))
    done
    [ -n "${1-}" ] && { flashcp "$1" /dev/mtd0 || say "flashcp failed"; }
    dmesg -c >/dev/null
    mount_jffs2
}
cut_by_kill() {
    start_writer
    end_writer
    return $((status == 137))
}
# The power cut on JFFS2 from the MTD layer below it: the writer is stopped,
# the RAM device copied as it is, and that copy put back after the kill, so
# that JFFS2 mounts from what had reached the flash. JFFS2 writes through to
# the flash within each call, so the copy is what a power cut between two
# calls of the writer leaves; a cut within a call is the kill's part.
cut_by_snapshot() {
    start_writer
    kill -STOP $pid 2>/dev/null
    i=0
    while ! grep -qE '^State:.(T|Z)' /proc/$pid/status 2>/dev/null && [ $i -lt 100 ]; do
        usleep 1000
        i=$((i + 1))
    done
    if grep -qE '^State:.T' /proc/$pid/status 2>/dev/null; then
        dd if=/dev/mtd0 of=/tmp/w/flash bs=65536 2>/dev/null
        end_writer /tmp/w/flash
        rm -f /tmp/w/flash
        return 1
    fi
    end_writer
    return 0
}

# run_until MESSAGE DIR RUNS: runs the writer in DIR until the kernel log
# holds MESSAGE, at most RUNS times; 1 when it did. A run that finishes
# before the cut must have written its table.
run_until() {
    cd "$2"
    i=0
    while [ $i -lt "$3" ]; do
        prepare_run $runs
        write_table
        status=$?
        runs=$((runs + 1))
        dmesg | grep -q "$1" && { cd /; return 1; }
        if [ $status != 0 ] || ! cmp -s t.lcr "$after"; then
            say "a run without a cut failed or wrote another table (status $status)"
            unclean=$((unclean + 1))
        fi
        table=$after
        i=$((i + 1))
    done
    cd /
    return 0
}

# campaign MECHANISM DIR CUTS: rounds until CUTS cuts have been counted, or
# four times as many rounds have gone by (ten times on JFFS2, where a kill
# often comes after the run has finished).
campaign() {
    case $1 in
        kill | snapshot) most=$(($3 * 10)) ;;
        *) most=$(($3 * 4)) ;;
    esac
    cuts=0 runs=0 torn=0 lost=0 left=0 unclean=0 rounds=0 mount_errors=0
    cp /img/a.lcr /img/b.lcr "$2"/ && cp /img/a.lcr "$2/t.lcr"
    table=/tmp/w/c/t0
    sync
    while [ $cuts -lt "$3" ] && [ $rounds -lt $most ]; do
        rounds=$((rounds + 1))
        dmesg -c >/dev/null
        cut_by_$1
        hit=$?
        mounted_clean "$2" || return
        [ $hit = 1 ] && cuts=$((cuts + 1))
        check_round "$2"
    done
}

# verdict NAME: PASS or FAIL for NAME by the problems counted, and the tally.
verdict() {
    if [ $problems = 0 ]; then
        echo "PASS $1"
        passed=$((passed + 1))
    else
        echo "FAIL $1"
        failed=$((failed + 1))
    fi
}

# mechanism NAME DIR CUTS: the campaign of lcrmerge, then that of the
# in-place writer, and the line; it passes when nothing was torn, lost,
# left or unclean and lcrmerge was cut at least once. UBIFS's own mechanism
# is let off both that and the errors that the kernel logs on a recovering
# mount: it cuts when it chooses, at times only after a minute, and
# corrupts the write it cuts on purpose.
mechanism() {
    writer=lcrmerge
    campaign "$1" "$2" "$3"
    lcr="cuts $cuts runs $runs torn $torn lost $lost left $left"
    problems=$((torn + lost + left + unclean))
    [ "$1" = ubifs ] || problems=$((problems + mount_errors))
    echo "powercut: $1: $rounds rounds, $mount_errors recovering mounts with errors logged, after $(cut -d ' ' -f 1 /proc/uptime) s of uptime"
    if [ $cuts = 0 ]; then
        say "$1: no cut in $rounds rounds"
        [ "$1" = ubifs ] || problems=$((problems + 1))
    fi
    found=0
    if [ "$SELF" -gt 0 ] && [ "$3" -gt 0 ]; then
        writer=in-place
        campaign "$1" "$2" "$SELF"
        found="$torn (in $cuts cuts)"
    fi
    echo "powercut $1 $lcr found $found"
    verdict "lcrmerge through $1 cuts"
}

# The time of a whole run on JFFS2, the third of three, less half of it:
# the window of the kills, in microseconds.
cp /img/a.lcr /img/b.lcr $jffs2/
for i in 1 2 3; do
    start=$EPOCHREALTIME
    (cd $jffs2 && lcrmerge 1 a.lcr b.lcr t.lcr)
    end=$EPOCHREALTIME
done
kill_window=$(((${end/./} - ${start/./}) / 2))

# One run on UBIFS, with its two syncs, against `true`, in microseconds.
cp /img/a.lcr /img/b.lcr $ubifs/
for what in lcrmerge /bin/true; do
    start=$EPOCHREALTIME
    i=0
    while [ $i -lt 20 ]; do
        (cd $ubifs && $what 1 a.lcr b.lcr t.lcr)
        i=$((i + 1))
    done
    end=$EPOCHREALTIME
    echo "powercut: $what on UBIFS $(((${end/./} - ${start/./}) / 20)) us a run"
done

mechanism ubi $ubifs "$CUTS"
mechanism ubifs $ubifs "${UBIFS_CUTS:-$CUTS}"
mechanism kill $jffs2 "$CUTS"
mechanism snapshot $jffs2 "$CUTS"

# A leftover named with the pid of a process that runs (this shell), but
# written before it started, as after a reboot: one run removes it. One
# written since it started stays.
name="a leftover with the pid of a running process"
problems=0
for dir in $ubifs $jffs2; do
    touch -t 200001010000 $dir/.lcrmerge-$$-0 && : >$dir/.lcrmerge-$$-1 &&
        (cd $dir && lcrmerge 1 a.lcr b.lcr t.lcr) || { say "$dir: the run failed"; problems=1; }
    [ -e $dir/.lcrmerge-$$-0 ] && { say "$dir: the old leftover is still there"; problems=1; }
    [ -e $dir/.lcrmerge-$$-1 ] || { say "$dir: the file of a running process went"; problems=1; }
    rm -f $dir/.lcrmerge-$$-1
done
verdict "$name"

umount $ubifs
umount $jffs2
echo "device: $passed passed, $failed failed"
