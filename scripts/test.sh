#!/usr/bin/env bash
# Builds and runs every test suite, installing what a fresh machine lacks.
# Prints each stage's name and, at the end, which stages failed.
set -u
cd "$(dirname "$0")/.."
here=$(pwd)

# Stages, in order. Each is a function below; `scripts/test.sh native asan`
# runs only the named ones.
all_stages=(deps native release asan fuzz memcheck mipsel mips package uclibc device_checks device)

need_pkgs() {  # installs the Debian packages that are missing
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    if [ -z "${apt_updated:-}" ]; then apt-get update -qq || return 1; apt_updated=1; fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

stage_deps() { need_pkgs cmake g++ make libgtest-dev man-db groff-base; }
stage_native() { cmake --workflow --preset dev --fresh; }
stage_release() { cmake --workflow --preset release --fresh; }
stage_asan() { cmake --workflow --preset asan --fresh; }
# Each libFuzzer target for 60 s on its committed corpus; any finding fails.
stage_fuzz() { need_pkgs clang libclang-rt-dev && fuzz/run.sh -t 60; }
# The native suite under valgrind, child programs included.
stage_memcheck() { need_pkgs valgrind python3 && scripts/memcheck.sh; }
# Device builds: the test suites run through qemu user-mode on mipsel (the
# device) and on big-endian mips (byte-order independence), both with the
# device's size-optimised settings; GoogleTest is compiled for the target
# from the googletest sources.
stage_mipsel() {
    need_pkgs cmake make googletest g++-mipsel-linux-gnu qemu-user &&
        cmake --workflow --preset mipsel-release --fresh
}
stage_mips() {
    need_pkgs cmake make googletest g++-mips-linux-gnu qemu-user &&
        cmake --workflow --preset mips --fresh
}
# A packager's build: plain cmake with Debian's mipsel cross compiler, no
# preset and no project option, then an install with DESTDIR as a
# distribution's build system runs it. It installs exactly the two device
# programs and their manuals, each program a 32-bit little-endian MIPS one
# importing only allowed names; once more with DEVTOOLS_LCRTOOL=ON, which
# adds lcrtool and its manual. Asking for the tests there, with no emulator
# to run them, stops the configure with what to set.
stage_package() {
    need_pkgs cmake make g++-mipsel-linux-gnu || return 1
    local want="usr/bin/burnimg usr/bin/lcrmerge usr/share/man/man1/burnimg.1 usr/share/man/man1/lcrmerge.1"
    package_build build/package "$want" &&
        package_build build/package-lcrtool "$want usr/bin/lcrtool usr/share/man/man1/lcrtool.1" -DDEVTOOLS_LCRTOOL=ON ||
        return 1
    rm -rf build/package-tests
    if cmake -S . -B build/package-tests -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_CXX_COMPILER=mipsel-linux-gnu-g++ \
        -DDEVTOOLS_TESTS=ON >build/package-tests.log 2>&1; then
        echo "DEVTOOLS_TESTS=ON without an emulator configured"; return 1
    fi
    # CMake wraps the message's lines.
    tr -s ' \n' ' ' <build/package-tests.log | grep -q 'set CMAKE_CROSSCOMPILING_EMULATOR' ||
        { tail -n 10 build/package-tests.log; return 1; }
    echo "DEVTOOLS_TESTS=ON without an emulator: configure error naming CMAKE_CROSSCOMPILING_EMULATOR"
}
package_build() {  # package_build BUILD_DIR "FILES" [CMAKE_OPTION...]
    local build=$1 want=$2 dest=$1/destdir
    shift 2
    rm -rf "$build"
    cmake -S . -B "$build" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=mips \
        -DCMAKE_CXX_COMPILER=mipsel-linux-gnu-g++ -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DCMAKE_INSTALL_PREFIX=/usr "$@" >"$build.log" 2>&1 &&
        cmake --build "$build" -j2 >>"$build.log" 2>&1 &&
        DESTDIR="$here/$dest" cmake --install "$build" --strip >>"$build.log" 2>&1 ||
        { tail -n 20 "$build.log"; return 1; }
    # No C compiler was looked for (CMake records one it found there), and
    # one line says that the tests are off.
    if ls "$build"/CMakeFiles/*/CMakeCCompiler.cmake >/dev/null 2>&1; then
        echo "$build: a C compiler was looked for"; return 1
    fi
    grep 'Tests off' "$build.log" || { echo "$build: no line says the tests are off"; return 1; }
    local got
    got=$(cd "$dest" && find . ! -type d | sed 's|^\./||' | sort | tr '\n' ' ')
    echo "$build installs: $got"
    [ "$got" = "$(echo $want | tr ' ' '\n' | sort | tr '\n' ' ')" ] ||
        { echo "$build: expected exactly: $want"; return 1; }
    scripts/check-device-build.sh --installed "$build" "$dest"/usr/bin/*
}
# The device build proper, against uClibc-ng: the library is built once
# into build/uclibc (kept while its settings stay the same), then the
# device programs dynamically (mipsel-uclibc) and statically
# (mipsel-uclibc-static). The end-to-end tests of the mipsel suite (glibc
# test programs, see mipsel-release) start the uClibc-ng programs, on qemu's
# default core and on a 4Kc, a MIPS32 release 1 core; lcrtool among them,
# which both presets build for the device (DEVTOOLS_LCRTOOL=ON).
stage_uclibc() {
    need_pkgs cmake make googletest uclibc-source g++-mipsel-linux-gnu qemu-user || return 1
    local start=$SECONDS
    scripts/build-uclibc.sh || return 1
    echo "uClibc-ng library ready after $((SECONDS - start)) s"
    cmake --workflow --preset mipsel-uclibc --fresh >/dev/null &&
        cmake --workflow --preset mipsel-uclibc-static --fresh >/dev/null || return 1
    # The suite's test programs, built here when the mipsel stage did not run.
    [ -f build/mipsel-release/CMakeCache.txt ] || cmake --preset mipsel-release >/dev/null || return 1
    cmake --build --preset mipsel-release >/dev/null || return 1
    ctest --preset mipsel-uclibc && ctest --preset mipsel-uclibc-4kc
}
# Libraries, imported symbols and stripped sizes of the glibc cross builds
# and of the uClibc-ng device builds (built here when the stages above did
# not run).
stage_device_checks() {
    need_pkgs cmake make googletest uclibc-source g++-mipsel-linux-gnu g++-mips-linux-gnu || return 1
    scripts/build-uclibc.sh -q >/dev/null || return 1
    for p in mipsel-release mips mipsel-uclibc mipsel-uclibc-static; do
        [ -f "build/$p/CMakeCache.txt" ] || cmake --preset "$p" >/dev/null || return 1
        cmake --build --preset "$p" >/dev/null || return 1
    done
    scripts/check-device-build.sh build/mipsel-release build/mips build/mipsel-uclibc build/mipsel-uclibc-static
}
# burnimg on a real flash device node: the static uClibc-ng device build,
# run on an emulated MIPS Malta board with /dev/mtd0 (tests/device/run.sh
# fetches the board's kernel and busybox into build/device-cache). Then, on
# a second boot, a short campaign of power cuts under lcrmerge on UBIFS and
# of kills and cuts from below on JFFS2 (bench/powercut.sh runs a long one).
stage_device() {
    local bin=build/mipsel-uclibc-static
    need_pkgs cmake make uclibc-source g++-mipsel-linux-gnu qemu-system-mips qemu-user cpio &&
        scripts/build-uclibc.sh -q >/dev/null &&
        cmake --preset mipsel-uclibc-static --fresh >/dev/null &&
        cmake --build --preset mipsel-uclibc-static --target burnimg lcrmerge lcrtool &&
        tests/device/run.sh --prepare --burnimg $bin/burnimg/burnimg --lcrmerge $bin/lcrmerge/lcrmerge \
            --lcrtool $bin/lcrtool/lcrtool &&
        tests/device/run.sh --burnimg $bin/burnimg/burnimg --lcrmerge $bin/lcrmerge/lcrmerge \
            --powercut 3 --ubifs-cuts 1 --work build/device-powercut
}

usage() {
    echo "usage: scripts/test.sh [STAGE...]"
    echo "Runs the named stages in the order given, or all of them in this order:"
    echo "  ${all_stages[*]}"
    echo "Not a stage: scripts/mutate.py, the mutation probe, lists the small faults that no test notices."
}

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=("${all_stages[@]}")
for s in "${stages[@]}"; do
    case $s in
        -h | --help) usage; exit 0 ;;
    esac
    if ! declare -F "stage_$s" >/dev/null; then
        echo "scripts/test.sh: no stage '$s'" >&2
        usage >&2
        exit 2
    fi
done
failed=()
for s in "${stages[@]}"; do
    echo "=== stage: $s"
    start=$SECONDS
    if "stage_$s"; then
        echo "=== stage $s passed ($((SECONDS - start)) s)"
    else
        echo "=== stage $s FAILED ($((SECONDS - start)) s)"
        failed+=("$s")
    fi
    cd "$here"
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED stages: ${failed[*]}"
    exit 1
fi
echo "all stages passed: ${stages[*]}"
