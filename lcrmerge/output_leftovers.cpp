// SPDX-License-Identifier: MIT
#include "output_leftovers.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The head of one record of getdents64, as the kernel lays it out (struct
// linux_dirent64): the name and its NUL follow the type byte, and `reclen`
// covers the padding to the next record, which starts on a multiple of 8.
struct dirent64_record {
    uint64_t ino;
    int64_t off;
    uint16_t reclen;
    uint8_t type;
    char name[1];  // the name's first byte
};
static_assert(offsetof(dirent64_record, name) == 19);

// The clock ticks per second of /proc/<pid>/stat, the kernel's USER_HZ,
// which Linux fixes at 100 for user space on MIPS, x86 and ARM alike.
// sysconf() would tell, but would add some 8 KiB of the C library to a
// static program for this one number.
constexpr unsigned long TICKS_PER_SECOND = 100;

// The start of process `pid` on the wall clock, in whole seconds, never
// later than the true start; -1 when /proc cannot tell. The kernel gives the
// start in clock ticks since boot (field 22 of /proc/<pid>/stat, after the
// command name in parentheses, which may itself hold blanks and
// parentheses); the wall clock minus the time since boot turns it into a
// date. The ctime of /proc/<pid> is no substitute: it is when the kernel
// last made that entry, which may be long after the start.
long long process_start(long pid)
{
    char buf[1024];
    snprintf(buf, sizeof buf, "/proc/%ld/stat", pid);
    int fd = open(buf, O_RDONLY);
    if (fd < 0)
        return -1;
    ssize_t got = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (got <= 0)
        return -1;
    buf[got] = '\0';
    const char *at = strrchr(buf, ')');
    for (int blanks = 0; at && *at != '\0' && blanks < 20;)
        if (*at++ == ' ')
            blanks++;
    // The count of ticks, read here: strtol would end at 2^31 on a 32-bit
    // board, some 250 days after boot.
    unsigned long long ticks = 0;
    for (; at && *at >= '0' && *at <= '9'; at++)
        ticks = ticks * 10 + static_cast<unsigned>(*at - '0');
    struct timespec now, since_boot;
    if (!at || *at != ' ' || clock_gettime(CLOCK_REALTIME, &now) != 0 ||
        clock_gettime(CLOCK_BOOTTIME, &since_boot) != 0)
        return -1;
    return static_cast<long long>(now.tv_sec) - since_boot.tv_sec - 1 +
           static_cast<long long>(ticks / TICKS_PER_SECOND);
}

// Whether the file `name` in the folder was last written before process
// `pid` started, and so cannot be that process's: after a reboot a pid
// comes round again, and the file of a run cut off by a power cut may carry
// the pid of a process that runs now. The start is rounded down and file
// times may lag the clock by a tick, hence the margin of two seconds; a
// process's own file is never older than its start.
//
// The rule trusts the wall clock. A board without a clock that keeps time
// across a power cut restarts at the same date on every boot; an older
// boot's file then looks newer than a process of this boot and stays until
// that process ends. A clock set forward during a run may make another run
// take that run's file for a leftover, and that run then fails with the old
// table in place.
bool older_than_process(int dir, const char *name, long pid)
{
    struct stat st;
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    long long start = process_start(pid);
    return start >= 0 && static_cast<long long>(st.st_mtime) + 2 < start;
}

// Whether `name` is what a run cut off between naming its replacement and
// the rename left behind: a temporary name whose process no longer exists,
// has this process's id (an earlier process had it, and this one has named
// nothing yet), or was written before its process started.
bool is_leftover(int dir, const char *name)
{
    const size_t k = sizeof TEMP_PREFIX - 1;
    if (strnlen(name, k) < k || memcmp(name, TEMP_PREFIX, k) != 0 || name[k] < '0' || name[k] > '9')
        return false;
    char *end;
    long pid = strtol(name + k, &end, 10);
    if (*end != '-' || end[1] < '0' || end[1] > '9' || pid <= 0 || pid > INT_MAX)
        return false;
    strtol(end + 1, &end, 10);
    if (*end != '\0')
        return false;
    if (pid == getpid() || (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
        return true;
    return older_than_process(dir, name, pid);
}

}  // namespace

// The folder is listed with getdents64, not through a directory stream,
// which would add some 3 KiB to a static program for this one loop; the
// descriptor's offset matters to no later call.
void lcr_sweep_leftovers(int dir)
{
    alignas(8) char buf[1024];
    long got;
    while ((got = syscall(SYS_getdents64, dir, buf, sizeof buf)) > 0) {
        for (long at = 0; at < got;) {
            uint16_t len;
            memcpy(&len, buf + at + offsetof(dirent64_record, reclen), sizeof len);
            if (len == 0)
                return;
            const char *name = buf + at + offsetof(dirent64_record, name);
            if (is_leftover(dir, name))
                unlinkat(dir, name, 0);
            at += len;
        }
    }
}
