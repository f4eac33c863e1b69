// SPDX-License-Identifier: MIT
// lcrtool merge foretells lcrmerge: on every sample and fuzz-corpus file,
// as the current table and as the defaults, in both modes, it ends with
// lcrmerge's status, writes the very bytes lcrmerge writes, leaves the
// output alone where lcrmerge does, and says why when lcrmerge refuses.
#include <gtest/gtest.h>

#include "lcrtool_test.h"

namespace {

std::vector<std::string> images()
{
    std::vector<std::string> files, samples;
    list_files(std::string(SOURCE_DIR) + "/samples", &samples);
    for (const auto &f : samples)
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".lcr") == 0)
            files.push_back(f);
    // The corpora of the lcr targets; burnimg's holds command lines.
    for (const char *corpus : {"lcr_load", "lcr_merge"})
        list_files(std::string(SOURCE_DIR) + "/fuzz/corpus/" + corpus, &files);
    return files;
}

TEST(LcrtoolMerge, AgreesWithLcrmergeOnEveryCorpusPair)
{
    const std::string current = std::string(SOURCE_DIR) + "/samples/current.lcr";
    const std::string defaults = std::string(SOURCE_DIR) + "/samples/current_default.lcr";
    scratch_dir dir;
    int refused = 0, written = 0;
    for (const auto &file : images()) {
        for (const auto &[first, second] : {std::pair{file, defaults}, std::pair{current, file}}) {
            for (const char *mode : {"1", "2"}) {
                SCOPED_TRACE(std::string(mode) + " " + first + " " + second);
                write_file(dir.file("m.lcr"), "old");
                write_file(dir.file("t.lcr"), "old");
                run_result m = run_program(LCRMERGE_PATH, {mode, first, second, dir.file("m.lcr")});
                run_result t = run_lcrtool({"merge", mode, first, second, dir.file("t.lcr")});
                ASSERT_TRUE(m.exit_code == 0 || m.exit_code == 1) << m.err;
                EXPECT_EQ(t.exit_code, m.exit_code) << t.out << t.err;
                EXPECT_EQ(read_file(dir.file("t.lcr")), read_file(dir.file("m.lcr")));
                EXPECT_EQ(t.err, "");
                // The verdict is the last line: the count kept, or the
                // refusal and its reason.
                size_t last = t.out.rfind('\n', t.out.size() - 2) + 1;
                if (m.exit_code == 0)
                    EXPECT_EQ(t.out.compare(last, 8, "result: "), 0) << t.out;
                else
                    EXPECT_EQ(t.out.compare(last, 8, "refuse: "), 0) << t.out;
                (m.exit_code == 0 ? written : refused)++;
            }
        }
    }
    // The corpora hold both outcomes.
    EXPECT_GT(written, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
