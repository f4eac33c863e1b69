// SPDX-License-Identifier: MIT
// The tree's invariants, for the tests and the fuzz targets alike. Each
// check returns "" when they hold and otherwise names the first one broken,
// so a test compares the result with "" and a fuzz target aborts with it.
#pragma once

#include <string>

#include "tree.h"

// The nodes below `parent`, at every depth: prev links match next links,
// each node hangs under its parent, has a name and an index that counts its
// earlier namesakes, and each parent's last child is the last of its list.
std::string subtree_fault(const lcr_node *parent);

// The list at `head` with everything below it, checked as subtree_fault
// does, and its "Routing" node holding one "Version", ten "Provider" nodes
// with NUL-ended names of at most 20 characters, and only whole rules: a
// Group of exactly one "Route", "Number" and "Provider", without children.
std::string rule_tree_fault(const lcr_node *head);

// The children of `parent` in order, "name:index " each, and a provider's
// name after a "Provider" under "Routing" ("Provider:3=Telco "): for a test
// to compare trees.
std::string children_text(const lcr_node *parent);
