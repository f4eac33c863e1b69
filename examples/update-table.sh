#!/bin/sh
# Puts a new least-cost-routing table into place:
#
#   update-table.sh MODE NEW DEFAULTS TABLE
#
# lcrmerge merges the table NEW against DEFAULTS in MODE (1 or 2) and
# writes TABLE; it replaces a regular file as a whole, and only once the
# merge has succeeded, so a refused or cut-off run leaves the old table.
# lcrtool check reads NEW first: lcrmerge takes some damaged tables without
# a word, and refuses others without one, so its findings go to the log.
#
# Exit status: 0 the merged table is in place (check's findings, if any, on
# standard error as notes); 1 lcrmerge refused, TABLE keeps the old table,
# and check's findings are on standard error.

say() {
    echo "update-table: $*" >&2
}

if [ $# -ne 4 ]; then
    say "usage: update-table.sh MODE NEW DEFAULTS TABLE"
    exit 1
fi
mode=$1 new=$2 defaults=$3 table=$4

findings=$(lcrtool check "$new" 2>&1)
checked=$?

lcrmerge "$mode" "$new" "$defaults" "$table"
status=$?
if [ $status -ne 0 ]; then
    say "lcrmerge refused $new (exit status $status); $table keeps the old table"
    say "lcrtool check $new (exit status $checked): ${findings:-no findings}"
    exit 1
fi
[ $checked -eq 0 ] || say "note: lcrtool check $new (exit status $checked): $findings"
exit 0
