// SPDX-License-Identifier: MIT
// Faults in a child program, through the fault_shim library that
// run_program hands to the program with LD_PRELOAD (see fault_shim.cpp).
// Natively and under an emulator alike the library may not reach the
// program (a static program, valgrind's own malloc), so a test first asks
// whether it did and skips otherwise.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.h"

struct child_faults {
    long malloc_at = 0;         // the nth malloc call fails; 0: none
    bool malloc_after = false;  // ... and every later one too
    long read_short = 0;        // the first read of more bytes gets this many; 0: none
    long read_eintr = 0;        // the first read of this many bytes or fewer fails with EINTR
    long write_at = 0;          // the nth write call misbehaves; 0: none
    std::string write_as;       // "zero", "error", "short" or "kill"
    bool no_unnamed = false;    // the file system offers no unnamed files
    long names_taken = 0;       // the first names given to new files are taken
    bool no_proc = false;       // no links from /proc
    bool no_chown = false;      // fchown fails with EPERM
    int rename_errno = 0;       // renameat fails with this errno; 0: as is
    std::string folder_sync_as; // fsync of a folder: "error" or "kill"; "": as is
};

inline child_faults malloc_fault(long nth, bool after = false)
{
    child_faults f;
    f.malloc_at = nth;
    f.malloc_after = after;
    return f;
}

inline child_faults write_fault(long nth, const std::string &as)
{
    child_faults f;
    f.write_at = nth;
    f.write_as = as;
    return f;
}

// Environment entries for run_options::env. The library writes its report
// to `report`.
std::vector<std::string> fault_env(const std::string &report, const child_faults &faults);

// What the report at `report` says: the number of malloc calls the program
// made (or, with `cut_reads`, of reads cut short); -1 when the library was
// loaded but the program did not exit normally; -2 when the library was
// not loaded at all.
long fault_report_calls(const std::string &report, bool cut_reads = false);

// The steps on files the program took, in order (see fault_shim.cpp): "wfrd"
// is a write, the file's fsync, the rename and the folder's fsync.
std::string fault_report_steps(const std::string &report);

// Why a test of allocation failures skips when the count is not positive.
inline constexpr char NO_MALLOC_FAULTS[] =
    "the fault library does not stand in for the program's malloc "
    "(a static program, an emulator without preloading, or valgrind's own malloc)";

// The allocations of the run that `run(0, false)` has just made, each
// failing in turn: `check(run(nth, after), nth)` for allocation nth failing
// alone and, with `later_too`, with every later one failing as well. The
// test skips when that run's `report` shows no fault library.
template <class Run, class Check>
void each_failed_allocation(const std::string &report, bool later_too, Run run, Check check)
{
    const long calls = fault_report_calls(report);
    if (calls <= 0)
        GTEST_SKIP() << NO_MALLOC_FAULTS;
    for (bool after : {false, true}) {
        for (long nth = 1; nth <= calls && (later_too || !after); nth++) {
            SCOPED_TRACE("allocation " + std::to_string(nth) + (after ? " and all later ones" : ""));
            check(run(nth, after), nth);
        }
    }
}
