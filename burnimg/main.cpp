// SPDX-License-Identifier: MIT
// burnimg: copies a firmware image onto a flash device node or an existing
// file, optionally pads it with 0xFF and verifies it by read-back.
#include "run.h"

int main(int argc, char **argv)
{
    return burnimg_main(argc, argv, posix_file_ops);
}
