#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the device's C library, uClibc-ng, from the sources Debian ships in
# package uclibc-source, with Debian's mipsel-linux-gnu cross compiler, and
# installs it as a target tree (lib/, usr/lib/, usr/include/) under build/.
# Configuring never builds the library: this script is the step that does,
# run by scripts/test.sh and by hand before the first configure of a
# mipsel-uclibc preset.
#
# The tree is kept under a name made from the settings below and the source
# tarball, so a second run finds it and does nothing; a change of settings
# builds a new one beside the old. build/uclibc/root links to the current
# tree. Each run builds in a folder of its own and renames the finished tree
# into place, so two runs at once cannot mix their files: the first rename
# wins and the other run uses that tree. Prints the tree's path as its last
# line.
#
# Usage: scripts/build-uclibc.sh [-q]   (-q: only the path)
set -eu
cd "$(dirname "$0")/.."
quiet=0
[ "${1:-}" = -q ] && quiet=1
say() { [ $quiet -eq 1 ] || echo "$@" >&2; }

tarball=$(ls /usr/src/uClibc-ng-*.tar.xz 2>/dev/null | sort -V | tail -n 1)
if [ -z "$tarball" ]; then
    echo "no uClibc-ng source under /usr/src (install package uclibc-source)" >&2
    exit 2
fi
triple=mipsel-linux-gnu
# MIPS32 release 1: the oldest cores the device family uses (4Kc and later);
# release 2 instructions (seb, seh, wsbh, ins, ext, rotr) would stop them.
march=mips32

# What goes into .config after the mips defconfig. Little-endian (the
# defconfig is big-endian); the shared library too (libc.a needs
# _dl_pagesize from it); wide characters for libstdc++'s <cstdlib>
# (wcstombs); no ld.so.cache, or a dynamic program run under qemu -L would
# read the host's /etc/ld.so.cache.
settings() {
    cat <<EOF
# ARCH_BIG_ENDIAN is not set
# ARCH_WANTS_BIG_ENDIAN is not set
ARCH_LITTLE_ENDIAN=y
ARCH_WANTS_LITTLE_ENDIAN=y
KERNEL_HEADERS="$1"
CROSS_COMPILER_PREFIX="$triple-"
RUNTIME_PREFIX="/"
DEVEL_PREFIX="/usr/"
HAVE_SHARED=y
UCLIBC_HAS_WCHAR=y
# LDSO_CACHE_SUPPORT is not set
UCLIBC_EXTRA_CFLAGS="-march=$march"
EOF
}

helpers_src=cmake/uclibc/mips32-helpers.c
key=$( { basename "$tarball"; settings KH; $triple-gcc -dumpfullversion; cat "$helpers_src"; echo kernel-headers-in-tree soname-1; } |
    sha256sum | cut -c1-12)
top=$(pwd)/build/uclibc
tree=$top/$key/root

# Points build/uclibc/root at the tree: a new link renamed over the old one,
# so a reader never finds the name missing.
use_tree() {
    ln -sfn "$key/root" "$top/root.$$"
    mv -T "$top/root.$$" "$top/root"
    echo "$tree"
}

if [ -f "$tree/.complete" ]; then
    say "uClibc-ng: $tree is up to date"
    use_tree
    exit 0
fi

start=$SECONDS
mkdir -p "$top/$key"
work=$(mktemp -d "$top/$key/work.XXXXXX")
# The log stays beside the work folder when the build fails.
log=$work.log
trap 'rm -rf "$work"' EXIT
new=$work/root
mkdir -p "$work/kernel-headers" "$new"
# Only the kernel's own headers, so that no glibc header reaches the build.
for d in linux asm asm-generic mtd; do
    cp -r "/usr/$triple/include/$d" "$work/kernel-headers/"
done
say "uClibc-ng: building $(basename "$tarball") for $tree in $work"
tar -xJf "$tarball" -C "$work"
src=$(ls -d "$work"/uClibc-ng-*/)
# Byte-swap helpers for release 1 cores, linked ahead of the compiler's
# libgcc.a (built for release 2) into the library and, from usr/lib, into
# the programs.
mkdir -p "$new/usr/lib"
$triple-gcc -march=$march -Os -fPIC -c "$helpers_src" -o "$work/mips32-helpers.o"
$triple-ar rcs "$new/usr/lib/libmips32helpers.a" "$work/mips32-helpers.o"
libgcc="$new/usr/lib/libmips32helpers.a $($triple-gcc -march=$march -print-libgcc-file-name)"
(
    cd "$src"
    # libc/Makefile.in links the library twice, the second time with the
    # backward-compatible name libc.so.0 as its SONAME, so every program
    # would need libc.so.0. Linking the compatible one first leaves the
    # library named libc.so.1, with libc.so.0 a link to it.
    sed -i -e '/# link for backward compatibility/d' \
        -e '/link.so,$(libc_FULL_NAME),0)/d' \
        -e 's/^\t$(call link.so,$(libc_FULL_NAME),$(ABI_VERSION))$/\t$(call link.so,$(libc_FULL_NAME),0)\n&/' \
        libc/Makefile.in
    make ARCH=mips defconfig
    settings "$work/kernel-headers" > ../settings
    # Our lines replace the defconfig's lines for the same options.
    names=$(sed -n -e 's/^# \([A-Z0-9_]*\) is not set/\1/p' -e 's/^\([A-Z0-9_]*\)=.*/\1/p' ../settings)
    for n in $names; do
        sed -i -e "/^$n=/d" -e "/^# $n is not set/d" .config
    done
    cat ../settings >> .config
    make ARCH=mips olddefconfig
    make ARCH=mips -j2 LIBGCC="$libgcc"
    make ARCH=mips PREFIX="$new" install_headers install_runtime install_dev LIBGCC="$libgcc"
) > "$log" 2>&1 || { tail -n 30 "$log" >&2; echo "uClibc-ng build failed, log: $log" >&2; exit 1; }
for n in ARCH_LITTLE_ENDIAN=y UCLIBC_HAS_WCHAR=y HAVE_SHARED=y; do
    grep -q "^$n" "$src/.config" || { echo "uClibc-ng .config lost $n" >&2; exit 1; }
done
$triple-readelf -d "$new/lib/libc.so.1" | grep -q 'SONAME.*\[libc.so.1\]' ||
    { echo "uClibc-ng: lib/libc.so.1 is not named libc.so.1" >&2; exit 1; }
# The kernel's headers go with the library's, as in a device toolchain.
cp -r "$work/kernel-headers/." "$new/usr/include/"
cp "$src/.config" "$new/.config"
touch "$new/.complete"
# rename() puts a folder in place whole or not at all; it fails when another
# run got there first, and then that run's tree, as complete as this one,
# is used.
mv -T "$new" "$tree" 2>/dev/null || [ -f "$tree/.complete" ] ||
    { echo "uClibc-ng: $tree is there but incomplete (remove it)" >&2; exit 1; }
rm -f "$log"
say "uClibc-ng: built in $((SECONDS - start)) s"
use_tree
