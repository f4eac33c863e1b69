// SPDX-License-Identifier: MIT
#include "output.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "output_leftovers.h"

// O_TMPFILE opens a file without a name in a given folder. A C library that
// does not define the flag still runs on kernels that have it: the kernel's
// value is one bit together with O_DIRECTORY, whose value the C library
// knows for the architecture. The bit is the same on the architectures
// built here.
#if !defined(O_TMPFILE) && (defined(__mips__) || defined(__i386__) || defined(__x86_64__) || \
                            defined(__arm__) || defined(__aarch64__))
#define O_TMPFILE (020000000 | O_DIRECTORY)
#endif

namespace {

// The kernel gives up after as many hops; so do we.
constexpr int MAX_LINK_HOPS = 40;
// Attempts at a free temporary name before giving up on the atomic path.
constexpr int TEMP_NAME_TRIES = 100;
// What replace() returns when the file has to be written in place instead.
constexpr int IN_PLACE = 1;

// The names of one replacement. Only the link walk works with whole paths;
// once the output's folder is open, the rest is relative to it.
struct output_names {
    char target[PATH_MAX];  // the output after symbolic links
    char link[PATH_MAX];    // text of one link while it is followed
    char *base;             // last part of target, its name in the folder
    char temp[40];          // the replacement's name while it has one
};

// Carries on after a short write and stops at an error: 0 or -errno. A
// write that reports 0 bytes would never finish, so it counts as an I/O
// error.
int write_all(int fd, const uint8_t *buf, uint32_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, buf, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? -errno : -EIO;
        buf += n;
        len -= static_cast<uint32_t>(n);
    }
    return 0;
}

// Closes `fd`: `err`, the first error of the work before, or that of the
// close.
int close_err(int fd, int err)
{
    if (close(fd) != 0 && err == 0)
        err = -errno;
    return err;
}

// Writes into the file itself (open with O_TRUNC, then write), for a name
// that is not replaced as a whole (see write_lcr_output).
int write_in_place(const char *path, const uint8_t *image, uint32_t len)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -errno;
    return close_err(fd, write_all(fd, image, len));
}

// Length of the folder part of `path`, its final slash included.
size_t folder_len(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

// Follows symbolic links from `path` into n->target and sets n->base. 1 when
// the final file exists (its status in `st`), 0 when it does not, -1 when
// the name cannot be worked out here (too long, a loop, no permission to
// look).
int resolve_target(const char *path, output_names *n, struct stat *st)
{
    size_t len = strlen(path);
    if (len >= sizeof n->target)
        return -1;
    memcpy(n->target, path, len + 1);
    for (int hop = 0; hop < MAX_LINK_HOPS; hop++) {
        n->base = n->target + folder_len(n->target);
        if (lstat(n->target, st) != 0)
            return errno == ENOENT ? 0 : -1;
        if (!S_ISLNK(st->st_mode))
            return 1;
        ssize_t got = readlink(n->target, n->link, sizeof n->link);
        if (got < 0 || static_cast<size_t>(got) >= sizeof n->link)
            return -1;
        n->link[got] = '\0';
        // A relative link is read from the folder that holds the link.
        size_t keep = n->link[0] == '/' ? 0 : folder_len(n->target);
        if (keep + static_cast<size_t>(got) >= sizeof n->target)
            return -1;
        memcpy(n->target + keep, n->link, static_cast<size_t>(got) + 1);
    }
    return -1;
}

// Whether the link walk arrived where the kernel does: stat of the name
// finds the same file, or neither finds one. A name that the kernel
// resolves through a link whose text names no file (a /proc link to an
// open descriptor, /dev/stdout) fails this.
bool walk_agrees(const char *path, int found, const struct stat &walked)
{
    struct stat named;
    if (stat(path, &named) != 0)
        return found == 0 && errno == ENOENT;
    return found == 1 && named.st_dev == walked.st_dev && named.st_ino == walked.st_ino;
}

// Opens the folder that holds n->target, the one descriptor every later
// step works relative to. The name is cut after the folder's final slash
// for the open only, so "/x" opens "/".
int open_folder(output_names *n)
{
    char *cut = n->base;
    char keep = *cut;
    *cut = '\0';
    const char *name = cut > n->target ? n->target : ".";
    int fd = open(name, O_RDONLY | O_DIRECTORY);
#ifdef O_PATH
    // A folder that may not be listed can still take a new file; it is
    // then neither swept nor synced.
    if (fd < 0 && errno == EACCES)
        fd = open(name, O_PATH | O_DIRECTORY);
#endif
    *cut = keep;
    return fd;
}

// Puts temporary name number `i` into n->temp.
void make_temp_name(output_names *n, int i)
{
    snprintf(n->temp, sizeof n->temp, "%s%ld-%d", TEMP_PREFIX, static_cast<long>(getpid()), i);
}

// Creates a new, empty file in the folder under a free name, in n->temp.
int create_temp(int dir, output_names *n)
{
    for (int i = 0; i < TEMP_NAME_TRIES; i++) {
        make_temp_name(n, i);
        int fd = openat(dir, n->temp, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Creates a new file without a name in the folder: a run cut off before the
// file is named leaves nothing behind. -1 where the kernel or the file
// system offers no such file.
int create_unnamed(int dir)
{
#ifdef O_TMPFILE
    return openat(dir, ".", O_WRONLY | O_TMPFILE, 0600);
#else
    (void)dir;
    return -1;
#endif
}

// Gives the unnamed file `fd` a free temporary name in the folder, in
// n->temp. Any process may link the file it holds through /proc; without
// /proc, a process that may look up every file can link the descriptor.
bool name_unnamed(int dir, int fd, output_names *n)
{
    char proc_name[32];
    snprintf(proc_name, sizeof proc_name, "/proc/self/fd/%d", fd);
    for (int i = 0; i < TEMP_NAME_TRIES; i++) {
        make_temp_name(n, i);
        if (linkat(AT_FDCWD, proc_name, dir, n->temp, AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST && linkat(fd, "", dir, n->temp, AT_EMPTY_PATH) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Gives the replacement the old file's owner, group and permission bits, so
// that the rename changes nothing but the content. Owner and group are kept
// as far as the process may set them; the mode is set last because a change
// of owner clears the set-user-ID and set-group-ID bits.
bool keep_attributes(int fd, const struct stat &old)
{
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        if (errno != EPERM)
            return false;
        if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM)
            return false;
    }
    return fchmod(fd, old.st_mode & 07777) == 0;
}

// Gives a file that replaces nothing the bits a newly created output gets,
// 0600 less the umask. Set here because a C library may hand open() the
// mode only together with O_CREAT, and an unnamed file is opened without
// it: it would otherwise keep no permission bits at all.
bool new_file_mode(int fd)
{
    mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0600 & ~mask) == 0;
}

// Fills a new file: the image, its attributes, then the sync. 0 or -errno.
int fill(int fd, const uint8_t *image, uint32_t len, const struct stat *old)
{
    if (int err = write_all(fd, image, len))
        return err;
    if (!(old ? keep_attributes(fd, *old) : new_file_mode(fd)) || fsync(fd) != 0)
        return -errno;
    return 0;
}

// Writes the replacement into the folder and leaves it named n->temp: 0
// when it is complete, -errno when it could not be written (and is gone
// again), IN_PLACE when no new file can be made in the folder.
int write_temp(int dir, output_names *n, const uint8_t *image, uint32_t len, const struct stat *old)
{
    int err = 0;
    int fd = create_unnamed(dir);
    if (fd >= 0) {
        err = fill(fd, image, len, old);
        if (err != 0)
            return close_err(fd, err);
        if (!name_unnamed(dir, fd, n)) {
            // Unnamed files that cannot be linked: a named one instead.
            close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        fd = create_temp(dir, n);
        if (fd < 0)
            return IN_PLACE;
        err = fill(fd, image, len, old);
    }
    err = close_err(fd, err);
    if (err != 0)
        unlinkat(dir, n->temp, 0);
    return err;
}

// Replaces n->base in the folder `dir` by a new file that holds the image:
// 0, -errno, or IN_PLACE.
int replace(int dir, output_names *n, const uint8_t *image, uint32_t len, const struct stat *old)
{
    lcr_sweep_leftovers(dir);
    if (old) {
        // Replacing a file is allowed only where overwriting it would be:
        // a write-protected output stays as it is.
        int probe = openat(dir, n->base, O_WRONLY);
        if (probe < 0)
            return -errno;
        close(probe);
    }
    if (int made = write_temp(dir, n, image, len, old))
        return made;
    if (renameat(dir, n->temp, dir, n->base) == 0) {
        // After a power cut the folder shows the new file, not the old one.
        // Some file systems cannot sync a folder; the rename has happened
        // all the same, so that is not an error.
        fsync(dir);
        return 0;
    }
    int err = -errno;
    unlinkat(dir, n->temp, 0);
    // A rename the folder refuses (a sticky folder, a file that is a mount
    // point) says nothing about the file itself, which may still be written
    // in place.
    if (err == -EACCES || err == -EPERM || err == -EBUSY || err == -EXDEV)
        return IN_PLACE;
    return err;
}

}  // namespace

int write_lcr_output(const char *path, const uint8_t *image, uint32_t len)
{
    output_names names;
    struct stat old;
    int found = resolve_target(path, &names, &old);
    // Replacing is for a regular file with one name, or a new file. A file
    // with more names is written in place so that every name sees the new
    // table, as the names of one file always do.
    if (found < 0 || !walk_agrees(path, found, old) ||
        (found == 1 && (!S_ISREG(old.st_mode) || old.st_nlink > 1)))
        return write_in_place(path, image, len);
    int dir = open_folder(&names);
    if (dir < 0)
        return write_in_place(path, image, len);
    int err = replace(dir, &names, image, len, found == 1 ? &old : nullptr);
    close(dir);
    return err == IN_PLACE ? write_in_place(path, image, len) : err;
}
