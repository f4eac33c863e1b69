// SPDX-License-Identifier: MIT
// A rule as the tree holds it: a "Group" child of "Routing" with "Route",
// "Number" and "Provider" children, and the provider names beside the
// rules. Reading and writing them are done here only, for the loader, the
// compiler, the merge and lcrtool alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_format.h"
#include "tree.h"

// A rule as read from its Group, each field from the Group's last child of
// that name; children of other names are passed over.
struct lcr_rule {
    const char *number;  // the Number's value area; null without a Number
    int32_t route;
    int32_t provider;
};

// Nodes of a rule that lcr_build_rule makes: the Group and three children.
inline constexpr size_t LCR_RULE_NODES = 4;

// Reads `group`, taking `missing_route` and `missing_provider` for a field
// whose child is missing. The callers differ on purpose in the route: the
// compiler encodes a rule without a Route as one the provider decides
// (ROUTE_BY_PROVIDER), while the merge gives it a code no image holds
// (NO_ROUTE), so that it matches only a rule that has no Route either.
lcr_rule lcr_read_rule(const lcr_node *group, int32_t missing_route, int32_t missing_provider);

// Hands `visit` each rule under `routing` as the compiler takes it, in
// order: every Group with a Number, a missing Route read as one the
// provider decides (ROUTE_BY_PROVIDER) and a missing Provider as 0.
// Stops, and returns false, as soon as `visit` returns false.
template <class Visit>
bool lcr_for_each_compiled_rule(const lcr_node *routing, Visit visit)
{
    for (const lcr_node *group = routing->child; group; group = group->next) {
        if (!lcr_is(group, NODE_GROUP))
            continue;
        lcr_rule rule = lcr_read_rule(group, ROUTE_BY_PROVIDER, 0);
        if (rule.number && !visit(rule))
            return false;
    }
    return true;
}

// Order in which lcr_build_rule creates a Group's children. Readers find
// them by name, so the order shows only to whoever walks the children:
// lcrtool build takes the loader's, so that its tree is the one a load of
// the image it writes gives; add_rule makes the order the design gives the
// rules a merge adds.
enum class lcr_child_order {
    route_number_provider,  // the loader and lcrtool build
    route_provider_number,  // add_rule
};

// Appends a rule as the last child of `parent` (null: to the list at
// `list_head`, which every creation is handed), the number cut to fit the
// value area. The new Group, or null when memory ran out, with nothing of
// the rule left behind.
lcr_node *lcr_build_rule(lcr_node *parent, lcr_node **list_head, const lcr_rule &rule, lcr_child_order order);

// Provider number (0 to 9) that a child of "Routing" names, or -1 when it
// is no "Provider" node of the skeleton.
int lcr_provider_slot(const lcr_node *node);

// The names of providers 0 to 9, the string values of the ten "Provider"
// children of "Routing", are read and written here only, each cut at
// LCR_PROVIDER_NAME_MAX characters.
using lcr_provider_name = char[LCR_PROVIDER_NAME_MAX + 1];

// Copies the name of each provider that `routing` has into names[p] with its
// NUL, leaving the others alone. Returns the providers found: bit p for
// provider p.
uint32_t lcr_read_provider_names(const lcr_node *routing, lcr_provider_name *names);

// Gives each provider that `routing` has the name at `first + p * stride`,
// which ends at its NUL or after LCR_PROVIDER_NAME_MAX characters: the ten
// fields of an image (stride LCR_PROVIDER_NAME_STRIDE) and an array of
// lcr_provider_name alike.
void lcr_write_provider_names(lcr_node *routing, const char *first, size_t stride);
