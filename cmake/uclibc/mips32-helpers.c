// SPDX-License-Identifier: MIT
/* Byte-swap helpers for MIPS32 release 1 cores.
 *
 * Debian's libgcc.a for mipsel is built for MIPS32 release 2, and its
 * __bswapsi2 and __bswapdi2 use wsbh and rotr, which a release 1 core (4Kc)
 * does not have. Code built with -march=mips32 calls these helpers for
 * every byte swap (htonl, ntohl), so this archive is linked ahead of libgcc
 * into the C library and into the programs. Plain shifts and masks, which
 * the compiler keeps as they are when the core has no swap instruction. */

typedef unsigned int u32;
typedef unsigned long long u64;

#define HELPER __attribute__((visibility("hidden")))

HELPER u32 __bswapsi2(u32 x);
HELPER u64 __bswapdi2(u64 x);

static u32 swap32(u32 x)
{
    return (x >> 24) | ((x >> 8) & 0xff00u) | ((x & 0xff00u) << 8) | (x << 24);
}

u32 __bswapsi2(u32 x)
{
    return swap32(x);
}

u64 __bswapdi2(u64 x)
{
    return ((u64)swap32((u32)x) << 32) | swap32((u32)(x >> 32));
}
