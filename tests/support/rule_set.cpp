#include "rule_set.h"

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
        for (const lcr_node *k = c->child; k; k = k->next) {
            if (lcr_name_is(k, NODE_NUMBER))
                r.number = lcr_value_string(k);
            else if (lcr_name_is(k, NODE_ROUTE))
                r.route = lcr_value_int(k);
            else if (lcr_name_is(k, NODE_PROVIDER))
                r.provider = lcr_value_int(k);
        }
        set.rules.push_back(r);
    }
    return set;
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
