// The rules of a tree as their numbers, for the lcrmerge tests that only ask
// which rules a tree holds.
#pragma once

#include <string>

#include "tree.h"

// The numbers of the Groups under `routing`, "number;" each in tree order.
// A Group that lacks any of its three children shows as "broken;", so a
// half-built rule cannot pass for a whole one.
std::string rule_numbers(const lcr_node *routing);
