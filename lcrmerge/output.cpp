#include "output.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// Name of the file the output path finally refers to, after symbolic links.
char target_path[PATH_MAX];
// Contents of one symbolic link while it is being followed.
char link_text[PATH_MAX];
// Name of the replacement while it is being written.
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

// Creates a new, empty file beside target_path, named in temp_path.
int create_temp()
{
    int folder = static_cast<int>(folder_len(target_path));
    for (int i = 0; i < TEMP_NAME_TRIES; i++) {
        int n = snprintf(temp_path, sizeof temp_path, "%.*s.lcrmerge-%ld-%d", folder, target_path,
                         static_cast<long>(getpid()), i);
        if (n < 0 || static_cast<size_t>(n) >= sizeof temp_path)
            return -1;
        int fd = open(temp_path, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
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

}  // namespace

int write_lcr_output(const char *path, const uint8_t *image, uint32_t len)
{
    struct stat old;
    int found = resolve_target(path, &old);
    if (found < 0 || (found == 1 && !S_ISREG(old.st_mode)))
        return write_in_place(path, image, len);
    if (found == 1) {
        // Replacing a file is allowed only where overwriting it would be:
        // a write-protected output stays as it is.
        int probe = open(target_path, O_WRONLY);
        if (probe < 0)
            return -1;
        close(probe);
    }
    int fd = create_temp();
    if (fd < 0)
        return write_in_place(path, image, len);
    bool ok = write_all(fd, image, len) && (found == 0 || keep_attributes(fd, old)) && fsync(fd) == 0;
    if (close(fd) != 0)
        ok = false;
    if (ok && rename(temp_path, target_path) == 0)
        return 0;
    int err = errno;
    unlink(temp_path);
    // A rename the folder refuses (a sticky folder, a file that is a mount
    // point) says nothing about the file itself, which may still be written
    // in place. A failed write or sync does: the old content stays.
    if (ok && (err == EACCES || err == EPERM || err == EBUSY || err == EXDEV))
        return write_in_place(path, image, len);
    return -1;
}
