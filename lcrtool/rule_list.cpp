// SPDX-License-Identifier: MIT
#include "rule_list.h"

#include <cstdlib>
#include <cstring>

namespace {

int by_number_then_line(const void *a, const void *b)
{
    const auto *x = static_cast<const tool_rule *>(a);
    const auto *y = static_cast<const tool_rule *>(b);
    int c = strcmp(x->number, y->number);
    if (c != 0)
        return c;
    return (x->line > y->line) - (x->line < y->line);
}

}  // namespace

int rule_list_append(rule_list *list, const tool_rule *rule)
{
    if (list->count == list->capacity) {
        size_t capacity = list->capacity ? 2 * list->capacity : 64;
        void *grown = realloc(list->rules, capacity * sizeof *list->rules);
        if (!grown)
            return -1;
        list->rules = static_cast<tool_rule *>(grown);
        list->capacity = capacity;
    }
    list->rules[list->count++] = *rule;
    return 0;
}

void rule_list_free(rule_list *list)
{
    free(list->rules);
    list->rules = nullptr;
    list->count = list->capacity = 0;
}

void sort_rules(rule_list *list)
{
    if (list->count > 1)
        qsort(list->rules, list->count, sizeof *list->rules, by_number_then_line);
}

uint8_t rule_area(const tool_rule *rule)
{
    return static_cast<uint8_t>(route_to_area(rule->route, lcr_provider_value(rule->provider)));
}
