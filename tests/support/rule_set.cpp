// SPDX-License-Identifier: MIT
#include "rule_set.h"

namespace {

// The last child of `group` named `name`, or null.
const lcr_node *last_named(const lcr_node *group, const char *name)
{
    const lcr_node *found = nullptr;
    for (const lcr_node *k = group->child; k; k = k->next)
        if (lcr_name_is(k, name))
            found = k;
    return found;
}

}  // namespace

rule_set read_rule_set(const lcr_node *head)
{
    rule_set set;
    set.providers.assign(LCR_PROVIDER_COUNT, "");
    const lcr_node *routing = head;
    while (routing && !lcr_name_is(routing, NODE_ROUTING))
        routing = routing->next;
    if (!routing)
        return set;
    for (const lcr_node *c = routing->child; c; c = c->next) {
        if (lcr_name_is(c, NODE_PROVIDER) && c->index >= 0 && c->index < LCR_PROVIDER_COUNT) {
            set.providers[static_cast<size_t>(c->index)] = lcr_value_string(c);
            continue;
        }
        if (!lcr_name_is(c, NODE_GROUP))
            continue;
        rule r;
        if (const lcr_node *n = last_named(c, NODE_NUMBER))
            r.number = lcr_value_string(n);
        if (const lcr_node *n = last_named(c, NODE_ROUTE))
            r.route = lcr_value_int(n);
        if (const lcr_node *n = last_named(c, NODE_PROVIDER))
            r.provider = lcr_value_int(n);
        set.rules.push_back(r);
    }
    return set;
}

lcr_node *add_group(lcr_node **head, const rule &r)
{
    lcr_node *group = kelmar_alloc_node(lcr_find_sibling(*head, NODE_ROUTING), head, NODE_GROUP);
    if (r.route)
        lcr_set_int(kelmar_alloc_node(group, head, NODE_ROUTE), *r.route);
    if (r.number)
        lcr_set_string(kelmar_alloc_node(group, head, NODE_NUMBER), r.number->c_str(), LCR_VALUE_SIZE - 1);
    if (r.provider)
        lcr_set_int(kelmar_alloc_node(group, head, NODE_PROVIDER), *r.provider);
    return group;
}

std::string to_string(const rule &r)
{
    auto field = [](const std::optional<int32_t> &v) { return v ? std::to_string(*v) : "-"; };
    return r.number.value_or("-") + "/" + field(r.route) + "/" + field(r.provider);
}

std::string rules_text(const lcr_node *head)
{
    std::string s;
    for (const rule &r : read_rule_set(head).rules)
        s += to_string(r) + ";";
    return s;
}

std::ostream &operator<<(std::ostream &os, const rule &r)
{
    return os << to_string(r);
}
