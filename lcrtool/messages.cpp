// SPDX-License-Identifier: MIT
#include "messages.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// The reason and the end of a message whose "lcrtool: " prefix is written.
void finish_report(const char *fmt, va_list args)
{
    vfprintf(stderr, fmt, args);
    fputc('\n', stderr);
}

}  // namespace

void report_plain(const char *fmt, ...)
{
    fputs("lcrtool: ", stderr);
    va_list args;
    va_start(args, fmt);
    finish_report(fmt, args);
    va_end(args);
}

void report(const char *file, const char *fmt, ...)
{
    fprintf(stderr, "lcrtool: %s: ", file);
    va_list args;
    va_start(args, fmt);
    finish_report(fmt, args);
    va_end(args);
}

void report_line(const char *file, uint32_t line, const char *fmt, ...)
{
    fprintf(stderr, "lcrtool: %s:%u: ", file, static_cast<unsigned>(line));
    va_list args;
    va_start(args, fmt);
    finish_report(fmt, args);
    va_end(args);
}

int finish_output()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return EXIT_OK;
    report("standard output", "%s", strerror(errno));
    return EXIT_TROUBLE;
}
