// SPDX-License-Identifier: MIT
// The rule set a tree holds, read back for comparison: the one reader of
// rules for the lcrmerge and lcrtool tests and the fuzz targets.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tree.h"

// A rule as its Group holds it; a field is unset when the Group has no
// such child, and holds the last one when it has several.
struct rule {
    std::optional<std::string> number;
    std::optional<int32_t> route;
    std::optional<int32_t> provider;
    bool operator==(const rule &) const = default;
    auto operator<=>(const rule &) const = default;
};

struct rule_set {
    std::vector<rule> rules;             // the Groups under "Routing", in sibling order
    std::vector<std::string> providers;  // names of providers 0 to 9, "" when missing
    bool operator==(const rule_set &) const = default;
};

// The rule set under the first "Routing" node of the list at `head`
// (empty when there is none).
rule_set read_rule_set(const lcr_node *head);

// Appends a Group holding the set fields of `r` to the "Routing" node of
// the list at `head`, its children in the loader's order (Route, Number,
// Provider). Returns the Group.
lcr_node *add_group(lcr_node **head, const rule &r);

// "number/route/provider", a missing child as "-".
std::string to_string(const rule &r);

// Every rule of the list at `head` as to_string gives it, followed by ";".
std::string rules_text(const lcr_node *head);

std::ostream &operator<<(std::ostream &os, const rule &r);
