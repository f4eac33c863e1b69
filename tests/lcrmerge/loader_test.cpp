// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>

#include "image_writer.h"
#include "loader.h"
#include "rule_set.h"
#include "tree_invariants.h"
#include "run_program.h"

namespace {

const std::string twenty_ones(20, '1');

struct loader_test : ::testing::Test {
    scratch_dir dir;
    lcr_node *head = nullptr;
    loader_test() { build_lcr_skeleton(&head); }
    ~loader_test() override { kelmar_free_node(head); }

    // Loads and checks that the image's descriptor was closed: the lowest
    // free one is the same before and after.
    int load(const std::string &bytes)
    {
        write_file(dir.file("img"), bytes);
        const int free_before = dup(2);
        close(free_before);
        int result = load_lcr_image(dir.file("img").c_str(), &head);
        EXPECT_EQ(dup(2), free_before);
        close(free_before);
        return result;
    }
};

// Every child of "Routing" with its index, the rules and the provider
// names: equal dumps mean an unchanged tree.
std::string dump(const lcr_node *routing)
{
    return children_text(routing) + rules_text(routing);
}

// An image with rules in both subtrees and a few names.
image_writer sample_image()
{
    image_writer img;
    img.add_number("12", 4).add_number("19", 12).add_number("3", 64);
    img.provider_name(0, "Alpha").provider_name(9, "Omega");
    return img;
}

TEST_F(loader_test, RulesComeInPreOrderWithAscendingDigits)
{
    image_writer img;
    for (const char *number : {"2", "11", "1", "100", "10"})
        img.add_number(number, 5);
    ASSERT_EQ(load(img.bytes), 0);
    EXPECT_EQ(rules_text(head), "1/4/0;10/4/0;100/4/0;11/4/0;2/4/0;");
    int index = 0;
    for (const lcr_node *g = lcr_find_sibling(head->child, NODE_GROUP); g; g = g->next) {
        EXPECT_EQ(g->index, index++);
        EXPECT_EQ(children_text(g), "Route:0 Number:0 Provider:0 ");
    }
    EXPECT_EQ(index, 5);
    EXPECT_EQ(kelmar_lcr_version, 0);
}

TEST_F(loader_test, AreaByteGivesRouteAndProvider)
{
    struct row {
        uint8_t area;
        int route, provider;
    };
    const row table[] = {{0, -2, 0},  {1, 0, 0},   {5, 4, 0},   {10, 9, 0},  {11, -2, 1},  {13, -2, 3},
                         {19, -2, 9}, {20, -3, 0}, {63, -3, 0}, {64, -3, 0}, {65, -3, 0}, {254, -3, 0}};
    image_writer img;
    std::string expected;
    int number = 10;  // two digits each, so tree order is numeric order
    for (const row &r : table) {
        img.add_number(std::to_string(number), r.area);
        expected += std::to_string(number++) + "/" + std::to_string(r.route) + "/" + std::to_string(r.provider) + ";";
    }
    ASSERT_EQ(load(img.bytes), 0);
    EXPECT_EQ(rules_text(head), expected);
}

// Images the loader accepts, and the rules it makes of them.
struct shape_case {
    const char *name;
    std::function<void(image_writer &)> build;
    std::string rules;
};

void PrintTo(const shape_case &c, std::ostream *os)
{
    *os << c.name;
}

struct loader_shape : loader_test, ::testing::WithParamInterface<shape_case> {};

TEST_P(loader_shape, GivesRules)
{
    image_writer img;
    GetParam().build(img);
    ASSERT_EQ(load(img.bytes), 0);
    EXPECT_EQ(rules_text(head), GetParam().rules);
}

const shape_case shape_cases[] = {
    {"NoTrieRecords", [](image_writer &) {}, ""},
    {"RootAreaIgnored", [](image_writer &i) { i.add_number("7", 1).set_area(0, 5); }, "7/0/0;"},
    {"AreaNoneOnPathMakesNoRule", [](image_writer &i) { i.add_number("123", 2); }, "123/1/0;"},
    {"ChildFFFFIsNoChild", [](image_writer &i) { i.add_number("5", 1).set_child(0, 3, 0xFFFF); }, "5/0/0;"},
    // Bytes after a whole trie, even a partial record, are not read as records.
    {"BytesAfterTrieIgnored", [](image_writer &i) {
         i.add_number("5", 1).add_record(7);
         i.resize(i.bytes.size() + 20);
     },
     "5/0/0;"},
    {"TwentyDigitsKeptTwentyOneDropped",
     [](image_writer &i) { i.add_number(twenty_ones, 2).add_number(twenty_ones + "1", 3).add_number(twenty_ones + "12", 3); },
     twenty_ones + "/1/0;"},
    // Links out of a record 20 digits deep are never followed, so even one
    // back to the root's child is not a cycle.
    {"LinkBelowDigitLimitNotFollowed",
     [](image_writer &i) { i.add_number(twenty_ones, 2).set_child(20, 1, 1).set_child(20, 2, 20); },
     twenty_ones + "/1/0;"},
    // A link out of the deepest record is not followed, so it may lead past
    // the bytes read.
    {"LinkPastEndBelowDigitLimitNotFollowed", [](image_writer &i) { i.add_number(twenty_ones, 2).set_child(20, 3, 400); },
     twenty_ones + "/1/0;"},
};

INSTANTIATE_TEST_SUITE_P(Images, loader_shape, ::testing::ValuesIn(shape_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// Loads that fail: the tree keeps its earlier rules and names, and
// kelmar_lcr_version is reset or holds the rejected version word.
struct reject_case {
    const char *name;
    std::function<image_writer()> image;  // the image to load, or null for
    const char *path;                     // this name in the scratch folder
    int32_t version;
};

void PrintTo(const reject_case &c, std::ostream *os)
{
    *os << c.name;
}

struct loader_reject : loader_test, ::testing::WithParamInterface<reject_case> {};

TEST_P(loader_reject, LeavesTreeUnchanged)
{
    const reject_case &c = GetParam();
    ASSERT_EQ(load(sample_image().bytes), 0);
    std::string before = dump(head);
    kelmar_lcr_version = 77;
    if (c.image)
        write_file(dir.file("bad"), c.image().bytes);
    EXPECT_EQ(load_lcr_image(dir.file(c.image ? "bad" : c.path).c_str(), &head), -1);
    EXPECT_EQ(kelmar_lcr_version, c.version);
    EXPECT_EQ(dump(head), before);
}

const reject_case reject_cases[] = {
    {"MissingFile", nullptr, "none", 0},
    {"ReadError", nullptr, ".", 0},
    {"Version4", [] { return sample_image().version(4); }, nullptr, 4},
    {"VersionWrongByteOrder", [] { return sample_image().version(0x03000000); }, nullptr, 0x03000000},
    {"ShortFileWithWrongVersion", [] { return image_writer().version(4).resize(100); }, nullptr, 4},
    {"EmptyFile", [] { return image_writer().resize(0); }, nullptr, 0},
    {"ThreeBytes", [] { return image_writer().resize(3); }, nullptr, 0},
    {"VersionWordOnly", [] { return image_writer().resize(4); }, nullptr, 0},
    {"OneByteShortOfTrie", [] { return image_writer().resize(5891); }, nullptr, 0},
    {"SelfLoop", [] { return image_writer().add_number("1", 2).set_child(1, 1, 1); }, nullptr, 0},
    {"CycleToAncestor", [] { return image_writer().add_number("123", 2).set_child(3, 0, 1); }, nullptr, 0},
    {"JoinedBranches", [] { return image_writer().add_number("12", 2).add_number("3", 4).set_child(3, 4, 2); }, nullptr,
     0},
    // A file cut short: a link leads to a record that is not wholly within
    // the bytes read, at a record boundary (after the root alone), inside a
    // record, or to record 500, past the 16392 bytes that are read.
    {"CutAtRecordBoundary", [] { return sample_image().resize(image_writer::record_offset(1)); }, nullptr, 0},
    {"CutInsideRecord", [] { return sample_image().resize(image_writer::record_offset(4) - 1); }, nullptr, 0},
    {"LinkToRecord500",
     [] {
         image_writer i;
         i.add_number("1", 1);
         while (i.record_count() < 501)
             i.add_record(7);
         return i.set_child(0, 9, 499).set_child(1, 0, 500);
     },
     nullptr, 0},
    // A cycle the walk meets only after a valid first branch.
    {"CycleAfterValidRules", [] { return sample_image().add_number("45", 1).set_child(6, 0, 5); }, nullptr, 0},
};

INSTANTIATE_TEST_SUITE_P(Images, loader_reject, ::testing::ValuesIn(reject_cases),
                         [](const auto &info) { return std::string(info.param.name); });

// With standard input closed, the image gets descriptor 0, which loads and
// is closed like any other.
TEST_F(loader_test, LoadsThroughDescriptorZero)
{
    const int saved = dup(0);
    close(0);
    const int result = load(sample_image().bytes);
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(result, 0);
}

TEST_F(loader_test, ListWithoutRoutingIsRefused)
{
    std::string path = dir.file("img");
    write_file(path, sample_image().bytes);
    lcr_node *empty = nullptr;
    EXPECT_EQ(load_lcr_image(path.c_str(), &empty), -1);
    EXPECT_EQ(empty, nullptr);

    lcr_node *other = nullptr;
    kelmar_alloc_node(nullptr, &other, "Version");
    EXPECT_EQ(load_lcr_image(path.c_str(), &other), -1);
    EXPECT_EQ(other->child, nullptr);
    kelmar_free_node(other);
}

// Provider 3's name field holds `len` characters of a long text, of which
// the loader keeps at most twenty; provider 2 keeps its empty name.
TEST_F(loader_test, NamesKeepAtMostTwentyCharacters)
{
    const std::string text = "abcdefghijklmnopqrstuvwxy";
    for (size_t len : {0, 10, 11, 12, 20, 25}) {
        SCOPED_TRACE(len);
        image_writer img;
        img.provider_name(3, text.substr(0, len));
        ASSERT_EQ(load(img.bytes), 0);
        const std::string names = " Provider:2= Provider:3=" + text.substr(0, std::min<size_t>(len, 20)) + " ";
        EXPECT_NE(children_text(head).find(names), std::string::npos) << children_text(head);
    }
}

TEST_F(loader_test, ReloadReplacesRulesAndNames)
{
    ASSERT_EQ(load(sample_image().bytes), 0);
    // A rule added after the load goes as well.
    add_group(&head, {"110", 1, 0});
    // An eleventh provider has no name in the image and is left alone.
    lcr_set_string(kelmar_alloc_node(head, &head, NODE_PROVIDER), "extra", 20);

    image_writer second;
    second.add_number("8", 9).add_number("0", 0).provider_name(9, "Z");
    ASSERT_EQ(load(second.bytes), 0);
    EXPECT_EQ(dump(head),
              "Version:0 Provider:0= Provider:1= Provider:2= Provider:3= Provider:4= Provider:5= Provider:6= "
              "Provider:7= Provider:8= Provider:9=Z Provider:10=extra Group:0 Group:1 0/-2/0;8/8/0;");
}

}  // namespace
