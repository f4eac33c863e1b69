#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "compiler.h"
#include "messages.h"
#include "output.h"
#include "rule.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

// Builds the rule set of `list` into the list at `head`: the skeleton, the
// ten names, one Group per rule in the list's order. Its "Routing" node,
// or null when memory ran out.
const lcr_node *build_tree(const rule_list *list, lcr_node **head)
{
    lcr_node *routing = lcr_build_skeleton_routing(head);
    if (!routing)
        return nullptr;
    lcr_write_provider_names(routing, list->names[0], sizeof list->names[0]);
    // The children in the loader's order, so the tree is the one a load of
    // the built image gives.
    for (size_t i = 0; i < list->count; i++) {
        const tool_rule &r = list->rules[i];
        lcr_rule rule = {r.number, r.route, r.provider};
        if (!lcr_build_rule(routing, head, rule, lcr_child_order::route_number_provider))
            return nullptr;
    }
    return routing;
}

// The compiler writes area 64 for every rule with route -3; a rule read
// with another byte that also means route -3 gets its byte back.
void keep_stored_areas(const rule_list *list, lcr_image_out *out)
{
    for (size_t i = 0; i < list->count; i++) {
        const tool_rule &r = list->rules[i];
        uint32_t record;
        if (r.area != rule_area(&r) && trie_longest_rule(out->buf, out->len, r.number, &record))
            out->buf[lcr_record_offset(record)] = r.area;
    }
}

// A rule the compiler would not take, found before compiling so that it
// can be reported with its line.
enum class problem_kind : uint8_t {
    bad_digit,             // value: the first character other than 0 to 9
    duplicate,             // value: the line the number is first given on
    duplicate_other_area,  // as duplicate, with another area byte
    pool_full,             // value: rules that find no trie record, this one first
    no_timetable,          // value: the area byte, 65 to 254
};

struct rule_problem {
    uint32_t line;
    problem_kind kind;
    uint32_t value;
    const char *number;
};

// Goes through `list`, sorted by number, as the compiler enters the rules
// into its trie, and fills `problems` (room for one per rule) with what it
// would report, one problem per rule: a character other than 0 to 9, a
// number given again, no trie record left, an area byte without timetable.
// Records are counted as the compiler takes them: the root with the first
// number, then one per prefix not yet in the trie, those of a number with
// a bad character up to that character, and those a rule gets before the
// pool runs out. In number order the prefixes a number shares with the
// trie are those it shares with the path entered last. Returns the count.
size_t find_problems(const rule_list *list, rule_problem *problems)
{
    size_t count = 0;
    uint32_t records = 0;
    const char *path = nullptr;  // the number entered last, and how much of
    size_t path_len = 0;         // it the trie holds
    const tool_rule *prev = nullptr;  // the last rule with digits only
    rule_problem *pool = nullptr;
    for (size_t i = 0; i < list->count; i++) {
        const tool_rule *r = &list->rules[i];
        size_t digits = strspn(r->number, "0123456789");
        size_t shared = path ? shared_prefix(r->number, path, std::min(digits, path_len)) : 0;
        if (records == 0)
            records = 1;
        size_t needed = digits - shared;
        size_t made = std::min<size_t>(needed, TRIE_MAX_NODES - records);
        records += static_cast<uint32_t>(made);
        if (needed) {
            path = r->number;
            path_len = shared + made;
        }
        rule_problem p = {r->line, problem_kind::bad_digit, 0, r->number};
        uint8_t area = rule_area(r);
        if (r->number[digits]) {
            p.value = static_cast<unsigned char>(r->number[digits]);
        } else if (prev && strcmp(prev->number, r->number) == 0) {
            p.kind = prev->area == r->area ? problem_kind::duplicate : problem_kind::duplicate_other_area;
            p.value = prev->line;
        } else {
            prev = r;
            if (made < needed && pool) {
                pool->value++;
                continue;
            }
            if (made < needed) {
                p.kind = problem_kind::pool_full;
                p.value = 1;
            } else if (area > AREA_NO_TIMETABLE) {
                p.kind = problem_kind::no_timetable;
                p.value = area;
            } else {
                continue;
            }
        }
        problems[count] = p;
        if (p.kind == problem_kind::pool_full)
            pool = &problems[count];
        count++;
    }
    return count;
}

int compare_problem_lines(const void *a, const void *b)
{
    uint32_t x = static_cast<const rule_problem *>(a)->line;
    uint32_t y = static_cast<const rule_problem *>(b)->line;
    return (x > y) - (x < y);
}

// The compiler's wording, with the line and what the line alone does not
// tell.
void report_problem(const char *file, const rule_problem *p)
{
    auto value = static_cast<unsigned>(p->value);
    switch (p->kind) {
    case problem_kind::bad_digit:
        report_line(file, p->line, "Illegal number digit = %x", value);
        break;
    case problem_kind::duplicate:
        report_line(file, p->line, "duplikate Entry for number %s (first on line %u)", p->number, value);
        break;
    case problem_kind::duplicate_other_area:
        report_line(file, p->line, "duplikate Entry for number %s with different Areas (first on line %u)",
                    p->number, value);
        break;
    case problem_kind::pool_full:
        if (value == 1)
            report_line(file, p->line, "Telefon locate tree too large: this rule does not fit in the %u trie records",
                        TRIE_MAX_NODES);
        else
            report_line(file, p->line,
                        "Telefon locate tree too large: this rule and %u more after it by number do not fit in "
                        "the %u trie records",
                        value - 1, TRIE_MAX_NODES);
        break;
    case problem_kind::no_timetable:
        report_line(file, p->line, "Area %u timetable does not exist (route %u)", value, value - 1);
        break;
    }
}

// Reports, in line order, every rule of `list` (sorted by number) that the
// compiler would not take. EXIT_OK when there is none.
int check_rules(const char *text, const rule_list *list)
{
    auto *problems = static_cast<rule_problem *>(malloc((list->count + 1) * sizeof(rule_problem)));
    if (!problems) {
        report(text, "out of memory");
        return EXIT_TROUBLE;
    }
    size_t count = find_problems(list, problems);
    qsort(problems, count, sizeof *problems, compare_problem_lines);
    for (size_t i = 0; i < count; i++)
        report_problem(text, &problems[i]);
    free(problems);
    return count ? EXIT_REJECTED : EXIT_OK;
}

// Bytes that hold a character of provider p's name, or the NUL that ends a
// name of fewer than 20 characters.
bool holds_name(const rule_list *list, uint32_t offset)
{
    constexpr uint32_t field = 2 * LCR_PROVIDER_SLOT_SIZE;
    if (offset < LCR_OFF_PROVIDER_NAMES || offset >= lcr_provider_name_offset(LCR_PROVIDER_COUNT))
        return false;
    uint32_t at = (offset - LCR_OFF_PROVIDER_NAMES) % field;
    size_t len = strlen(list->names[(offset - LCR_OFF_PROVIDER_NAMES) / field]);
    return at < len || (at == len && len < LCR_PROVIDER_NAME_MAX);
}

// The timetables and bytes the text gives go over what the compiler wrote.
// A bytes line leaves alone the names the provider lines give and the NUL
// that ends each, so bytes kept from a dump cannot cut or lengthen a name
// that was edited since.
void write_extras(const text_extras *x, const rule_list *list, lcr_image_out *out)
{
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++)
        if (x->timetable_line[k])
            memcpy(out->buf + LCR_OFF_TIMETABLES + LCR_TIME_SLOTS * k, x->timetable[k], LCR_TIME_SLOTS);
    for (uint32_t i = 0; i < OTHER_BYTES; i++)
        if (x->byte_given[i] && !holds_name(list, OTHER_BYTES_BEGIN + i))
            out->buf[OTHER_BYTES_BEGIN + i] = x->byte[i];
}

// "-" is standard output. A file is replaced the way lcrmerge replaces its
// output: atomically where it can, so a failed write leaves the old image
// in place.
int write_image(const char *path, const lcr_image_out *out)
{
    if (strcmp(path, "-") == 0) {
        fwrite(out->buf, 1, out->len, stdout);
        return finish_output();
    }
    int err = write_lcr_output(path, out->buf, out->len);
    if (err == 0)
        return EXIT_OK;
    report(path, "%s", strerror(-err));
    return EXIT_TROUBLE;
}

// The text reader refuses, with their line numbers, the lines it cannot
// read and the values the compiler would take without a word but that
// would come back from the image as something else; check_rules reports
// what the compiler would drop or refuse. Only a rule set that passes both
// is compiled, so the compiler's own messages and its refusal are left for
// what those checks do not foresee, and then the old image stays in place
// too.
int compile_and_write(const char *text, const rule_list *list, const text_extras *extras, const char *image)
{
    int status = check_rules(text, list);
    if (status != EXIT_OK)
        return status;
    static uint8_t buf[LCR_IMAGE_MAX];
    lcr_image_out out = {buf, 0};
    uint32_t dropped = 0;
    lcr_node *tree = nullptr;
    const lcr_node *routing = build_tree(list, &tree);
    if (!routing) {
        report(text, "out of memory");
        status = EXIT_TROUBLE;
    } else if (lcr_compile(routing, &out, &dropped) != 0 || dropped != 0) {
        status = EXIT_REJECTED;
    }
    kelmar_free_list(tree);
    if (status != EXIT_OK)
        return status;
    keep_stored_areas(list, &out);
    write_extras(extras, list, &out);
    return write_image(image, &out);
}

}  // namespace

int lcrtool_build(const char *text, const char *image)
{
    rule_list list;
    text_extras extras;
    int status = read_rule_text(text, &list, &extras);
    if (status != EXIT_OK)
        return status;
    // Rules go in by number, the order the loader gives them back, so an
    // image built from a dump of a built image has the very same bytes.
    // The sort keeps lines with the same number in text order, so the
    // compiler keeps the first of them.
    sort_rules(&list);
    status = compile_and_write(text_file_name(text), &list, &extras, image);
    rule_list_free(&list);
    return status;
}
