#!/usr/bin/env bash
# Runs the burnimg scenarios on a real flash device node: boots a MIPS Malta
# board under qemu-system-mipsel with /dev/mtd0 backed by the kernel's
# RAM-backed MTD driver, runs a static mipsel burnimg against it, and returns
# non-zero when a scenario fails or the guest never reports.
#
#   tests/device/run.sh [--prepare] [--skip-missing] [--burnimg FILE]
#                       [--cache DIR] [--work DIR] [--timeout SECONDS]
#                       [--bench RUNS]
#
#   --prepare       fetch the mipsel kernel and busybox into the cache when
#                   they are missing (apt-get download, unpacked, not installed)
#   --skip-missing  exit 77 with the reason when a tool or the cache is missing
#   --burnimg FILE  the static mipsel burnimg to test; without it the script
#                   builds one from the source tree with mipsel-linux-gnu-g++
#   --cache DIR     kernel, module and busybox ($DEVTOOLS_DEVICE_CACHE,
#                   default build/device-cache)
#   --work DIR      initramfs and built program (default build/device)
#   --bench RUNS    time burnimg against dd on a larger device instead of
#                   running the scenarios (bench.sh); the guest prints a line
#                   "bench NAME MICROSECONDS" per run and "bench: done", and
#                   the status is non-zero when it never gets there
set -u
src=$(cd "$(dirname "$0")/../.." && pwd)
here="$src/tests/device"

prepare=0 skip_missing=0 burnimg="" timeout=180 bench_runs=0
cache=${DEVTOOLS_DEVICE_CACHE:-$src/build/device-cache}
work=$src/build/device
while [ $# -gt 0 ]; do
    case $1 in
        --prepare) prepare=1 ;;
        --skip-missing) skip_missing=1 ;;
        --burnimg) burnimg=$2; shift ;;
        --cache) cache=$2; shift ;;
        --work) work=$2; shift ;;
        --timeout) timeout=$2; shift ;;
        --bench) bench_runs=$2; shift ;;
        *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done

# The size of /dev/mtd0 in KiB and its erase block; the scenarios know the
# byte count (262144) and spell it out in their expectations. The bench
# takes a larger device, so that each timed run lasts long enough to count.
mtd_kib=256
mtd_erase_kib=64
suite=scenarios.sh
if [ "$bench_runs" != 0 ]; then
    mtd_kib=8192
    suite=bench.sh
fi

missing() {  # a tool or the cache is not there: skip or fail
    echo "device suite skipped: $*"
    [ "$skip_missing" = 1 ] && exit 77
    exit 2
}

kernel_pkg="linux-image-4kc-malta"
cache_ready() {
    ls "$cache"/kernel/boot/vmlinuz-* >/dev/null 2>&1 &&
        [ -n "$(find "$cache/kernel/lib/modules" -name mtdram.ko 2>/dev/null)" ] &&
        [ -x "$cache/busybox/bin/busybox" ]
}

# Fetches the versioned kernel package behind the metapackage and the static
# busybox for mipsel and unpacks them; nothing is installed on the host.
prepare_cache() {
    dpkg --print-foreign-architectures | grep -qx mipsel || dpkg --add-architecture mipsel || return 1
    apt-get update -qq || return 1
    local pkg
    pkg=$(apt-cache depends "$kernel_pkg:mipsel" | sed -n 's/^ *Depends: \(linux-image-[^ :]*\).*/\1/p' | head -n 1)
    [ -n "$pkg" ] || { echo "run.sh: cannot resolve $kernel_pkg:mipsel" >&2; return 1; }
    rm -rf "$cache/dl" "$cache/kernel" "$cache/busybox"
    mkdir -p "$cache/dl" || return 1
    (cd "$cache/dl" && apt-get download -q -o APT::Sandbox::User=root "$pkg:mipsel" busybox-static:mipsel) || return 1
    dpkg-deb -x "$cache"/dl/linux-image-*.deb "$cache/kernel" &&
        dpkg-deb -x "$cache"/dl/busybox-static_*.deb "$cache/busybox" &&
        rm -rf "$cache/dl"
}

command -v qemu-system-mipsel >/dev/null || missing "qemu-system-mipsel not found (Debian package qemu-system-mips)"
command -v cpio >/dev/null || missing "cpio not found"
if ! cache_ready; then
    if [ "$prepare" = 1 ]; then
        prepare_cache || { echo "run.sh: could not fetch the kernel and busybox" >&2; exit 2; }
    else
        missing "no mipsel kernel and busybox in $cache (tests/device/run.sh --prepare, or scripts/test.sh device)"
    fi
fi
if [ -z "$burnimg" ]; then
    command -v mipsel-linux-gnu-g++ >/dev/null || missing "mipsel-linux-gnu-g++ not found (Debian package g++-mipsel-linux-gnu)"
fi

mkdir -p "$work" || exit 2
work=$(cd "$work" && pwd)

if [ -z "$burnimg" ]; then
    burnimg=$work/burnimg
    echo "building a static mipsel burnimg"
    mipsel-linux-gnu-g++ -std=c++20 -static -Os -fno-exceptions -fno-rtti \
        -ffunction-sections -fdata-sections -Wl,--gc-sections \
        -I"$src/burnimg" "$src"/burnimg/*.cpp -o "$burnimg" || exit 2
fi
[ -f "$burnimg" ] || { echo "run.sh: no program at $burnimg" >&2; exit 2; }
# The guest runs ELF files for 32-bit little-endian MIPS only.
[ "$(od -An -tx1 -j4 -N2 "$burnimg" | tr -d ' ')" = 0101 ] &&
    [ "$(od -An -tu2 -j18 -N2 "$burnimg" | tr -d ' ')" = 8 ] ||
    { echo "run.sh: $burnimg is not a 32-bit little-endian MIPS program" >&2; exit 2; }

# Test images: a fixed pseudo-random byte sequence that never holds 0xFF, so
# every 0xFF on the device after a run comes from the fill or was left alone.
make_image() {  # file size seed
    perl -e 'my ($n, $x) = @ARGV; my $s = "";
             for (1 .. $n) { $x = ($x * 1103515245 + 12345) & 0x7fffffff; $s .= chr(($x >> 16) % 255); }
             print $s;' "$2" "$3" >"$1"
}

root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,img,lib/modules} || exit 2
cp "$cache/busybox/bin/busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp "$(find "$cache/kernel/lib/modules" -name mtdram.ko | head -n 1)" "$root/lib/modules/"
cp "$burnimg" "$root/bin/burnimg"
chmod 755 "$root/bin/burnimg"
cp "$here/init" "$root/init"
cp "$here/$suite" "$root/$suite"
chmod 755 "$root/init"
printf 'MTD_KIB=%s\nMTD_ERASE_KIB=%s\nSUITE=/%s\nRUNS=%s\n' \
    "$mtd_kib" "$mtd_erase_kib" "$suite" "$bench_runs" >"$root/suite.conf"
if [ "$bench_runs" != 0 ]; then
    : >"$root/img/empty"
    head -c $((mtd_kib * 1024)) /dev/urandom >"$root/img/full.bin"
    head -c $((mtd_kib * 1024)) /dev/zero | tr '\0' '\377' >"$root/img/ff"
else
    make_image "$root/img/a.bin" 150000 1
    make_image "$root/img/b.bin" 300000 2
fi
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0 | gzip -1) >"$work/initramfs.cpio.gz" || exit 2

kernel=$(ls "$cache"/kernel/boot/vmlinuz-* | head -n 1)
log=$work/console.log
echo "booting $(basename "$kernel") with $(basename "$burnimg") ($(stat -c %s "$burnimg") bytes)"
start=$(date +%s.%N)
timeout "$timeout" qemu-system-mipsel -M malta -m 256 -nodefaults -nographic -no-reboot \
    -serial stdio -kernel "$kernel" -initrd "$work/initramfs.cpio.gz" \
    -append "console=ttyS0 panic=-1 quiet cryptomgr.notests" </dev/null 2>&1 |
    tr -d '\r' | tee "$log"
qemu_status=${PIPESTATUS[0]}
end=$(date +%s.%N)
echo "boot-to-result: $(echo "$start $end" | awk '{ printf "%.1f", $2 - $1 }') s (qemu exit status $qemu_status)"

if [ "$bench_runs" != 0 ]; then
    grep -qx 'bench: done' "$log" || { echo "run.sh: the bench did not finish"; exit 1; }
    exit 0
fi

# The guest ends with "device: N passed, M failed".
result=$(grep -E '^device: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
if [ -z "$result" ]; then
    [ "$qemu_status" = 124 ] && echo "run.sh: the guest did not finish within $timeout s"
    echo "run.sh: the guest never reported a result"
    exit 1
fi
failed=$(echo "$result" | sed 's/.* \([0-9]*\) failed$/\1/')
passed=$(echo "$result" | sed 's/^device: \([0-9]*\) passed.*/\1/')
[ "$failed" = 0 ] && [ "$passed" -gt 0 ] || exit 1
exit 0
