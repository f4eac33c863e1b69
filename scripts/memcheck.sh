#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the native test suite under valgrind's memcheck: every test program
# once with all its tests, following the programs that tests start as child
# processes (burnimg, lcrmerge, lcrtool). Fails when a test fails, or when a
# process of this build reports a memory error or a definite leak.
#
#   scripts/memcheck.sh [-B BUILD_DIR]     (default build/memcheck)
#
# Each process writes its own report to BUILD_DIR/memcheck/vg.PID.log;
# reports of programs from outside the build (a shell, nm) are not judged.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/memcheck
while [ $# -gt 0 ]; do
    case $1 in
        -B) build=$(realpath -m "$2"); shift 2 ;;
        *) echo "scripts/memcheck.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

cmake --preset dev -B "$build" >/dev/null || exit 1
cmake --build "$build" -j 2 || exit 1

logs=$build/memcheck
rm -rf "$logs"
mkdir -p "$logs"

# The commands CTest would run, as "folder<TAB>executable<TAB>arguments...",
# the folder being the one the test runs in. GoogleTest cases become one line
# per test program, run once with every case.
commands=$(cd "$build" && ctest --show-only=json-v1 | python3 -c '
import json, os, sys
seen = set()
for t in json.load(sys.stdin)["tests"]:
    cmd = t.get("command") or []
    if not cmd:
        continue
    if any(a.startswith("--gtest_filter=") for a in cmd[1:]):
        cmd = [cmd[0]]
    wd = os.path.dirname(cmd[0])
    for p in t.get("properties", []):
        if p["name"] == "WORKING_DIRECTORY":
            wd = p["value"]
    key = "\t".join([wd] + cmd)
    if key not in seen:
        seen.add(key)
        print(key)
')

# The table that holds lcrtool merge against lcrmerge on every corpus image
# starts some 220 programs, which under valgrind take minutes; the merge's
# own rows in the CLI suite run here, and the lcrtool_image fuzzer runs the
# same inputs under AddressSanitizer.
export GTEST_FILTER=-LcrtoolMerge.AgreesWithLcrmergeOnEveryCorpusPair

# man, which the manual-page tests start, is no program of ours: under
# valgrind it and its groff pipeline take longer than a test waits.
valgrind_opts=(
    --tool=memcheck --trace-children=yes --trace-children-skip='*/man' --child-silent-after-fork=yes
    --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite
    --num-callers=30 --read-inline-info=no --suppressions="$root/scripts/memcheck.supp"
    --log-file="$logs/vg.%p.log"
)

# Runs one test command under valgrind in the folder given first; its output
# goes to a file of its own.
run_one() {
    local wd=$1
    shift
    local name=${1#"$build"/} start=$SECONDS
    local out=$logs/${name//\//_}.$$.$RANDOM.out
    if (cd "$wd" && valgrind "${valgrind_opts[@]}" "$@" >"$out" 2>&1); then
        echo "ran   $name ${*:2} ($((SECONDS - start)) s)"
    else
        echo "FAIL  $name ${*:2}: exit status $? (output in $out)"
        return 1
    fi
}

# Two commands at a time: most of the time goes to starting valgrind for
# each child process.
failed=0
skipped=0
running=0
while IFS=$'\t' read -r -a fields; do
    wd=${fields[0]}
    cmd=("${fields[@]:1}")
    exe=${cmd[0]}
    # Only programs of this build are checked; scripts and host tools that
    # a test runs as its command are left to the ordinary test run.
    case $exe in
        "$build"/*) ;;
        *) skipped=$((skipped + 1)); continue ;;
    esac
    head -c 4 "$exe" 2>/dev/null | grep -q 'ELF' || { skipped=$((skipped + 1)); continue; }
    if [ $running -ge 2 ]; then
        wait -n || failed=$((failed + 1))
        running=$((running - 1))
    fi
    run_one "$wd" "${cmd[@]}" &
    running=$((running + 1))
done <<<"$commands"
while [ $running -gt 0 ]; do
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
done

# Judge the reports of this build's programs.
bad=0
checked=0
for log in "$logs"/vg.*.log; do
    [ -e "$log" ] || continue
    command=$(sed -n 's/^==[0-9]*== Command: //p' "$log" | head -1)
    case $command in
        "$build"/*) ;;
        *) rm -f "$log"; continue ;;
    esac
    checked=$((checked + 1))
    errors=$(sed -n 's/^==[0-9]*== ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -1)
    # A process killed on purpose (a test's timeout) writes no summary.
    if [ -n "$errors" ] && [ "$errors" != 0 ]; then
        echo "memcheck: $errors errors in $command"
        echo "          report: $log"
        bad=$((bad + 1))
    fi
done
echo "memcheck: $checked processes of this build checked, $bad with errors or definite leaks; $skipped test commands not run under valgrind"
[ $failed -gt 0 ] && echo "memcheck: $failed test commands failed under valgrind"
[ $bad -eq 0 ] && [ $failed -eq 0 ]
