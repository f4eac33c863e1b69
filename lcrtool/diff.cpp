// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "loaded_image.h"
#include "messages.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

// Lines of the difference, tab-separated like the dump:
//   provider  P  NAME_IN_A  NAME_IN_B
//   -  rule only in A (number, route, provider, area)
//   +  rule only in B
//   !  NUMBER  ROUTE_A  PROVIDER_A  ROUTE_B  PROVIDER_B
//   area  NUMBER  AREA_A  AREA_B   an area byte the line above does not show
//   timetable  K  HH:MM-HH:MM  ANSWER_A  ANSWER_B   one per run of slots
//   section  NAME  OFFSET   the first byte from which the section differs
void print_name_change(int provider, const char *a, const char *b)
{
    fprintf(stdout, "provider\t%d\t", provider);
    print_escaped_name(stdout, a);
    fputc('\t', stdout);
    print_escaped_name(stdout, b);
    fputc('\n', stdout);
}

bool compare_names(const rule_list *a, const rule_list *b)
{
    bool differ = false;
    for (int p = 0; p < LCR_PROVIDER_COUNT; p++) {
        if (strcmp(a->names[p], b->names[p]) == 0)
            continue;
        print_name_change(p, a->names[p], b->names[p]);
        differ = true;
    }
    return differ;
}

// A loaded image holds each number once (one trie path per number), so the
// number is the key. Both lists are sorted and walked side by side.
bool compare_rules(const rule_list *a, const rule_list *b)
{
    bool differ = false;
    size_t i = 0, j = 0;
    while (i < a->count || j < b->count) {
        int c = i == a->count ? 1 : j == b->count ? -1 : strcmp(a->rules[i].number, b->rules[j].number);
        if (c < 0) {
            fputs("-\t", stdout);
            print_rule_line(stdout, &a->rules[i++]);
            differ = true;
        } else if (c > 0) {
            fputs("+\t", stdout);
            print_rule_line(stdout, &b->rules[j++]);
            differ = true;
        } else {
            const tool_rule *x = &a->rules[i++], *y = &b->rules[j++];
            bool same_rule = x->route == y->route && x->provider == y->provider;
            if (!same_rule) {
                printf("!\t%s\t%d\t%d\t%d\t%d\n", x->number, static_cast<int>(x->route),
                       static_cast<int>(x->provider), static_cast<int>(y->route), static_cast<int>(y->provider));
                differ = true;
            }
            // Route -3 may be stored with any area byte from 20 to 254, and
            // those from 20 to 63 have a timetable of their own.
            if (x->area != y->area && (same_rule || x->area != rule_area(x) || y->area != rule_area(y))) {
                printf("area\t%s\t%u\t%u\n", x->number, static_cast<unsigned>(x->area),
                       static_cast<unsigned>(y->area));
                differ = true;
            }
        }
    }
    return differ;
}

// Each run of time slots over which the two timetables of an area give
// one pair of different answers, each named as its own image names it.
bool compare_timetables(const loaded_image *a, const loaded_image *b)
{
    bool differ = false;
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++) {
        const uint8_t *x = a->bytes + lcr_timetable_offset(k);
        const uint8_t *y = b->bytes + lcr_timetable_offset(k);
        for (unsigned j = 0, end; j < LCR_TIME_SLOTS; j = end) {
            for (end = j + 1; end < LCR_TIME_SLOTS && x[end] == x[j] && y[end] == y[j];)
                end++;
            if (x[j] == y[j])
                continue;
            printf("timetable\t%u\t", static_cast<unsigned>(k));
            print_slot_run(stdout, j, end);
            putchar('\t');
            print_timetable_entry(stdout, x[j], &a->list);
            putchar('\t');
            print_timetable_entry(stdout, y[j], &b->list);
            putchar('\n');
            differ = true;
        }
    }
    return differ;
}

// The provider name table and the reserved sections, compared as dump
// shows them: a byte that is what the compiler writes for its image's
// names is no difference, as a name that differs has its own line.
bool compare_sections(const loaded_image *a, const loaded_image *b)
{
    uint8_t fixed_a[LCR_OFF_TRIE], fixed_b[LCR_OFF_TRIE];
    fixed_part_of_names(&a->list, fixed_a);
    fixed_part_of_names(&b->list, fixed_b);
    bool differ = false;
    for (const lcr_section &s : LCR_OTHER_SECTIONS) {
        for (uint32_t at = s.offset; at < s.offset + s.size; at++) {
            bool other_a = a->bytes[at] != fixed_a[at], other_b = b->bytes[at] != fixed_b[at];
            if (other_a == other_b && (!other_a || a->bytes[at] == b->bytes[at]))
                continue;
            printf("section\t%s\t%u\n", s.name, static_cast<unsigned>(at));
            differ = true;
            break;
        }
    }
    return differ;
}

}  // namespace

int lcrtool_diff(const char *image_a, const char *image_b)
{
    loaded_image img_a, img_b;
    // Both files are tried, so that one run names every file in trouble.
    bool ok_a = load_image(image_a, &img_a) == 0;
    bool ok_b = load_image(image_b, &img_b) == 0;
    rule_list &a = img_a.list, &b = img_b.list;
    int status = EXIT_TROUBLE;
    // A loaded list is in number order already: the trie's pre-order with
    // ascending digits.
    if (ok_a && ok_b) {
        bool differ = compare_names(&a, &b);
        differ |= compare_rules(&a, &b);
        differ |= compare_timetables(&img_a, &img_b);
        differ |= compare_sections(&img_a, &img_b);
        status = differ ? EXIT_DIFFERENT : EXIT_OK;
        if (finish_output() != EXIT_OK)
            status = EXIT_TROUBLE;
    }
    loaded_image_free(&img_a);
    loaded_image_free(&img_b);
    return status;
}
