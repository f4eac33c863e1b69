// SPDX-License-Identifier: MIT
#include "merge.h"

#include <cstdlib>
#include <cstring>

#include "image_format.h"
#include "rule.h"

namespace {

// The numbers mode 2 always keeps and adds when missing, in the order in
// which missing ones are appended.
constexpr const char *EMERGENCY_NUMBERS[] = {"110", "112", "19222"};

// The rule key of a Group: number, route and provider, with the route the
// merge gives a Group without "Route".
lcr_rule read_rule_key(const lcr_node *group)
{
    return lcr_read_rule(group, NO_ROUTE, 0);
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

constexpr uint32_t NO_KEY = UINT32_MAX;

// The second set's keys, read once and chained by a hash of the number, so
// a first-set rule is compared only with the second-set rules that share
// its number's bucket instead of with every one. Keys without a number
// match nothing and are left out. One block holds the keys, the chain links
// and the buckets.
struct key_table {
    lcr_rule *keys;
    uint32_t *next;     // next key in the same bucket, or NO_KEY
    uint32_t *buckets;  // first key of each bucket, or NO_KEY
    uint32_t mask;      // bucket count (a power of two) less one
};

uint32_t hash_number(const char *number)
{
    uint32_t h = 2166136261u;
    for (const char *c = number; *c; c++)
        h = (h ^ static_cast<uint8_t>(*c)) * 16777619u;
    return h;
}

// The two rule sets of one merge.
struct merge_sets {
    lcr_node *routing1;
    lcr_node *routing2;
    key_table table;  // keys null: keys are read from the tree where compared
};

lcr_node *find_routing(lcr_node *set)
{
    return set ? lcr_find_sibling(set, NODE_ROUTING) : nullptr;
}

// Reads the keys of the second set's rules into `t`; false, with `t`
// untouched, when the set has none or memory runs out.
bool build_key_table(const lcr_node *routing2, key_table *t)
{
    size_t count = 0;
    for (const lcr_node *c = routing2->child; c; c = c->next)
        count += lcr_is(c, NODE_GROUP);
    if (count == 0)
        return false;
    size_t buckets = 1;
    while (buckets < 2 * count)
        buckets *= 2;
    void *block = malloc(count * (sizeof(lcr_rule) + sizeof(uint32_t)) + buckets * sizeof(uint32_t));
    if (!block)
        return false;
    t->keys = static_cast<lcr_rule *>(block);
    t->next = reinterpret_cast<uint32_t *>(t->keys + count);
    t->buckets = t->next + count;
    t->mask = static_cast<uint32_t>(buckets - 1);
    for (size_t i = 0; i < buckets; i++)
        t->buckets[i] = NO_KEY;
    uint32_t n = 0;
    for (const lcr_node *c = routing2->child; c; c = c->next) {
        if (!lcr_is(c, NODE_GROUP))
            continue;
        lcr_rule key = read_rule_key(c);
        if (!key.number)
            continue;
        uint32_t &first = t->buckets[hash_number(key.number) & t->mask];
        t->keys[n] = key;
        t->next[n] = first;
        first = n++;
    }
    return true;
}

// Finds both "Routing" nodes; false when either set has none.
bool open_sets(lcr_node *set1, lcr_node *set2, merge_sets *m)
{
    *m = {find_routing(set1), find_routing(set2), {}};
    if (!m->routing1 || !m->routing2)
        return false;
    // When both sets are one tree, a removal would leave a stale key behind,
    // so the keys are then read from the live tree. Without memory for the
    // table the result is the same, only slower.
    if (m->routing1 != m->routing2)
        build_key_table(m->routing2, &m->table);
    return true;
}

bool keys_match(const lcr_rule &a, const lcr_rule &b, const merge_sets &m)
{
    return b.number && strcmp(a.number, b.number) == 0 && a.route == b.route &&
           same_provider(m.routing1, a.provider, m.routing2, b.provider);
}

// A rule without a number has nothing to be compared by, so it matches
// nothing, on either side.
bool has_match(const lcr_rule &key, const merge_sets &m)
{
    if (!key.number)
        return false;
    const key_table &t = m.table;
    if (t.keys) {
        for (uint32_t i = t.buckets[hash_number(key.number) & t.mask]; i != NO_KEY; i = t.next[i])
            if (keys_match(key, t.keys[i], m))
                return true;
        return false;
    }
    for (const lcr_node *b = m.routing2->child; b; b = b->next)
        if (lcr_is(b, NODE_GROUP) && keys_match(key, read_rule_key(b), m))
            return true;
    return false;
}

// Whether a rule of the first set, by its key, is to be removed.
using rule_filter = bool (*)(const lcr_rule &, const merge_sets &);

// Removes each rule of the first set for which `drop` holds, in one walk
// that also renumbers the rules that stay, then frees the key table. The
// two modes walk the same way and differ only in `drop`.
void remove_rules(merge_sets &m, rule_filter drop)
{
    lcr_remove_children_if(m.routing1, NODE_GROUP, [&](const lcr_node *group) {
        return drop(read_rule_key(group), m);
    });
    free(m.table.keys);
    m.table = {};
}

// Mode 1 keeps only the rules the second set matches.
bool unmatched(const lcr_rule &key, const merge_sets &m)
{
    return !has_match(key, m);
}

// Mode 2 removes the rules the second set matches, but never an emergency
// number's.
bool matched_and_not_emergency(const lcr_rule &key, const merge_sets &m)
{
    return !is_emergency(key.number) && has_match(key, m);
}

bool carries_number(const lcr_node *routing, const char *number)
{
    for (const lcr_node *c = routing->child; c; c = c->next) {
        if (!lcr_is(c, NODE_GROUP))
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
    lcr_rule rule = {number, route, provider};
    return lcr_build_rule(parent, list_head, rule, lcr_child_order::route_provider_number) ? 0 : -1;
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
