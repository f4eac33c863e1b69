// burnimg: copies a firmware image onto a flash device node or an existing
// file, optionally pads it with 0xFF and verifies it by read-back.
#include "cycle.h"
#include "options.h"

int main(int argc, char **argv)
{
    // Messages are headed by the invocation name; a program started without
    // one still needs a name to print.
    const char *prog = argc > 0 && argv[0] ? argv[0] : "burnimg";
    burn_options opts;
    int status = scan_options(argc, argv, prog, &opts);
    if (status == 0)
        status = run_burn(&opts, prog, posix_file_ops);
    release_options(&opts);
    return status;
}
