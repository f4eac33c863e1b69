// SPDX-License-Identifier: MIT
// lcrmerge against faults of the file system: writes and folder syncs that
// fail or are cut off, and an input that arrives in pieces. A run that
// fails leaves the output as it was and prints nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>

#include "fault_env.h"
#include "merge_example.h"
#include "run_program.h"

namespace {

// What `dir` offers for files without a name: 0 none, 1 such files, 2 such
// files that can be linked by their descriptor too, as the kernel allows a
// process that may look up every file. Without /proc, lcrmerge names its
// unnamed file so, or else writes a named one.
int unnamed_files(const std::string &dir)
{
    int fd = open(dir.c_str(), O_WRONLY | O_TMPFILE, 0600);
    if (fd < 0)
        return 0;
    const std::string name = dir + "/linked";
    int level = linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ? 2 : 1;
    unlink(name.c_str());
    close(fd);
    return level;
}

// Faults while the output is written. The first write misbehaves: a short
// write is carried on; a write that takes nothing or fails ends the run with
// the old output in place, and a run cut off there (as by a power cut)
// leaves it too. No unfinished replacement stays behind in any case, and
// what a run cut off before its rename left is gone, but for the file of a
// process that still runs (pid 1) written since it started, and for a
// name that only looks like a temporary one. A file system
// without unnamed files gets a named replacement; a name in use is passed
// over for the next, and an unnamed file for which all 100 are in use is
// dropped for a named one. A process that may not keep the old file's
// owner and group replaces it all the same. A rename that the folder
// refuses leaves the table to be written in place, one that fails the
// run; neither leaves the replacement behind. A new output is written, synced, renamed, and then
// its folder is synced, in that order; a folder that cannot be synced
// fails nothing.
TEST(LcrmergeWriteFaults, OutputWriteAndSyncFaults)
{
    child_faults no_unnamed, taken, all_taken, no_proc, no_chown, rename_refused, rename_fails, sync_error, sync_kill;
    no_unnamed.no_unnamed = true;
    no_unnamed.names_taken = taken.names_taken = 1;
    all_taken.names_taken = 100;
    no_proc.no_proc = true;
    no_chown.no_chown = true;
    rename_refused.rename_errno = EACCES;
    rename_fails.rename_errno = EIO;
    sync_error.folder_sync_as = "error";
    sync_kill.folder_sync_as = "kill";
    struct {
        const char *what;
        child_faults faults;
        int status;  // -1: ended by SIGKILL
        const std::string &out;
        std::string steps;  // see fault_report_steps
        bool new_file = false;  // no out.lcr before the run
    } cases[] = {{"a new table", {}, 0, MODE1, "wfrd", true},
                 {"zero", write_fault(1, "zero"), 1, OLD, "w"},
                 {"error", write_fault(1, "error"), 1, OLD, "w"},
                 {"short", write_fault(1, "short"), 0, MODE1, "wfrd"},
                 {"no unnamed files, first name taken", no_unnamed, 0, MODE1, "wfrd"},
                 {"first name taken", taken, 0, MODE1, "wfrd"},
                 {"every name for the unnamed file taken", all_taken, 0, MODE1, "wfwfrd"},
                 {"no /proc", no_proc, 0, MODE1, "wfrd"},
                 {"may not keep the owner", no_chown, 0, MODE1, "wfrd"},
                 {"folder refuses the rename", rename_refused, 0, MODE1, "wfrw"},
                 {"rename fails", rename_fails, 1, OLD, "wfr"},
                 {"folder sync fails", sync_error, 0, MODE1, "wfrd"},
                 {"killed in folder sync", sync_kill, -1, MODE1, "wfrd"},
                 // Last: without unnamed files, the kill skips the rest.
                 {"kill", write_fault(1, "kill"), -1, OLD, "w"}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        write_file(dir.file("a.lcr"), FIRST);
        write_file(dir.file("b.lcr"), SECOND);
        if (!c.new_file)
            write_file(dir.file("out.lcr"), OLD);
        write_file(dir.file(".lcrmerge-2147483647-0"), "cut");
        write_file(dir.file(".lcrmerge-2147483647-0x"), "no temporary name");
        write_file(dir.file(".lcrmerge-0-0"), "no process 0");
        write_file(dir.file(".lcrmerge-1-0"), "running");
        // Pid 1 runs, but this file was written long before it started: a
        // cut run of an earlier boot whose pid came round again.
        write_file(dir.file(".lcrmerge-1-1"), "earlier boot");
        const timespec long_ago[2] = {{1000000, 0}, {1000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, dir.file(".lcrmerge-1-1").c_str(), long_ago, 0), 0);
        struct stat before {};
        stat(dir.file("out.lcr").c_str(), &before);
        const std::string report = dir.file("report");
        run_options opts;
        opts.cwd = dir.path;
        opts.env = fault_env(report, c.faults);
        run_result r = run_program(LCRMERGE_PATH, {"1", "a.lcr", "b.lcr", "out.lcr"}, opts);
        if (fault_report_calls(report) == -2)
            GTEST_SKIP() << "the fault library does not reach the program "
                            "(a static program, or an emulator without preloading)";
        const int unnamed = unnamed_files(dir.path);
        if (c.faults.names_taken == 100 && unnamed == 0)
            continue;
        if (c.faults.write_as == "kill" && unnamed == 0)
            GTEST_SKIP() << "the file system of " << dir.path << " has no unnamed files";
        if (c.faults.no_proc && unnamed == 1)
            c.steps = "wfwfrd";
        EXPECT_EQ(r.exit_code, c.status);
        EXPECT_EQ(r.signal, c.status < 0 ? SIGKILL : 0);
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_TRUE(read_file(dir.file("out.lcr")) == c.out);
        EXPECT_EQ(fault_report_steps(report), c.steps);
        struct stat after {};
        stat(dir.file("out.lcr").c_str(), &after);
        // A new table arrives as a new file, by a rename, unless the folder
        // refuses it.
        EXPECT_EQ(after.st_ino != before.st_ino, c.out == MODE1 && c.steps.back() == 'd');
        EXPECT_EQ(dir_entries(dir.path), (std::set<std::string>{"a.lcr", "b.lcr", "out.lcr", "report", ".lcrmerge-1-0",
                                                                 ".lcrmerge-2147483647-0x", ".lcrmerge-0-0"}));
    }
}

// An input that arrives in pieces, as through a pipe from a slow writer, is
// read to its end: a first read that returns only part of it must not pass
// for the whole image. The fault library cuts the first read inside the
// trie, where the part alone would look like an image with fewer rules.
TEST(LcrmergeInputs, ImageThroughAPipeArrivesWhole)
{
    scratch_dir dir;
    write_file(dir.file("a.lcr"), FIRST);
    write_file(dir.file("b.lcr"), SECOND);
    const std::string report = dir.file("report");
    child_faults faults;
    faults.read_short = static_cast<long>(image_writer::record_offset(2));
    run_options opts;
    opts.cwd = dir.path;
    opts.env = fault_env(report, faults);
    run_result r = run_program(LCRMERGE_PATH, {"1", "a.lcr", "b.lcr", "out.lcr"}, opts);
    if (fault_report_calls(report) == -2)
        GTEST_SKIP() << "the fault library does not reach the program";
    EXPECT_EQ(fault_report_calls(report, true), 1);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(read_file(dir.file("out.lcr")) == MODE1);
}

}  // namespace
