#pragma once
// O_TMPFILE opens a file without a name in a given folder. A C library that
// does not define the flag still runs on kernels that have it: the kernel's
// value is one bit together with O_DIRECTORY, whose value the C library
// knows for the architecture. The bit is the same on the architectures
// built here.
#include <fcntl.h>

#if !defined(O_TMPFILE) && (defined(__mips__) || defined(__i386__) || defined(__x86_64__) || \
                            defined(__arm__) || defined(__aarch64__))
#define O_TMPFILE (020000000 | O_DIRECTORY)
#endif
