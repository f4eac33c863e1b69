// SPDX-License-Identifier: MIT
// Helpers shared by the lcr fuzz targets: building and dropping trees,
// checking the tree's invariants and feeding bytes to the loader through a
// file. Rule sets are read back with the tests' reader (tests/support).
#pragma once

#include "require.h"

#include <cstddef>
#include <cstdint>

#include "rule_set.h"
#include "tree.h"

// A fresh skeleton tree; drop_tree frees it whole and clears the head.
lcr_node *make_tree(lcr_node **head);
void drop_tree(lcr_node **head);

// Aborts unless the tree under `head` keeps the invariants that
// rule_tree_fault (tests/support) checks.
void check_tree(lcr_node *head);

// Writes `len` bytes to a scratch file made once per process and returns
// its path.
const char *scratch_image(const uint8_t *data, size_t len);

