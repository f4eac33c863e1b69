// SPDX-License-Identifier: MIT
// The two merge modes and the helpers they share. These functions keep C
// linkage and their names: they are part of the program's exported surface.
#pragma once

#include <cstdint>

#include "tree.h"

// Route of a rule key whose Group has no "Route" child.
inline constexpr int32_t NO_ROUTE = 1234;

// Exported, and kept in the linked program even where every call to them is
// inlined and section garbage collection would drop the function.
#define LCR_MERGE_API LCR_EXPORT __attribute__((used, retain))

extern "C" {
// 1 when a first-set rule with `provider1` may match a second-set rule: only
// provider 0 can. The other arguments are not looked at.
LCR_MERGE_API int same_provider(lcr_node *routing1, int32_t provider1, lcr_node *routing2, int32_t provider2);
// Appends a rule (Group with Route, Provider, Number) as the last child of
// `parent`. A number longer than the value area holds is cut to fit. 0 when
// the rule was added; -1 when it was not, with nothing left behind.
LCR_MERGE_API int add_rule(lcr_node *parent, lcr_node **list_head, const char *number, int32_t route, int32_t provider);
// Mode 1: removes every first-set rule that has no match in the second set.
// Mode 2: removes every first-set rule that has one, except the emergency
// numbers 110, 112 and 19222, then appends a rule for each of those missing.
// Both take the two list heads; -1 when either holds no "Routing" node (and
// nothing changes), else 0. Mode 2 also gives -1 when an emergency rule
// cannot be added for want of memory; the others are still added.
LCR_MERGE_API int clear_routes(lcr_node *set1, lcr_node *set2);
LCR_MERGE_API int clear_routes2(lcr_node *set1, lcr_node *set2);
}
