// SPDX-License-Identifier: MIT
#include "fault_env.h"
#include "run_program.h"

#include <cstdio>

#ifndef FAULT_SHIM_LIBRARY
#define FAULT_SHIM_LIBRARY ""
#endif

std::vector<std::string> fault_env(const std::string &report, const child_faults &faults)
{
    std::remove(report.c_str());
    return {
        "LD_PRELOAD=" + fault_shim_path(FAULT_SHIM_LIBRARY),
        "FAULT_MALLOC_AT=" + std::to_string(faults.malloc_at),
        std::string("FAULT_MALLOC_AFTER=") + (faults.malloc_after ? "1" : "0"),
        "FAULT_READ_SHORT=" + std::to_string(faults.read_short),
        "FAULT_READ_EINTR=" + std::to_string(faults.read_eintr),
        "FAULT_WRITE_AT=" + std::to_string(faults.write_at),
        "FAULT_WRITE_AS=" + faults.write_as,
        std::string("FAULT_NO_UNNAMED=") + (faults.no_unnamed ? "1" : "0"),
        "FAULT_NAMES_TAKEN=" + std::to_string(faults.names_taken),
        std::string("FAULT_NO_PROC=") + (faults.no_proc ? "1" : "0"),
        std::string("FAULT_NO_CHOWN=") + (faults.no_chown ? "1" : "0"),
        "FAULT_RENAME=" + std::to_string(faults.rename_errno),
        "FAULT_FOLDER_SYNC=" + faults.folder_sync_as,
        "FAULT_REPORT=" + report,
        // A sanitizer build insists on coming first among the preloaded
        // libraries; the library only passes calls on, so that order does
        // not matter here.
        "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1",
    };
}

long fault_report_calls(const std::string &report, bool cut_reads)
{
    FILE *f = std::fopen(report.c_str(), "r");
    if (!f)
        return -2;
    long n[2] = {-1, -1};
    if (std::fscanf(f, "%ld %ld", &n[0], &n[1]) != 2)
        n[0] = n[1] = -1;
    std::fclose(f);
    return n[cut_reads];
}

std::string fault_report_steps(const std::string &report)
{
    char steps[32] = "";
    if (FILE *f = std::fopen(report.c_str(), "r")) {
        if (std::fscanf(f, "%*d %*d %31s", steps) != 1)
            steps[0] = '\0';
        std::fclose(f);
    }
    return steps;
}
