#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cuts the power under lcrmerge on the emulated board's flash file systems
# (tests/device/powercut.sh): N cuts by UBI's emulation and N by UBIFS's
# (or UBIFS_N, as it cuts rarely) under UBIFS on NAND, and N kills and N
# cuts from below (a copy of the flash taken while the run is stopped, put
# back after the kill) on JFFS2 on the RAM device; after each mechanism's
# cuts of lcrmerge, SELF cuts of a writer that
# truncates the table, syncs and writes it in place, to show that the check
# finds torn tables. Prints one line per mechanism: cuts, runs, torn
# tables, lost inputs, files left after a clean run, and the torn tables the
# check found with the in-place writer. Also prints the time of one run on
# UBIFS against /bin/true.
#
#   bench/powercut.sh N [UBIFS_N [SELF]]
#
# Builds the static uClibc-ng lcrmerge and burnimg (scripts/build-uclibc.sh)
# and uses the board cache of tests/device/run.sh ($DEVTOOLS_DEVICE_CACHE).
set -eu
cd "$(dirname "$0")/.."
cuts=${1:?usage: bench/powercut.sh N [UBIFS_N [SELF]]}
ubifs_cuts=${2:-$cuts}
self=${3:-10}

scripts/build-uclibc.sh -q >/dev/null
[ -f build/mipsel-uclibc-static/CMakeCache.txt ] || cmake --preset mipsel-uclibc-static >/dev/null
cmake --build --preset mipsel-uclibc-static --target lcrmerge burnimg >/dev/null
work=build/bench-powercut
# A UBIFS cut may wait a minute; a UBI cut or a kill takes about a second.
timeout=$((600 + (cuts + self) * 20 + (ubifs_cuts + self) * 90))
status=0
tests/device/run.sh --prepare --work "$work" --timeout "$timeout" \
    --burnimg build/mipsel-uclibc-static/burnimg/burnimg \
    --lcrmerge build/mipsel-uclibc-static/lcrmerge/lcrmerge \
    --powercut "$cuts" --ubifs-cuts "$ubifs_cuts" --in-place "$self" >"$work.log" 2>&1 || status=$?
grep -E '^(powercut|PASS|FAIL|device:|boot-to-result)' "$work.log" || true
[ "$status" = 0 ] || echo "bench/powercut.sh: the board run failed (status $status, log in $work.log)"
exit "$status"
