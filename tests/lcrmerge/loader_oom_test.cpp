// SPDX-License-Identifier: MIT
// The loader when memory runs out. This executable is linked with
// --wrap=malloc, so every allocation of the code under test passes through
// wrap_malloc (tests/support) and any one of them can be made to fail.
#include <gtest/gtest.h>

#include <string>

#include "image_writer.h"
#include "loader.h"
#include "rule_set.h"
#include "run_program.h"
#include "wrap_malloc.h"

namespace {

struct outcome {
    int result;
    std::string rules;
};

// Loads into a tree that already holds the rule "999", failing the nth
// allocation of the load.
outcome load_failing(const std::string &path, long nth)
{
    lcr_node *head = nullptr;
    build_lcr_skeleton(&head);
    add_group(&head, {"999", 1, 0});
    int result = with_nth_malloc_failing(nth, [&] { return load_lcr_image(path.c_str(), &head); });
    outcome out{result, rules_text(head)};
    kelmar_free_node(head);
    // With every node freed no block of nodes is left, so a new node needs
    // a malloc of its own.
    EXPECT_EQ(with_nth_malloc_failing(1, [&] { return kelmar_alloc_node(nullptr, &head, NODE_ROUTING); }), nullptr)
        << "allocation " << nth;
    return out;
}

// Fails each allocation of a load in turn. Whichever fails, the buffer or
// the nodes of the rules, the load fails and the tree keeps its old rule: a rule
// set with rules missing would pass for the image's. Nothing of the new
// rules is left behind.
TEST(LoaderOutOfMemory, AnyFailureFailsTheLoadAndKeepsTheTree)
{
    scratch_dir dir;
    std::string path = dir.file("img");
    write_file(path, image_writer().add_number("1", 5).add_number("12", 6).add_number("2", 7).bytes);

    long nth = 1;
    for (;; nth++) {
        outcome out = load_failing(path, nth);
        if (out.result == 0) {
            EXPECT_EQ(out.rules, "1/4/0;12/5/0;2/6/0;");
            break;  // past the last allocation of the load
        }
        EXPECT_EQ(out.result, -1) << "allocation " << nth;
        EXPECT_EQ(out.rules, "999/1/0;") << "allocation " << nth;
    }
    // The buffer, then one block for the nodes of all three rules (a node
    // of the rule set's own names keeps no copy of its name).
    EXPECT_EQ(nth, 1 + 1 + 1);
}

}  // namespace
