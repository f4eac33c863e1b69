#include "messages.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void report(const char *file, const char *fmt, ...)
{
    fprintf(stderr, "lcrtool: %s: ", file);
    va_list args;
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
    fputc('\n', stderr);
}

void report_line(const char *file, uint32_t line, const char *fmt, ...)
{
    fprintf(stderr, "lcrtool: %s:%u: ", file, static_cast<unsigned>(line));
    va_list args;
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
    fputc('\n', stderr);
}

int finish_output()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return EXIT_OK;
    report("standard output", "%s", strerror(errno));
    return EXIT_TROUBLE;
}
