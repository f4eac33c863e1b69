// SPDX-License-Identifier: MIT
#include "tree_invariants.h"

#include <cstring>

namespace {

std::string list_fault(const lcr_node *parent, const lcr_node *first)
{
    const lcr_node *prev = nullptr;
    for (const lcr_node *node = first; node; prev = node, node = node->next) {
        if (node->prev != prev)
            return "prev link does not match next link";
        if (node->parent != parent)
            return "node hangs under the wrong parent";
        if (!node->name)
            return "node without a name";
        int32_t earlier = 0;
        for (const lcr_node *b = first; b != node; b = b->next)
            earlier += strcmp(b->name, node->name) == 0;
        if (node->index != earlier)
            return "index of " + std::string(node->name) + " does not count the earlier namesakes";
        std::string below = list_fault(node, node->child);
        if (!below.empty())
            return below;
    }
    if (parent && parent->last_child != prev)
        return "last child is not the last of the list";
    return "";
}

std::string group_fault(const lcr_node *group)
{
    int route = 0, number = 0, provider = 0, other = 0;
    for (const lcr_node *k = group->child; k; k = k->next) {
        if (k->child)
            return "rule child with children";
        if (lcr_name_is(k, NODE_ROUTE))
            route++;
        else if (lcr_name_is(k, NODE_NUMBER))
            number++;
        else if (lcr_name_is(k, NODE_PROVIDER))
            provider++;
        else
            other++;
    }
    if (route != 1 || number != 1 || provider != 1 || other != 0)
        return "rule without exactly one Route, Number and Provider";
    return "";
}

}  // namespace

std::string subtree_fault(const lcr_node *parent)
{
    return list_fault(parent, parent->child);
}

std::string rule_tree_fault(const lcr_node *head)
{
    std::string fault = list_fault(nullptr, head);
    if (!fault.empty())
        return fault;
    const lcr_node *routing = head;
    while (routing && !lcr_name_is(routing, NODE_ROUTING))
        routing = routing->next;
    if (!routing)
        return "no Routing node";
    int versions = 0, providers = 0;
    for (const lcr_node *c = routing->child; c; c = c->next) {
        if (lcr_name_is(c, NODE_VERSION)) {
            versions++;
        } else if (lcr_name_is(c, NODE_PROVIDER)) {
            providers++;
            if (!memchr(c->value, '\0', LCR_VALUE_SIZE))
                return "provider name without NUL";
            if (strlen(c->value) > 20)
                return "provider name longer than 20 characters";
        } else if (lcr_name_is(c, NODE_GROUP)) {
            fault = group_fault(c);
            if (!fault.empty())
                return fault;
        } else {
            return "unexpected child of Routing";
        }
    }
    if (versions != 1 || providers != LCR_PROVIDER_COUNT)
        return "skeleton incomplete";
    return "";
}

std::string children_text(const lcr_node *parent)
{
    std::string s;
    for (const lcr_node *n = parent->child; n; n = n->next) {
        s += std::string(n->name) + ":" + std::to_string(n->index);
        if (lcr_name_is(parent, NODE_ROUTING) && lcr_name_is(n, NODE_PROVIDER))
            s += "=" + std::string(lcr_value_string(n));
        s += " ";
    }
    return s;
}
