// SPDX-License-Identifier: MIT
// timetables: each timetable of an image that a rule uses, or that holds
// other than what the compiler writes, as a picture of the day: one symbol
// per half hour under a ruler of the hours, the rules that use it and a
// legend. Plain ASCII without tabs or trailing blanks, at most 80 columns,
// so that it reads the same on a terminal, in a log and in a mail.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "image_format.h"
#include "loaded_image.h"
#include "messages.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

constexpr unsigned WIDTH = 80;
constexpr char INDENT[] = "  ";
constexpr unsigned RULES_INDENT = 4;

// Each hour takes two columns, one per half hour, and every second hour is
// labelled over its first half hour; 24 stands just after the last slot.
constexpr char RULER[] = "00  02  04  06  08  10  12  14  16  18  20  22  24";
static_assert(sizeof RULER - 1 == LCR_TIME_SLOTS + 2);
static_assert(2 * MINUTES_PER_SLOT == 60);

// Routes are their digit and providers 0 to 9 the letters a to j, the same
// in every timetable. Other entries take these in order of first
// appearance: enough for 48 different ones, and none a digit, a letter a
// to j, or a character that mail or a shell gives a meaning at the start
// of a line.
constexpr char OTHER_SYMBOLS[] = "*#%@&+?!$^~ABCDEFGHIJKLMNOPQRSTUVWXYZklmnopqrstuvwxyz";
static_assert(sizeof OTHER_SYMBOLS - 1 >= LCR_TIME_SLOTS);

// The symbols of one timetable, in order of first appearance.
struct legend {
    uint8_t entry[LCR_TIME_SLOTS];
    char symbol[LCR_TIME_SLOTS];
    unsigned count;
    unsigned others;
};

char symbol_of(legend *l, uint8_t entry)
{
    for (unsigned i = 0; i < l->count; i++)
        if (l->entry[i] == entry)
            return l->symbol[i];
    unsigned n;
    char symbol = '\0';
    switch (timetable_entry_kind(entry, &n)) {
    case entry_kind::route: symbol = static_cast<char>('0' + n); break;
    case entry_kind::provider: symbol = static_cast<char>('a' + n); break;
    case entry_kind::other: symbol = OTHER_SYMBOLS[l->others++]; break;
    }
    l->entry[l->count] = entry;
    l->symbol[l->count++] = symbol;
    return symbol;
}

// "timetable K used by NUMBER..." wrapped at WIDTH columns.
void print_users(uint32_t k, const rule_list *list)
{
    unsigned col = static_cast<unsigned>(printf("timetable %u used by", static_cast<unsigned>(k)));
    bool any = false;
    for (size_t i = 0; i < list->count; i++) {
        if (list->rules[i].area != k)
            continue;
        unsigned len = static_cast<unsigned>(strlen(list->rules[i].number));
        if (col + 1 + len > WIDTH) {
            printf("\n%*s", RULES_INDENT, "");
            col = RULES_INDENT;
        } else {
            putchar(' ');
            col++;
        }
        fputs(list->rules[i].number, stdout);
        col += len;
        any = true;
    }
    puts(any ? "" : " no rule");
}

void print_timetable_picture(const loaded_image *img, uint32_t k)
{
    const uint8_t *table = img->bytes + lcr_timetable_offset(k);
    legend l{};
    char line[LCR_TIME_SLOTS + 1];
    for (unsigned j = 0; j < LCR_TIME_SLOTS; j++)
        line[j] = symbol_of(&l, table[j]);
    line[LCR_TIME_SLOTS] = '\0';
    print_users(k, &img->list);
    printf("%s%s\n%s%s\n", INDENT, RULER, INDENT, line);
    for (unsigned i = 0; i < l.count; i++) {
        printf("%s%c = ", INDENT, l.symbol[i]);
        print_timetable_entry(stdout, l.entry[i], &img->list);
        putchar('\n');
    }
}

bool as_compiled(const uint8_t *table, uint32_t k)
{
    for (unsigned j = 0; j < LCR_TIME_SLOTS; j++)
        if (table[j] != lcr_compiled_timetable_entry(k))
            return false;
    return true;
}

}  // namespace

int lcrtool_timetables(const char *image, bool all)
{
    loaded_image img;
    if (load_image(image, &img) != 0)
        return EXIT_TROUBLE;
    bool used[LCR_TIMETABLES] = {};
    for (size_t i = 0; i < img.list.count; i++)
        if (img.list.rules[i].area < LCR_TIMETABLES)
            used[img.list.rules[i].area] = true;
    bool first = true;
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++) {
        if (!all && !used[k] && as_compiled(img.bytes + lcr_timetable_offset(k), k))
            continue;
        if (!first)
            putchar('\n');
        first = false;
        print_timetable_picture(&img, k);
    }
    loaded_image_free(&img);
    return finish_output();
}
