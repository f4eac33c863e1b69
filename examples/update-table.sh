#!/bin/sh
# SPDX-License-Identifier: MIT
# Puts a new least-cost-routing table into place:
#
#   update-table.sh [--accept-losses] MODE NEW DEFAULTS TABLE
#
# lcrmerge merges the table NEW against DEFAULTS in MODE (1 or 2) and
# writes TABLE; it replaces a regular file as a whole, and only once the
# merge has succeeded, so a refused or cut-off run leaves the old table.
# lcrmerge gives no reason for most refusals, and what it writes keeps only
# the rules: so lcrtool merge first runs the same merge without writing and
# tells what it would do, and the update goes on only where that passes.
# By default it refuses a table whose merge would
#   - be refused (a table that does not load, or that with the emergency
#     numbers of mode 2 needs more trie records than there are);
#   - lose a time-of-day timetable (the merged table routes each rule the
#     same way all day);
#   - keep none of NEW's rules (in mode 2, only the emergency numbers stay).
# --accept-losses merges a table that loses timetables or all its rules all
# the same; a merge that would be refused stays refused. Where the merge
# goes ahead, lcrtool check's findings on NEW (damage that lcrmerge passes
# over without a word) are logged as well.
#
# Each message goes to standard error and, where the device has logger, to
# the system log under the tag update-table. Exit status: 0 the merged
# table is in place (accepted losses and check's findings logged as notes);
# 1 bad usage, no lcrtool or lcrmerge that runs, an input that cannot be
# read, or a folder of TABLE that does not exist or cannot be written;
# 2 refused: lcrmerge would refuse the table or it would lose what is
# listed above; 3 lcrmerge failed all the same. TABLE keeps the old table
# whenever the status is not 0.

tag=update-table
syslog=$(command -v logger)

# say MESSAGE: one line on standard error and in the system log.
say() {
    printf '%s\n' "$tag: $*" >&2
    if [ -n "$syslog" ]; then logger -t $tag -- "$*"; fi
}

# say_lines TEXT: each line of TEXT as a message of its own.
say_lines() {
    [ -n "$1" ] || return 0
    printf '%s\n' "$1" | while IFS= read -r line; do say "$line"; done
}

# findings [PREFIX]: lcrtool check's findings on NEW, if it had any, a
# message each.
findings() {
    [ "$checked" -eq 0 ] && return 0
    say "${1:-}lcrtool check $new (exit status $checked):"
    say_lines "$findings"
}

accept=no
if [ "${1:-}" = --accept-losses ]; then
    accept=yes
    shift
fi
if [ $# -ne 4 ]; then
    say "usage: ${0##*/} [--accept-losses] MODE NEW DEFAULTS TABLE"
    exit 1
fi
mode=$1 new=$2 defaults=$3 table=$4

# lcrmerge reads its mode with strtol and takes "2abc" as 2; the mode is
# given as the digit alone, as lcrtool merge wants it.
case $mode in
    1 | 2) ;;
    *)
        say "mode $mode: not 1 or 2; $table keeps the old table"
        exit 1
        ;;
esac
dir=$(dirname "$table")
if [ ! -d "$dir" ] || [ ! -w "$dir" ]; then
    say "$table: its folder $dir does not exist or cannot be written"
    exit 1
fi
for tool in lcrtool lcrmerge; do
    if ! command -v $tool >/dev/null; then
        say "$tool: not found; $table keeps the old table"
        exit 1
    fi
done

# lcrtool merge: 0 lcrmerge would write, 1 it would refuse, 2 a file that
# cannot be read; anything else, or no result, is an lcrtool that does not
# run here.
plan=$(lcrtool merge "$mode" "$new" "$defaults" 2>&1)
planned=$?
result=$(printf '%s\n' "$plan" | grep '^result: ')
case $planned in
    0) [ -n "$result" ] ;;
    1)
        say "lcrmerge $mode would refuse $new; $table keeps the old table"
        say_lines "$(printf '%s\n' "$plan" | grep '^refuse: ')"
        exit 2
        ;;
    2)
        say_lines "$plan"
        say "$table keeps the old table"
        exit 1
        ;;
    *) false ;;
esac || {
    say "lcrtool merge does not work here (exit status $planned); $table keeps the old table"
    say_lines "$plan"
    exit 1
}

# The losses that need --accept-losses, as notes once accepted.
note=
[ $accept = yes ] && note="note: "
lost=no
timetables=$(printf '%s\n' "$plan" | grep '^lose timetable ')
if [ -n "$timetables" ]; then
    say "${note}the merge of $new loses time-of-day routing:"
    say_lines "$timetables"
    lost=yes
fi
case $result in
    'result: 0 of '*)
        say "${note}the merge of $new keeps none of its rules: $result"
        lost=yes
        ;;
esac
if [ $lost = yes ] && [ $accept = no ]; then
    say "$table keeps the old table; --accept-losses merges all the same"
    exit 2
fi

findings=$(lcrtool check "$new" 2>&1)
checked=$?

lcrmerge "$mode" "$new" "$defaults" "$table"
status=$?
if [ $status -ne 0 ]; then
    say "lcrmerge refused $new (exit status $status); $table keeps the old table"
    findings
    exit 3
fi
findings "note: "
exit 0
