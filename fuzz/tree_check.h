// Helpers shared by the lcr fuzz targets: building and dropping trees,
// reading a rule set back out of a tree, checking the tree's invariants and
// feeding bytes to the loader through a file.
#pragma once

#include "require.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tree.h"

struct rule {
    std::string number;
    int32_t route;
    int32_t provider;
    bool operator==(const rule &) const = default;
    auto operator<=>(const rule &) const = default;
};

struct rule_set {
    std::vector<rule> rules;            // in sibling order
    std::vector<std::string> providers;  // names of providers 0 to 9
    bool operator==(const rule_set &) const = default;
};

// A fresh skeleton tree; drop_tree frees it whole and clears the head.
lcr_node *make_tree(lcr_node **head);
void drop_tree(lcr_node **head);

// The rules under the first "Routing" node, each from its Group's last
// "Number", "Route" and "Provider" child (route 1234 and provider 0 when
// missing, as the merge reads them), and the ten provider names.
rule_set read_rule_set(lcr_node *head);

// Aborts unless the tree under `head` keeps the tree's invariants: links
// agree in both directions, parents are right, every index counts the
// earlier namesakes, and "Routing" holds "Version", ten "Provider" nodes and
// only complete rules.
void check_tree(lcr_node *head);

// Writes `len` bytes to a scratch file made once per process and returns
// its path.
const char *scratch_image(const uint8_t *data, size_t len);

