// Faults of the cycle on real files, injected through a file-operations
// table that counts the calls of each kind and lets one of them misbehave:
// a fill write that takes nothing at a given byte, a failing read in the
// comparison, and a target that cannot be opened again when a cycle repeats.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "burn_in_process.h"
#include "cycle.h"
#include "image_fixture.h"
#include "run_program.h"

namespace {

// Which call misbehaves: the nth of its kind, counted from 1 over the run,
// or for fill_write_zero the write that covers byte nth of the target.
struct fault {
    enum kind { none, fill_write_zero, compare_read_error, target_open_error } what = none;
    int nth = 0;
};

fault active;
int target_reads, target_opens;
int target_read_fd = -1;  // the target as the comparison opened it
bool corrupt_first_cycle;

int fake_open(const char *path, int flags)
{
    const bool target = std::string(path).ends_with("tgt");
    if (target && (flags & O_ACCMODE) == O_WRONLY && ++target_opens == active.nth &&
        active.what == fault::target_open_error) {
        errno = EIO;
        return -1;
    }
    int fd = open(path, flags);
    if (target && (flags & O_ACCMODE) == O_RDONLY)
        target_read_fd = fd;
    return fd;
}

ssize_t fake_read(int fd, void *buf, size_t len)
{
    if (active.what == fault::compare_read_error && fd == target_read_fd && ++target_reads == active.nth) {
        errno = EIO;
        return -1;
    }
    return read(fd, buf, len);
}

ssize_t fake_write(int fd, const void *buf, size_t len)
{
    if (active.what == fault::fill_write_zero) {
        const off_t pos = lseek(fd, 0, SEEK_CUR);
        if (pos <= active.nth && active.nth < pos + static_cast<off_t>(len)) {
            errno = 0;
            return 0;
        }
    }
    // The first cycle's first chunk lands with one byte inverted, so its
    // comparison fails and the cycle repeats.
    if (corrupt_first_cycle && target_opens == 1 && lseek(fd, 0, SEEK_CUR) == 0 && len > 1) {
        std::string copy(static_cast<const char *>(buf), len);
        copy[0] = static_cast<char>(~copy[0]);
        return write(fd, copy.data(), len);
    }
    return write(fd, buf, len);
}

const file_ops ops = {fake_open, fake_read, fake_write, close, fstat};

// Runs "P args..." with the counts at zero and "img" and "tgt" standing
// for those files in `dir`.
burn_result burn(const scratch_dir &dir, std::vector<std::string> args)
{
    target_reads = target_opens = 0;
    target_read_fd = -1;
    for (auto &a : args)
        if (a == "img" || a == "tgt")
            a = dir.file(a);
    return burn_in_process(std::move(args), ops);
}

class CycleFault : public ::testing::Test {
protected:
    scratch_dir dir;
    const std::string image = make_image(150000);
    const std::string before = std::string(300000, 'Z');
    std::string head, closing, checked;

    void SetUp() override
    {
        write_file(dir.file("img"), image);
        write_file(dir.file("tgt"), before);
        head = "P: copy " + dir.file("img") + " to " + dir.file("tgt") + "\nprogramming: ";
        closing = "closing: " + dir.file("tgt") + " \n";
        checked = "check firmware on: " + dir.file("tgt") + " check firmware " + dir.file("tgt") + " success ";
    }
    void TearDown() override
    {
        active = {};
        corrupt_first_cycle = false;
    }
};

// A fill write that takes nothing ends the fill with its message (the
// result 0 and errno) at that byte, here the 101st of the fill; the run
// still succeeds on its copy.
TEST_F(CycleFault, FillWriteReturningZeroEndsTheFill)
{
    active = {fault::fill_write_zero, 149992 + 100};
    burn_result r = burn(dir, {"img", "tgt", "-f", "0x40000"});
    EXPECT_EQ(r.out, head + "...\nP: write 112152 0xFF to end of mtd\nP: write error 0 errno 0\n" + closing +
                         "P: successful!\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(difference(read_file(dir.file("tgt")), expected_target(image, before, 149992, 100)), "");
}

// A failing read of the target in the comparison counts as a length error,
// and the whole cycle runs again.
TEST_F(CycleFault, ReadErrorInTheComparisonRepeatsTheCycle)
{
    active = {fault::compare_read_error, 2};
    burn_result r = burn(dir, {"img", "tgt", "-c"});
    EXPECT_EQ(r.out, head + "...\n" + closing + "check firmware on: " + dir.file("tgt") +
                         " check firmware read error (len error)" + head + "...\n" + closing + checked +
                         "P: successful!\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(difference(read_file(dir.file("tgt")), expected_target(image, before, 149992, 0)), "");
}

// A target that cannot be opened when a failed comparison starts the next
// cycle ends the run at once, silently and with status -1.
TEST_F(CycleFault, TargetOpenFailingOnTheRetryEndsTheRun)
{
    corrupt_first_cycle = true;
    active = {fault::target_open_error, 2};
    burn_result r = burn(dir, {"img", "tgt", "-c"});
    EXPECT_EQ(r.out, head + "...\n" + closing + "check firmware on: " + dir.file("tgt") +
                         " check firmware read error (cmp error)");
    EXPECT_EQ(r.status, -1);
}

}  // namespace
