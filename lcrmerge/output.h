// SPDX-License-Identifier: MIT
// Writes the merged image to the output file without losing the file's old
// content when a run fails part-way.
#pragma once

#include <cstdint>

// Replaces the content of `path` with the `len` bytes at `image`: 0 when all
// of them are in place, a negative errno otherwise (-EIO for a write that
// takes no bytes). Which files are replaced atomically and which written in
// place, and what a cut-off run leaves, is told in lcrmerge(1), FILES.
int write_lcr_output(const char *path, const uint8_t *image, uint32_t len);
