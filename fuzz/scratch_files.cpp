// SPDX-License-Identifier: MIT
#include "scratch_files.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "require.h"

namespace {

std::string dir;
std::map<std::string, std::string> paths;  // name -> path, for the removal at exit

void remove_all()
{
    for (const auto &[name, path] : paths)
        unlink(path.c_str());
    rmdir(dir.c_str());
}

}  // namespace

const char *scratch_path(const char *name)
{
    if (dir.empty()) {
        char templ[] = "/dev/shm/lcrtool-fuzz-XXXXXX", fallback[] = "/tmp/lcrtool-fuzz-XXXXXX";
        const char *made = mkdtemp(templ);
        made = made ? made : mkdtemp(fallback);
        require(made != nullptr, "cannot make a scratch directory");
        dir = made;
        atexit(remove_all);
    }
    auto [at, added] = paths.try_emplace(name, dir + "/" + name);
    return at->second.c_str();
}

const char *scratch_write(const char *name, const uint8_t *data, size_t len)
{
    const char *path = scratch_path(name);
    FILE *f = fopen(path, "wb");
    require(f && fwrite(data, 1, len, f) == len && fclose(f) == 0, "cannot write a scratch file");
    return path;
}

bool scratch_read(const char *name, std::string *bytes)
{
    FILE *f = fopen(scratch_path(name), "rb");
    if (!f)
        return false;
    bytes->clear();
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes->append(buf, n);
    fclose(f);
    return true;
}

void scratch_remove(const char *name)
{
    unlink(scratch_path(name));
}

void stdout_to(const char *name)
{
    require(freopen(name ? scratch_path(name) : "/dev/null", "w", stdout) != nullptr, "cannot redirect stdout");
}
