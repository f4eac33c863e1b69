// SPDX-License-Identifier: MIT
// The whole run of burnimg, as its main and the tests start it.
#pragma once

#include "cycle.h"

// Scans the command line and, when the scan lets the run go on, runs the
// cycles through `ops`. Messages are headed by argv[0]. Returns the exit
// status: 0 on success, 1 after -h, -1 on failure.
int burnimg_main(int argc, char **argv, const file_ops &ops);
