// SPDX-License-Identifier: MIT
// A rule list, or a rule set already in a tree, through lcrmerge's
// compiler: the image it writes and what it drops or refuses, as values
// that name the rules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compiler.h"
#include "rule_list.h"

struct compiled_rules {
    lcr_image_out out;  // out.buf malloc'd, LCR_IMAGE_MAX bytes
    int result;         // lcr_compile's: 0, or -1 when refused
    uint32_t dropped;
    // Each problem in the order the compiler found them; `rule` is the
    // index of the rule in the list, and `number` is null.
    lcr_problem *problems;  // malloc'd
    size_t count;
};

// Compiles the names and rules of `list`, in the list's order, as lcrmerge
// compiles a rule set. 0; -1 when memory runs out, with nothing to free.
int compile_rules(const rule_list *list, compiled_rules *c);
// Compiles the rule set under `routing` as it stands, as lcrmerge's driver
// compiles the merged one; `rule` of a problem is then the place of the
// rule in lcr_for_each_compiled_rule's order. 0, or -1 as compile_rules.
int compile_tree(const lcr_node *routing, compiled_rules *c);
void compiled_rules_free(compiled_rules *c);
