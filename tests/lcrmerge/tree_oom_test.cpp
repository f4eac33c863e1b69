// SPDX-License-Identifier: MIT
// The skeleton when memory runs out. This executable is linked with
// --wrap=malloc, so any one allocation of the code under test can fail.
#include <gtest/gtest.h>

#include <string>

#include "node_block.h"
#include "tree.h"
#include "tree_invariants.h"
#include "wrap_malloc.h"

namespace {

// Twelve nodes of one block each (their names are the rule set's own, of
// which a node keeps no copy). Whichever of the 12 fails, the skeleton
// is not built at all: a "Routing" node short of a "Provider" would load an
// image without that provider's name. The list keeps what it held before,
// whether the skeleton would have been its first node or a later one.
TEST(TreeOutOfMemory, SkeletonIsWholeOrAbsent)
{
    for (bool other_first : {false, true}) {
        for (long nth = 1; nth <= 13; nth++) {
            SCOPED_TRACE("allocation " + std::to_string(nth) + (other_first ? " after another node" : ""));
            lcr_node *head = nullptr;
            lcr_node *other = other_first ? kelmar_alloc_node(nullptr, &head, "Other") : nullptr;
            int result = with_nth_malloc_failing(nth, [&] { return build_lcr_skeleton(&head); });
            lcr_node *routing = lcr_find_sibling(head, NODE_ROUTING);
            if (nth <= 12) {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(routing, nullptr);
                EXPECT_EQ(head, other);
                if (other) {
                    EXPECT_EQ(other->next, nullptr);
                }
            } else {
                ASSERT_EQ(result, 0);
                EXPECT_EQ(rule_tree_fault(head), "");
            }
            kelmar_free_list(head);  // the sanitizer and memcheck builds see anything left behind
        }
    }
}

// Reserved nodes are created without a malloc, within the block taken for
// them; a removed one is taken again by the next creation; the block goes
// back to the C library with its last node, after which a creation needs a
// malloc again.
TEST(TreeOutOfMemory, ReservedNodesComeFromOneBlock)
{
    ASSERT_TRUE(lcr_reserve_nodes(3));
    size_t size;
    const auto *block = static_cast<const char *>(wrap_malloc_last(&size));
    auto create_failing_malloc = [](lcr_node *parent, lcr_node **head) {
        return with_nth_malloc_failing(1, [&] { return kelmar_alloc_node(parent, head, NODE_GROUP); });
    };
    lcr_node *head = nullptr;
    lcr_node *routing = create_failing_malloc(nullptr, &head);
    ASSERT_NE(routing, nullptr);
    lcr_node *a = create_failing_malloc(routing, &head);
    ASSERT_NE(a, nullptr);
    const auto *last = reinterpret_cast<const char *>(create_failing_malloc(routing, &head));
    EXPECT_TRUE(last && last >= block && last + sizeof(lcr_node) <= block + size);
    EXPECT_EQ(create_failing_malloc(routing, &head), nullptr);

    kelmar_free_node(a);
    // A name of its own that cannot be copied gives the node back.
    EXPECT_EQ(with_nth_malloc_failing(1, [&] { return kelmar_alloc_node(routing, &head, "Other"); }), nullptr);
    lcr_node *again = create_failing_malloc(routing, &head);
    EXPECT_EQ(again, a);
    EXPECT_EQ(again->index, 1);

    kelmar_free_node(head);
    EXPECT_EQ(create_failing_malloc(nullptr, &head), nullptr);
}

}  // namespace
