#!/bin/sh
# SPDX-License-Identifier: MIT
# Fails when the lcrmerge program defines a global symbol besides its
# exported names and what the C runtime's start files define.
#
# Usage: global_symbols.sh NM PROGRAM [sanitize] [static OWN_ARCHIVE]
#   NM           the build's nm (the target's in a cross build)
#   sanitize     the sanitizer runtime's own names are allowed too
#   static       the program holds the C library as well: only names that
#                OWN_ARCHIVE (the program's own code) defines are judged
set -u
nm=$1
prog=$2
shift 2
sanitize=no
own=
while [ $# -gt 0 ]; do
    case $1 in
        sanitize) sanitize=yes ;;
        static) own=$2; shift ;;
    esac
    shift
done

exported="main same_provider add_rule clear_routes clear_routes2 kelmar_lcr_version"
startup="_start _init _fini __bss_start _edata _end __data_start data_start __dso_handle
_IO_stdin_used __TMC_END__ _fbss _fdata _ftext _gp __RLD_MAP __start"

globals=$("$nm" -g --defined-only "$prog" | awk '{ print $NF }' | sort -u)
if [ -z "$globals" ]; then
    echo "$prog: no symbol table (stripped?)"
    exit 1
fi
if [ -n "$own" ]; then
    # main is defined outside the library, but is judged all the same.
    own_names=$({ "$nm" -g --defined-only "$own" 2>/dev/null | awk 'NF >= 3 { print $NF }'; echo main; } | sort -u)
    globals=$(printf '%s\n' "$globals" | awk -v own="$own_names" '
        BEGIN { n = split(own, a, "\n"); for (i = 1; i <= n; i++) keep[a[i]] = 1 }
        keep[$0]')
fi

status=0
for name in $globals; do
    case " $(echo $exported $startup) " in *" $name "*) continue ;; esac
    case $name in
        # Data of the shared C library copied into the program (stdout,
        # stderr) carries the library's symbol version.
        *@*) continue ;;
    esac
    if [ $sanitize = yes ]; then
        case $name in __asan*|__odr_asan*|__ubsan*|__lsan*|__sanitizer*) continue ;; esac
    fi
    echo "unexpected global symbol: $name"
    status=1
done
for name in $exported; do
    if ! printf '%s\n' "$globals" | grep -qx "$name"; then
        echo "exported name missing: $name"
        status=1
    fi
done
[ $status -eq 0 ] && echo "global symbols: $(echo $globals)"
exit $status
