// SPDX-License-Identifier: MIT
// The built program end to end: arguments, files, exact standard output,
// exit status and the target's bytes afterwards.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "image_fixture.h"
#include "options.h"
#include "run_program.h"

namespace {

struct run_case {
    const char *name;
    std::vector<std::string> args;  // run in a scratch folder holding "img" and "tgt"
    long image_size;                // -1: no image file
    long target_size;               // the target starts as this many 'Z' bytes; -1: no target
    std::string out;                // '@' stands for the program's path
    int status = 0;
    size_t copied = 0;  // the target ends as the image's first `copied` bytes,
    size_t filled = 0;  // `filled` bytes of 0xFF and its old bytes beyond them
    long fsize_limit = -1;
};

void PrintTo(const run_case &c, std::ostream *os)
{
    *os << c.name;
}

std::string with_program(std::string text)
{
    std::string out;
    for (char c : text)
        out += c == '@' ? program_path(BURNIMG_PATH) : std::string(1, c);
    return out;
}

class Program : public ::testing::TestWithParam<run_case> {};

TEST_P(Program, Runs)
{
    const run_case &c = GetParam();
    scratch_dir dir;
    const std::string image = make_image(c.image_size < 0 ? 0 : static_cast<size_t>(c.image_size));
    const std::string before(c.target_size < 0 ? 0 : static_cast<size_t>(c.target_size), 'Z');
    if (c.image_size >= 0)
        write_file(dir.file("img"), image);
    if (c.target_size >= 0)
        write_file(dir.file("tgt"), before);

    run_options opts;
    opts.cwd = dir.path;
    opts.fsize_limit = c.fsize_limit;
    opts.ignore_sigxfsz = true;
    run_result r = run_program(BURNIMG_PATH, c.args, opts);

    EXPECT_EQ(r.out, with_program(c.out));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code, c.status);
    struct stat st;
    if (c.target_size >= 0)
        EXPECT_EQ(difference(read_file(dir.file("tgt")), expected_target(image, before, c.copied, c.filled)), "");
    else
        EXPECT_NE(stat(dir.file("tgt").c_str(), &st), 0) << "the target was created";
}

const std::string head = "@: copy img to tgt\nprogramming: ";
const std::string closed = "closing: tgt \n";
const std::string checked = "check firmware on: tgt check firmware tgt success ";
const std::string ok = "@: successful!\n";

INSTANTIATE_TEST_SUITE_P(Table, Program, ::testing::Values(
    // 65536 + 65536 + 18928 bytes read, the last chunk cut to 18920.
    run_case{"PositionalNamesLeaveTailOut", {"img", "tgt"}, 150000, 0,
             head + "...\n" + closed + ok, 0, 149992},
    run_case{"KeepTail", {"-i", "img", "-o", "tgt", "-u"}, 150000, 0,
             head + "...\n" + closed + ok, 0, 150000},
    // The fill starts where the tail was left out.
    run_case{"FillToSize", {"-i", "img", "-o", "tgt", "-f", "0x40000"}, 150000, 0,
             head + "...\n@: write 112152 0xFF to end of mtd\n" + closed + ok, 0, 149992, 112152},
    run_case{"LastChunkShorterThanTail", {"img", "tgt"}, 65540, 0,
             head + "..\n" + closed + ok, 0, 65536},
    run_case{"WholeChunks", {"img", "tgt"}, 131072, 0, head + "..\n" + closed + ok, 0, 131064},
    run_case{"FillBelowWritten", {"-i", "img", "-o", "tgt", "-f", "100"}, 150000, 0,
             head + "...\n@: write 4294817404 0xFF to end of mtd\n" + closed + ok, 0, 149992},
    run_case{"NegativeFill", {"-i", "img", "-o", "tgt", "-f", "-5"}, 150000, 0,
             head + "...\n@: write 4294817299 0xFF to end of mtd\n" + closed + ok, 0, 149992},
    run_case{"LongerTargetKeepsItsTail", {"img", "tgt"}, 150000, 300000,
             head + "...\n" + closed + ok, 0, 149992},
    run_case{"Verified", {"-i", "img", "-o", "tgt", "-c"}, 150000, 0,
             head + "...\n" + closed + checked + ok, 0, 149992},
    run_case{"VerifiedWholeAndFilled", {"-i", "img", "-o", "tgt", "-c", "-u", "-f", "0x40000"}, 150000, 0,
             head + "...\n@: write 112144 0xFF to end of mtd\n" + closed + checked + ok, 0, 150000, 112144},
    // The verification buffer follows a -b that comes after -c.
    run_case{"VerifiedWithLargerChunkAfterC", {"-i", "img", "-o", "tgt", "-c", "-b", "131072"}, 150000, 0,
             head + "..\n" + closed + checked + ok, 0, 149992},
    // Shorter than its tail: nothing copied, nothing left to compare.
    run_case{"ImageShorterThanTail", {"-i", "img", "-o", "tgt", "-c"}, 5, 3,
             head + ".\n" + closed + checked + ok},
    run_case{"NoArguments", {}, -1, -1, "", 255},
    run_case{"MissingTarget", {"img", "tgt"}, 150000, -1, "", 255},
    run_case{"OptionsInFrontNeedNames", {"-c", "img", "tgt"}, 150000, 0, "", 255},
    run_case{"Usage", {"img", "tgt", "-h", "-b", "0"}, 150000, 0, std::string(USAGE_TEXT) + "\n", 1},
    run_case{"BufferSizeZero", {"img", "tgt", "-b", "0"}, 150000, 10, "@: invalid buffer size 0\n", 255},
    run_case{"FullDevice", {"img", "/dev/full"}, 150000, -1,
             "@: copy img to /dev/full\nprogramming: @: write error -1 errno " + std::to_string(ENOSPC) +
                 " (wrote 0 bytes)\n\nclosing: /dev/full \n@: failed!\n", 255},
    // The fill runs into the end of the device; the verdict is still good.
    run_case{"FillPastEndOfDevice", {"-i", "img", "-o", "tgt", "-f", "0x40000"}, 150000, 0,
             head + "...\n@: write 112152 0xFF to end of mtd\n@: write error -1 errno " +
                 std::to_string(EFBIG) + "\n" + closed + ok,
             0, 149992, 200000 - 149992, 200000}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
