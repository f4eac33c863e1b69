#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the burnimg scenarios on real flash device nodes: boots a MIPS Malta
# board under qemu-system-mipsel with /dev/mtd0 backed by the kernel's
# RAM-backed MTD driver and /dev/mtd1 by its simulated NAND flash (nandsim),
# with Debian's mtd-utils beside them, runs a static mipsel burnimg against
# them, and returns non-zero when a scenario fails or the guest never reports.
#
#   tests/device/run.sh --burnimg FILE [--prepare]
#                       [--cache DIR] [--work DIR] [--timeout SECONDS]
#                       [--bench RUNS] [--module NAME]... [--tool NAME]...
#                       [--lcrmerge FILE] [--lcrtool FILE] [--scripts DIR]
#                       [--powercut CUTS [--ubifs-cuts N] [--in-place CUTS]]
#
#   --prepare       fetch the mipsel kernel, busybox and mtd-utils (with the
#                   packages it depends on) into the cache when they are
#                   missing (apt-get download, unpacked, not installed)
#   --burnimg FILE  the static mipsel burnimg to test (scripts/test.sh device
#                   and the bench scripts build it with the device presets)
#   --cache DIR     kernel, modules, busybox and mtd-utils
#                   ($DEVTOOLS_DEVICE_CACHE, default build/device-cache)
#   --work DIR      the board's initramfs (default build/device)
#   --bench RUNS    time burnimg against dd, flashcp and nandwrite on larger
#                   devices instead of running the scenarios (bench.sh); the
#                   guest prints a line "bench NAME MICROSECONDS" per run and
#                   "bench: done", and the status is non-zero when it never
#                   gets there
#   --module NAME   put one more kernel module, with the modules it depends
#                   on, into the board; the guest loads it with modprobe NAME
#   --tool NAME     put one more program of mtd-utils into the board
#   --lcrmerge FILE, --lcrtool FILE
#                   static mipsel programs for the board, which the table
#                   update script needs; without both, its cases are skipped
#   --scripts DIR   the update scripts as `cmake --install` puts them into
#                   sbin (DEVTOOLS_UPDATE_SCRIPTS=ON), for the board's
#                   /usr/sbin; without it, their cases are skipped
#   --powercut CUTS run lcrmerge (the --lcrmerge FILE) through
#                   CUTS power cuts per mechanism on UBIFS and JFFS2 instead
#                   of the scenarios (powercut.sh); --ubifs-cuts N asks
#                   UBIFS's own mechanism, which cuts rarely, for N instead;
#                   --in-place CUTS adds as many cuts per mechanism of a
#                   writer that writes the table in place, to show that the
#                   check finds torn tables
set -u
src=$(cd "$(dirname "$0")/../.." && pwd)
here="$src/tests/device"

prepare=0 burnimg="" lcrmerge="" lcrtool="" scripts="" timeout=300 bench_runs=0
powercut=0 in_place=0 ubifs_cuts=""
# The kernel modules (loaded by name with modprobe, which finds their
# dependencies in modules.dep) and the mtd-utils programs the board carries.
modules="mtdram nandsim"
tools="flash_erase flashcp nandwrite nanddump mtdinfo ubiattach ubimkvol"
cache=${DEVTOOLS_DEVICE_CACHE:-$src/build/device-cache}
work=$src/build/device
while [ $# -gt 0 ]; do
    case $1 in
        --prepare) prepare=1 ;;
        --burnimg) burnimg=$2; shift ;;
        --lcrmerge) lcrmerge=$2; shift ;;
        --lcrtool) lcrtool=$2; shift ;;
        --scripts) scripts=$2; shift ;;
        --cache) cache=$2; shift ;;
        --work) work=$2; shift ;;
        --timeout) timeout=$2; shift ;;
        --bench) bench_runs=$2; shift ;;
        --module) modules="$modules $2"; shift ;;
        --tool) tools="$tools $2"; shift ;;
        --powercut) powercut=$2; shift ;;
        --in-place) in_place=$2; shift ;;
        --ubifs-cuts) ubifs_cuts=$2; shift ;;
        *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done

[ -n "$burnimg" ] || { echo "run.sh: --burnimg FILE is needed: the static mipsel burnimg to test" >&2; exit 2; }

# The size of /dev/mtd0 in KiB and its erase block; the scenarios know the
# byte count (262144) and spell it out in their expectations. The bench
# takes a larger device, so that each timed run lasts long enough to count.
mtd_kib=256
mtd_erase_kib=64
# /dev/mtd1, nandsim's NAND flash: the ID bytes of a chip with 2 KiB pages
# (64 bytes of spare area each) and 128 KiB erase blocks, and a size of
# 2^8 erase blocks (32 MiB) in place of the 64 MiB the ID gives. The bench
# takes 2^6 blocks (8 MiB, as large as its RAM device) with the chip's
# timing (do_delays=1, the driver's default delays).
nand_args="first_id_byte=0x20 second_id_byte=0xa2 third_id_byte=0x00 fourth_id_byte=0x15"
suite=scenarios.sh
if [ "$bench_runs" = 0 ]; then
    nand_args="$nand_args overridesize=8"
else
    mtd_kib=8192
    nand_args="$nand_args overridesize=6 do_delays=1"
    suite=bench.sh
fi
# The power-cut campaign: UBIFS on the NAND flash, JFFS2 on a RAM device of
# 32 erase blocks. The NAND has small pages (512 bytes) and erase blocks
# (16 KiB, 2^9 of them: 8 MiB), so that UBIFS fills a block every run or
# two and UBI writes the headers that its power-cut emulation counts.
if [ "$powercut" != 0 ]; then
    mtd_kib=2048
    nand_args="first_id_byte=0x20 second_id_byte=0x35 overridesize=9"
    suite=powercut.sh
    modules="$modules ubi ubifs jffs2 zstd deflate"
    tools="$tools ubidetach"
    [ -f "$lcrmerge" ] || { echo "run.sh: --powercut needs --lcrmerge FILE" >&2; exit 2; }
fi

missing() {  # a tool or the cache is not there
    echo "run.sh: $*" >&2
    exit 2
}

kernel_pkg="linux-image-4kc-malta"
cache_ready() {
    ls "$cache"/kernel/boot/vmlinuz-* >/dev/null 2>&1 &&
        ls "$cache"/kernel/lib/modules/*/modules.dep >/dev/null 2>&1 &&
        [ -x "$cache/busybox/bin/busybox" ] &&
        [ -x "$cache/mtd-utils/usr/sbin/flashcp" ]
}

# Fetches the versioned kernel package behind the metapackage, the static
# busybox, and mtd-utils with the libraries it depends on, all for mipsel,
# and unpacks them; nothing is installed on the host. The kernel package
# leaves modules.dep to its installation, so the board's own busybox depmod
# (under qemu-mipsel) writes it, as installing the package would.
prepare_cache() {
    command -v qemu-mipsel >/dev/null || { echo "run.sh: qemu-mipsel not found (Debian package qemu-user)" >&2; return 1; }
    dpkg --print-foreign-architectures | grep -qx mipsel || dpkg --add-architecture mipsel || return 1
    apt-get update -qq || return 1
    local pkg libs kdir
    pkg=$(apt-cache depends "$kernel_pkg:mipsel" | sed -n 's/^ *Depends: \(linux-image-[^ :]*\).*/\1/p' | head -n 1)
    [ -n "$pkg" ] || { echo "run.sh: cannot resolve $kernel_pkg:mipsel" >&2; return 1; }
    libs=$(apt-cache depends mtd-utils:mipsel | sed -n 's/^ *Depends: \([^ :<>]*\).*/\1:mipsel/p')
    rm -rf "$cache/dl" "$cache/kernel" "$cache/busybox" "$cache/mtd-utils"
    mkdir -p "$cache/dl" || return 1
    # shellcheck disable=SC2086  # one package name per word
    (cd "$cache/dl" && apt-get download -q -o APT::Sandbox::User=root \
        "$pkg:mipsel" busybox-static:mipsel mtd-utils:mipsel $libs) || return 1
    dpkg-deb -x "$cache"/dl/linux-image-*.deb "$cache/kernel" &&
        dpkg-deb -x "$cache"/dl/busybox-static_*.deb "$cache/busybox" || return 1
    for deb in "$cache"/dl/*.deb; do
        case $deb in */linux-image-*|*/busybox-static_*) continue ;; esac
        dpkg-deb -x "$deb" "$cache/mtd-utils" || return 1
    done
    kdir=$(ls -d "$cache"/kernel/lib/modules/* | head -n 1)
    qemu-mipsel "$cache/busybox/bin/busybox" depmod -b "$cache/kernel" "$(basename "$kdir")" &&
        rm -rf "$cache/dl"
}

command -v qemu-system-mipsel >/dev/null || missing "qemu-system-mipsel not found (Debian package qemu-system-mips)"
command -v cpio >/dev/null || missing "cpio not found"
command -v readelf >/dev/null || missing "readelf not found (Debian package binutils)"
if ! cache_ready; then
    if [ "$prepare" = 1 ]; then
        prepare_cache || { echo "run.sh: could not fetch the kernel and busybox" >&2; exit 2; }
    else
        missing "no mipsel kernel and busybox in $cache (tests/device/run.sh --prepare, or scripts/test.sh device)"
    fi
fi

mkdir -p "$work" || exit 2
work=$(cd "$work" && pwd)

# The guest runs ELF files for 32-bit little-endian MIPS only.
for prog in "$burnimg" $lcrmerge $lcrtool; do
    [ -f "$prog" ] || { echo "run.sh: no program at $prog" >&2; exit 2; }
    [ "$(od -An -tx1 -j4 -N2 "$prog" | tr -d ' ')" = 0101 ] &&
        [ "$(od -An -tu2 -j18 -N2 "$prog" | tr -d ' ')" = 8 ] ||
        { echo "run.sh: $prog is not a 32-bit little-endian MIPS program" >&2; exit 2; }
done

# Test images: a fixed pseudo-random byte sequence that never holds 0xFF, so
# every 0xFF on the device after a run comes from the fill or was left alone.
make_image() {  # file size seed
    perl -e 'my ($n, $x) = @ARGV; my $s = "";
             for (1 .. $n) { $x = ($x * 1103515245 + 12345) & 0x7fffffff; $s .= chr(($x >> 16) % 255); }
             print $s;' "$2" "$3" >"$1"
}

root=$work/initramfs
kdir=$(ls -d "$cache"/kernel/lib/modules/* | head -n 1)
kver=$(basename "$kdir")

# add_module NAME: copies the module and every module it depends on, as the
# kernel's modules.dep lists them, and their line of modules.dep, so that
# the guest's modprobe loads them in order.
add_module() {
    local line path
    line=$(grep -E "(^|/)$1\.ko:" "$kdir/modules.dep" | head -n 1)
    [ -n "$line" ] || { echo "run.sh: no kernel module $1 in $kdir" >&2; return 1; }
    for path in ${line/:/}; do
        mkdir -p "$root/lib/modules/$kver/$(dirname "$path")" &&
            cp "$kdir/$path" "$root/lib/modules/$kver/$path" || return 1
    done
    echo "$line" >>"$root/lib/modules/$kver/modules.dep"
}

# add_program NAME: copies a dynamically linked mipsel program of the
# mtd-utils tree to /usr/sbin, with its program interpreter and the shared
# libraries it needs (and those they need), found in the same tree.
mtd_tree=$cache/mtd-utils
add_library() {  # NAME
    local dir file
    [ -e "$root/lib/mipsel-linux-gnu/$1" ] && return 0
    for dir in lib/mipsel-linux-gnu usr/lib/mipsel-linux-gnu; do
        file=$mtd_tree/$dir/$1
        [ -e "$file" ] || continue
        cp -L "$file" "$root/lib/mipsel-linux-gnu/$1" && add_needed "$file"
        return
    done
    echo "run.sh: no library $1 in $mtd_tree" >&2
    return 1
}
add_needed() {  # FILE
    local lib
    for lib in $(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        add_library "$lib" || return 1
    done
}
add_program() {
    local file=$mtd_tree/usr/sbin/$1 interp
    [ -f "$file" ] || { echo "run.sh: no program $1 in $mtd_tree" >&2; return 1; }
    cp "$file" "$root/usr/sbin/$1" || return 1
    interp=$(readelf -l "$file" | sed -n 's/.*Requesting program interpreter: \(.*\)\]/\1/p')
    if [ -n "$interp" ] && [ ! -e "$root$interp" ]; then
        mkdir -p "$root$(dirname "$interp")" && cp -L "$mtd_tree$interp" "$root$interp" || return 1
    fi
    add_needed "$file"
}

rm -rf "$root"
mkdir -p "$root"/{bin,usr/sbin,dev,proc,sys,tmp,img,lib/mipsel-linux-gnu,lib/modules/"$kver"} || exit 2
cp "$cache/busybox/bin/busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
for m in $modules; do add_module "$m" || exit 2; done
sort -u -o "$root/lib/modules/$kver/modules.dep" "$root/lib/modules/$kver/modules.dep"
for t in $tools; do add_program "$t" || exit 2; done
cp "$burnimg" "$root/bin/burnimg"
chmod 755 "$root/bin/burnimg"
if [ -n "$lcrmerge" ] && [ -n "$lcrtool" ]; then
    cp "$lcrmerge" "$root/bin/lcrmerge" && cp "$lcrtool" "$root/bin/lcrtool" &&
        chmod 755 "$root/bin/lcrmerge" "$root/bin/lcrtool" || exit 2
fi
if [ -n "$scripts" ]; then
    cp -p "$scripts"/* "$root/usr/sbin/" || exit 2
fi
cp "$here/init" "$root/init"
cp "$here/$suite" "$root/$suite"
cp "$here/nand.sh" "$here/examples.sh" "$root/"
chmod 755 "$root/init"
printf 'MTD_KIB=%s\nMTD_ERASE_KIB=%s\nNAND_ARGS="%s"\nSUITE=/%s\nRUNS=%s\nSCRIPTS=%s\n' \
    "$mtd_kib" "$mtd_erase_kib" "$nand_args" "$suite" "$bench_runs" "${scripts:+yes}" >"$root/suite.conf"
if [ "$powercut" != 0 ]; then
    cp "$lcrmerge" "$root/bin/lcrmerge" && chmod 755 "$root/bin/lcrmerge" &&
        cp "$src/samples/current.lcr" "$root/img/a.lcr" &&
        cp "$src/samples/current_default.lcr" "$root/img/b.lcr" || exit 2
    printf 'CUTS=%s\nUBIFS_CUTS=%s\nSELF=%s\n' "$powercut" "${ubifs_cuts:-$powercut}" "$in_place" >>"$root/suite.conf"
fi
if [ "$bench_runs" != 0 ]; then
    : >"$root/img/empty"
    head -c $((mtd_kib * 1024)) /dev/urandom >"$root/img/full.bin"
    head -c $((mtd_kib * 1024)) /dev/zero | tr '\0' '\377' >"$root/img/ff"
else
    make_image "$root/img/a.bin" 150000 1
    make_image "$root/img/b.bin" 300000 2
    # n.bin: 300 NAND pages and an 8-byte tail; and.bin: the first 300000
    # bytes of b.bin programmed over those of n.bin without an erase, which
    # on NAND leaves the bitwise AND of both.
    make_image "$root/img/n.bin" 614408 3
    cp "$src"/samples/*.lcr "$root/img/"
    perl -e 'local $/; open my $b, "<", $ARGV[0] or die; open my $n, "<", $ARGV[1] or die;
             my $x = <$b>; my $y = substr(<$n>, 0, length $x); print $x & $y;' \
        "$root/img/b.bin" "$root/img/n.bin" >"$root/img/and.bin"
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
