// SPDX-License-Identifier: MIT
// An in-memory stand-in for burnimg's file operations: named files held as
// strings, descriptors with their positions, a record of every write, and
// hooks that replace the result of chosen calls to inject faults.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cycle.h"

namespace fake {

struct open_file {
    std::string path;
    int flags = 0;
    size_t pos = 0;
};

extern std::map<std::string, std::string> files;  // name to contents
extern std::map<int, open_file> open_files;
extern int forced_fd;    // the descriptor the next open returns, or -1
extern int fstat_calls;  // counted from the last reset
// Calls that found text still in stdout's buffer: what burnimg prints must
// be out before the step it announces, which may hang or be cut off.
extern int calls_behind_stdout;
// (offset, length) of every write asked for, one list per write-only opening.
extern std::vector<std::vector<std::pair<size_t, size_t>>> writes;

// A hook that returns a value replaces the call's result.
extern std::function<std::optional<int>(const std::string &path, int flags)> on_open;
extern std::function<std::optional<ssize_t>(open_file &f, void *buf, size_t len)> on_read;
extern std::function<std::optional<ssize_t>(open_file &f, const void *buf, size_t len)> on_write;
extern std::function<std::optional<int>(struct stat *st)> on_fstat;

// No files, no hooks, descriptors from 3 up.
void reset();

// The write itself, for hooks that let part of one through.
ssize_t do_write(open_file &f, const void *buf, size_t len);

extern const file_ops ops;

}  // namespace fake
