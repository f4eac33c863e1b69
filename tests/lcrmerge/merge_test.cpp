// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image_format.h"
#include "merge.h"
#include "rule_set.h"
#include "tree_invariants.h"

namespace {

// The rules under "Routing" as rules_text gives them; also checks the
// links and indices below "Routing".
std::string rules_of(lcr_node *head)
{
    EXPECT_EQ(subtree_fault(lcr_find_sibling(head, NODE_ROUTING)), "");
    return rules_text(head);
}

// Two skeleton trees the size the loader leaves them, freed afterwards.
struct merge_fixture : ::testing::Test {
    lcr_node *set1 = nullptr;
    lcr_node *set2 = nullptr;
    merge_fixture() { reset(); }
    ~merge_fixture() override
    {
        kelmar_free_list(set1);
        kelmar_free_list(set2);
    }

    static void add_all(lcr_node *&head, const std::vector<rule> &rules)
    {
        for (const auto &r : rules)
            add_group(&head, r);
    }

    void reset()
    {
        kelmar_free_list(set1);
        kelmar_free_list(set2);
        set1 = set2 = nullptr;
        build_lcr_skeleton(&set1);
        build_lcr_skeleton(&set2);
    }
    int run(int mode) { return mode == 1 ? clear_routes(set1, set2) : clear_routes2(set1, set2); }
    // Fresh sets holding `first` and `second`, merged in `mode`: the rules
    // left in the first set.
    std::string merged(int mode, const std::vector<rule> &first, const std::vector<rule> &second)
    {
        reset();
        add_all(set1, first);
        add_all(set2, second);
        EXPECT_EQ(run(mode), 0);
        return rules_of(set1);
    }
};

TEST(SameProvider, OnlyTheFirstRulesProviderCounts)
{
    struct row { int32_t p1, p2; int expected; };
    for (const row r : {row{0, 0, 1}, row{0, 5, 1}, row{5, 0, 0}, row{3, 3, 0}, row{-1, 0, 0}})
        EXPECT_EQ(same_provider(nullptr, r.p1, nullptr, r.p2), r.expected) << r.p1 << " " << r.p2;
}

const char EMERGENCY[] = "110/-2/0;112/-2/0;19222/-2/0;";

// A first set merged with a second one: the first set's rules afterwards in
// each mode. Either way the second set stays as it was, and merging again
// changes nothing.
struct merge_case {
    const char *what;
    std::vector<rule> first, second;
    std::string mode1, mode2;
};

// One first-set rule against one second-set Group: mode 1 keeps the rule
// exactly when they match, mode 2 removes it exactly then.
merge_case one(const char *what, const rule &a, const rule &b, bool match)
{
    const std::string kept = to_string(a) + ";";
    return {what, {a}, {b}, match ? kept : "", (match ? "" : kept) + EMERGENCY};
}

// A number the second set holds under several routes, among enough other
// numbers (each with its last digit as route) that they share lookup
// buckets: a rule matches when any of them has its route.
std::vector<rule> several_routes()
{
    std::vector<rule> second;
    for (int i = 0; i < 300; i++) {
        const std::string n = std::to_string(1000 + 7 * i);
        second.push_back({n, n.back() - '0', 0});
    }
    second.insert(second.end(), {{"0301", 1, 0}, {"0301", 2, 0}, {"0301", 3, 0}});
    return second;
}

const std::vector<rule> NEAR_MISSES = {{"110", -2, 0}, {"1100", -2, 0}, {"11", -2, 0}, {"112", 3, 0},
                                       {"0112", -2, 0}, {"19222", -3, 0}, {"1922", -3, 0}};

const merge_case MERGE_CASES[] = {
    // The worked example: 0301 matches, 0302 has provider 3, 110 is an
    // emergency number with a match, 0900 has no counterpart.
    {"worked example", {{"0301", 2, 0}, {"0302", -2, 3}, {"110", -2, 0}, {"0900", -3, 0}},
     {{"0301", 2, 0}, {"0302", -2, 3}, {"110", -2, 0}, {"0800", 1, 0}}, "0301/2/0;110/-2/0;",
     "0302/-2/3;110/-2/0;0900/-3/0;112/-2/0;19222/-2/0;"},
    one("identical, provider 0", {"0301", -2, 0}, {"0301", -2, 0}, true),
    one("second provider ignored", {"0301", -2, 0}, {"0301", -2, 5}, true),
    one("first provider 3", {"0301", -2, 3}, {"0301", -2, 3}, false),
    one("routes differ", {"0301", 2, 0}, {"0301", 3, 0}, false),
    one("number is a prefix", {"030", 2, 0}, {"0301", 2, 0}, false),
    one("no Route on both sides", {"0301", {}, 0}, {"0301", {}, 0}, true),
    one("no Route against 1234", {"0301", {}, 0}, {"0301", NO_ROUTE, 0}, true),
    one("no Route against -2", {"0301", {}, 0}, {"0301", -2, 0}, false),
    one("no Provider counts as 0", {"0301", 4, {}}, {"0301", 4, 7}, true),
    one("second without Number", {"0301", 2, 0}, {{}, 2, 0}, false),
    one("second without children", {"0301", 2, 0}, {{}, {}, {}}, false),
    // A first-set Group without "Number" matches nothing, and is no
    // emergency rule.
    one("first without Number", {{}, -2, 0}, {{}, -2, 0}, false),
    {"number under several routes", {{"0301", 3, 0}, {"0301", 4, 0}, {"1000", 0, 0}, {"1007", 0, 0}, {"1014", 4, 0}},
     several_routes(), "0301/3/0;1000/0/0;1014/4/0;", std::string("0301/4/0;1007/0/0;") + EMERGENCY},
    // Removals one after another visit every rule once.
    {"consecutive removals", {{"1", -3, 0}, {"2", -3, 0}, {"3", 1, 0}, {"4", -3, 0}, {"5", -3, 0}, {"6", -3, 0},
      {"7", 1, 0}, {"8", -3, 0}}, {{"3", 1, 0}, {"7", 1, 0}}, "3/1/0;7/1/0;",
     std::string("1/-3/0;2/-3/0;4/-3/0;5/-3/0;6/-3/0;8/-3/0;") + EMERGENCY},
    {"consecutive removals from the first rule", {{"1", -3, 0}, {"2", -3, 0}, {"4", -3, 0}, {"9", 0, 0}},
     {{"1", -3, 0}, {"2", -3, 0}, {"4", -3, 0}, {"112", -2, 0}}, "1/-3/0;2/-3/0;4/-3/0;", std::string("9/0/0;") + EMERGENCY},
    {"against no rules", {{"110", -2, 0}, {"0301", 2, 0}}, {}, "", "110/-2/0;0301/2/0;112/-2/0;19222/-2/0;"},
    {"emergency numbers and near misses", NEAR_MISSES, NEAR_MISSES,
     "110/-2/0;1100/-2/0;11/-2/0;112/3/0;0112/-2/0;19222/-3/0;1922/-3/0;", "110/-2/0;112/3/0;19222/-3/0;"},
    {"missing emergency rules appended in order", {{"112", 5, 0}, {"0301", -2, 4}}, {}, "",
     "112/5/0;0301/-2/4;110/-2/0;19222/-2/0;"},
};

void PrintTo(const merge_case &c, std::ostream *os)
{
    *os << c.what;
}

struct merge_table : merge_fixture, ::testing::WithParamInterface<merge_case> {};

TEST_P(merge_table, Row)
{
    const merge_case &c = GetParam();
    for (int mode : {1, 2}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const std::string left = merged(mode, c.first, c.second);
        EXPECT_EQ(left, mode == 1 ? c.mode1 : c.mode2);
        EXPECT_EQ(run(mode), 0);
        EXPECT_EQ(rules_of(set1), left) << "a second merge changed the first set";
        // "Version" and ten "Provider" nodes stay, and whole rules stay whole.
        const bool whole = std::all_of(c.first.begin(), c.first.end(), [](const rule &r) { return r.number && r.route && r.provider; });
        EXPECT_EQ(whole ? rule_tree_fault(set1) : "", "");
        std::string second;
        for (const rule &r : c.second)
            second += to_string(r) + ";";
        EXPECT_EQ(rules_of(set2), second) << "the second set changed";
    }
}

INSTANTIATE_TEST_SUITE_P(Merge, merge_table, ::testing::ValuesIn(MERGE_CASES),
                         [](const auto &info) { return "row" + std::to_string(info.index); });

// Added rules carry their children in the order Route, Provider, Number.
TEST_F(merge_fixture, AddedRulesChildrenInOrder)
{
    merged(2, {}, {});
    lcr_node *last = lcr_find_sibling(set1, NODE_ROUTING)->child;
    while (last->next)
        last = last->next;
    EXPECT_EQ(children_text(last), "Route:0 Provider:0 Number:0 ");
}

TEST_F(merge_fixture, LaterNamesakeChildCounts)
{
    lcr_node *routing = lcr_find_sibling(set1, NODE_ROUTING);
    lcr_node *g = kelmar_alloc_node(routing, &set1, NODE_GROUP);
    lcr_set_string(kelmar_alloc_node(g, &set1, NODE_NUMBER), "999", 10);
    lcr_set_string(kelmar_alloc_node(g, &set1, NODE_NUMBER), "0301", 10);
    lcr_set_int(kelmar_alloc_node(g, &set1, NODE_ROUTE), 7);
    lcr_set_int(kelmar_alloc_node(g, &set1, NODE_ROUTE), 2);
    add_group(&set2, {"0301", 2, 0});
    EXPECT_EQ(clear_routes(set1, set2), 0);
    EXPECT_EQ(rules_of(set1), "0301/2/-;");
}

TEST_F(merge_fixture, MissingListsOrRoutingChangeNothing)
{
    add_group(&set1, {"0301", 2, 0});
    lcr_node *no_routing = nullptr;
    kelmar_alloc_node(nullptr, &no_routing, NODE_VERSION);
    for (int mode : {1, 2}) {
        auto fn = mode == 1 ? clear_routes : clear_routes2;
        EXPECT_EQ(fn(nullptr, set2), -1);
        EXPECT_EQ(fn(set1, nullptr), -1);
        EXPECT_EQ(fn(set1, no_routing), -1);
        EXPECT_EQ(fn(no_routing, set1), -1);
        EXPECT_EQ(rules_of(set1), "0301/2/0;");
    }
    kelmar_free_list(no_routing);
}

TEST_F(merge_fixture, RoutingFoundBehindOtherTopLevelNodes)
{
    lcr_node *head = nullptr;
    kelmar_alloc_node(nullptr, &head, NODE_VERSION);
    build_lcr_skeleton(&head);
    add_group(&head, {"0301", 2, 0});
    add_group(&head, {"0900", 2, 0});
    add_group(&set2, {"0301", 2, 0});
    EXPECT_EQ(clear_routes(head, set2), 0);
    EXPECT_EQ(rules_of(head), "0301/2/0;");
    kelmar_free_list(head);
}

// Both sides one tree: each rule is compared with the live tree, so a rule
// removed earlier in the walk is no longer there to match.
TEST_F(merge_fixture, OneTreeOnBothSides)
{
    add_all(set1, {{"0301", 2, 0}, {"0302", -2, 3}, {"110", -2, 0}, {"0900", -3, 0}});
    EXPECT_EQ(clear_routes(set1, set1), 0);
    EXPECT_EQ(rules_of(set1), "0301/2/0;110/-2/0;0900/-3/0;");
    add_group(&set1, {"0302", -2, 3});
    EXPECT_EQ(clear_routes2(set1, set1), 0);
    EXPECT_EQ(rules_of(set1), "110/-2/0;0302/-2/3;112/-2/0;19222/-2/0;");
}

TEST_F(merge_fixture, AddRuleCutsLongNumbers)
{
    lcr_node *routing = lcr_find_sibling(set1, NODE_ROUTING);
    const std::string longer(300, '7');
    EXPECT_EQ(add_rule(routing, &set1, longer.c_str(), 1, 2), 0);
    EXPECT_EQ(rules_of(set1), std::string(LCR_VALUE_SIZE - 1, '7') + "/1/2;");
    EXPECT_EQ(add_rule(routing, &set1, nullptr, 1, 2), -1);
    EXPECT_EQ(rules_of(set1), std::string(LCR_VALUE_SIZE - 1, '7') + "/1/2;");
}

}  // namespace
