// SPDX-License-Identifier: MIT
// The lcrmerge program when memory runs out part-way through a run. Every
// allocation the program makes is failed in turn (and, in a second pass,
// every allocation from some point on). Whatever fails, the run either
// ends with status 1 and leaves the output file as it was, or it succeeds
// with exactly the image a run without failures writes: a merge never
// writes a rule set with rules missing.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "fault_env.h"
#include "image_writer.h"
#include "run_program.h"

namespace {

// Area bytes: 0 = provider 0, 3 = route 2, 13 = provider 3, 64 = no
// timetable. Every provider has a name, so a "Provider" node missing from a
// tree shows as a lost name.
std::string image(const std::vector<std::pair<std::string, uint8_t>> &rules)
{
    std::map<int, std::string> names;
    for (int p = 0; p < 10; p++)
        names[p] = "Anbieter " + std::to_string(p);
    return image_of(rules, names);
}

const std::string FIRST = image({{"0301", 3}, {"0302", 13}, {"110", 0}, {"0900", 64}, {"0301555", 3}});
const std::string SECOND = image({{"0301", 3}, {"0302", 13}, {"110", 0}, {"0800", 2}});
const std::string OLD = "old output bytes\n";

struct lcrmerge_oom : ::testing::TestWithParam<const char *> {
    scratch_dir dir;
    std::string report = dir.file("report");
    std::string out = dir.file("out.lcr");

    run_result run(long nth, bool after)
    {
        write_file(out, OLD);
        run_options opts;
        opts.env = fault_env(report, malloc_fault(nth, after));
        return run_program(LCRMERGE_PATH, {GetParam(), dir.file("first.lcr"), dir.file("second.lcr"), out}, opts);
    }
};

TEST_P(lcrmerge_oom, FailsWholeOrSucceedsWhole)
{
    write_file(dir.file("first.lcr"), FIRST);
    write_file(dir.file("second.lcr"), SECOND);
    run_result clean = run(0, false);
    ASSERT_EQ(clean.exit_code, 0) << clean.err;
    const std::string merged = read_file(out);
    ASSERT_NE(merged, OLD);
    each_failed_allocation(report, true, [&](long nth, bool after) { return run(nth, after); },
                           [&](const run_result &r, long) {
        EXPECT_EQ(r.signal, 0);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.out, "");
        if (r.exit_code == 0) {
            EXPECT_TRUE(read_file(out) == merged) << "a run that lost rules reported success";
        } else {
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(read_file(out), OLD);
        }
        EXPECT_EQ(dir_entries(dir.path), (std::set<std::string>{"first.lcr", "second.lcr", "out.lcr", "report"}));
    });
}

INSTANTIATE_TEST_SUITE_P(Mode, lcrmerge_oom, ::testing::Values("1", "2"),
                         [](const auto &info) { return std::string("mode") + info.param; });

}  // namespace
