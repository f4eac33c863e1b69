// SPDX-License-Identifier: MIT
// Runs a built program as a child process and captures what it prints, for
// end-to-end tests. Under a cross build the program is started through the
// emulator the build names, so the same tests run on the target's
// instruction set.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

struct run_options {
    std::vector<std::string> env;  // extra "NAME=value" entries
    int timeout_ms = 20000;        // the child is killed after this long
    long fsize_limit = -1;         // RLIMIT_FSIZE in bytes, -1 for none
    bool ignore_sigxfsz = false;   // so a write past the limit fails with EFBIG
    int umask = 022;
    std::string cwd;               // empty: the test's own
    // Standard input: these bytes through a pipe (at most a pipe's 64 KiB),
    // or /dev/null when unset, or none (descriptor 0 closed).
    std::optional<std::string> input;
    bool stdin_closed = false;
    std::string stdout_path;       // standard output to this file; empty: captured
};

struct run_result {
    int exit_code = -1;  // exit status, or -1 when the child was killed
    int signal = 0;      // the signal that ended the child, or 0
    bool timed_out = false;
    std::string out;
    std::string err;
};

run_result run_program(const std::string &path, const std::vector<std::string> &args,
                       const run_options &opts = {});

// The emulator command in front of target programs ("" natively).
bool running_under_emulator();

// The path a program is started from: `path`, or the same program of the
// build named by DEVTOOLS_PROGRAMS (another build of these sources, such as
// the uClibc-ng device build) when that is set and holds the program.
std::string program_path(const std::string &path);

// The fault library to preload into the programs: the one built with them
// when another build's programs stand in (DEVTOOLS_PROGRAMS), else `built`.
std::string fault_shim_path(const std::string &built);

// A fresh scratch directory for one test, removed by the destructor.
struct scratch_dir {
    std::string path;
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// Names in a folder, without "." and ".."; empty when it cannot be read.
std::set<std::string> dir_entries(const std::string &dir);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
