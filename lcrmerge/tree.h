// Configuration tree: named nodes with occurrence indices and a small value
// area, the in-memory form of one lcr rule set.
#pragma once

#include <cstddef>
#include <cstdint>

// Marks the few names that stay global in the linked program; the library is
// built with hidden visibility, so everything else becomes local.
#define LCR_EXPORT __attribute__((visibility("default")))

// Bytes in a node's value area: a 32-bit integer or a NUL-terminated string.
inline constexpr size_t LCR_VALUE_SIZE = 168;

// Node names used by the rule set.
inline constexpr char NODE_ROUTING[] = "Routing";
inline constexpr char NODE_VERSION[] = "Version";
inline constexpr char NODE_PROVIDER[] = "Provider";
inline constexpr char NODE_GROUP[] = "Group";
inline constexpr char NODE_ROUTE[] = "Route";
inline constexpr char NODE_NUMBER[] = "Number";

// Providers 0 to 9 are the "Provider" children of "Routing".
inline constexpr int LCR_PROVIDER_COUNT = 10;

struct lcr_node {
    lcr_node *parent;
    lcr_node *next;
    lcr_node *prev;
    lcr_node *child;
    char *name;
    int32_t index;  // earlier siblings with the same name
    alignas(int32_t) char value[LCR_VALUE_SIZE];
};

// The two rule sets of lcrmerge: the first set is merged and compiled, the
// second is only read.
extern lcr_node *current_tree;
extern lcr_node *default_tree;

lcr_node *kelmar_alloc_node(lcr_node *parent, lcr_node **list_head, const char *name);
void kelmar_free_list(lcr_node *first);
int kelmar_free_node(lcr_node *node);
// Appends "Routing" with "Version" and ten "Provider" nodes to the list at
// `list_head`. 0, or -1 when memory runs out, with the list as it was.
int build_lcr_skeleton(lcr_node **list_head);

// First node named `name` in the sibling list starting at `first`, or null.
lcr_node *lcr_find_sibling(lcr_node *first, const char *name);

bool lcr_name_is(const lcr_node *node, const char *name);

// Value area access. Integers go through memcpy so the area needs no
// particular type; strings are cut to fit with their NUL.
int32_t lcr_value_int(const lcr_node *node);
void lcr_set_int(lcr_node *node, int32_t value);
const char *lcr_value_string(const lcr_node *node);
void lcr_set_string(lcr_node *node, const char *text, size_t max_len);
