#!/usr/bin/env bash
# Checks the device programs of one or more cross builds and prints their
# figures:
#   - the shared libraries they need (readelf -d NEEDED): the C library only,
#     the dynamic loader aside;
#   - the dynamic symbols they import: only names on cmake/device-symbols.allow;
#   - their stripped sizes: within cmake/size-budget.txt for their processor
#     (mipsel or mips, read from the ELF header).
# Usage: scripts/check-device-build.sh [BUILD_DIR...]
#   default: build/mipsel-release build/mips
# Exits 1 when any check fails, 2 when a build or a tool is missing.
set -u
cd "$(dirname "$0")/.."
allow_file=cmake/device-symbols.allow
budget_file=cmake/size-budget.txt
programs=(burnimg lcrmerge)

builds=("$@")
[ ${#builds[@]} -eq 0 ] && builds=(build/mipsel-release build/mips)

# Names allowed, sorted for comm; comments and blank lines dropped.
allowed=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$allow_file" | grep -v '^$' | sort -u)

cache_value() {  # cache_value BUILD_DIR NAME: a variable of the build's CMake cache
    sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n 1
}

failures=0
fail() { echo "  FAIL: $*"; failures=$((failures + 1)); }

for build in "${builds[@]}"; do
    if [ ! -f "$build/CMakeCache.txt" ]; then
        echo "no build in $build (configure and build it first)" >&2
        exit 2
    fi
    readelf=$(cache_value "$build" CMAKE_READELF)
    strip=$(cache_value "$build" CMAKE_STRIP)
    if [ ! -x "$readelf" ] || [ ! -x "$strip" ]; then
        echo "$build: readelf or strip of the build not found" >&2
        exit 2
    fi
    echo "== $build"
    tmp=$(mktemp -d)
    for prog in "${programs[@]}"; do
        bin="$build/$prog/$prog"
        if [ ! -f "$bin" ]; then
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

        # Imported symbols: the undefined entries of the dynamic symbol
        # table, without their version suffix.
        imports=$("$readelf" --dyn-syms -W "$bin" |
            awk '$7 == "UND" && $8 != "" { sub(/@.*/, "", $8); print $8 }' | sort -u)
        echo "  imports ($(echo "$imports" | grep -c .)):" $imports
        extra=$(comm -23 <(echo "$imports") <(echo "$allowed") | grep -v '^$')
        for sym in $extra; do
            fail "$prog imports $sym, which is not on $allow_file"
        done

        # Stripped size, measured on a copy.
        "$strip" -o "$tmp/$prog" "$bin"
        size=$(stat -c %s "$tmp/$prog")
        budget=$(awk -v p="$processor" -v n="$prog" '$1 == p && $2 == n { print $3 }' "$budget_file")
        if [ -n "$budget" ]; then
            echo "  stripped size: $size bytes (budget $budget, $((budget - size)) left)"
            [ "$size" -le "$budget" ] || fail "$prog is $size bytes stripped, over its budget of $budget"
        else
            echo "  stripped size: $size bytes (no budget for $processor)"
        fi
    done
    rm -rf "$tmp"
done

if [ $failures -ne 0 ]; then
    echo "device build checks: $failures failed"
    exit 1
fi
echo "device build checks passed"
