// SPDX-License-Identifier: MIT
// lookup: the rule of an image that each dialled number meets, what the
// timetable of that rule's area names, and, with --at, its answer at one
// moment of the day.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "image_format.h"
#include "loaded_image.h"
#include "messages.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

const tool_rule *find_rule(const rule_list *list, const char *number, size_t len)
{
    for (size_t i = 0; i < list->count; i++) {
        const char *n = list->rules[i].number;
        if (strncmp(n, number, len) == 0 && n[len] == '\0')
            return &list->rules[i];
    }
    return nullptr;
}

// The time slot of `text` when it is a time "HH:MM" from 00:00 to 23:59,
// two digits each: the half hours since midnight, so 00:00 to 00:29 is slot
// 0 and 23:30 to 23:59 slot 47. -1 for anything else.
int time_slot(const char *text)
{
    if (strlen(text) != 5 || text[2] != ':')
        return -1;
    for (int i : {0, 1, 3, 4})
        if (text[i] < '0' || text[i] > '9')
            return -1;
    unsigned hour = static_cast<unsigned>(text[0] - '0') * 10 + static_cast<unsigned>(text[1] - '0');
    unsigned minute = static_cast<unsigned>(text[3] - '0') * 10 + static_cast<unsigned>(text[4] - '0');
    if (hour > 23 || minute > 59)
        return -1;
    return static_cast<int>((hour * 60 + minute) / MINUTES_PER_SLOT);
}

// The answer of `rule` at a moment: "at HH:MM " and the entry of its
// timetable for time slot `slot`, or "none" for a rule without timetable.
void print_answer_at(const loaded_image *img, const tool_rule *rule, const char *at, int slot)
{
    printf("\tat %s ", at);
    if (rule->area < LCR_TIMETABLES) {
        const uint8_t *table = img->bytes + lcr_timetable_offset(rule->area);
        print_timetable_entry(stdout, table[slot], &img->list);
    } else
        fputs("none", stdout);
}

// Prints the line for one number, with the answer at time slot `slot`
// unless `at` is null. EXIT_OK when it met a rule, EXIT_NO_RULE when not,
// EXIT_TROUBLE for a bad number.
int lookup_number(const loaded_image *img, const char *number, const char *at, int slot)
{
    const rule_list *list = &img->list;
    if (!*number) {
        report_plain("empty number");
        return EXIT_TROUBLE;
    }
    if (strspn(number, "0123456789") != strlen(number)) {
        report(number, "not a number (digits 0 to 9 only)");
        return EXIT_TROUBLE;
    }
    uint32_t record = 0;
    size_t len = trie_longest_rule(img->bytes, img->len, number, &record);
    // The walk and the loader read the same bytes the same way, so the
    // record found always has its rule; the check only keeps a lookup from
    // ever reading past the list.
    const tool_rule *rule = len ? find_rule(list, number, len) : nullptr;
    if (!rule) {
        printf("%s\t-\n", number);
        return EXIT_NO_RULE;
    }
    printf("%s\t", number);
    print_rule_fields(stdout, rule);
    putchar('\t');
    if (rule->area < LCR_TIMETABLES)
        print_timetable(stdout, img->bytes + lcr_timetable_offset(rule->area), list);
    else
        fputs("none", stdout);
    if (at)
        print_answer_at(img, rule, at, slot);
    putchar('\n');
    return EXIT_OK;
}

}  // namespace

int lcrtool_lookup(const char *image, char *const *numbers, int count, const char *at)
{
    int slot = at ? time_slot(at) : 0;
    if (slot < 0) {
        report(at, "not a time HH:MM from 00:00 to 23:59");
        return EXIT_TROUBLE;
    }
    loaded_image img;
    if (load_image(image, &img) != 0)
        return EXIT_TROUBLE;
    int status = EXIT_OK;
    for (int i = 0; i < count; i++)
        status = std::max(status, lookup_number(&img, numbers[i], at, slot));
    if (finish_output() != EXIT_OK)
        status = EXIT_TROUBLE;
    loaded_image_free(&img);
    return status;
}
