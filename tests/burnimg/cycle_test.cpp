// SPDX-License-Identifier: MIT
// Faults injected through the file-operations table: an in-memory file
// system (support/burn_fake) whose hooks replace chosen calls.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "burn_fake.h"
#include "image_fixture.h"
#include "run.h"

namespace {

const std::string image = make_image(150000);
const std::string before(1000, 'Z');  // what the target holds before a run

struct burn_result {
    int status;
    std::string out;
};

// Runs burnimg as "P args..." on the fake files "img" and "tgt".
burn_result burn(std::vector<std::string> args)
{
    std::vector<char *> argv{const_cast<char *>("P")};
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    int status = burnimg_main(static_cast<int>(argv.size() - 1), argv.data(), fake::ops);
    return {status, testing::internal::GetCapturedStdout()};
}

struct fault_case {
    const char *name;
    std::function<void()> inject;
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string target;  // the target's bytes afterwards
};

// Every test starts from an image "img" and a shorter existing target "tgt".
void PrintTo(const fault_case &c, std::ostream *os)
{
    *os << c.name;
}

class fake_files : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset();
        fake::files["img"] = image;
        fake::files["tgt"] = before;
    }
    void TearDown() override { fake::reset(); }
};

class Fault : public fake_files, public ::testing::WithParamInterface<fault_case> {};

TEST_P(Fault, LeavesMessageStatusAndTarget)
{
    const fault_case &c = GetParam();
    c.inject();
    burn_result r = burn(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(difference(fake::files["tgt"], c.target), "");
    EXPECT_TRUE(fake::open_files.empty()) << "a descriptor was left open";
    EXPECT_EQ(fake::calls_behind_stdout, 0);
}

// Makes the nth read (counting from 1) of `path`, or of any file, fail
// with EIO.
void fail_read(int nth, const std::string &path = "")
{
    fake::on_read = [=, n = 0](fake::open_file &f, void *, size_t) mutable -> std::optional<ssize_t> {
        if ((!path.empty() && f.path != path) || ++n != nth)
            return std::nullopt;
        errno = EIO;
        return -1;
    };
}

const std::string cycle_head = "P: copy img to tgt\nprogramming: ";
const std::string closing = "closing: tgt \n";
const std::string checked = "check firmware on: tgt check firmware tgt success ";
const std::string eio = std::to_string(EIO);

// Makes every write with refused(offset, length) take nothing and return
// result with errno err.
void refuse_writes(std::function<bool(size_t, size_t)> refused, ssize_t result, int err)
{
    fake::on_write = [=](fake::open_file &f, const void *, size_t len) -> std::optional<ssize_t> {
        if (!refused(f.pos, len))
            return std::nullopt;
        errno = err;
        return result;
    };
}

// Makes every write that covers byte `bad` act as refuse_writes says.
void refuse_byte(size_t bad, ssize_t result, int err)
{
    refuse_writes([bad](size_t pos, size_t len) { return pos <= bad && bad < pos + len; }, result, err);
}

// A device of `end` bytes: a write reaching past the end is cut short there,
// and one starting at the end fails with ENOSPC.
void device_end(size_t end)
{
    fake::on_write = [end](fake::open_file &f, const void *buf, size_t len) -> std::optional<ssize_t> {
        if (f.pos < end && f.pos + len > end)
            return fake::do_write(f, buf, end - f.pos);
        if (f.pos < end)
            return std::nullopt;
        errno = ENOSPC;
        return -1;
    };
}

// A corrupting target: the first byte of the chunk at offset 0 is stored
// inverted in the first `cycles` cycles.
void corrupt_first_byte(size_t cycles)
{
    fake::on_write = [cycles](fake::open_file &f, const void *buf, size_t len) -> std::optional<ssize_t> {
        if (fake::writes.size() > cycles || f.pos != 0 || len == 0)
            return std::nullopt;
        std::string copy(static_cast<const char *>(buf), len);
        copy[0] = static_cast<char>(~copy[0]);
        return fake::do_write(f, copy.data(), len);
    };
}

const std::string mismatch_cycle =
    cycle_head + "...\n" + closing + "check firmware on: tgt check firmware read error (cmp error)";
// A cycle whose comparison finds the target short, then a clean one.
const std::string short_then_clean = cycle_head + "...\n" + closing +
                                     "check firmware on: tgt check firmware read error (len error)" + cycle_head +
                                     "...\n" + closing + checked + "P: successful!\n";

// The fill after the 149992 bytes of a clean copy, up to 0x40000.
const std::vector<std::string> fill_args = {"img", "tgt", "-f", "0x40000"};
const size_t fill_from = 149992;
const std::string fill_head = cycle_head + "...\nP: write 112152 0xFF to end of mtd\n";

INSTANTIATE_TEST_SUITE_P(Seam, Fault, ::testing::Values(
    // The second chunk gets 1000 bytes in, then fails. Its bytes are not
    // counted, so the fill goes on from where the writes stopped for as
    // many bytes as if they had not been written.
    fault_case{"WriteFailsMidChunk",
               [] {
                   fake::on_write = [n = 0](fake::open_file &f, const void *buf, size_t) mutable
                       -> std::optional<ssize_t> {
                       if (++n == 2)
                           return fake::do_write(f, buf, 1000);
                       if (n != 3)
                           return std::nullopt;
                       errno = EIO;
                       return -1;
                   };
               },
               {"img", "tgt", "-f", "0x20000"},
               cycle_head + ".P: write error -1 errno " + eio + " (wrote 65536 bytes)\n\n"
                   "P: write 65536 0xFF to end of mtd\n" + closing + "P: failed!\n",
               -1, expected_target(image, before, 66536, 65536)},
    // A write taking nothing ends its chunk quietly; the next chunk follows
    // the bytes written so far, and as the count stays short of the image
    // size, the last chunk keeps its tail.
    fault_case{"WriteReturnsZero",
               [] {
                   fake::on_write = [n = 0](fake::open_file &, const void *, size_t) mutable {
                       return ++n == 2 ? std::optional<ssize_t>(0) : std::nullopt;
                   };
               },
               {"img", "tgt", "-f", "0x40000"},
               cycle_head + "...\nP: write 177680 0xFF to end of mtd\n" + closing + "P: successful!\n",
               0, image.substr(0, 65536) + image.substr(131072) + std::string(177680, '\xff')},
    // The fill writes in chunks, and each of these devices ends it at the
    // same byte and with the same message as a fill of single bytes: the
    // end of the device inside the second chunk, an error at one byte of
    // it, a byte that takes nothing while the bytes beyond it would be
    // taken, and a device that takes one byte at a time only (where the
    // copy fails at once too).
    fault_case{"FillEndsAtTheDeviceEndInsideAChunk", [] { device_end(fill_from + 70000); }, fill_args,
               fill_head + "P: write error -1 errno " + std::to_string(ENOSPC) + "\n" + closing +
                   "P: successful!\n",
               0, expected_target(image, before, fill_from, 70000)},
    fault_case{"FillEndsAtAFailingByteInsideAChunk", [] { refuse_byte(fill_from + 100001, -1, EIO); },
               fill_args, fill_head + "P: write error -1 errno " + eio + "\n" + closing + "P: successful!\n",
               0, expected_target(image, before, fill_from, 100001)},
    fault_case{"FillEndsAtAByteThatTakesNothing", [] { refuse_byte(fill_from + 100, 0, 0); },
               fill_args, fill_head + "P: write error 0 errno 0\n" + closing + "P: successful!\n",
               0, expected_target(image, before, fill_from, 100)},
    fault_case{"FillOnADeviceOfSingleByteWrites",
               [] { refuse_writes([](size_t, size_t len) { return len > 1; }, -1, EINVAL); },
               fill_args,
               cycle_head + "P: write error -1 errno " + std::to_string(EINVAL) + " (wrote 0 bytes)\n\n"
                   "P: write 262144 0xFF to end of mtd\n" + closing + "P: failed!\n",
               -1, expected_target(image, before, 0, 0x40000)},
    fault_case{"ShortWritesAreCarriedOn",
               [] {
                   fake::on_write = [](fake::open_file &f, const void *buf, size_t len) {
                       return std::optional(fake::do_write(f, buf, std::min<size_t>(len, 1000)));
                   };
               },
               {"img", "tgt", "-c"}, cycle_head + "...\n" + closing + checked + "P: successful!\n",
               0, expected_target(image, before, 149992, 0)},
    fault_case{"ReadErrorWhileCopying",
               [] { fail_read(2); },
               {"img", "tgt"}, cycle_head + ".\nP: read error -1 errno " + eio + "\n" + closing + "P: failed!\n",
               -1, expected_target(image, before, 65536, 0)},
    // Only the last cycle's copy decides the verdict.
    fault_case{"ReadErrorThenCleanRetry",
               [] { fail_read(2); },
               {"img", "tgt", "-c"},
               cycle_head + ".\nP: read error -1 errno " + eio + "\n" + closing +
                   "check firmware on: tgt check firmware read error (len error)" + cycle_head + "...\n" +
                   closing + checked + "P: successful!\n",
               0, expected_target(image, before, 149992, 0)},
    // A failing read of the target in the comparison counts as a length
    // error, and the whole cycle runs again.
    fault_case{"ReadErrorInTheComparison",
               [] { fail_read(2, "tgt"); },
               {"img", "tgt", "-c"}, short_then_clean, 0, expected_target(image, before, 149992, 0)},
    // Both sides come back equally short of the chunk asked for; the bytes
    // beyond what they read must not count as compared.
    fault_case{"EqualShortReadsFailTheComparison",
               [] {
                   fake::on_fstat = [](struct stat *st) -> std::optional<int> {
                       if (fake::fstat_calls == 2)
                           st->st_size += 100;
                       return std::nullopt;
                   };
               },
               {"img", "tgt", "-c", "-u"}, short_then_clean, 0, image},
    fault_case{"TargetUnreadableOnce",
               [] {
                   fake::on_open = [n = 0](const std::string &path, int flags) mutable
                       -> std::optional<int> {
                       if (path == "tgt" && flags == O_RDONLY && ++n == 1)
                           return -1;
                       return std::nullopt;
                   };
               },
               {"img", "tgt", "-c"}, short_then_clean, 0, expected_target(image, before, 149992, 0)},
    // A target that cannot be opened when a failed comparison starts the
    // next cycle ends the run at once, silently.
    fault_case{"TargetOpenFailingOnTheRetry",
               [] {
                   corrupt_first_byte(1);
                   fake::on_open = [](const std::string &, int flags) -> std::optional<int> {
                       return flags == O_WRONLY && fake::writes.size() == 1 ? std::optional(-1) : std::nullopt;
                   };
               },
               {"img", "tgt", "-c"}, mismatch_cycle, -1,
               std::string(1, static_cast<char>(~image[0])) + image.substr(1, 149991)},
    // A mismatch once gives exactly two cycles.
    fault_case{"MismatchOnceThenCleanCycle", [] { corrupt_first_byte(1); }, {"img", "tgt", "-c"},
               mismatch_cycle + cycle_head + "...\n" + closing + checked + "P: successful!\n",
               0, expected_target(image, before, 149992, 0)},
    fault_case{"FstatFailsAtStart", [] { fake::on_fstat = [](struct stat *) { return std::optional(-1); }; },
               {"img", "tgt"}, "", -1, before},
    fault_case{"DescriptorZero", [] { fake::forced_fd = 0; }, {"img", "tgt"}, "", -1, before},
    fault_case{"MissingImage", [] { fake::files.erase("img"); }, {"img", "tgt"}, "", -1, before}),
    [](const auto &info) { return std::string(info.param.name); });

// What keeps the fill as fast as a copy: whole chunks per write.
TEST_F(fake_files, FillTakesChunkSizedWrites)
{
    EXPECT_EQ(burn(fill_args).out, fill_head + closing + "P: successful!\n");
    ASSERT_EQ(fake::writes.size(), 1u);
    const auto &w = fake::writes[0];
    ASSERT_EQ(w.size(), 5u);  // three chunks of the image, two of 0xFF
    EXPECT_EQ(w[3], std::make_pair(fill_from, size_t{65536}));
    EXPECT_EQ(w[4], std::make_pair(fill_from + 65536, size_t{46616}));
}

TEST_F(fake_files, NeverEqualKeepsCyclingUntilStopped)
{
    corrupt_first_byte(SIZE_MAX);
    // The fourth cycle cannot open the target, which is how this test
    // stops a run that would otherwise go on for ever.
    fake::on_open = [](const std::string &, int flags) -> std::optional<int> {
        if (flags == O_WRONLY && fake::writes.size() == 3)
            return -1;
        return std::nullopt;
    };
    burn_result r = burn({"img", "tgt", "-c", "-f", "0x30000"});
    const std::string cycle = cycle_head + "...\nP: write 46616 0xFF to end of mtd\n" + closing +
                              "check firmware on: tgt check firmware read error (cmp error)";
    EXPECT_EQ(r.out, cycle + cycle + cycle);
    EXPECT_EQ(r.status, -1);
    ASSERT_EQ(fake::writes.size(), 3u);
    EXPECT_EQ(fake::writes[0], fake::writes[1]);
    EXPECT_EQ(fake::writes[1], fake::writes[2]);
}

}  // namespace
