#include "merge.h"

#include <cstdlib>
#include <cstring>

#include "image_format.h"

namespace {

// The numbers mode 2 always keeps and adds when missing, in the order in
// which missing ones are appended.
constexpr const char *EMERGENCY_NUMBERS[] = {"110", "112", "19222"};

// What the modes compare: number (null when the Group has none), route and
// provider, each from the Group's last child of that name.
struct rule_key {
    const char *number;
    int32_t route;
    int32_t provider;
};

rule_key read_rule_key(const lcr_node *group)
{
    rule_key key = {nullptr, NO_ROUTE, 0};
    for (const lcr_node *c = group->child; c; c = c->next) {
        if (lcr_name_is(c, NODE_NUMBER))
            key.number = lcr_value_string(c);
        else if (lcr_name_is(c, NODE_ROUTE))
            key.route = lcr_value_int(c);
        else if (lcr_name_is(c, NODE_PROVIDER))
            key.provider = lcr_value_int(c);
    }
    return key;
}

bool is_emergency(const char *number)
{
    if (!number)
        return false;
    for (const char *e : EMERGENCY_NUMBERS)
        if (strcmp(number, e) == 0)
            return true;
    return false;
}

// The two rule sets of one merge. The second set's keys are read once into
// `keys` rather than once per comparison, which would cost a walk over each
// Group's children for every pair of rules.
struct merge_sets {
    lcr_node *routing1;
    lcr_node *routing2;
    rule_key *keys;  // null: keys are read from the tree where compared
    size_t count;
};

lcr_node *find_routing(lcr_node *set)
{
    return set ? lcr_find_sibling(set, NODE_ROUTING) : nullptr;
}

// Finds both "Routing" nodes; false when either set has none.
bool open_sets(lcr_node *set1, lcr_node *set2, merge_sets *m)
{
    *m = {find_routing(set1), find_routing(set2), nullptr, 0};
    if (!m->routing1 || !m->routing2)
        return false;
    // When both sets are one tree, a removal would leave a stale key behind,
    // so the keys are then read from the live tree. Without memory for the
    // table the result is the same, only slower.
    if (m->routing1 == m->routing2)
        return true;
    size_t groups = 0;
    for (const lcr_node *c = m->routing2->child; c; c = c->next)
        groups += lcr_name_is(c, NODE_GROUP);
    if (groups == 0)
        return true;
    m->keys = static_cast<rule_key *>(malloc(groups * sizeof(rule_key)));
    if (!m->keys)
        return true;
    for (const lcr_node *c = m->routing2->child; c; c = c->next)
        if (lcr_name_is(c, NODE_GROUP))
            m->keys[m->count++] = read_rule_key(c);
    return true;
}

bool keys_match(const rule_key &a, const rule_key &b, const merge_sets &m)
{
    return b.number && strcmp(a.number, b.number) == 0 && a.route == b.route &&
           same_provider(m.routing1, a.provider, m.routing2, b.provider);
}

// A rule without a number has nothing to be compared by, so it matches
// nothing, on either side.
bool has_match(const rule_key &key, const merge_sets &m)
{
    if (!key.number)
        return false;
    if (m.keys) {
        for (size_t i = 0; i < m.count; i++)
            if (keys_match(key, m.keys[i], m))
                return true;
        return false;
    }
    for (const lcr_node *b = m.routing2->child; b; b = b->next)
        if (lcr_name_is(b, NODE_GROUP) && keys_match(key, read_rule_key(b), m))
            return true;
    return false;
}

// Whether a rule of the first set, by its key, is to be removed.
using rule_filter = bool (*)(const rule_key &, const merge_sets &);

// Removes each rule of the first set for which `drop` holds, then frees the
// key table. The two modes walk the same way and differ only in `drop`.
void remove_rules(merge_sets &m, rule_filter drop)
{
    lcr_node *next;
    for (lcr_node *c = m.routing1->child; c; c = next) {
        // Taken before a removal frees c, so the walk visits every rule once.
        next = c->next;
        if (lcr_name_is(c, NODE_GROUP) && drop(read_rule_key(c), m))
            kelmar_free_node(c);
    }
    free(m.keys);
    m.keys = nullptr;
}

// Mode 1 keeps only the rules the second set matches.
bool unmatched(const rule_key &key, const merge_sets &m)
{
    return !has_match(key, m);
}

// Mode 2 removes the rules the second set matches, but never an emergency
// number's.
bool matched_and_not_emergency(const rule_key &key, const merge_sets &m)
{
    return !is_emergency(key.number) && has_match(key, m);
}

bool carries_number(const lcr_node *routing, const char *number)
{
    for (const lcr_node *c = routing->child; c; c = c->next) {
        if (!lcr_name_is(c, NODE_GROUP))
            continue;
        const char *own = read_rule_key(c).number;
        if (own && strcmp(own, number) == 0)
            return true;
    }
    return false;
}

}  // namespace

int same_provider(lcr_node *, int32_t provider1, lcr_node *, int32_t)
{
    // Only a first-set rule without a provider of its own can be matched;
    // the second set's provider is deliberately not consulted.
    return provider1 == 0;
}

int add_rule(lcr_node *parent, lcr_node **list_head, const char *number, int32_t route, int32_t provider)
{
    if (!number)
        return -1;
    lcr_node *group = kelmar_alloc_node(parent, list_head, NODE_GROUP);
    if (!group)
        return -1;
    lcr_node *route_node = kelmar_alloc_node(group, list_head, NODE_ROUTE);
    lcr_node *provider_node = kelmar_alloc_node(group, list_head, NODE_PROVIDER);
    lcr_node *number_node = kelmar_alloc_node(group, list_head, NODE_NUMBER);
    if (!route_node || !provider_node || !number_node) {
        // A half-built rule would compile as a different rule (or none), so
        // the whole Group goes again. kelmar_free_node cannot move a list
        // head, so a Group that heads a top-level list is unhooked here.
        if (!parent && *list_head == group)
            *list_head = group->next;
        kelmar_free_node(group);
        return -1;
    }
    lcr_set_int(route_node, route);
    lcr_set_int(provider_node, provider);
    // The value area holds at most LCR_VALUE_SIZE - 1 characters and the
    // NUL; a longer number is cut rather than overrunning the node.
    lcr_set_string(number_node, number, LCR_VALUE_SIZE - 1);
    return 0;
}

int clear_routes(lcr_node *set1, lcr_node *set2)
{
    merge_sets m;
    if (!open_sets(set1, set2, &m))
        return -1;
    remove_rules(m, unmatched);
    return 0;
}

int clear_routes2(lcr_node *set1, lcr_node *set2)
{
    merge_sets m;
    if (!open_sets(set1, set2, &m))
        return -1;
    remove_rules(m, matched_and_not_emergency);
    // Checked one at a time against the current children, so a rule added
    // for one number counts when the next is looked for. A rule that cannot
    // be added (memory ran out) fails the merge: a rule set without its
    // emergency numbers must not be written as if it had them.
    int result = 0;
    for (const char *e : EMERGENCY_NUMBERS)
        if (!carries_number(m.routing1, e) && add_rule(m.routing1, &set1, e, ROUTE_BY_PROVIDER, 0) != 0)
            result = -1;
    return result;
}
