// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "compile.h"
#include "loaded_image.h"
#include "messages.h"
#include "output.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

// The compiler writes area 64 for every rule with route -3; a rule read
// with another byte that also means route -3 gets its byte back.
void keep_stored_areas(const rule_list *list, lcr_image_out *out)
{
    for (size_t i = 0; i < list->count; i++) {
        const tool_rule &r = list->rules[i];
        uint32_t record;
        if (r.area != rule_area(&r) && trie_longest_rule(out->buf, out->len, r.number, &record))
            lcr_set_record_area(out->buf, record, r.area);
    }
}

// The character of a bad digit as the line holds it; a byte that is not
// printable as the \xHH that a provider name would spell it with.
void spell_char(uint8_t code, char *text)
{
    if (!name_byte_printable(code))
        snprintf(text, 5, "\\x%02x", static_cast<unsigned>(code));
    else
        text[0] = static_cast<char>(code), text[1] = '\0';
}

// What the compiler found in rule `p->rule`, with the line of that rule,
// in the compiler's words and what the line alone does not tell. The rules
// the full pool drops go on the line of the first of them, by number.
void report_problem(const char *file, const rule_list *list, const lcr_problem *p, uint32_t pool_drops)
{
    const tool_rule &r = list->rules[p->rule];
    char ch[5];
    switch (p->kind) {
    case lcr_problem_kind::bad_digit:
        spell_char(static_cast<uint8_t>(p->bad_char), ch);
        report_line(file, r.line, "Illegal number digit = %x ('%s')", static_cast<unsigned>(p->bad_char), ch);
        break;
    case lcr_problem_kind::duplicate:
        report_line(file, r.line, "duplikate Entry for number %s (first on line %u)", r.number,
                    static_cast<unsigned>(list->rules[p->first_rule].line));
        break;
    case lcr_problem_kind::duplicate_other_area:
        report_line(file, r.line, "duplikate Entry for number %s with different Areas (first on line %u)",
                    r.number, static_cast<unsigned>(list->rules[p->first_rule].line));
        break;
    case lcr_problem_kind::tree_full:
        if (pool_drops == 1)
            report_line(file, r.line, "Telefon locate tree too large: this rule does not fit in the %u trie records",
                        TRIE_MAX_NODES);
        else
            report_line(file, r.line,
                        "Telefon locate tree too large: this rule and %u more after it by number do not fit in "
                        "the %u trie records",
                        static_cast<unsigned>(pool_drops - 1), TRIE_MAX_NODES);
        break;
    case lcr_problem_kind::no_timetable:
        report_line(file, r.line, "Area %u timetable does not exist (route %d)", static_cast<unsigned>(p->area),
                    static_cast<int>(lcr_route_of_area(p->area)));
        break;
    default:
        // missing_provider never comes up: every rule set lcrtool compiles
        // has the ten providers of the skeleton.
        break;
    }
}

// A problem by the line of its rule; a rule has one line, and the compiler
// reports at most one problem per rule.
struct line_problem {
    uint32_t line;
    const lcr_problem *problem;
};

int by_line(const void *a, const void *b)
{
    uint32_t x = static_cast<const line_problem *>(a)->line;
    uint32_t y = static_cast<const line_problem *>(b)->line;
    return (x > y) - (x < y);
}

// Reports, in line order, each problem the compiler found; those of the
// full pool as one, on the first such rule by number. -1 when memory runs
// out.
int report_problems(const char *file, const rule_list *list, const compiled_rules *c)
{
    auto *order = static_cast<line_problem *>(malloc((c->count + 1) * sizeof(line_problem)));
    if (!order)
        return -1;
    size_t count = 0;
    uint32_t pool_drops = 0;
    for (size_t i = 0; i < c->count; i++) {
        const lcr_problem *p = &c->problems[i];
        if (p->kind == lcr_problem_kind::tree_full && pool_drops++ > 0)
            continue;
        order[count++] = {list->rules[p->rule].line, p};
    }
    qsort(order, count, sizeof *order, by_line);
    for (size_t i = 0; i < count; i++)
        report_problem(file, list, order[i].problem, pool_drops);
    free(order);
    return 0;
}

// Bytes that hold a character of provider p's name, or the NUL that ends a
// name of fewer than 20 characters.
bool holds_name(const rule_list *list, uint32_t offset)
{
    if (offset < LCR_OFF_PROVIDER_NAMES || offset >= lcr_provider_name_offset(LCR_PROVIDER_COUNT))
        return false;
    uint32_t at = (offset - LCR_OFF_PROVIDER_NAMES) % LCR_PROVIDER_NAME_STRIDE;
    size_t len = strlen(list->names[(offset - LCR_OFF_PROVIDER_NAMES) / LCR_PROVIDER_NAME_STRIDE]);
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
            memcpy(out->buf + lcr_timetable_offset(k), x->timetable[k], LCR_TIME_SLOTS);
    for (uint32_t i = 0; i < LCR_OTHER_BYTES; i++)
        if (x->byte_given[i] && !holds_name(list, LCR_OTHER_BYTES_BEGIN + i))
            out->buf[LCR_OTHER_BYTES_BEGIN + i] = x->byte[i];
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

// The text reader has refused, with their line numbers, the lines it
// cannot read and the values the compiler would take without a word but
// that would come back from the image as something else (`status`). The
// compiler then reports, by line too, what it drops or refuses among the
// rules read. Only a rule set that passes both is written, so that no
// image short of a rule replaces the old one.
int compile_and_write(const char *text, int status, const rule_list *list, const text_extras *extras,
                      const char *image)
{
    compiled_rules c;
    if (compile_rules(list, &c) != 0) {
        report(text, "out of memory");
        return EXIT_TROUBLE;
    }
    if (report_problems(text, list, &c) != 0) {
        report(text, "out of memory");
        status = EXIT_TROUBLE;
    } else if (status == EXIT_OK && (c.result != 0 || c.dropped != 0)) {
        status = EXIT_REJECTED;
    }
    if (status == EXIT_OK) {
        keep_stored_areas(list, &c.out);
        write_extras(extras, list, &c.out);
        status = write_image(image, &c.out);
    }
    compiled_rules_free(&c);
    return status;
}

}  // namespace

int lcrtool_build(const char *text, const char *image)
{
    rule_list list;
    text_extras extras;
    int status = read_rule_text(text, &list, &extras);
    if (status == EXIT_TROUBLE)
        return status;
    // Rules go in by number, the order the loader gives them back, so an
    // image built from a dump of a built image has the very same bytes.
    // The sort keeps lines with the same number in text order, so the
    // compiler keeps the first of them.
    sort_rules(&list);
    status = compile_and_write(input_name(text), status, &list, &extras, image);
    rule_list_free(&list);
    return status;
}
