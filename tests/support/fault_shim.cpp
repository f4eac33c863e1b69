// SPDX-License-Identifier: MIT
// Faults for programs that tests run as child processes. Loaded with
// LD_PRELOAD, this library stands in for malloc, read, write, openat,
// linkat, renameat, fsync and fchown and makes the calls that the environment names
// fail:
//
//   FAULT_MALLOC_AT=n      the nth malloc call of the process fails
//                          (counted from 1)
//   FAULT_MALLOC_AFTER=1   with FAULT_MALLOC_AT: every later call fails too
//   FAULT_WRITE_AT=n       the nth write call misbehaves,
//   FAULT_WRITE_AS=what    as "zero" (returns 0), "error" (-1 with EIO),
//                          "short" (writes half the bytes asked for) or
//                          "kill" (the process ends by SIGKILL, as in a
//                          power cut)
//   FAULT_READ_SHORT=n     the first read call that asks for more than n
//                          bytes gets n at most, as from a pipe whose
//                          writer has written only n so far
//   FAULT_READ_EINTR=n     the first read call that asks for n bytes or fewer
//                          fails with EINTR, as when a signal arrives
//   FAULT_NO_UNNAMED=1     openat refuses unnamed files (O_TMPFILE) with
//                          EOPNOTSUPP, as some file systems do
//   FAULT_NAMES_TAKEN=n    the first n names given to a new file (by an
//                          exclusive create or a link) are taken (EEXIST)
//   FAULT_NO_PROC=1        links from /proc fail with ENOENT, as without /proc
//   FAULT_NO_CHOWN=1       fchown fails with EPERM, as for a process that may
//                          not give a file to another owner or group
//   FAULT_RENAME=n         renameat fails with errno n: 13 (EACCES) as in a
//                          folder that refuses it, 5 (EIO) as on a failing disk
//   FAULT_FOLDER_SYNC=what fsync of a folder fails with EINVAL ("error"), as
//                          on file systems that cannot sync one, or ends
//                          the process by SIGKILL ("kill")
//   FAULT_REPORT=p         file p is created when the library is loaded and
//                          receives the number of malloc calls and of
//                          reads cut short when the process exits normally
//                          (-1 -1 when it is killed here), then the steps
//                          on files in their order: w a write, f an fsync
//                          of a file, d of a folder, r a rename; a run of
//                          one step is one letter
//
// The report file tells a test that the library was loaded at all: a
// statically linked program, or an emulator that does not hand LD_PRELOAD
// on, runs without it. C library functions that write through internal
// calls (stdio) are not affected.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using malloc_fn = void *(*)(size_t);
using free_fn = void (*)(void *);
using read_fn = ssize_t (*)(int, void *, size_t);
using write_fn = ssize_t (*)(int, const void *, size_t);
using openat_fn = int (*)(int, const char *, int, ...);
using fsync_fn = int (*)(int);
using linkat_fn = int (*)(int, const char *, int, const char *, int);
using renameat_fn = int (*)(int, const char *, int, const char *);
using fchown_fn = int (*)(int, uid_t, gid_t);

malloc_fn real_malloc;
free_fn real_free;
read_fn real_read;
write_fn real_write;
openat_fn real_openat;
fsync_fn real_fsync;
linkat_fn real_linkat;
renameat_fn real_renameat;
fchown_fn real_fchown;
bool no_unnamed;
bool no_proc;
bool no_chown;
int rename_errno;
long names_taken;
char steps[32];
size_t steps_len;
const char *folder_sync_as = "";
long writes;
size_t read_short;
size_t read_eintr;
long reads_cut;
long write_fail_at;
const char *write_fail_as = "";
long calls;
long fail_at;
bool fail_after;
const char *report;

// dlsym may itself allocate before the real malloc is known; those few
// requests are served from here and never freed.
alignas(16) char early[4096];
size_t early_used;

bool is_early(const void *p)
{
    return p >= early && p < early + sizeof early;
}

void *early_alloc(size_t size)
{
    size = (size + 15) & ~size_t{15};
    if (size > sizeof early - early_used)
        return nullptr;
    void *p = early + early_used;
    early_used += size;
    return p;
}

void step(char s)
{
    if (steps_len < sizeof steps - 1 && (steps_len == 0 || steps[steps_len - 1] != s))
        steps[steps_len++] = s;
}

// Whether the name that the program gives a new file now is taken.
bool name_taken()
{
    return names_taken-- > 0;
}

void write_report(long n, long cut)
{
    if (!report)
        return;
    int fd = open(report, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    char text[80];
    int len = snprintf(text, sizeof text, "%ld %ld %s\n", n, cut, steps);
    if (len > 0 && real_write && real_write(fd, text, static_cast<size_t>(len)) < 0) {
        // Nothing to do: a missing count shows in the test.
    }
    close(fd);
}

__attribute__((constructor)) void start()
{
    real_malloc = reinterpret_cast<malloc_fn>(dlsym(RTLD_NEXT, "malloc"));
    real_free = reinterpret_cast<free_fn>(dlsym(RTLD_NEXT, "free"));
    real_read = reinterpret_cast<read_fn>(dlsym(RTLD_NEXT, "read"));
    real_write = reinterpret_cast<write_fn>(dlsym(RTLD_NEXT, "write"));
    real_openat = reinterpret_cast<openat_fn>(dlsym(RTLD_NEXT, "openat"));
    real_fsync = reinterpret_cast<fsync_fn>(dlsym(RTLD_NEXT, "fsync"));
    real_linkat = reinterpret_cast<linkat_fn>(dlsym(RTLD_NEXT, "linkat"));
    real_renameat = reinterpret_cast<renameat_fn>(dlsym(RTLD_NEXT, "renameat"));
    real_fchown = reinterpret_cast<fchown_fn>(dlsym(RTLD_NEXT, "fchown"));
    if (const char *no = getenv("FAULT_NO_UNNAMED"))
        no_unnamed = no[0] == '1';
    if (const char *no = getenv("FAULT_NO_PROC"))
        no_proc = no[0] == '1';
    if (const char *no = getenv("FAULT_NO_CHOWN"))
        no_chown = no[0] == '1';
    if (const char *e = getenv("FAULT_RENAME"))
        rename_errno = atoi(e);
    if (const char *n = getenv("FAULT_NAMES_TAKEN"))
        names_taken = strtol(n, nullptr, 10);
    if (const char *as = getenv("FAULT_FOLDER_SYNC"))
        folder_sync_as = as;
    if (const char *n = getenv("FAULT_READ_SHORT"))
        read_short = strtoul(n, nullptr, 10);
    if (const char *n = getenv("FAULT_READ_EINTR"))
        read_eintr = strtoul(n, nullptr, 10);
    if (const char *at = getenv("FAULT_WRITE_AT"))
        write_fail_at = strtol(at, nullptr, 10);
    if (const char *as = getenv("FAULT_WRITE_AS"))
        write_fail_as = as;
    if (const char *at = getenv("FAULT_MALLOC_AT"))
        fail_at = strtol(at, nullptr, 10);
    if (const char *after = getenv("FAULT_MALLOC_AFTER"))
        fail_after = after[0] == '1';
    report = getenv("FAULT_REPORT");
    // The count starts with the program: what the loader and this library
    // did before is not the program's doing.
    calls = 0;
    write_report(-1, -1);
}

__attribute__((destructor)) void finish()
{
    write_report(calls, reads_cut);
}

}  // namespace

extern "C" void *malloc(size_t size)
{
    if (!real_malloc)
        return early_alloc(size);
    long n = ++calls;
    if (fail_at > 0 && (n == fail_at || (fail_after && n > fail_at))) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_malloc(size);
}

extern "C" void free(void *p)
{
    if (is_early(p))
        return;
    if (!real_free)
        return;  // only the early arena exists before start()
    real_free(p);
}

extern "C" ssize_t read(int fd, void *buf, size_t len)
{
    if (read_short > 0 && reads_cut == 0 && len > read_short)
        len = read_short, reads_cut = 1;
    if (read_eintr > 0 && len <= read_eintr) {
        read_eintr = 0;  // once
        errno = EINTR;
        return -1;
    }
    return real_read ? real_read(fd, buf, len) : (errno = EIO, -1);
}

extern "C" ssize_t write(int fd, const void *buf, size_t len)
{
    if (!real_write) {
        errno = EIO;
        return -1;
    }
    step('w');
    if (write_fail_at > 0 && ++writes == write_fail_at) {
        if (strcmp(write_fail_as, "zero") == 0)
            return 0;
        if (strcmp(write_fail_as, "error") == 0) {
            errno = EIO;
            return -1;
        }
        if (strcmp(write_fail_as, "short") == 0 && len > 1)
            len /= 2;
        if (strcmp(write_fail_as, "kill") == 0)
            write_report(-1, -1), kill(getpid(), SIGKILL);
    }
    return real_write(fd, buf, len);
}

extern "C" int openat(int dir, const char *path, int flags, ...)
{
    // O_TMPFILE holds O_DIRECTORY, and no other open of a folder may write,
    // so unnamed files are told without the flag, which a C library built
    // for the device may not define. The mode is there only where the file
    // may be created.
    const bool unnamed = (flags & O_DIRECTORY) && (flags & O_ACCMODE) != O_RDONLY;
    mode_t mode = 0;
    if ((flags & O_CREAT) || unnamed) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if (!real_openat) {
        errno = EIO;
        return -1;
    }
    if (no_unnamed && unnamed) {
        errno = EOPNOTSUPP;
        return -1;
    }
    if ((flags & O_CREAT) && (flags & O_EXCL) && name_taken()) {
        errno = EEXIST;
        return -1;
    }
    return real_openat(dir, path, flags, mode);
}

extern "C" int linkat(int from_dir, const char *from, int dir, const char *to, int flags)
{
    const int fault = name_taken() ? EEXIST : no_proc && strncmp(from, "/proc/", 6) == 0 ? ENOENT : 0;
    if (fault != 0 || !real_linkat) {
        errno = fault != 0 ? fault : EIO;
        return -1;
    }
    return real_linkat(from_dir, from, dir, to, flags);
}

extern "C" int renameat(int from_dir, const char *from, int dir, const char *to)
{
    step('r');
    if (rename_errno || !real_renameat) {
        errno = rename_errno ? rename_errno : EIO;
        return -1;
    }
    return real_renameat(from_dir, from, dir, to);
}

extern "C" int fsync(int fd)
{
    struct stat st;
    const bool folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    step(folder ? 'd' : 'f');
    if (folder_sync_as[0] && folder) {
        if (strcmp(folder_sync_as, "kill") == 0)
            write_report(-1, -1), kill(getpid(), SIGKILL);
        errno = EINVAL;
        return -1;
    }
    return real_fsync ? real_fsync(fd) : 0;
}

extern "C" int fchown(int fd, uid_t owner, gid_t group)
{
    if (no_chown || !real_fchown) {
        errno = no_chown ? EPERM : EIO;
        return -1;
    }
    return real_fchown(fd, owner, group);
}
