#include "output.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tmpfile_flag.h"

namespace {

// Name of the file the output path finally refers to, after symbolic links.
char target_path[PATH_MAX];
// Contents of one symbolic link while it is being followed.
char link_text[PATH_MAX];
// Name of the replacement while it is being written; the output's folder
// while that is opened.
char temp_path[PATH_MAX];

// The kernel gives up after as many hops; so do we.
constexpr int MAX_LINK_HOPS = 40;
// Attempts at a free temporary name before giving up on the atomic path.
constexpr int TEMP_NAME_TRIES = 100;

// Carries on after a short write and stops at an error. A write that
// reports 0 bytes would never finish, so it counts as a failure.
bool write_all(int fd, const uint8_t *buf, uint32_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, buf, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buf += n;
        len -= static_cast<uint32_t>(n);
    }
    return true;
}

// The way the output was always written: open with O_TRUNC and write.
int write_in_place(const char *path, const uint8_t *image, uint32_t len)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -1;
    bool ok = write_all(fd, image, len);
    if (close(fd) != 0)
        ok = false;
    return ok ? 0 : -1;
}

// Length of the folder part of `path`, its final slash included.
size_t folder_len(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

// Follows symbolic links from `path` into target_path. 1 when the final
// file exists (its status in `st`), 0 when it does not, -1 when the name
// cannot be worked out here (too long, a loop, no permission to look).
int resolve_target(const char *path, struct stat *st)
{
    size_t len = strlen(path);
    if (len >= sizeof target_path)
        return -1;
    memcpy(target_path, path, len + 1);
    for (int hop = 0; hop < MAX_LINK_HOPS; hop++) {
        if (lstat(target_path, st) != 0)
            return errno == ENOENT ? 0 : -1;
        if (!S_ISLNK(st->st_mode))
            return 1;
        ssize_t n = readlink(target_path, link_text, sizeof link_text);
        if (n < 0 || static_cast<size_t>(n) >= sizeof link_text)
            return -1;
        link_text[n] = '\0';
        // A relative link is read from the folder that holds the link.
        size_t keep = link_text[0] == '/' ? 0 : folder_len(target_path);
        if (keep + static_cast<size_t>(n) >= sizeof target_path)
            return -1;
        memcpy(target_path + keep, link_text, static_cast<size_t>(n) + 1);
    }
    return -1;
}

// Puts temporary name number `i` beside target_path into temp_path.
bool make_temp_name(int i)
{
    int folder = static_cast<int>(folder_len(target_path));
    int n = snprintf(temp_path, sizeof temp_path, "%.*s.lcrmerge-%ld-%d", folder, target_path,
                     static_cast<long>(getpid()), i);
    return n >= 0 && static_cast<size_t>(n) < sizeof temp_path;
}

// Puts the folder that holds target_path into temp_path.
bool make_folder_name()
{
    int folder = static_cast<int>(folder_len(target_path));
    const char *name = folder > 0 ? target_path : ".";
    int n = snprintf(temp_path, sizeof temp_path, "%.*s", folder > 0 ? folder : 1, name);
    return n >= 0 && static_cast<size_t>(n) < sizeof temp_path;
}

// Creates a new, empty file beside target_path, named in temp_path.
int create_temp()
{
    for (int i = 0; i < TEMP_NAME_TRIES; i++) {
        if (!make_temp_name(i))
            return -1;
        int fd = open(temp_path, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Creates a new file without a name in the folder of target_path: a run
// cut off before the file is named leaves nothing behind. -1 where the
// kernel or the file system offers no such file.
int create_unnamed()
{
#ifdef O_TMPFILE
    if (make_folder_name())
        return open(temp_path, O_WRONLY | O_TMPFILE, 0600);
#endif
    return -1;
}

// Gives the unnamed file `fd` a free temporary name beside target_path, in
// temp_path. Any process may link the file it holds through /proc; without
// /proc, a process that may look up every file can link the descriptor.
bool name_unnamed(int fd)
{
    char proc_name[32];
    snprintf(proc_name, sizeof proc_name, "/proc/self/fd/%d", fd);
    for (int i = 0; i < TEMP_NAME_TRIES; i++) {
        if (!make_temp_name(i))
            return false;
        if (linkat(AT_FDCWD, proc_name, AT_FDCWD, temp_path, AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST && linkat(fd, "", AT_FDCWD, temp_path, AT_EMPTY_PATH) == 0)
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

// Fills a new file: the image, its attributes, then the sync.
bool fill(int fd, const uint8_t *image, uint32_t len, const struct stat *old)
{
    return write_all(fd, image, len) && (old ? keep_attributes(fd, *old) : new_file_mode(fd)) &&
           fsync(fd) == 0;
}

// Closes `fd`; true when that and everything before it (`ok`) succeeded.
bool close_ok(int fd, bool ok)
{
    return close(fd) == 0 && ok;
}

// Writes the replacement beside target_path and leaves it named temp_path:
// 1 when it is complete, 0 when it could not be written (and is gone
// again), -1 when no new file can be made in that folder.
int write_temp(const uint8_t *image, uint32_t len, const struct stat *old)
{
    int fd = create_unnamed();
    if (fd >= 0) {
        if (!fill(fd, image, len, old)) {
            close(fd);
            return 0;
        }
        if (name_unnamed(fd)) {
            if (close_ok(fd, true))
                return 1;
            unlink(temp_path);
            return 0;
        }
        // Unnamed files that cannot be linked: a named one instead.
        close(fd);
    }
    fd = create_temp();
    if (fd < 0)
        return -1;
    if (close_ok(fd, fill(fd, image, len, old)))
        return 1;
    unlink(temp_path);
    return 0;
}

// Syncs the folder of target_path, so that after a power cut it shows the
// new file and not the old one. Some file systems cannot sync a folder; the
// rename has happened all the same, so that is not an error.
void sync_folder()
{
    if (!make_folder_name())
        return;
    int fd = open(temp_path, O_RDONLY);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
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

}  // namespace

int write_lcr_output(const char *path, const uint8_t *image, uint32_t len)
{
    struct stat old;
    int found = resolve_target(path, &old);
    // Replacing is for a regular file with one name, or a new file. A file
    // with more names is written in place so that every name sees the new
    // table, as the names of one file always do.
    if (found < 0 || !walk_agrees(path, found, old) ||
        (found == 1 && (!S_ISREG(old.st_mode) || old.st_nlink > 1)))
        return write_in_place(path, image, len);
    if (found == 1) {
        // Replacing a file is allowed only where overwriting it would be:
        // a write-protected output stays as it is.
        int probe = open(target_path, O_WRONLY);
        if (probe < 0)
            return -1;
        close(probe);
    }
    int made = write_temp(image, len, found == 1 ? &old : nullptr);
    if (made < 0)
        return write_in_place(path, image, len);
    if (made == 0)
        return -1;
    if (rename(temp_path, target_path) == 0) {
        sync_folder();
        return 0;
    }
    int err = errno;
    unlink(temp_path);
    // A rename the folder refuses (a sticky folder, a file that is a mount
    // point) says nothing about the file itself, which may still be written
    // in place.
    if (err == EACCES || err == EPERM || err == EBUSY || err == EXDEV)
        return write_in_place(path, image, len);
    return -1;
}
