// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tree.h"
#include "tree_invariants.h"

namespace {

// Frees a top-level list whose first node is never removed by the code
// under test; keeps the sanitizer build's leak check meaningful.
struct tree_fixture : ::testing::Test {
    lcr_node *head = nullptr;
    ~tree_fixture() override
    {
        if (head) {
            if (head->next)
                kelmar_free_list(head->next);  // only reached for top-level lists of one node
            kelmar_free_node(head);
        }
    }
    lcr_node *add(lcr_node *parent, const char *name) { return kelmar_alloc_node(parent, &head, name); }
};

TEST_F(tree_fixture, SkeletonHasVersionAndTenProviders)
{
    EXPECT_EQ(build_lcr_skeleton(&head), 0);
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(head->name, "Routing");
    EXPECT_EQ(children_text(head),
              "Version:0 Provider:0= Provider:1= Provider:2= Provider:3= Provider:4= "
              "Provider:5= Provider:6= Provider:7= Provider:8= Provider:9= ");
    EXPECT_EQ(lcr_find_sibling(head, NODE_ROUTING), head);
}

TEST_F(tree_fixture, NullNameIsRefusedWithMessage)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(add(nullptr, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kelmar_alloc_node(null)\n");
    EXPECT_EQ(head, nullptr);
}

TEST_F(tree_fixture, RemovingFirstAndOnlyChildren)
{
    lcr_node *root = add(nullptr, "Routing");
    lcr_node *first = add(root, "Group");
    lcr_node *second = add(root, "Group");
    EXPECT_EQ(kelmar_free_node(first), 0);
    EXPECT_EQ(root->child, second);
    EXPECT_EQ(second->prev, nullptr);
    EXPECT_EQ(second->index, 0);
    EXPECT_EQ(kelmar_free_node(second), 0);
    EXPECT_EQ(root->child, nullptr);
    EXPECT_EQ(kelmar_free_node(nullptr), -1);
}

TEST_F(tree_fixture, RemovingDeepSubtreeKeepsSiblingsLinked)
{
    lcr_node *root = add(nullptr, "Routing");
    lcr_node *a = add(root, "A");
    lcr_node *deep = add(root, "Group");
    lcr_node *c = add(root, "C");
    lcr_node *n = deep;
    for (int level = 0; level < 50; level++) {
        add(n, "Leaf");
        n = add(n, "Group");
    }
    EXPECT_EQ(kelmar_free_node(deep), 0);  // the sanitizer build reports anything left
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(c->prev, a);
    EXPECT_EQ(subtree_fault(root), "");
}

TEST_F(tree_fixture, FreeListOfFirstChildEmptiesParent)
{
    lcr_node *root = add(nullptr, "Routing");
    for (int i = 0; i < 5; i++)
        add(add(root, "Group"), "Number");
    kelmar_free_list(root->child);
    EXPECT_EQ(root->child, nullptr);
}

// Appends and removals in a scrambled order, over the rule set's own names
// and others (a name given as another copy of its text, a name that differs
// in case): every node keeps the name it was given, every index keeps
// counting the earlier namesakes, and the last child stays known, so a node
// appended after any removal is numbered from its nearest namesake. Then
// one walk removes every other Group.
TEST_F(tree_fixture, IndicesHoldOverManyAppendsAndRemovals)
{
    lcr_node *root = add(nullptr, "Routing");
    const std::string group_copy = "Group";
    const char *names[] = {NODE_GROUP, group_copy.c_str(), NODE_PROVIDER, "Other", "group"};
    std::vector<std::pair<lcr_node *, const char *>> nodes;  // each with the name it was given
    uint32_t seed = 7;
    for (int step = 1; step <= 400; step++) {
        seed = seed * 1103515245u + 12345u;
        uint32_t r = seed >> 8;
        if (nodes.empty() || r % 3 != 0) {
            nodes.push_back({add(root, names[r % 5]), names[r % 5]});
        } else {
            size_t i = r % nodes.size();
            ASSERT_EQ(kelmar_free_node(nodes[i].first), 0);
            nodes.erase(nodes.begin() + static_cast<long>(i));
        }
        if (step % 20 == 0) {
            EXPECT_EQ(subtree_fault(root), "");
        }
    }
    for (const auto &[node, name] : nodes)
        EXPECT_STREQ(node->name, name);
    // A name outside the rule set's is found by its text, and only by it.
    const lcr_node *other = lcr_find_sibling(root->child, std::string("Other").c_str());
    EXPECT_TRUE(other && strcmp(other->name, "Other") == 0);
    EXPECT_EQ(lcr_find_sibling(root->child, "Othe"), nullptr);
    bool drop = false;
    lcr_remove_children_if(root, NODE_GROUP, [&](const lcr_node *) { return drop = !drop; });
    EXPECT_EQ(subtree_fault(root), "");
    add(root, "Group");
    EXPECT_EQ(subtree_fault(root), "");
}

TEST_F(tree_fixture, ValueAreaHoldsIntegersAndCutStrings)
{
    lcr_node *node = add(nullptr, "Number");
    lcr_set_int(node, -3);
    EXPECT_EQ(lcr_value_int(node), -3);
    std::string longer(300, '7');
    lcr_set_string(node, longer.c_str(), 1000);
    EXPECT_EQ(std::string(lcr_value_string(node)), longer.substr(0, LCR_VALUE_SIZE - 1));
    lcr_set_string(node, "0123456789012345678901234", 20);
    EXPECT_STREQ(lcr_value_string(node), "01234567890123456789");
}

}  // namespace
