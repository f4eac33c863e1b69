// SPDX-License-Identifier: MIT
#include "burn_fake.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fake {

std::map<std::string, std::string> files;
std::map<int, open_file> open_files;
int forced_fd;
int fstat_calls;
int calls_behind_stdout;
std::vector<std::vector<std::pair<size_t, size_t>>> writes;
std::function<std::optional<int>(const std::string &path, int flags)> on_open;
std::function<std::optional<ssize_t>(open_file &f, void *buf, size_t len)> on_read;
std::function<std::optional<ssize_t>(open_file &f, const void *buf, size_t len)> on_write;
std::function<std::optional<int>(struct stat *st)> on_fstat;

namespace {

int next_fd;

void check_stdout()
{
    calls_behind_stdout += __fpending(stdout) != 0;
}

ssize_t do_read(open_file &f, void *buf, size_t len)
{
    const std::string &data = files[f.path];
    size_t n = f.pos < data.size() ? std::min(len, data.size() - f.pos) : 0;
    memcpy(buf, data.data() + f.pos, n);
    f.pos += n;
    return static_cast<ssize_t>(n);
}

int fake_open(const char *path, int flags)
{
    check_stdout();
    if (on_open)
        if (auto r = on_open(path, flags))
            return *r;
    // No test needs more than a few cycles: a run that keeps retrying by
    // mistake ends here instead of hanging the suite.
    if (!files.count(path) || writes.size() >= 10) {
        errno = ENOENT;
        return -1;
    }
    int fd = forced_fd >= 0 ? forced_fd : next_fd++;
    forced_fd = -1;
    open_files[fd] = {path, flags, 0};
    if ((flags & O_ACCMODE) == O_WRONLY)
        writes.emplace_back();
    return fd;
}

ssize_t fake_read(int fd, void *buf, size_t len)
{
    check_stdout();
    if (!open_files.count(fd)) {
        errno = EBADF;
        return -1;
    }
    open_file &f = open_files[fd];
    if (on_read)
        if (auto r = on_read(f, buf, len))
            return *r;
    return do_read(f, buf, len);
}

ssize_t fake_write(int fd, const void *buf, size_t len)
{
    check_stdout();
    if (!open_files.count(fd)) {
        errno = EBADF;
        return -1;
    }
    open_file &f = open_files[fd];
    writes.back().emplace_back(f.pos, len);
    if (on_write)
        if (auto r = on_write(f, buf, len))
            return *r;
    return do_write(f, buf, len);
}

int fake_close(int fd)
{
    check_stdout();
    return open_files.erase(fd) ? 0 : -1;
}

int fake_fstat(int fd, struct stat *st)
{
    check_stdout();
    fstat_calls++;
    *st = {};
    st->st_size = static_cast<off_t>(files[open_files[fd].path].size());
    if (on_fstat)
        if (auto r = on_fstat(st))
            return *r;
    return 0;
}

}  // namespace

void reset()
{
    files.clear();
    open_files.clear();
    writes.clear();
    next_fd = 3;
    forced_fd = -1;
    fstat_calls = 0;
    calls_behind_stdout = 0;
    on_open = nullptr;
    on_read = nullptr;
    on_write = nullptr;
    on_fstat = nullptr;
}

ssize_t do_write(open_file &f, const void *buf, size_t len)
{
    std::string &data = files[f.path];
    if (data.size() < f.pos + len)
        data.resize(f.pos + len);
    memcpy(data.data() + f.pos, buf, len);
    f.pos += len;
    return static_cast<ssize_t>(len);
}

const file_ops ops = {fake_open, fake_read, fake_write, fake_close, fake_fstat};

}  // namespace fake
