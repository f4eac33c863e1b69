// SPDX-License-Identifier: MIT
// A rule set in the flat form lcrtool works on: the ten provider names and
// one entry per rule, taken from a loaded image or read from text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_format.h"
#include "rule.h"
#include "tree.h"

struct tool_rule {
    // Digits; read from text it may hold other characters, which are left
    // for the compiler to refuse.
    char number[LCR_NUMBER_MAX_DIGITS + 1];
    int32_t route;
    int32_t provider;
    uint32_t line;  // text line the rule came from; 0 for a loaded image
    // The area byte the number's trie record holds: what the route and
    // provider give (rule_area), or, for route -3, any byte from 20 to 254
    // that an image held, since each of those reads as route -3.
    uint8_t area;
};

struct rule_list {
    lcr_provider_name names[LCR_PROVIDER_COUNT];
    tool_rule *rules;  // malloc'd, `count` used of `capacity`
    size_t count;
    size_t capacity;
};

// Appends a copy of `rule`; -1 when memory runs out.
int rule_list_append(rule_list *list, const tool_rule *rule);
void rule_list_free(rule_list *list);

// Orders rules by number as strings (the order the loader gives an image's
// rules), rules with the same number by line.
void sort_rules(rule_list *list);

// The area byte the compiler gives the rule.
uint8_t rule_area(const tool_rule *rule);
