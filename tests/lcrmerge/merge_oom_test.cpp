// SPDX-License-Identifier: MIT
// add_rule and mode 2 when memory runs out. This executable is linked with
// --wrap=malloc, so any one allocation of the code under test can fail.
#include <gtest/gtest.h>

#include <string>

#include "merge.h"
#include "rule_set.h"
#include "wrap_malloc.h"

namespace {

// A rule is four nodes of one block each; whichever of the four fails,
// nothing of the rule stays.
TEST(MergeOutOfMemory, AddRuleLeavesNoHalfBuiltRule)
{
    for (long nth = 1; nth <= 5; nth++) {
        lcr_node *head = nullptr;
        build_lcr_skeleton(&head);
        int result = with_nth_malloc_failing(nth, [&] { return add_rule(head, &head, "112", -2, 0); });
        EXPECT_EQ(result, nth <= 4 ? -1 : 0) << nth;
        EXPECT_EQ(rules_text(head), nth <= 4 ? "" : "112/-2/0;") << nth;
        kelmar_free_list(head);
        // A rule that would head a list of its own leaves the list empty.
        lcr_node *top = nullptr;
        EXPECT_EQ(with_nth_malloc_failing(nth, [&] { return add_rule(nullptr, &top, "1", 1, 0); }), result);
        EXPECT_EQ(top == nullptr, nth <= 4) << nth;
        kelmar_free_list(top);
    }
}

// A failed addition fails the merge, so the driver does not write the rule
// set; the tree stays whole, and the next rule is still added.
TEST(MergeOutOfMemory, ModeTwoFailsWhenAnEmergencyRuleIsMissing)
{
    lcr_node *set1 = nullptr, *set2 = nullptr;
    build_lcr_skeleton(&set1);
    build_lcr_skeleton(&set2);
    // The third allocation is the "Provider" node of the rule for 110.
    EXPECT_EQ(with_nth_malloc_failing(3, [&] { return clear_routes2(set1, set2); }), -1);
    EXPECT_EQ(rules_text(set1), "112/-2/0;19222/-2/0;");
    kelmar_free_list(set1);
    kelmar_free_list(set2);
}

// Without memory for the table of second-set keys, both modes read the
// keys from the tree and come to the same result.
TEST(MergeOutOfMemory, KeyTableIsOnlyAShortcut)
{
    for (int mode : {1, 2}) {
        for (long nth : {0, 1}) {
            lcr_node *set1 = nullptr, *set2 = nullptr;
            build_lcr_skeleton(&set1);
            build_lcr_skeleton(&set2);
            for (const char *n : {"0301", "0302", "110", "0900"})
                add_rule(set1, &set1, n, 2, 0);
            for (const char *n : {"0301", "110", "0800"})
                add_rule(set2, &set2, n, 2, 0);
            auto merge = [&] { return mode == 1 ? clear_routes(set1, set2) : clear_routes2(set1, set2); };
            EXPECT_EQ(with_nth_malloc_failing(nth, merge), 0);
            EXPECT_EQ(rules_text(set1), mode == 1 ? "0301/2/0;110/2/0;" : "0302/2/0;110/2/0;0900/2/0;112/-2/0;19222/-2/0;") << mode << " " << nth;
            kelmar_free_list(set1);
            kelmar_free_list(set2);
        }
    }
}

}  // namespace
