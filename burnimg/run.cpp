// SPDX-License-Identifier: MIT
#include "run.h"

#include "options.h"

int burnimg_main(int argc, char **argv, const file_ops &ops)
{
    // Messages are headed by the invocation name; a program started without
    // one still needs a name to print.
    const char *prog = argc > 0 && argv[0] ? argv[0] : "burnimg";
    burn_options opts;
    int status = scan_options(argc, argv, prog, &opts);
    if (status == 0)
        status = run_burn(&opts, prog, ops);
    release_options(&opts);
    return status;
}
