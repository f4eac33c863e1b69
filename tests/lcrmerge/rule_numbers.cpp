#include "rule_numbers.h"

std::string rule_numbers(const lcr_node *routing)
{
    std::string s;
    for (const lcr_node *g = routing->child; g; g = g->next) {
        if (!lcr_name_is(g, NODE_GROUP))
            continue;
        const lcr_node *number = lcr_find_sibling(g->child, NODE_NUMBER);
        bool whole = number && lcr_find_sibling(g->child, NODE_ROUTE) && lcr_find_sibling(g->child, NODE_PROVIDER);
        s += whole ? std::string(lcr_value_string(number)) + ";" : "broken;";
    }
    return s;
}
