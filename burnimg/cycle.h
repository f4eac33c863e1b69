// SPDX-License-Identifier: MIT
// The work of burnimg: copy the image onto the target in chunks, pad with
// 0xFF, read both back and compare, and repeat the whole cycle until the
// comparison succeeds.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include "options.h"

// The file calls a cycle makes. The program runs on posix_file_ops; tests
// put their own table in its place to inject faults.
struct file_ops {
    int (*open)(const char *path, int flags);
    ssize_t (*read)(int fd, void *buf, size_t len);
    ssize_t (*write)(int fd, const void *buf, size_t len);
    int (*close)(int fd);
    int (*fstat)(int fd, struct stat *st);
};

extern const file_ops posix_file_ops;

// Runs cycles until one ends without a pending comparison, prints the
// verdict and returns 0 on success or -1 on failure. A failed allocation,
// open or fstat ends the run with -1 and nothing printed. prog heads the
// messages; opts->verify is turned off once a comparison succeeds. opts is
// as scan_options leaves it: a chunk of at least one byte and, with verify,
// a verification buffer that holds a chunk.
int run_burn(burn_options *opts, const char *prog, const file_ops &ops);
