#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
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
# Each of the five libFuzzer targets for 45 s on its committed corpus, so
# that the stage stays near five minutes; any finding fails.
stage_fuzz() { need_pkgs clang libclang-rt-dev && fuzz/run.sh -t 45; }
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
# A packager's builds: plain cmake, no preset, then an install with DESTDIR
# as a distribution's build system runs it. Each configures without a
# warning, builds no test (no test program, no GoogleTest), and installs
# exactly its list of files, each program a 32-bit little-endian MIPS one
# importing only allowed names:
#   - Debian's mipsel cross compiler and no option: the two device
#     programs, their manuals, the licence and the README;
#   - DEVTOOLS_LCRTOOL=ON adds lcrtool and its manual; DEVTOOLS_UPDATE_SCRIPTS=ON
#     adds the same and the update scripts in sbin, executable;
#   - with an emulator set and no option the tests are on, and still no
#     lcrtool is installed (only the installed programs are built);
#   - a Buildroot-style build: a toolchain file, BUILD_TESTING=OFF,
#     BUILD_SHARED_LIBS=OFF, make DESTDIR=... install;
#   - natively with BUILD_TESTING=OFF: the three programs and no test.
# Asking for the tests in a cross build with no emulator to run them stops
# the configure with what to set.
stage_package() {
    need_pkgs cmake make g++ g++-mipsel-linux-gnu || return 1
    licence_lines || return 1
    local cross=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=mips -DCMAKE_CXX_COMPILER=mipsel-linux-gnu-g++)
    local want="usr/bin/burnimg usr/bin/lcrmerge usr/share/man/man1/burnimg.1 usr/share/man/man1/lcrmerge.1
        usr/share/doc/devtools/LICENSE usr/share/doc/devtools/README.md"
    local lcrtool="usr/bin/lcrtool usr/share/man/man1/lcrtool.1"
    local scripts="usr/sbin/burnimg-update-firmware usr/sbin/lcrmerge-update-table"
    package_build build/package "$want" "${cross[@]}" &&
        package_build build/package-lcrtool "$want $lcrtool" "${cross[@]}" -DDEVTOOLS_LCRTOOL=ON &&
        package_build build/package-scripts "$want $lcrtool $scripts" "${cross[@]}" -DDEVTOOLS_UPDATE_SCRIPTS=ON &&
        package_targets="burnimg lcrmerge" package_build build/package-emulator "$want" "${cross[@]}" \
            "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-mipsel;-L;/usr/mipsel-linux-gnu" &&
        package_make=1 package_build build/package-buildroot "$want" \
            -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchains/mipsel-linux-gnu.cmake" \
            -DBUILD_TESTING=OFF -DBUILD_SHARED_LIBS=OFF &&
        package_build build/package-host "$want $lcrtool" -DBUILD_TESTING=OFF ||
        return 1
    [ -x build/package-scripts/destdir/usr/sbin/burnimg-update-firmware ] &&
        [ -x build/package-scripts/destdir/usr/sbin/lcrmerge-update-table ] ||
        { echo "build/package-scripts: the update scripts are not executable"; return 1; }
    rm -rf build/package-tests
    if cmake -S . -B build/package-tests "${cross[@]}" -DBUILD_TESTING=ON >build/package-tests.log 2>&1; then
        echo "BUILD_TESTING=ON without an emulator configured"; return 1
    fi
    # CMake wraps the message's lines.
    tr -s ' \n' ' ' <build/package-tests.log | grep -q 'set CMAKE_CROSSCOMPILING_EMULATOR' ||
        { tail -n 10 build/package-tests.log; return 1; }
    echo "BUILD_TESTING=ON without an emulator: configure error naming CMAKE_CROSSCOMPILING_EMULATOR"
}
# package_build BUILD_DIR "FILES" [CMAKE_OPTION...]: package_targets names
# the targets to build (default all), package_make=1 builds and installs
# with make as Buildroot does.
# Every tracked file that can hold a comment names the licence in one line
# at its top; the images, the fuzz corpora and the JSON presets cannot.
licence_lines() {
    git rev-parse --git-dir >/dev/null 2>&1 || { echo "not a git checkout: licence lines not checked"; return 0; }
    local f missing=()
    while read -r f; do
        [ "$(head -n 2 "$f" | grep -c 'SPDX-License-Identifier: MIT')" = 1 ] || missing+=("$f")
    done < <(git ls-files | grep -v -e '^fuzz/corpus/' -e '\.lcr$' -e '\.json$' -e '^LICENSE$')
    [ ${#missing[@]} -eq 0 ] || { echo "no SPDX-License-Identifier line at the top of: ${missing[*]}"; return 1; }
    echo "every source file names its licence"
}
package_build() {
    local build=$1 want=$2 dest=$here/$1/destdir
    shift 2
    rm -rf "$build"
    mkdir -p "$(dirname "$build")" || return 1
    local built
    if [ -n "${package_make:-}" ]; then
        built=(make -C "$build" -j2 DESTDIR="$dest" install)
    else
        built=(cmake --build "$build" -j2 ${package_targets:+--target $package_targets})
    fi
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_INSTALL_PREFIX=/usr "$@" >"$build.log" 2>&1 &&
        "${built[@]}" >>"$build.log" 2>&1 &&
        { [ -n "${package_make:-}" ] || DESTDIR="$dest" cmake --install "$build" --strip >>"$build.log" 2>&1; } ||
        { tail -n 20 "$build.log"; return 1; }
    # No warning (an option the project does not read, among others), no
    # test program or GoogleTest library built, and with the tests off no C
    # compiler looked for (CMake records one it found there; GoogleTest's
    # sources want one).
    if grep -q 'CMake Warning' "$build.log"; then
        grep -A 5 'CMake Warning' "$build.log"; return 1
    fi
    local tests
    tests=$(find "$build" -path '*/tests/*' ! -path '*/CMakeFiles/*' -type f \
        \( -name '*.a' -o -name '*.so' -o -perm -u+x \) | head -n 3)
    [ -z "$tests" ] || { echo "$build: built $tests"; return 1; }
    if grep 'Tests off' "$build.log" && ls "$build"/CMakeFiles/*/CMakeCCompiler.cmake >/dev/null 2>&1; then
        echo "$build: a C compiler was looked for"; return 1
    fi
    local got
    got=$(cd "$dest" && find . ! -type d | sed 's|^\./||' | sort | tr '\n' ' ')
    echo "$build installs: $got"
    [ "$got" = "$(echo $want | tr ' ' '\n' | sort | tr '\n' ' ')" ] ||
        { echo "$build: expected exactly: $want"; return 1; }
    grep -qs 'CMAKE_CROSSCOMPILING "TRUE"' "$build"/CMakeFiles/*/CMakeSystem.cmake || return 0
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
# installed as a device image would hold it (the preset installs the update
# scripts too), run on an emulated MIPS Malta board with /dev/mtd0
# (tests/device/run.sh fetches the board's kernel and busybox into
# build/device-cache); the update scripts run there as installed. Then, on
# a second boot, a short campaign of power cuts under lcrmerge on UBIFS and
# of kills and cuts from below on JFFS2 (bench/powercut.sh runs a long one).
stage_device() {
    local bin=build/mipsel-uclibc-static dest=$here/build/device-install
    need_pkgs cmake make uclibc-source g++-mipsel-linux-gnu qemu-system-mips qemu-user cpio &&
        scripts/build-uclibc.sh -q >/dev/null &&
        cmake --preset mipsel-uclibc-static --fresh >/dev/null &&
        cmake --build --preset mipsel-uclibc-static --target burnimg lcrmerge lcrtool &&
        rm -rf "$dest" && DESTDIR=$dest cmake --install $bin --prefix /usr >/dev/null &&
        tests/device/run.sh --prepare --burnimg "$dest/usr/bin/burnimg" --lcrmerge "$dest/usr/bin/lcrmerge" \
            --lcrtool "$dest/usr/bin/lcrtool" --scripts "$dest/usr/sbin" &&
        tests/device/run.sh --burnimg "$dest/usr/bin/burnimg" --lcrmerge "$dest/usr/bin/lcrmerge" \
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
