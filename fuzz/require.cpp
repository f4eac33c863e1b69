// SPDX-License-Identifier: MIT
#include "require.h"

#include <sanitizer/common_interface_defs.h>

#include <cstdio>
#include <cstdlib>

void require(bool ok, const char *what)
{
    if (ok)
        return;
    // The sanitizers' report channel stays open when the fuzzer closes the
    // target's standard error (-close_fd_mask), so the message reaches the
    // log either way.
    char summary[256];
    snprintf(summary, sizeof summary, "property broken: %s", what);
    __sanitizer_report_error_summary(summary);
    abort();
}
