// SPDX-License-Identifier: MIT
// The lcrmerge program end to end: arguments, load order, exit statuses,
// inputs that cannot be read or that the output names, and what happens to
// the output file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "merge_example.h"
#include "run_program.h"

namespace {

const std::string USAGE =
    "4 parameters: mode current_lcr current_default_lcr modified_lcr needed!\n"
    "mode '1': alles im ersten Set l" "\xF6" "schen, was nicht im zweiten ist\n"
    "mode '2': alles im ersten Set l" "\xF6" "schen was auch im zweiten ist\n";

ino_t inode(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

mode_t permissions(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// A run in a scratch folder that holds first.lcr and second.lcr. In the
// arguments, {dir} stands for the folder.
struct driver : ::testing::Test {
    scratch_dir dir;
    driver()
    {
        write_file(dir.file("first.lcr"), FIRST);
        write_file(dir.file("second.lcr"), SECOND);
    }
    run_result run(std::vector<std::string> args, const run_options &opts = {})
    {
        for (auto &a : args)
            for (size_t at; (at = a.find("{dir}")) != std::string::npos;)
                a.replace(at, 5, dir.path);
        return run_program(LCRMERGE_PATH, args, opts);
    }
    void expect_files(std::set<std::string> extra)
    {
        extra.insert({"first.lcr", "second.lcr"});
        EXPECT_EQ(dir_entries(dir.path), extra);
    }
};

// Arguments and files. A row runs in the scratch folder, which also holds
// v4.lcr (an image of version 4), FIRST cut short at a record boundary
// (cut.lcr) and inside a record (cut-in-record.lcr), FIRST with 20 bytes
// after its trie (junk.lcr), full.lcr and drop40.lcr (see full_pool), an
// empty folder "folder", a FIFO "fifo" without a writer (opening it would
// block, so a run that ends at once has not opened it), and out.lcr (OLD)
// when `output_exists_before`. `output` is the content out.lcr should
// hold afterwards; empty means it must not exist.
struct args_case {
    const char *what;
    std::vector<std::string> args;
    bool output_exists_before;
    int status;
    std::string stdout_text;
    std::string output;
    std::string first = FIRST;  // first.lcr and second.lcr afterwards
    std::string second = SECOND;
    long fsize_limit = -1;
    std::string stderr_text = "";
};

// Mode 1 of a set against itself keeps the rules with provider 0; mode 2
// removes them but for the emergency number, and adds 112 and 19222.
const std::string SELF1 = merge_image({{"0301", 3}, {"0900", 64}, {"110", 0}});
const std::string SELF2 = merge_image({{"0302", 13}, {"110", 0}, {"112", 0}, {"19222", 0}});

// A first set whose trie takes all 499 records the compiler has: the root,
// the ten one-digit and hundred two-digit paths, the 388 three-digit
// numbers 400 to 787. Every number has route 1 (area 2). Mode 2 against
// DROP_40 keeps them all but "40", whose record 400 to 409 still need, and
// then finds no record for 110, 112 ("11" is there, "110" and "112" are
// not) or 19222 ("192").
std::string full_pool()
{
    std::vector<std::pair<std::string, uint8_t>> rules;
    for (int n = 0; n < 100; n++)
        rules.push_back({std::to_string(n / 10) + std::to_string(n % 10), 2});
    for (int n = 400; n < 788; n++)
        rules.push_back({std::to_string(n), 2});
    return merge_image(rules);
}

const std::string DROP_40 = merge_image({{"40", 2}});
const std::string POOL_FULL = "ERROR  Telefon locate tree too large\n";

const args_case ARGS_CASES[] = {
    {"no arguments", {}, false, 1, USAGE, ""},
    {"three arguments", {"1", "{dir}/first.lcr", "{dir}/second.lcr"}, false, 1, USAGE, ""},
    {"mode 1", {"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, false, 0, "", MODE1},
    {"mode 2", {"2", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, false, 0, "", MODE2},
    {"extra arguments ignored", {"2", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr", "x", "{dir}/y"},
     false, 0, "", MODE2},
    {"2abc is mode 2", {"2abc", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, false, 0, "", MODE2},
    {"blank and 1 is mode 1", {" 1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, false, 0, "", MODE1},
    {"+1 is mode 1", {"+1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, true, 0, "", MODE1},
    {"mode 0", {"0", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, true, 1, "", OLD},
    {"mode 3", {"3", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, false, 1, "", ""},
    {"mode -1", {"-1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, true, 1, "", OLD},
    {"mode x", {"x", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, true, 1, "", OLD},
    {"empty mode", {"", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, true, 1, "", OLD},
    {"mode 2^32 + 2", {"4294967298", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, true, 1, "", OLD},
    {"mode 2^32 + 1", {"4294967297", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, false, 1, "", ""},
    {"first input missing", {"1", "{dir}/none.lcr", "{dir}/fifo", "{dir}/out.lcr"}, true, 1, "", OLD},
    {"second input missing", {"1", "{dir}/first.lcr", "{dir}/none.lcr", "{dir}/out.lcr"}, false, 1, "", ""},
    {"second input of version 4", {"2", "{dir}/first.lcr", "{dir}/v4.lcr", "{dir}/out.lcr"}, true, 1, "", OLD},
    // A folder opens for reading, and then the read fails.
    {"first input unreadable", {"1", "folder", "second.lcr", "out.lcr"}, true, 1, "", OLD},
    {"second input unreadable", {"1", "first.lcr", "folder", "out.lcr"}, true, 1, "", OLD},
    {"empty input", {"2", "first.lcr", "/dev/null", "out.lcr"}, true, 1, "", OLD},
    // A table cut short (an interrupted download, a full partition) is
    // refused rather than merged as the smaller table it seems to hold.
    {"first input cut at a record", {"2", "cut.lcr", "second.lcr", "out.lcr"}, true, 1, "", OLD},
    {"second input cut inside a record", {"1", "first.lcr", "cut-in-record.lcr", "out.lcr"}, true, 1, "", OLD},
    {"bytes after the trie are ignored", {"2", "junk.lcr", "second.lcr", "out.lcr"}, true, 0, "", MODE2},
    {"output is a folder", {"1", "first.lcr", "second.lcr", "folder"}, false, 1, "", ""},
    {"missing output folder", {"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/no/out.lcr"}, false, 1, "", ""},
    {"full device", {"1", "{dir}/first.lcr", "{dir}/second.lcr", "/dev/full"}, false, 1, "", ""},
    // A file size limit stops the write part-way, as a full disk would: the
    // old content stays and the unfinished replacement is gone.
    {"failed write keeps old output", {"2", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, true, 1, "",
     OLD, FIRST, SECOND, 4096},
    // An output that names an input is written once that input is read
    // whole; a failed run leaves that input whole.
    {"output names the first input", {"2", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/first.lcr"}, false, 0, "",
     "", MODE2},
    {"output names the second input", {"1", "first.lcr", "second.lcr", "second.lcr"}, true, 0, "", OLD, FIRST, MODE1},
    {"both inputs are the output, mode 1", {"1", "first.lcr", "first.lcr", "first.lcr"}, true, 0, "", OLD, SELF1},
    {"both inputs are the output, mode 2", {"2", "first.lcr", "first.lcr", "first.lcr"}, true, 0, "", OLD, SELF2},
    {"failed run keeps input that is output", {"3", "first.lcr", "second.lcr", "first.lcr"}, true, 1, "", OLD},
    // Only in mode 2 is the merged set too large for the compiler.
    {"mode 2 without room for the emergency numbers", {"2", "full.lcr", "drop40.lcr", "out.lcr"}, true, 1, "", OLD,
     FIRST, SECOND, -1, POOL_FULL + POOL_FULL + POOL_FULL},
    {"mode 1 on the pool-filling images", {"1", "full.lcr", "drop40.lcr", "out.lcr"}, true, 0, "", DROP_40},
};

void PrintTo(const args_case &c, std::ostream *os)
{
    *os << c.what;
}

struct driver_args : driver, ::testing::WithParamInterface<args_case> {};

TEST_P(driver_args, Row)
{
    const args_case &c = GetParam();
    write_file(dir.file("v4.lcr"), image_writer().version(4).bytes);
    write_file(dir.file("cut.lcr"), FIRST.substr(0, FIRST.size() - image_writer::record_size));
    write_file(dir.file("cut-in-record.lcr"), FIRST.substr(0, FIRST.size() - 1));
    write_file(dir.file("junk.lcr"), FIRST + std::string(20, '\x55'));
    write_file(dir.file("full.lcr"), full_pool());
    write_file(dir.file("drop40.lcr"), DROP_40);
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    if (c.output_exists_before)
        write_file(dir.file("out.lcr"), OLD);
    const ino_t before = c.output_exists_before ? inode(dir.file("out.lcr")) : 0;
    run_options opts;
    opts.cwd = dir.path;
    opts.fsize_limit = c.fsize_limit;
    opts.ignore_sigxfsz = true;
    run_result r = run(c.args, opts);
    EXPECT_EQ(r.exit_code, c.status);
    EXPECT_EQ(r.out, c.stdout_text);
    EXPECT_EQ(r.err, c.stderr_text);
    EXPECT_TRUE(read_file(dir.file("first.lcr")) == c.first) << "first.lcr differs";
    EXPECT_TRUE(read_file(dir.file("second.lcr")) == c.second) << "second.lcr differs";
    std::set<std::string> files = {"v4.lcr",   "cut.lcr",    "cut-in-record.lcr", "junk.lcr",
                                   "full.lcr", "drop40.lcr", "folder",            "fifo"};
    if (!c.output.empty()) {
        files.insert("out.lcr");
        EXPECT_TRUE(read_file(dir.file("out.lcr")) == c.output) << "out.lcr differs";
    }
    expect_files(files);
    EXPECT_TRUE(dir_entries(dir.file("folder")).empty());
    // A refused run does not even replace the output with a copy of itself.
    if (c.status != 0 && c.output_exists_before) {
        EXPECT_EQ(inode(dir.file("out.lcr")), before);
    }
}

// A test's name from its case's description, letters and digits kept.
INSTANTIATE_TEST_SUITE_P(Driver, driver_args, ::testing::ValuesIn(ARGS_CASES), [](const auto &info) {
    std::string name;
    for (char ch : std::string(info.param.what))
        name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
});

TEST_F(driver, NewOutputGets0600LessUmask)
{
    for (int mask : {022, 0277}) {
        unlink(dir.file("out.lcr").c_str());
        run_options opts;
        opts.umask = mask;
        EXPECT_EQ(run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, opts).exit_code, 0);
        EXPECT_EQ(permissions(dir.file("out.lcr")), 0600 & ~mask) << "umask " << mask;
    }
}

// Started with standard input closed, the program gets descriptor 0 for a
// file or folder it opens, and uses it like any other: the table is still
// replaced whole.
TEST_F(driver, StandardInputClosed)
{
    write_file(dir.file("out.lcr"), OLD);
    const ino_t before = inode(dir.file("out.lcr"));
    run_options opts;
    opts.stdin_closed = true;
    EXPECT_EQ(run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, opts).exit_code, 0);
    EXPECT_EQ(read_file(dir.file("out.lcr")), MODE1);
    EXPECT_NE(inode(dir.file("out.lcr")), before);
}

TEST_F(driver, ExistingOutputKeepsModeAndOwner)
{
    write_file(dir.file("out.lcr"), OLD);
    chmod(dir.file("out.lcr").c_str(), 0654);
    // Only root may give a file away; elsewhere the owner is ours anyway.
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(dir.file("out.lcr").c_str(), 4321, 8765), 0);
    }
    const ino_t before = inode(dir.file("out.lcr"));
    run_options opts;
    opts.umask = 077;
    EXPECT_EQ(run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}, opts).exit_code, 0);
    EXPECT_TRUE(read_file(dir.file("out.lcr")) == MODE1);
    // A new file took the name: the old one was never half-written.
    EXPECT_NE(inode(dir.file("out.lcr")), before);
    EXPECT_EQ(permissions(dir.file("out.lcr")), 0654u);
    struct stat st {};
    stat(dir.file("out.lcr").c_str(), &st);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 8765u);
    }
    expect_files({"out.lcr"});
}

// A link is followed, relative to the folder that holds it; the link stays.
TEST_F(driver, SymbolicLinkOutputReplacesItsTarget)
{
    ASSERT_EQ(mkdir(dir.file("a").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("b").c_str(), 0700), 0);
    write_file(dir.file("b/target.lcr"), OLD);
    chmod(dir.file("b/target.lcr").c_str(), 0640);
    ASSERT_EQ(symlink("../b/target.lcr", dir.file("a/link").c_str()), 0);
    ASSERT_EQ(symlink("../b/new.lcr", dir.file("a/dangling").c_str()), 0);
    const ino_t before = inode(dir.file("b/target.lcr"));

    EXPECT_EQ(run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/a/link"}).exit_code, 0);
    EXPECT_EQ(run({"2", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/a/dangling"}).exit_code, 0);

    EXPECT_TRUE(read_file(dir.file("b/target.lcr")) == MODE1);
    EXPECT_EQ(permissions(dir.file("b/target.lcr")), 0640u);
    EXPECT_NE(inode(dir.file("b/target.lcr")), before);
    EXPECT_TRUE(read_file(dir.file("b/new.lcr")) == MODE2);
    EXPECT_EQ(permissions(dir.file("b/new.lcr")), 0600u & ~022u);
    char text[64] = {};
    EXPECT_GT(readlink(dir.file("a/link").c_str(), text, sizeof text - 1), 0);
    EXPECT_STREQ(text, "../b/target.lcr");
    EXPECT_EQ(dir_entries(dir.file("a")), std::set<std::string>({"link", "dangling"}));
    EXPECT_EQ(dir_entries(dir.file("b")), std::set<std::string>({"target.lcr", "new.lcr"}));
}

// Every name of a file with more than one hard link sees the new table:
// such a file is written in place, not replaced under one of its names.
TEST_F(driver, HardLinkedOutputIsWrittenInPlace)
{
    write_file(dir.file("out.lcr"), OLD);
    ASSERT_EQ(link(dir.file("out.lcr").c_str(), dir.file("other.lcr").c_str()), 0);
    const ino_t before = inode(dir.file("out.lcr"));
    EXPECT_EQ(run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/out.lcr"}).exit_code, 0);
    EXPECT_TRUE(read_file(dir.file("out.lcr")) == MODE1);
    EXPECT_TRUE(read_file(dir.file("other.lcr")) == MODE1);
    EXPECT_EQ(inode(dir.file("out.lcr")), before);
    expect_files({"out.lcr", "other.lcr"});
}

// The text of a /proc link to an open descriptor names no file; the kernel
// still opens the descriptor's file through it, deleted as that file is.
// The image goes there, and no file named after the link's text appears.
TEST_F(driver, DescriptorOfADeletedFileIsWrittenThrough)
{
    if (access("/proc/self/fd", F_OK) != 0)
        GTEST_SKIP() << "no /proc on this machine";
    write_file(dir.file("gone"), OLD);
    int fd = open(dir.file("gone").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    unlink(dir.file("gone").c_str());
    run_result r = run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "/proc/self/fd/" + std::to_string(fd)});
    std::string got(MODE1.size() + 1, '\0');
    ssize_t n = pread(fd, got.data(), got.size(), 0);
    close(fd);
    EXPECT_EQ(r.exit_code, 0);
    got.resize(n > 0 ? static_cast<size_t>(n) : 0);
    EXPECT_TRUE(got == MODE1);
    expect_files({});
}

// A FIFO cannot be replaced; the image goes through it. The test holds the
// FIFO open for reading and writing, so the program's open does not wait.
TEST_F(driver, FifoOutputIsWrittenInPlace)
{
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    int fd = open(dir.file("pipe").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/pipe"}).exit_code, 0);
    std::string got(MODE1.size() + 1, '\0');
    ssize_t n = read(fd, got.data(), got.size());
    close(fd);
    ASSERT_GE(n, 0);
    got.resize(static_cast<size_t>(n));
    EXPECT_TRUE(got == MODE1);
    expect_files({"pipe"});
}

// Permission checks that root bypasses.
TEST_F(driver, FolderPermissionsWithoutRoot)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root ignores file permissions";
    ASSERT_EQ(mkdir(dir.file("ro").c_str(), 0700), 0);
    write_file(dir.file("ro/out.lcr"), OLD);
    write_file(dir.file("ro/locked.lcr"), OLD);
    chmod(dir.file("ro/locked.lcr").c_str(), 0444);
    chmod(dir.file("ro").c_str(), 0555);
    // A writable file in a folder that takes no new file is written in place.
    EXPECT_EQ(run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/ro/out.lcr"}).exit_code, 0);
    EXPECT_TRUE(read_file(dir.file("ro/out.lcr")) == MODE1);
    chmod(dir.file("ro").c_str(), 0755);
    // A write-protected file is not replaced behind its back.
    EXPECT_EQ(run({"1", "{dir}/first.lcr", "{dir}/second.lcr", "{dir}/ro/locked.lcr"}).exit_code, 1);
    EXPECT_EQ(read_file(dir.file("ro/locked.lcr")), OLD);
    EXPECT_EQ(dir_entries(dir.file("ro")), std::set<std::string>({"out.lcr", "locked.lcr"}));
}

}  // namespace
