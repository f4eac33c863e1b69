// lookup: the rule of an image that each dialled number meets, and what the
// timetable of that rule's area names.
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
        print_timetable(stdout, img->bytes + lcr_timetable_offset(rule->area), list);
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
