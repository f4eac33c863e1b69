// lookup: the rule of an image that each dialled number meets, and what the
// timetable of that rule's area names.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "image_format.h"
#include "messages.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

// Timetable entries 240 to 249 are the fixed routes 0 to 9.
constexpr int ROUTE_COUNT = 10;
constexpr unsigned MINUTES_PER_SLOT = 24 * 60 / LCR_TIME_SLOTS;

const tool_rule *find_rule(const rule_list *list, const char *number, size_t len)
{
    for (size_t i = 0; i < list->count; i++) {
        const char *n = list->rules[i].number;
        if (strncmp(n, number, len) == 0 && n[len] == '\0')
            return &list->rules[i];
    }
    return nullptr;
}

// One timetable entry: a fixed route, or a provider with its name. An entry
// that is neither (an odd provider value, or a value past the providers and
// routes) is shown as the byte it is.
void print_entry(uint8_t entry, const rule_list *list)
{
    int value = entry;
    if (value >= ROUTE_SLOT_BASE && value < ROUTE_SLOT_BASE + ROUTE_COUNT) {
        printf("route %d", value - ROUTE_SLOT_BASE);
    } else if (value % 2 == 0 && value / 2 < LCR_PROVIDER_COUNT) {
        printf("provider %d \"", value / 2);
        print_escaped_name(stdout, list->names[value / 2]);
        putchar('"');
    } else {
        printf("entry %d", value);
    }
}

void print_slot_time(unsigned slot)
{
    unsigned minutes = slot * MINUTES_PER_SLOT;
    printf("%02u:%02u", minutes / 60, minutes % 60);
}

// The answer most time slots give (on a tie, the one of the earliest slot),
// then each run of slots with another answer as "; HH:MM-HH:MM answer".
// Images this system writes give one answer in all 48 slots.
void print_timetable(const uint8_t *table, const rule_list *list)
{
    unsigned count[256] = {};
    for (unsigned j = 0; j < LCR_TIME_SLOTS; j++)
        count[table[j]]++;
    uint8_t common = table[0];
    for (unsigned j = 1; j < LCR_TIME_SLOTS; j++)
        if (count[table[j]] > count[common])
            common = table[j];
    print_entry(common, list);
    for (unsigned j = 0, end; j < LCR_TIME_SLOTS; j = end) {
        for (end = j + 1; end < LCR_TIME_SLOTS && table[end] == table[j];)
            end++;
        if (table[j] == common)
            continue;
        fputs("; ", stdout);
        print_slot_time(j);
        putchar('-');
        print_slot_time(end);
        putchar(' ');
        print_entry(table[j], list);
    }
}

// Prints the line for one number. EXIT_OK when it met a rule, EXIT_NO_RULE
// when not, EXIT_TROUBLE for a bad number.
int lookup_number(const loaded_image *img, const char *number)
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
        print_timetable(img->bytes + LCR_OFF_TIMETABLES + LCR_TIME_SLOTS * rule->area, list);
    else
        fputs("none", stdout);
    putchar('\n');
    return EXIT_OK;
}

}  // namespace

int lcrtool_lookup(const char *image, char *const *numbers, int count)
{
    loaded_image img;
    if (load_image(image, &img) != 0)
        return EXIT_TROUBLE;
    int status = EXIT_OK;
    for (int i = 0; i < count; i++)
        status = std::max(status, lookup_number(&img, numbers[i]));
    if (finish_output() != EXIT_OK)
        status = EXIT_TROUBLE;
    loaded_image_free(&img);
    return status;
}
