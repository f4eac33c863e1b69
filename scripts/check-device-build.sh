#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the device programs, burnimg and lcrmerge, and lcrtool where the
# build has it, of one or more cross builds and prints their figures. The
# glibc builds for qemu (mipsel-release, mips) have lcrtool for their test
# suites, the uClibc-ng device builds have it for the device
# (DEVTOOLS_LCRTOOL=ON). The figures:
#   - the shared libraries they need (readelf -d NEEDED): the C library only,
#     the dynamic loader aside;
#   - the dynamic symbols they import: only names on cmake/device-symbols.allow;
#   - their stripped sizes: within cmake/size-budget.txt for their processor
#     (mipsel or mips, read from the ELF header).
# A build against uClibc-ng (mipsel-uclibc, mipsel-uclibc-static) is judged
# as the device runs it, with its library tree at hand:
#   - NEEDED is libc.so.1 alone and the interpreter /lib/ld-uClibc.so.1
#     (a static build: neither);
#   - every import is one the built libc.so.1 defines, besides the allow-list;
#   - no MIPS32 release 2 instruction in the programs or the built library
#     (they run on release 1 cores), whatever ISA their ELF header names
#     (the header takes the highest of the linked objects', and GCC's start
#     files crtbegin.o and crtend.o are marked release 2);
#   - stripped sizes within cmake/size-budget-uclibc.txt;
#   - lcrmerge defines no unexpected global symbol (tests/lcrmerge/global_symbols.sh).
# Usage: scripts/check-device-build.sh [BUILD_DIR...]
#   default: build/mipsel-release build/mips
#        scripts/check-device-build.sh --installed BUILD_DIR FILE...
#   installed programs (of BUILD_DIR, whose readelf is used): each a 32-bit
#   little-endian MIPS program that imports only names on the allow-list.
# Exits 1 when any check fails, 2 when a build or a tool is missing.
set -u
cd "$(dirname "$0")/.."
allow_file=cmake/device-symbols.allow
budget_file=cmake/size-budget.txt
uclibc_budget_file=cmake/size-budget-uclibc.txt
# Instructions that MIPS32 release 2 added and release 1 cores lack (the
# 4Kc stops with SIGILL on them).
r2_only='seb|seh|wsbh|ins|ext|rotr|rotrv|di|ei|ehb|rdhwr|mfhc1|mthc1|synci|jalr\.hb|jr\.hb'
programs=(burnimg lcrmerge lcrtool)

# Names allowed, sorted for comm; comments and blank lines dropped.
allowed=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$allow_file" | grep -v '^$' | sort -u)

cache_value() {  # cache_value BUILD_DIR NAME: a variable of the build's CMake cache
    sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n 1
}

is_on() {  # is_on VALUE: whether a CMake cache value is true
    case $1 in ON|on|1|TRUE|true|YES|yes) return 0 ;; esac
    return 1
}

r2_count() {  # r2_count FILE: how many release 2 instructions FILE holds
    "$objdump" -d "$1" | grep -cE "^ *[0-9a-f]+:.*[[:space:]]($r2_only)[[:space:]]"
}

failures=0
fail() { echo "  FAIL: $*"; failures=$((failures + 1)); }

build_tools() {  # build_tools BUILD_DIR: readelf and strip of the build's cache
    if [ ! -f "$1/CMakeCache.txt" ]; then
        echo "no build in $1 (configure and build it first)" >&2
        exit 2
    fi
    readelf=$(cache_value "$1" CMAKE_READELF)
    strip=$(cache_value "$1" CMAKE_STRIP)
    if [ ! -x "$readelf" ] || [ ! -x "$strip" ]; then
        echo "$1: readelf or strip of the build not found" >&2
        exit 2
    fi
}

# check_mipsel NAME FILE: FILE is a 32-bit (EI_CLASS 1) little-endian
# (EI_DATA 1) ELF program (e_type 2 or 3) for MIPS (e_machine 8).
check_mipsel() {
    local b
    b=$(od -An -tu1 -N20 "$2" | tr -s ' \n' ' ')
    case "$b" in
        " 127 69 76 70 1 1 "*" "[23]" 0 8 0 ") echo "$1: ELF32, little-endian, MIPS" ;;
        *) fail "$1 ($2) is not a 32-bit little-endian MIPS program" ;;
    esac
}

# check_imports NAME FILE: sets imports to the undefined entries of FILE's
# dynamic symbol table, without their version suffix, prints them and fails
# each that is not on the allow-list.
check_imports() {
    local sym
    imports=$("$readelf" --dyn-syms -W "$2" |
        awk '$7 == "UND" && $8 != "" { sub(/@.*/, "", $8); print $8 }' | sort -u)
    echo "  imports ($(echo "$imports" | grep -c .)):" $imports
    for sym in $(comm -23 <(echo "$imports") <(echo "$allowed") | grep -v '^$'); do
        fail "$1 imports $sym, which is not on $allow_file"
    done
}

finish() {
    if [ $failures -ne 0 ]; then
        echo "$1: $failures failed"
        exit 1
    fi
    echo "$1 passed"
    exit 0
}

if [ "${1:-}" = --installed ]; then
    [ $# -ge 3 ] || { echo "usage: $0 --installed BUILD_DIR FILE..." >&2; exit 2; }
    build_tools "$2"
    shift 2
    for bin in "$@"; do
        check_mipsel "$(basename "$bin")" "$bin"
        check_imports "$(basename "$bin")" "$bin"
    done
    finish "installed program checks"
fi

builds=("$@")
[ ${#builds[@]} -eq 0 ] && builds=(build/mipsel-release build/mips)

# The stripped sizes again as one table, to paste into bench/README.md.
size_rows=()
for build in "${builds[@]}"; do
    build_tools "$build"
    uclibc=$(cache_value "$build" DEVTOOLS_UCLIBC_ROOT)
    link=dynamic
    is_on "$(cache_value "$build" DEVTOOLS_STATIC)" && link=static
    echo "== $build${uclibc:+ (uClibc-ng, $link)}"
    tmp=$(mktemp -d)
    libc_defines=
    if [ -n "$uclibc" ]; then
        # What the built library exports: defined dynamic symbols.
        libc_defines=$("$readelf" --dyn-syms -W "$uclibc/lib/libc.so.1" |
            awk '$7 != "UND" && $8 != "" { sub(/@.*/, "", $8); print $8 }' | sort -u)
        [ -n "$libc_defines" ] || { echo "$build: no symbols in $uclibc/lib/libc.so.1" >&2; exit 2; }
        # The library runs on the same cores as the programs.
        objdump=$(cache_value "$build" CMAKE_OBJDUMP)
        for lib in libc.so.1 ld-uClibc.so.1; do
            r2=$(r2_count "$uclibc/lib/$lib")
            echo "$lib: MIPS32r2-only instructions: $r2"
            [ "$r2" -eq 0 ] || fail "$uclibc/lib/$lib holds $r2 MIPS32r2-only instructions"
        done
    fi
    for prog in "${programs[@]}"; do
        bin="$build/$prog/$prog"
        if [ ! -f "$bin" ]; then
            # lcrtool is a program of the build only when configured so.
            [ $prog = lcrtool ] && ! is_on "$(cache_value "$build" DEVTOOLS_LCRTOOL)" && continue
            fail "$prog: $bin is missing"
            continue
        fi
        machine=$("$readelf" -h "$bin" | sed -n 's/^ *Machine: *//p')
        data=$("$readelf" -h "$bin" | sed -n 's/^ *Data: *2.s complement, //p')
        case "$machine/$data" in
            MIPS*/little*) processor=mipsel ;;
            MIPS*/big*) processor=mips ;;
            *) processor=$machine ;;
        esac
        echo "$prog: $machine, $data"

        # Shared libraries: libc.so.N, or the dynamic loader (ld.so.1,
        # ld-linux*.so.N, ld-uClibc.so.N).
        needed=$("$readelf" -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
        echo "  needs: ${needed:-(nothing)}" | tr '\n' ' '; echo
        for lib in $needed; do
            case "$lib" in
                libc.so.[0-9]*|ld.so.[0-9]*|ld-*.so.[0-9]*) ;;
                *) fail "$prog needs $lib" ;;
            esac
        done
        if [ -n "$uclibc" ]; then
            interp=$("$readelf" -l "$bin" | sed -n 's/.*interpreter: \(.*\)\]/\1/p')
            want_needed=libc.so.1 want_interp=/lib/ld-uClibc.so.1
            [ $link = static ] && want_needed= want_interp=
            [ "$(echo $needed)" = "$want_needed" ] || fail "$prog needs '$(echo $needed)', not '$want_needed'"
            [ "$interp" = "$want_interp" ] || fail "$prog starts through '$interp', not '$want_interp'"
            r2=$(r2_count "$bin")
            isa=$("$readelf" -h "$bin" | sed -n 's/^ *Flags:.*, //p')
            echo "  MIPS32r2-only instructions: $r2 (the ELF header names $isa)"
            [ "$r2" -eq 0 ] || fail "$prog holds $r2 MIPS32r2-only instructions"
        fi

        check_imports "$prog" "$bin"
        if [ -n "$uclibc" ]; then
            for sym in $(comm -23 <(echo "$imports") <(echo "$libc_defines") | grep -v '^$'); do
                # Weak references that the start files test for at run time.
                "$readelf" --dyn-syms -W "$bin" | awk -v s="$sym" '$8 == s && $5 == "WEAK"' | grep -q . ||
                    fail "$prog imports $sym, which $uclibc/lib/libc.so.1 does not define"
            done
        fi

        # Stripped size, measured on a copy.
        "$strip" -o "$tmp/$prog" "$bin"
        size=$(stat -c %s "$tmp/$prog")
        if [ -n "$uclibc" ]; then
            budget=$(awk -v p="$link" -v n="$prog" '$1 == p && $2 == n { print $3 }' "$uclibc_budget_file")
            processor="$processor, uClibc-ng $link"
        else
            budget=$(awk -v p="$processor" -v n="$prog" '$1 == p && $2 == n { print $3 }' "$budget_file")
        fi
        size_rows+=("| \`$prog\` | $build ($processor) | $size | ${budget:-none} |")
        if [ -n "$budget" ]; then
            echo "  stripped size: $size bytes (budget $budget, $((budget - size)) left)"
            [ "$size" -le "$budget" ] || fail "$prog is $size bytes stripped, over its budget of $budget"
        else
            echo "  stripped size: $size bytes (no budget for $processor)"
        fi
    done
    if [ -n "$uclibc" ] && [ -f "$build/lcrmerge/lcrmerge" ]; then
        nm=$(cache_value "$build" CMAKE_NM)
        args=()
        [ $link = static ] && args=(static "$build/lcrmerge/liblcrmerge_lib.a")
        sh tests/lcrmerge/global_symbols.sh "$nm" "$build/lcrmerge/lcrmerge" "${args[@]}" |
            sed 's/^/  lcrmerge /'
        [ "${PIPESTATUS[0]}" -eq 0 ] || fail "lcrmerge defines unexpected global symbols"
    fi
    rm -rf "$tmp"
done

echo "== stripped sizes, bytes"
echo "| program | build | stripped | budget |"
echo "|---|---|---|---|"
printf '%s\n' "${size_rows[@]}"
finish "device build checks"
