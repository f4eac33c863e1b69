#include "fail_malloc_env.h"

#include <cstdio>
#include <cstdlib>

#ifndef FAIL_MALLOC_LIBRARY
#define FAIL_MALLOC_LIBRARY ""
#endif

std::vector<std::string> fail_malloc_env(const std::string &report, long nth, bool after)
{
    std::remove(report.c_str());
    return {
        std::string("LD_PRELOAD=") + FAIL_MALLOC_LIBRARY,
        "FAIL_MALLOC_AT=" + std::to_string(nth),
        std::string("FAIL_MALLOC_AFTER=") + (after ? "1" : "0"),
        "FAIL_MALLOC_REPORT=" + report,
        // A sanitizer build insists on coming first among the preloaded
        // libraries; the library only passes allocations on, so that order
        // does not matter here.
        "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1",
    };
}

long fail_malloc_calls(const std::string &report)
{
    FILE *f = std::fopen(report.c_str(), "r");
    if (!f)
        return -2;
    long n = -1;
    if (std::fscanf(f, "%ld", &n) != 1)
        n = -1;
    std::fclose(f);
    return n;
}
