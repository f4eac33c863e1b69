// Writes the merged image to the output file without losing the file's old
// content when a run fails part-way.
#pragma once

#include <cstdint>

// Replaces the content of `path` with the `len` bytes at `image`: 0 when all
// of them are in place, -1 otherwise.
//
// A regular file (or a name that does not exist yet) is replaced atomically:
// the image goes to a new file in the same folder, which is synced and then
// renamed over the name, so a failed run leaves the old content and no
// stray file. The replacement keeps an existing file's permission bits and,
// where the process may set them, its owner and group; a new file gets 0600
// less the umask. A symbolic link is followed and its target replaced.
//
// Anything else (a character device, a FIFO), and a file in a folder where
// no new file can be made, is opened with O_TRUNC and written in place.
int write_lcr_output(const char *path, const uint8_t *image, uint32_t len);
