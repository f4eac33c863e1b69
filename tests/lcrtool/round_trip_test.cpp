// SPDX-License-Identifier: MIT
// dump then build gives back the same rules and names, and for an image
// that build wrote, the very same bytes: on random images and on every
// sample and fuzz-corpus image that loads. Of any image that loads, the
// bytes before the trie come back too.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "image_writer.h"
#include "lcrtool_test.h"

namespace {

// Round trip of one image file. Returns false when the file is no image
// the loader takes, which is reported as one line naming it.
bool round_trip_file(const std::string &path, const scratch_dir &dir)
{
    SCOPED_TRACE(path);
    run_result original = run_lcrtool({"dump", path});
    if (original.exit_code == 2) {
        EXPECT_EQ(original.out, "");
        EXPECT_EQ(original.err.rfind("lcrtool: " + path + ": ", 0), 0u) << original.err;
        EXPECT_EQ(std::count(original.err.begin(), original.err.end(), '\n'), 1);
        return false;
    }
    EXPECT_EQ(original.exit_code, 0) << original.err;
    write_file(dir.file("a.txt"), original.out);
    write_file(dir.file("a.lcr"), "old");
    run_result built = run_lcrtool({"build", "a.txt", "a.lcr"}, dir.path);
    // The loader reads up to 500 records, one more than the compiler's pool:
    // build refuses an image with rules that check finds past the pool, and
    // writes nothing.
    if (run_lcrtool({"check", path}).out.find(" needs trie record ") != std::string::npos) {
        EXPECT_EQ(built.exit_code, 1);
        EXPECT_NE(built.err.find(": Telefon locate tree too large: this rule"), std::string::npos) << built.err;
        EXPECT_EQ(read_file(dir.file("a.lcr")), "old");
        return true;
    }
    EXPECT_EQ(built.exit_code, 0) << built.err;
    EXPECT_EQ(built.err, "");
    run_result rebuilt_dump = run_lcrtool({"dump", "a.lcr"}, dir.path);
    EXPECT_EQ(rebuilt_dump.out, original.out);
    // Every byte before the trie comes back: names, reserved sections and
    // timetables.
    const size_t fixed = image_writer::trie_offset;
    EXPECT_EQ(read_file(dir.file("a.lcr")).substr(0, fixed), read_file(path).substr(0, fixed));
    write_file(dir.file("b.txt"), rebuilt_dump.out);
    EXPECT_EQ(run_lcrtool({"build", "b.txt", "b.lcr"}, dir.path).exit_code, 0);
    EXPECT_EQ(read_file(dir.file("b.lcr")), read_file(dir.file("a.lcr")));
    EXPECT_EQ(run_lcrtool({"diff", path, dir.file("a.lcr")}).exit_code, 0);
    return true;
}

// Round trips every file below `folder` of the source tree; the number of
// them that loaded.
int round_trip_folder(const char *folder)
{
    std::vector<std::string> files;
    list_files(std::string(SOURCE_DIR) + "/" + folder, &files);
    scratch_dir dir;
    int loaded = 0;
    for (const auto &path : files)
        if (round_trip_file(path, dir))
            loaded++;
    return loaded;
}

// Names of any bytes but NUL, and numbers of 1 to 12 digits with any area
// byte but 255 (that of a record that ends no number), written straight
// from the layout. At most 40 numbers of 12 digits keep the trie within
// the compiler's 499 records.
std::string random_image(std::mt19937 &rng)
{
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    image_writer img;
    for (int p = 0; p < 10; p++) {
        std::string name;
        for (int i = pick(0, 20); i > 0; i--)
            name += static_cast<char>(pick(1, 255));
        img.provider_name(p, name);
    }
    for (int i = pick(0, 40); i > 0; i--) {
        std::string number;
        for (int d = pick(1, 12); d > 0; d--)
            number += static_cast<char>('0' + pick(0, 9));
        img.add_number(number, static_cast<uint8_t>(pick(0, 254)));
    }
    return img.bytes;
}

class RandomRoundTrip : public testing::TestWithParam<unsigned> {};

TEST_P(RandomRoundTrip, DumpBuildDumpKeepsRulesAndBytes)
{
    std::mt19937 rng(GetParam());
    scratch_dir dir;
    write_file(dir.file("w.lcr"), random_image(rng));
    EXPECT_TRUE(round_trip_file(dir.file("w.lcr"), dir));
}

INSTANTIATE_TEST_SUITE_P(Lcrtool, RandomRoundTrip, testing::Range(1u, 31u));

TEST(LcrtoolCorpus, SampleImagesRoundTrip)
{
    EXPECT_GT(round_trip_folder("samples"), 0) << "no sample image under samples/";
}

TEST(LcrtoolCorpus, FuzzCorpusImagesRoundTrip)
{
    if (round_trip_folder("fuzz/corpus") == 0)
        GTEST_SKIP() << "no loadable image in the fuzz corpus";
}

}  // namespace
