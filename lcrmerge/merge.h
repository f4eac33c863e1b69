// The two merge modes and the helpers they share. These functions keep C
// linkage and their names: they are part of the program's exported surface.
#pragma once

#include <cstdint>

#include "tree.h"

// Route of a rule key whose Group has no "Route" child.
inline constexpr int32_t NO_ROUTE = 1234;

extern "C" {
LCR_EXPORT int same_provider(lcr_node *routing1, int32_t provider1, lcr_node *routing2, int32_t provider2);
LCR_EXPORT int add_rule(lcr_node *parent, lcr_node **list_head, const char *number, int32_t route, int32_t provider);
LCR_EXPORT int clear_routes(lcr_node *set1, lcr_node *set2);
LCR_EXPORT int clear_routes2(lcr_node *set1, lcr_node *set2);
}
