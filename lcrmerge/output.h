// Writes the merged image to the output file without losing the file's old
// content when a run fails part-way.
#pragma once

#include <cstdint>

// Replaces the content of `path` with the `len` bytes at `image`: 0 when all
// of them are in place, a negative errno otherwise (-EIO for a write that
// takes no bytes).
//
// A regular file with one name (or a name that does not exist yet) is
// replaced atomically: the image goes to a new file in the same folder,
// unnamed where the kernel offers that, which is synced, named
// .lcrmerge-<pid>-<n> and renamed over the name; the folder is synced after
// the rename. A failed or cut-off run leaves the old content and, but for a
// cut between naming and renaming, no stray file. Such a file of a process
// that no longer exists, or written before the process that now has its
// pid started, goes with the next replacement in that folder; those of
// runs still going on stay. The replacement keeps an existing
// file's permission bits and, where the process may set them, its owner and
// group; a new file gets 0600 less the umask. A symbolic link is followed
// and its target replaced.
//
// Anything else is opened with O_TRUNC and written in place: a character
// device, a FIFO, a file with more than one hard link (so that every name
// sees the new table), a name whose links the kernel resolves to another
// file than their text names (a /proc link to an open descriptor), and a
// file in a folder where no new file can be made.
int write_lcr_output(const char *path, const uint8_t *image, uint32_t len);
