// The loader when memory runs out. This executable is linked with
// --wrap=malloc, so every allocation of the code under test passes through
// __wrap_malloc below and any one of them can be made to fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "image_writer.h"
#include "loader.h"
#include "run_program.h"

extern "C" void *__real_malloc(size_t size);

namespace {

// Allocations made since counting began, and the one to fail (0: none).
long allocations = 0;
long fail_at = 0;

}  // namespace

extern "C" void *__wrap_malloc(size_t size)
{
    if (fail_at && ++allocations == fail_at)
        return nullptr;
    return __real_malloc(size);
}

namespace {

// Rules as "number;" in tree order; a Group without all three of its
// children shows as "broken;".
std::string rules(const lcr_node *routing)
{
    std::string s;
    for (const lcr_node *g = routing->child; g; g = g->next) {
        if (!lcr_name_is(g, NODE_GROUP))
            continue;
        const lcr_node *number = lcr_find_sibling(g->child, NODE_NUMBER);
        bool whole = number && lcr_find_sibling(g->child, NODE_ROUTE) && lcr_find_sibling(g->child, NODE_PROVIDER);
        s += whole ? std::string(lcr_value_string(number)) + ";" : "broken;";
    }
    return s;
}

struct outcome {
    int result;
    std::string rules;
};

outcome load_failing(const std::string &path, long nth)
{
    lcr_node *head = nullptr;
    build_lcr_skeleton(&head);
    allocations = 0;
    fail_at = nth;
    int result = load_lcr_image(path.c_str(), &head);
    fail_at = 0;
    outcome out{result, rules(head)};
    kelmar_free_node(head);
    return out;
}

// Fails each allocation of a load in turn. The buffer failing fails the
// load; a rule failing drops that rule with the rules below it and nothing
// else, and leaves no node behind (the sanitizer build checks for leaks).
TEST(LoaderOutOfMemory, DropsOnlyTheRuleThatFailed)
{
    scratch_dir dir;
    std::string path = dir.file("img");
    write_file(path, image_writer().add_number("1", 5).add_number("12", 6).add_number("2", 7).bytes);

    outcome first = load_failing(path, 1);
    EXPECT_EQ(first.result, -1);
    EXPECT_EQ(first.rules, "");

    std::set<std::string> seen;
    for (long nth = 2;; nth++) {
        outcome out = load_failing(path, nth);
        ASSERT_EQ(out.result, 0) << "allocation " << nth;
        if (out.rules == "1;12;2;")
            break;  // past the last allocation of the load
        EXPECT_TRUE(out.rules == "2;" || out.rules == "1;2;" || out.rules == "1;12;")
            << "allocation " << nth << ": " << out.rules;
        seen.insert(out.rules);
    }
    EXPECT_EQ(seen.size(), 3u);
}

}  // namespace
