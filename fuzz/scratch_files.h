// SPDX-License-Identifier: MIT
// Files for the lcrtool fuzz targets, whose commands take paths: one
// scratch directory per process, on /dev/shm where there is one so that a
// written image's fsync costs nothing, removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The path of scratch file `name` (a plain name, no slash).
const char *scratch_path(const char *name);
// Writes `len` bytes to scratch file `name`; its path.
const char *scratch_write(const char *name, const uint8_t *data, size_t len);
// Whether scratch file `name` exists; its bytes then in `bytes`.
bool scratch_read(const char *name, std::string *bytes);
// Removes scratch file `name` if it exists.
void scratch_remove(const char *name);
// Sends standard output to /dev/null, or with `name` to that scratch file
// (fresh), so the commands print at no cost and a dump can be read back.
void stdout_to(const char *name);
