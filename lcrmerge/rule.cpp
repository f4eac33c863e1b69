// SPDX-License-Identifier: MIT
#include "rule.h"

#include <cstring>

lcr_rule lcr_read_rule(const lcr_node *group, int32_t missing_route, int32_t missing_provider)
{
    lcr_rule rule = {nullptr, missing_route, missing_provider};
    for (const lcr_node *c = group->child; c; c = c->next) {
        if (lcr_is(c, NODE_NUMBER))
            rule.number = lcr_value_string(c);
        else if (lcr_is(c, NODE_ROUTE))
            rule.route = lcr_value_int(c);
        else if (lcr_is(c, NODE_PROVIDER))
            rule.provider = lcr_value_int(c);
    }
    return rule;
}

lcr_node *lcr_build_rule(lcr_node *parent, lcr_node **list_head, const lcr_rule &rule, lcr_child_order order)
{
    lcr_node *group = kelmar_alloc_node(parent, list_head, NODE_GROUP);
    if (!group)
        return nullptr;
    const char *second = NODE_NUMBER, *third = NODE_PROVIDER;
    if (order == lcr_child_order::route_provider_number)
        second = NODE_PROVIDER, third = NODE_NUMBER;
    lcr_node *route = kelmar_alloc_node(group, list_head, NODE_ROUTE);
    lcr_node *b = route ? kelmar_alloc_node(group, list_head, second) : nullptr;
    lcr_node *c = b ? kelmar_alloc_node(group, list_head, third) : nullptr;
    if (!c) {
        // A half-built rule would compile as another rule, or as none.
        // kelmar_free_node cannot move a list head, so a Group that heads a
        // top-level list is unhooked here. The Group is the last sibling,
        // so its removal renumbers nothing.
        if (!parent && *list_head == group)
            *list_head = group->next;
        kelmar_free_node(group);
        return nullptr;
    }
    lcr_node *number = second == NODE_NUMBER ? b : c;
    lcr_node *provider = second == NODE_NUMBER ? c : b;
    lcr_set_int(route, rule.route);
    // The value area holds at most LCR_VALUE_SIZE - 1 characters and the
    // NUL; a longer number is cut rather than overrunning the node.
    lcr_set_string(number, rule.number, LCR_VALUE_SIZE - 1);
    lcr_set_int(provider, rule.provider);
    return group;
}

int lcr_provider_slot(const lcr_node *node)
{
    // A "Provider" appended beyond the ten of the skeleton has no name slot.
    if (!lcr_is(node, NODE_PROVIDER) || node->index < 0 || node->index >= LCR_PROVIDER_COUNT)
        return -1;
    return node->index;
}

uint32_t lcr_read_provider_names(const lcr_node *routing, lcr_provider_name *names)
{
    uint32_t found = 0;
    for (const lcr_node *node = routing->child; node; node = node->next) {
        int p = lcr_provider_slot(node);
        if (p < 0)
            continue;
        const char *name = lcr_value_string(node);
        size_t len = strnlen(name, LCR_PROVIDER_NAME_MAX);
        memcpy(names[p], name, len);
        names[p][len] = '\0';
        found |= 1u << p;
    }
    return found;
}

void lcr_write_provider_names(lcr_node *routing, const char *first, size_t stride)
{
    for (lcr_node *node = routing->child; node; node = node->next) {
        int p = lcr_provider_slot(node);
        if (p >= 0)
            lcr_set_string(node, first + static_cast<size_t>(p) * stride, LCR_PROVIDER_NAME_MAX);
    }
}
