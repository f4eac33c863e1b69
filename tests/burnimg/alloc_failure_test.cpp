// SPDX-License-Identifier: MIT
// The burnimg program when memory runs out. Every allocation the program
// makes is failed in turn: a run either ends with status 255, silently and
// with the target untouched (the copy or verification buffer is missing),
// or it runs exactly as it does with all the memory it asks for (the C
// library copes with a missing stdio buffer on its own).
#include <gtest/gtest.h>

#include <string>

#include "fault_env.h"
#include "image_fixture.h"
#include "run_program.h"

namespace {

TEST(BurnimgOutOfMemory, FailsSilentlyOrRunsAsUsual)
{
    scratch_dir dir;
    const std::string image = make_image(150000);
    const std::string before(200000, 'Z');
    write_file(dir.file("img"), image);
    const std::string report = dir.file("report");

    auto run = [&](long nth, bool after) {
        write_file(dir.file("tgt"), before);
        run_options opts;
        opts.cwd = dir.path;
        opts.env = fault_env(report, malloc_fault(nth, after));
        return run_program(BURNIMG_PATH, {"-i", "img", "-o", "tgt", "-b", "0x8000", "-c", "-f", "0x30000"}, opts);
    };

    run_result clean = run(0, false);
    ASSERT_EQ(clean.exit_code, 0) << clean.out;
    const std::string written = read_file(dir.file("tgt"));
    each_failed_allocation(report, true, run, [&](const run_result &r, long nth) {
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.err, "");
        // The first is the verification buffer, which -c cannot do without.
        EXPECT_TRUE(nth > 1 || r.exit_code == 255);
        if (r.exit_code == 255) {
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(read_file(dir.file("tgt")) == before) << "a failed run touched the target";
        } else {
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(r.out, clean.out);
            EXPECT_TRUE(read_file(dir.file("tgt")) == written);
        }
    });
}

}  // namespace
