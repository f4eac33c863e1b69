// SPDX-License-Identifier: MIT
#include "compile.h"

#include <cstdlib>

namespace {

// Builds the rule set of `list` into the list at `head`: the skeleton, the
// ten names, one Group per rule in the list's order. Its "Routing" node,
// or null when memory ran out.
const lcr_node *build_tree(const rule_list *list, lcr_node **head)
{
    lcr_node *routing = lcr_build_skeleton_routing(head);
    if (!routing)
        return nullptr;
    lcr_write_provider_names(routing, list->names[0], sizeof list->names[0]);
    // The children in the loader's order, so the tree is the one a load of
    // the built image gives.
    for (size_t i = 0; i < list->count; i++) {
        const tool_rule &r = list->rules[i];
        lcr_rule rule = {r.number, r.route, r.provider};
        if (!lcr_build_rule(routing, head, rule, lcr_child_order::route_number_provider))
            return nullptr;
    }
    return routing;
}

// Keeps each problem; the compiler reports at most one per rule, so the
// room for one per rule is never exceeded.
void keep_problem(void *context, const lcr_problem &problem)
{
    auto *c = static_cast<compiled_rules *>(context);
    c->problems[c->count] = problem;
    c->problems[c->count].number = nullptr;
    c->count++;
}

}  // namespace

int compile_rules(const rule_list *list, compiled_rules *c)
{
    *c = compiled_rules{};
    lcr_node *tree = nullptr;
    const lcr_node *routing = build_tree(list, &tree);
    int result = routing ? compile_tree(routing, c) : -1;
    kelmar_free_list(tree);
    return result;
}

int compile_tree(const lcr_node *routing, compiled_rules *c)
{
    size_t rules = 0;
    lcr_for_each_compiled_rule(routing, [&](const lcr_rule &) {
        rules++;
        return true;
    });
    *c = compiled_rules{};
    c->out.buf = static_cast<uint8_t *>(malloc(LCR_IMAGE_MAX));
    c->problems = static_cast<lcr_problem *>(malloc((rules + 1) * sizeof(lcr_problem)));
    auto *scratch = static_cast<lcr_compile_scratch *>(malloc(sizeof(lcr_compile_scratch)));
    bool room = c->out.buf && c->problems && scratch;
    if (room)
        c->result = lcr_compile(routing, &c->out, scratch, {keep_problem, c}, &c->dropped);
    free(scratch);
    if (!room) {
        compiled_rules_free(c);
        return -1;
    }
    return 0;
}

void compiled_rules_free(compiled_rules *c)
{
    free(c->out.buf);
    free(c->problems);
    *c = compiled_rules{};
}
