// SPDX-License-Identifier: MIT
// Configuration tree: named nodes with occurrence indices and a small value
// area, the in-memory form of one lcr rule set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_format.h"

// Marks the few names that stay global in the linked program; the library is
// built with hidden visibility, so everything else becomes local.
#define LCR_EXPORT __attribute__((visibility("default")))

// Bytes in a node's value area: a 32-bit integer or a NUL-terminated string.
inline constexpr size_t LCR_VALUE_SIZE = 168;

// Node names used by the rule set. A node created with one of these names
// keeps a pointer to the constant itself instead of a copy, so a node's name
// equals one of them exactly when the pointers are equal: the walks over
// hundreds of rules compare names without reading them.
inline constexpr char NODE_ROUTING[] = "Routing";
inline constexpr char NODE_VERSION[] = "Version";
inline constexpr char NODE_PROVIDER[] = "Provider";
inline constexpr char NODE_GROUP[] = "Group";
inline constexpr char NODE_ROUTE[] = "Route";
inline constexpr char NODE_NUMBER[] = "Number";

// Providers 0 to 9 (LCR_PROVIDER_COUNT) are the "Provider" children of
// "Routing".

struct lcr_node {
    lcr_node *parent;
    lcr_node *next;
    lcr_node *prev;
    lcr_node *child;
    lcr_node *last_child;  // so that appending needs no walk over the siblings
    // One of the NODE_ constants above, or the node's own heap copy.
    const char *name;
    int32_t index;  // earlier siblings with the same name
    alignas(int32_t) char value[LCR_VALUE_SIZE];
};

// The two rule sets of lcrmerge: the first set is merged and compiled, the
// second is only read.
extern lcr_node *current_tree;
extern lcr_node *default_tree;

// Appends a node named `name` under `parent` (null: to the list at
// `list_head`). Its index comes from the nearest earlier namesake, found by
// walking back from the last sibling, so appending a name that the last
// siblings carry (a rule behind the rules) takes constant time.
lcr_node *kelmar_alloc_node(lcr_node *parent, lcr_node **list_head, const char *name);
void kelmar_free_list(lcr_node *first);
int kelmar_free_node(lcr_node *node);
// Removes `node` with its descendants like kelmar_free_node, but leaves the
// indices of its later namesakes for the caller to put right.
void lcr_unlink_node(lcr_node *node);
// Appends "Routing" with "Version" and ten "Provider" nodes to the list at
// `list_head`. The "Routing" node, or null when memory runs out, with the
// list as it was.
lcr_node *lcr_build_skeleton_routing(lcr_node **list_head);
// The same, for the driver: 0, or -1 when memory runs out.
int build_lcr_skeleton(lcr_node **list_head);

// First node named `name` in the sibling list starting at `first`, or null.
lcr_node *lcr_find_sibling(lcr_node *first, const char *name);

bool lcr_name_is(const lcr_node *node, const char *name);

// lcr_name_is for one of the NODE_ constants, which a node bearing that
// name points to: a pointer comparison, for the walks over every rule.
inline bool lcr_is(const lcr_node *node, const char *node_name)
{
    return node->name == node_name;
}

// Removes, in one walk over the children of `parent`, each child named
// `name` (one of the NODE_ constants) for which `drop(child)` holds, and
// renumbers the namesakes that stay. The tree ends as after
// kelmar_free_node on each in turn, but the later siblings are walked once
// in all rather than once per removal. `drop` sees the children in order;
// the namesakes after the one it is given are not yet renumbered.
template <class Drop>
void lcr_remove_children_if(lcr_node *parent, const char *name, Drop drop)
{
    int32_t kept = 0;
    lcr_node *next;
    for (lcr_node *node = parent->child; node; node = next) {
        next = node->next;  // taken before a removal frees the node
        if (!lcr_is(node, name))
            continue;
        if (drop(node))
            lcr_unlink_node(node);
        else
            node->index = kept++;
    }
}

// Value area access. Integers go through memcpy so the area needs no
// particular type; strings are cut to fit with their NUL.
int32_t lcr_value_int(const lcr_node *node);
void lcr_set_int(lcr_node *node, int32_t value);
const char *lcr_value_string(const lcr_node *node);
void lcr_set_string(lcr_node *node, const char *text, size_t max_len);
