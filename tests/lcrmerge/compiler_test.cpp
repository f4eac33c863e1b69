// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "compiler.h"
#include "image_writer.h"
#include "loader.h"
#include "rule_set.h"
#include "run_program.h"
#include "tree.h"

namespace {

// The tests' own output record, scratch and dropped count for lcr_compile.
uint8_t image_buf[LCR_IMAGE_MAX];
lcr_image_out image = {image_buf, 0};
lcr_compile_scratch scratch;
uint32_t dropped;

std::string compiled() { return std::string(reinterpret_cast<const char *>(image_buf), image.len); }

// A skeleton rule set of its own, freed with everything in it.
struct rule_tree {
    lcr_node *head = nullptr;
    rule_tree() { build_lcr_skeleton(&head); }
    ~rule_tree()
    {
        kelmar_free_list(head->child);
        kelmar_free_node(head);
    }

    void add(const rule &r) { add_group(&head, r); }

    lcr_node *provider_node(int p)
    {
        for (lcr_node *n = head->child; n; n = n->next)
            if (lcr_name_is(n, NODE_PROVIDER) && n->index == p)
                return n;
        return nullptr;
    }
};

// Compiles the rule set under `routing` and returns the driver's messages.
std::string compile(const lcr_node *routing, int &rc)
{
    bool printed = false;
    testing::internal::CaptureStderr();
    rc = lcr_compile(routing, &image, &scratch, {lcr_print_problem, &printed}, &dropped);
    return testing::internal::GetCapturedStderr();
}

struct compiler_fixture : ::testing::Test, rule_tree {
    lcr_node *const routing = head;

    // Keeps only the "Provider" nodes 0 to count - 1.
    void keep_providers(int count)
    {
        while (lcr_node *n = provider_node(count))
            kelmar_free_node(n);
    }
};

struct compile_case {
    const char *name;
    std::vector<rule> rules;
    std::string err;
    int rc;
    std::vector<trie_record> records;  // the whole trie when rc is 0
    int providers = 10;           // "Provider" nodes kept, from provider 0 up
    uint32_t dropped = 0;         // rules the trie did not take, when rc is 0
};

void PrintTo(const compile_case &c, std::ostream *os) { *os << c.name; }

struct compile_cases : compiler_fixture, ::testing::WithParamInterface<compile_case> {};

TEST_P(compile_cases, MessageAndImage)
{
    const compile_case &c = GetParam();
    keep_providers(c.providers);
    for (const rule &r : c.rules)
        add(r);
    // Leftovers of an earlier run must not show through.
    memset(image_buf, 0xAA, sizeof image_buf);
    image.len = 123;
    dropped = 77;
    int rc;
    EXPECT_EQ(compile(routing, rc), c.err);
    EXPECT_EQ(rc, c.rc);
    if (c.rc == 0) {
        ASSERT_EQ(image.len, image_writer::record_offset(c.records.size()));
        EXPECT_EQ(compiled(), layout_image(c.records));
        EXPECT_EQ(dropped, c.dropped);
    } else {
        EXPECT_EQ(image.len, 0u);
        EXPECT_EQ(std::count(image_buf, image_buf + sizeof image_buf, 0), LCR_IMAGE_MAX);
    }
}

const compile_case cases[] = {
    {"WorkedExampleIsByteExact", {{"12", 3, {}}, {"19", {}, 2}}, "", 0,
     {{255, {{1, 1}}}, {255, {{2, 2}, {9, 3}}}, {4, {}}, {12, {}}}},
    {"EmptyRuleSetIsTheFixedSections", {}, "", 0, {}},
    {"IllegalLetterKeepsPathWithoutArea", {{"12a", 3, {}}}, "ERROR: Illegal number digit = 61!\n", 0,
     {{255, {{1, 1}}}, {255, {{2, 2}}}, {255, {}}}, 10, 1},
    {"IllegalHighByteIsPrintedUnsigned", {{"\xe9", {}, {}}}, "ERROR: Illegal number digit = e9!\n", 0, {{255, {}}},
     10, 1},
    {"CharacterBelowZeroIsIllegal", {{"4/", {}, {}}, {"4", {}, {}}}, "ERROR: Illegal number digit = 2f!\n", 0,
     {{255, {{4, 1}}}, {0, {}}}, 10, 1},
    {"DuplicateSameArea", {{"7", 3, {}}, {"7", 3, 4}}, "ERROR : duplikate Entry for number 7\n", 0,
     {{255, {{7, 1}}}, {4, {}}}, 10, 1},
    {"DuplicateDifferentAreaKeepsFirst", {{"7", 3, {}}, {"7", {}, 2}},
     "ERROR : duplikate Entry for number 7 with different Areas\n", 0, {{255, {{7, 1}}}, {4, {}}}, 10, 1},
    {"EveryDroppedRuleCounts", {{"7", 3, {}}, {"x", {}, {}}, {"7", 3, {}}, {"8", 1, {}}, {"7", {}, 2}},
     "ERROR: Illegal number digit = 78!\nERROR : duplikate Entry for number 7\n"
     "ERROR : duplikate Entry for number 7 with different Areas\n",
     0, {{255, {{7, 1}, {8, 2}}}, {4, {}}, {2, {}}}, 10, 3},
    {"AreaWithoutTimetableFails", {{"1", 2, {}}, {"12", 70, {}}},
     "ERROR Area 71 timetable does not exist (Tree point 2)\n", -1, {}},
    {"FirstAreaPastNoTimetableFails", {{"6", 64, {}}, {"7", 70, {}}}, "ERROR Area 65 timetable does not exist (Tree point 1)\n", -1, {}},
    {"UnusedTimetablePasses", {{"5", 19, {}}}, "", 0, {{255, {{5, 1}}}, {20, {}}}},
    {"NoTimetableRoutePasses", {{"5", -3, 6}}, "", 0, {{255, {{5, 1}}}, {64, {}}}},
    {"MissingProviderFails", {{"3", {}, 7}}, "ERROR Provider value 14 does not exist\n(Tree point 1, Area value 17, Time 0)\n",
     -1, {}, 5},
    {"MissingProviderZeroFails", {{"3", {}, {}}},
     "ERROR Provider value 0 does not exist\n(Tree point 1, Area value 0, Time 0)\n", -1, {}, 0},
    {"FixedRouteWinsOverProvider", {{"3", 3, 5}}, "", 0, {{255, {{3, 1}}}, {4, {}}}},
    {"NoRouteNoProviderIsProviderZero", {{"3", {}, {}}}, "", 0, {{255, {{3, 1}}}, {0, {}}}},
    {"GroupWithoutNumberIsSkipped", {{{}, 3, 1}}, "", 0, {}},
    {"EmptyNumberSetsRootArea", {{"", 2, {}}, {"8", {}, 9}}, "", 0, {{3, {{8, 1}}}, {19, {}}}},
    {"AreaKeepsLowEightBits", {{"3", 255, {}}}, "", 0, {{255, {{3, 1}}}, {0, {}}}},
};

INSTANTIATE_TEST_SUITE_P(Compiler, compile_cases, ::testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(compiler_fixture, FullPoolDropsOnlyRulesNeedingNewNodes)
{
    // The root, 10 one-digit and 100 two-digit paths, then 388 three-digit
    // numbers: exactly 499 nodes. `kept` holds each number's area byte.
    std::vector<std::pair<std::string, uint8_t>> kept;
    for (int n = 0; n < 100; n++)
        kept.push_back({std::to_string(n / 10) + std::to_string(n % 10), 0});
    for (int n = 0; n < 388; n++)
        kept.push_back({std::string(3 - std::to_string(n).size(), '0') + std::to_string(n), 2});
    for (const auto &[number, area] : kept)
        add({number, area == 2 ? 1 : -2, 0});
    add({"388", {}, {}});   // needs a 500th node
    add({"4", 5, {}});      // its node already exists
    add({"12345", {}, {}});  // fails at its first new node, once
    kept.push_back({"4", 6});
    int rc;
    EXPECT_EQ(compile(routing, rc), "ERROR  Telefon locate tree too large\nERROR  Telefon locate tree too large\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(dropped, 2u);
    EXPECT_EQ(compiled(), image_of(kept));
}

// The driver's entry compiles the rule set at current_tree into lcr_out_buf,
// as lcr_compile does; without a "Routing" node there it leaves the image
// and the count of dropped rules as they were.
TEST_F(compiler_fixture, CompileLcrFillsTheDriversImage)
{
    add({"5", 1, {}});
    add({"5", 1, {}});
    int rc;
    compile(routing, rc);
    testing::internal::CaptureStderr();
    current_tree = head;
    uint32_t driver_dropped = 0;
    EXPECT_EQ(compile_lcr(&driver_dropped), 0);
    lcr_node *other = nullptr;
    kelmar_alloc_node(nullptr, &other, "Other");
    for (lcr_node *tree : {other, static_cast<lcr_node *>(nullptr)}) {
        current_tree = tree;
        EXPECT_EQ(compile_lcr(&driver_dropped), -1);
    }
    current_tree = nullptr;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR : duplikate Entry for number 5\n");
    kelmar_free_node(other);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(lcr_out_buf), lcr_out_len), compiled());
    EXPECT_EQ(driver_dropped, 1u);
}

// Provider 3's name lies in slots 6 and 7 (offsets 70 to 91); whatever its
// length, provider 4's name still starts at offset 92. A "Provider" node
// past the tenth has no field, and its name is written nowhere.
TEST_F(compiler_fixture, ProviderNamesFillTwoSlotsAndAreCutAtTwenty)
{
    lcr_set_string(kelmar_alloc_node(routing, &head, NODE_PROVIDER), "Eleventh", LCR_VALUE_SIZE - 1);
    const std::string twenty_five = "ABCDEFGHIJKLMNOPQRSTUVWXY";
    for (size_t len : {0, 10, 11, 12, 20, 25}) {
        SCOPED_TRACE(len);
        std::string name = twenty_five.substr(0, len);
        lcr_set_string(provider_node(3), name.c_str(), LCR_VALUE_SIZE - 1);
        lcr_set_string(provider_node(4), "Next", LCR_VALUE_SIZE - 1);
        int rc;
        EXPECT_EQ(compile(routing, rc), "");
        std::string img = compiled();
        std::string field = name.substr(0, 20);
        field.resize(22, '\0');
        EXPECT_EQ(img.substr(70, 22), field);
        EXPECT_EQ(img.substr(92, 5), std::string("Next\0", 5));
        EXPECT_EQ(img.substr(4, 66), std::string(66, '\0'));
        EXPECT_EQ(img.substr(97), layout_image({}).substr(97));
    }
}

// Compiles `from` into a file and loads that file into `into`.
void compile_and_load(const std::string &path, const rule_tree &from, rule_tree &into)
{
    int rc;
    EXPECT_EQ(compile(from.head, rc), "");
    ASSERT_EQ(rc, 0);
    write_file(path, compiled());
    ASSERT_EQ(load_lcr_image(path.c_str(), &into.head), 0);
}

// Random rule sets survive compile, load, compile, load: the loader gives
// them back in trie pre-order, which is the numbers' string order, with the
// route and provider the area byte encodes, and the names cut at 20.
TEST(CompilerRoundTrip, RandomRuleSetsComeBackWhole)
{
    scratch_dir dir;
    std::mt19937 rng(4711);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int set = 0; set < 40; set++) {
        SCOPED_TRACE(set);
        rule_tree source, first, second;
        std::vector<std::string> names;
        for (int p = 0; p < LCR_PROVIDER_COUNT; p++) {
            std::string name(pick(0, 25), '\0');
            for (char &c : name)
                c = static_cast<char>(pick(1, 255));
            lcr_set_string(source.provider_node(p), name.c_str(), LCR_VALUE_SIZE - 1);
            names.push_back(name.substr(0, 20));
        }
        // At most 24 numbers of at most 20 digits stay within the pool.
        std::map<std::string, rule> expected;
        for (int n = pick(0, 24); n > 0; n--) {
            std::string number(pick(1, 20), '0');
            for (char &c : number)
                c = static_cast<char>('0' + pick(0, 9));
            int32_t route = pick(-3, 9), provider = pick(0, 9);
            if (expected.count(number))
                continue;
            source.add({number, route, provider});
            if (route >= 0 || route == -3)
                expected[number] = {number, route, 0};
            else
                expected[number] = {number, -2, provider};
        }
        rule_set want{{}, names};
        for (const auto &[number, r] : expected)
            want.rules.push_back(r);

        compile_and_load(dir.file("first.lcr"), source, first);
        EXPECT_EQ(read_rule_set(first.head), want);

        compile_and_load(dir.file("second.lcr"), first, second);
        EXPECT_EQ(read_rule_set(second.head), want);
    }
}

TEST(LcrPut, NeverWritesPastTheBuffer)
{
    const char src[0x20] = "abcd";
    struct { uint32_t pos, len, written; } cases[] = {
        {LCR_IMAGE_MAX - 2, 4, 2},
        {LCR_IMAGE_MAX - 1, 2, 1},
        {LCR_IMAGE_MAX, 1, 0},
        {LCR_IMAGE_MAX + 1, 1, 0},
        {0xFFFFFFF0u, 0x20, 0},  // pos + len wraps around to a small offset
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pos);
        memset(image_buf + LCR_IMAGE_MAX - 4, 0, 4);
        image.len = 0;
        lcr_put(&image, c.pos, src, c.len);
        EXPECT_EQ(image.len, c.pos <= LCR_IMAGE_MAX ? LCR_IMAGE_MAX : 0u);
        if (c.written) {
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(image_buf) + c.pos, c.written),
                      std::string(src, c.written));
        }
    }
}

}  // namespace
