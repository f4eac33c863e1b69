// SPDX-License-Identifier: MIT
// dump then build gives back the same rules and names, and for an image
// that build wrote, the very same bytes: on random rule sets and on every
// sample and fuzz-corpus image that loads. Of any image that loads, the
// bytes before the trie come back too.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <random>

#include "image_writer.h"
#include "lcrtool_test.h"

namespace {

struct rule {
    int route;
    int provider;
};

struct rule_set {
    std::array<std::string, 10> names;
    std::map<std::string, rule> rules;  // by number: the order dump prints
};

// The area byte a rule compiles to, and how the loader reads it back.
int area_of(const rule &r)
{
    if (r.route == -3)
        return 64;
    if (r.route >= 0)
        return r.route + 1;
    return r.provider ? 10 + r.provider : 0;
}

// A name as dump writes it: besides the control bytes of both halves of
// ISO-8859-1, a byte from 0xC0 up before one from 0x80 to 0xBF is escaped,
// so that no name reads as UTF-8.
std::string escaped(const std::string &name)
{
    std::string out;
    for (size_t i = 0; i < name.size(); i++) {
        auto c = static_cast<unsigned char>(name[i]);
        auto next = static_cast<unsigned char>(i + 1 < name.size() ? name[i + 1] : 0);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || (c >= 0x7f && c < 0xa0) || (c >= 0xc0 && next >= 0x80 && next < 0xc0)) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

std::string expected_dump(const rule_set &set)
{
    std::map<int, std::string> names;
    for (int p = 0; p < 10; p++)
        names[p] = escaped(set.names[p]);
    std::string text = dump_head(names);
    for (const auto &[number, r] : set.rules) {
        int route = r.route == -1 ? -2 : r.route;  // -1 is stored as -2
        text += number + "\t" + std::to_string(route) + "\t" + std::to_string(r.provider) + "\t" +
                std::to_string(area_of(r)) + "\n";
    }
    return text;
}

// Names of any bytes but NUL, numbers of 1 to 12 digits, every route code
// and a provider wherever the route takes one. At most 40 numbers of 12
// digits keep the trie within the compiler's 499 records.
rule_set random_set(unsigned seed)
{
    std::mt19937 rng(seed);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    rule_set set;
    for (auto &name : set.names)
        for (int i = pick(0, 20); i > 0; i--)
            name += static_cast<char>(pick(1, 255));
    for (int i = pick(0, 40); i > 0; i--) {
        std::string number;
        for (int d = pick(1, 12); d > 0; d--)
            number += static_cast<char>('0' + pick(0, 9));
        int route = pick(-3, 9);
        int provider = route == -2 || route == -1 ? pick(0, 9) : 0;
        set.rules[number] = {route, provider};
    }
    return set;
}

// The rule set as a person might write it: rules shuffled, comments, the
// area left out of some lines.
std::string handwritten_text(const rule_set &set, std::mt19937 &rng)
{
    std::vector<std::string> lines;
    for (int p = 0; p < 10; p++)
        lines.push_back("provider\t" + std::to_string(p) + "\t" + escaped(set.names[p]));
    for (const auto &[number, r] : set.rules) {
        std::string line = number + "\t" + std::to_string(r.route) + "\t" + std::to_string(r.provider);
        if (rng() % 2)
            line += "\t" + std::to_string(area_of(r));
        lines.push_back(line);
    }
    std::shuffle(lines.begin(), lines.end(), rng);
    std::string text = "# made by the round-trip test\n";
    for (const auto &line : lines)
        text += line + "\n";
    return text;
}

// The same rules written straight from the layout, in another order, so the
// record numbering differs from what build writes.
std::string written_image(const rule_set &set, std::mt19937 &rng)
{
    image_writer img;
    for (int p = 0; p < 10; p++)
        img.provider_name(p, set.names[p]);
    std::vector<std::pair<std::string, rule>> rules(set.rules.begin(), set.rules.end());
    std::shuffle(rules.begin(), rules.end(), rng);
    for (const auto &[number, r] : rules)
        img.add_number(number, static_cast<uint8_t>(area_of(r)));
    return img.bytes;
}

class RandomRoundTrip : public testing::TestWithParam<unsigned> {};

TEST_P(RandomRoundTrip, DumpBuildDumpKeepsRulesAndBytes)
{
    rule_set set = random_set(GetParam());
    std::mt19937 rng(GetParam());
    scratch_dir dir;
    write_file(dir.file("in.txt"), handwritten_text(set, rng));
    write_file(dir.file("w.lcr"), written_image(set, rng));

    run_result built = run_lcrtool({"build", "in.txt", "a.lcr"}, dir.path);
    ASSERT_EQ(built.exit_code, 0) << built.err;
    EXPECT_EQ(built.err, "");
    run_result dumped = run_lcrtool({"dump", "a.lcr"}, dir.path);
    ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
    EXPECT_EQ(dumped.out, expected_dump(set));

    write_file(dir.file("a.txt"), dumped.out);
    ASSERT_EQ(run_lcrtool({"build", "a.txt", "b.lcr"}, dir.path).exit_code, 0);
    EXPECT_EQ(read_file(dir.file("b.lcr")), read_file(dir.file("a.lcr")));

    // An image numbered another way holds the same rule set.
    EXPECT_EQ(run_lcrtool({"dump", "w.lcr"}, dir.path).out, expected_dump(set));
    run_result same = run_lcrtool({"diff", "w.lcr", "a.lcr"}, dir.path);
    EXPECT_EQ(same.out, "");
    EXPECT_EQ(same.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Lcrtool, RandomRoundTrip, testing::Range(1u, 31u));

// The rules of the image at `path` that the compiler drops for want of a
// trie record, as check names them, in number order; *first_line is the
// dump line of the first of them.
size_t rules_past_the_pool(const std::string &path, const std::string &dump, size_t *first_line)
{
    const std::string out = run_lcrtool({"check", path}).out, mark = " needs trie record ";
    size_t dropped = 0;
    for (size_t at = out.find(mark); at != std::string::npos; at = out.find(mark, at + 1), dropped++) {
        if (dropped)
            continue;
        size_t start = out.rfind(": ", at) + 2;
        size_t rule = dump.find("\n" + out.substr(start, at - start) + "\t");
        *first_line = static_cast<size_t>(std::count(dump.begin(), dump.begin() + static_cast<long>(rule) + 1, '\n')) + 1;
    }
    return dropped;
}

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
    // The loader reads up to 500 records, one more than the compiler's pool.
    // Build names the first rule that finds no record and how many more
    // there are, as check finds them, and writes nothing.
    size_t first_line = 0;
    const size_t dropped = rules_past_the_pool(path, original.out, &first_line);
    if (dropped) {
        std::string why = dropped == 1 ? "this rule does not fit"
                                       : "this rule and " + std::to_string(dropped - 1) +
                                             " more after it by number do not fit";
        EXPECT_EQ(built.exit_code, 1);
        EXPECT_EQ(built.err, "lcrtool: a.txt:" + std::to_string(first_line) +
                                 ": Telefon locate tree too large: " + why + " in the 499 trie records\n");
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
