// SPDX-License-Identifier: MIT
#include "run_program.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifndef DEVTOOLS_EMULATOR
#define DEVTOOLS_EMULATOR ""
#endif

namespace {

std::vector<std::string> split(const std::string &text, char sep)
{
    std::vector<std::string> words;
    std::stringstream list(text);
    std::string word;
    while (std::getline(list, word, sep))
        if (!word.empty())
            words.push_back(word);
    return words;
}

// DEVTOOLS_EMULATOR is the build's emulator command as a ;-separated list.
std::vector<std::string> emulator_words()
{
    return split(DEVTOOLS_EMULATOR, ';');
}

// The programs of another build of the same sources (the uClibc-ng device
// build) can stand in for this build's: DEVTOOLS_PROGRAMS names that build's
// folder, DEVTOOLS_PROGRAMS_EMULATOR the command, words separated by blanks,
// that starts them (its own C library tree, another CPU).
const char *programs_build()
{
    const char *dir = getenv("DEVTOOLS_PROGRAMS");
    return dir && *dir ? dir : nullptr;
}

// <build>/<name>/<name> as <other build>/<name>/<name>, where that build
// has the program; "" otherwise. A device build without lcrtool
// (DEVTOOLS_LCRTOOL off) leaves this build's own in use for it.
std::string stand_in(const std::string &path)
{
    size_t last = path.rfind('/');
    if (!programs_build() || last == std::string::npos || last == 0)
        return "";
    size_t dir = path.rfind('/', last - 1);
    std::string other = programs_build() + path.substr(dir == std::string::npos ? last : dir);
    return access(other.c_str(), F_OK) == 0 ? other : "";
}

std::vector<std::string> program_emulator_words(const std::string &path)
{
    const char *other = getenv("DEVTOOLS_PROGRAMS_EMULATOR");
    if (other && !stand_in(path).empty())
        return split(other, ' ');
    return emulator_words();
}

}  // namespace

std::string program_path(const std::string &path)
{
    std::string other = stand_in(path);
    return other.empty() ? path : other;
}

std::string fault_shim_path(const std::string &built)
{
    return programs_build() ? std::string(programs_build()) + "/libfault_shim.so" : built;
}

bool running_under_emulator()
{
    return !emulator_words().empty();
}

run_result run_program(const std::string &path, const std::vector<std::string> &args,
                       const run_options &opts)
{
    std::vector<std::string> argv_words = program_emulator_words(path);
    const bool emulated = !argv_words.empty();
    // An emulator takes the guest's environment as -E options: variables
    // such as LD_PRELOAD must reach the guest program, not the emulator.
    std::vector<std::string> guest_env;
    for (const auto &e : opts.env) {
        if (emulated) {
            argv_words.push_back("-E");
            argv_words.push_back(e);
        } else {
            guest_env.push_back(e);
        }
    }
    argv_words.push_back(program_path(path));
    argv_words.insert(argv_words.end(), args.begin(), args.end());

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        abort();
    // The input goes into the pipe whole before the child starts, so the
    // child reads a pipe, not a file, and nothing waits on it.
    int in_fd;
    if (opts.input) {
        int in_pipe[2];
        if (pipe(in_pipe) != 0)
            abort();
        if (write(in_pipe[1], opts.input->data(), opts.input->size()) != static_cast<ssize_t>(opts.input->size()))
            abort();
        close(in_pipe[1]);
        in_fd = in_pipe[0];
    } else {
        in_fd = open("/dev/null", O_RDONLY);
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(opts.stdout_path.empty() ? out_pipe[1] : open(opts.stdout_path.c_str(), O_WRONLY), 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[0]);
        close(err_pipe[1]);
        opts.stdin_closed ? close(0) : dup2(in_fd, 0);
        close(in_fd);
        umask(static_cast<mode_t>(opts.umask));
        if (!opts.cwd.empty() && chdir(opts.cwd.c_str()) != 0)
            _exit(127);
        if (opts.fsize_limit >= 0) {
            struct rlimit lim = {static_cast<rlim_t>(opts.fsize_limit),
                                 static_cast<rlim_t>(opts.fsize_limit)};
            setrlimit(RLIMIT_FSIZE, &lim);
        }
        signal(SIGXFSZ, opts.ignore_sigxfsz ? SIG_IGN : SIG_DFL);
        for (const auto &e : guest_env)
            putenv(strdup(e.c_str()));
        std::vector<char *> argv;
        for (auto &w : argv_words)
            argv.push_back(const_cast<char *>(w.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    close(in_fd);

    run_result result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(opts.timeout_ms);
    bool out_open = true, err_open = true, killed = false;
    char buf[65536];
    while (out_open || err_open) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()).count();
        if (!killed && left <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            killed = true;
        }
        pollfd fds[2] = {{out_open ? out_pipe[0] : -1, POLLIN, 0},
                         {err_open ? err_pipe[0] : -1, POLLIN, 0}};
        poll(fds, 2, killed ? 1000 : static_cast<int>(left > 0 ? left : 0));
        for (int i = 0; i < 2; i++) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                (i == 0 ? out_open : err_open) = false;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
        }
    }
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

scratch_dir::scratch_dir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "devtools-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        abort();
    path = tmpl;
}

scratch_dir::~scratch_dir()
{
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
}

// readdir64: a 32-bit program under an emulator fails with plain readdir on
// file systems whose folder offsets need 64 bits.
std::set<std::string> dir_entries(const std::string &dir)
{
    std::set<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent64 *e = readdir64(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            names.insert(e->d_name);
    closedir(d);
    return names;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
