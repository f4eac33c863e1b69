// SPDX-License-Identifier: MIT
// merge: what lcrmerge does with two images, in words. It runs lcrmerge's
// own loader, merge mode and compiler on the two images and stops where
// lcrmerge would stop; with an OUTPUT it writes the image through
// lcrmerge's own output code. One line each on standard output:
//
//   drop NUMBER ROUTE PROVIDER: REASON     a rule of CURRENT the merge removes
//   add NUMBER ROUTE PROVIDER: REASON      an emergency rule mode 2 appends
//   lose timetable K: ...                  what the written image does not keep
//   lose section NAME: ...
//   lose area NUMBER: ...
//   refuse: REASON                         why lcrmerge would write nothing
//   result: K of N rules kept, A added     the last line when it would write
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "commands.h"
#include "compile.h"
#include "loaded_image.h"
#include "losses.h"
#include "merge.h"
#include "messages.h"
#include "output.h"

namespace {

// One input: the bytes read, its rules as the loader gives them (with
// their stored area bytes), and the tree the loader made of them.
struct merge_input {
    const char *path;
    loaded_image img;
    lcr_node *tree;
    lcr_load_status status;
};

// Reads and loads `in`; false after a message on standard error when the
// file cannot be read or memory runs out. A load the loader refuses is no
// trouble: lcrmerge refuses it too, which is the answer.
bool read_input(merge_input *in)
{
    in->tree = nullptr;
    if (read_image(in->path, &in->img, nullptr) != 0)
        return false;
    in->status = load_read_image(&in->img, &in->tree);
    if (in->status != lcr_load_status::out_of_memory)
        return true;
    report(input_name(in->path), "out of memory");
    return false;
}

void print_rule(const char *what, const tool_rule &r)
{
    printf("%s %s %d %d: ", what, r.number, static_cast<int>(r.route), static_cast<int>(r.provider));
}

bool same_rule(const tool_rule &a, const tool_rule &b)
{
    return strcmp(a.number, b.number) == 0 && a.route == b.route && a.provider == b.provider;
}

// Why the merge removed rule `r`. The merge itself decided; this only
// names the cause the modes give: in mode 1 a provider other than 0 or
// the want of a defaults' rule with the same number and route, in mode 2
// that rule (a loaded image holds each number once, so there is one).
void print_drop_reason(int mode, const tool_rule &r, const rule_list *defaults)
{
    if (mode == 1) {
        if (r.provider != 0)
            printf("provider %d is not 0, so it matches no rule\n", static_cast<int>(r.provider));
        else
            printf("the defaults have no rule with number %s and route %d\n", r.number, static_cast<int>(r.route));
        return;
    }
    for (size_t i = 0; i < defaults->count; i++) {
        const tool_rule &d = defaults->rules[i];
        if (strcmp(d.number, r.number) == 0 && d.route == r.route)
            printf("matches the defaults' rule %s %d %d\n", d.number, static_cast<int>(d.route),
                   static_cast<int>(d.provider));
    }
}

// The rules of the merged tree, in the order the compiler takes them. -1
// when memory runs out, with those taken until then in `list`.
int rules_of_tree(lcr_node *tree, rule_list *list)
{
    *list = rule_list{};
    bool room = lcr_for_each_compiled_rule(lcr_find_sibling(tree, NODE_ROUTING), [&](const lcr_rule &r) {
        tool_rule rule = {{}, r.route, r.provider, 0, 0};
        memcpy(rule.number, r.number, strnlen(r.number, LCR_NUMBER_MAX_DIGITS));
        return rule_list_append(list, &rule) == 0;
    });
    return room ? 0 : -1;
}

// The merge only removes rules and appends the emergency ones, so the
// rules of CURRENT that it kept are, in order, the first of the merged
// rules. `kept[i]` tells whether CURRENT's rule i stayed; the count kept.
size_t print_drops_and_adds(int mode, const rule_list *before, const rule_list *after, const rule_list *defaults,
                            bool *kept)
{
    size_t j = 0;
    for (size_t i = 0; i < before->count; i++) {
        kept[i] = j < after->count && same_rule(before->rules[i], after->rules[j]);
        if (kept[i]) {
            j++;
            continue;
        }
        print_rule("drop", before->rules[i]);
        print_drop_reason(mode, before->rules[i], defaults);
    }
    size_t count = j;
    for (; j < after->count; j++) {
        print_rule("add", after->rules[j]);
        printf("an emergency number that mode 2 adds\n");
    }
    return count;
}

// Each problem that stops the compile or drops a rule, named by the
// rule's number. Rule sets that the loader and the merge make hold digits
// only, each number once, and the areas and providers the compiler has
// timetables and names for, so the pool of trie records is the one
// problem they meet; any other would be a fault of the merge.
void print_refusals(const compiled_rules *c, const rule_list *after)
{
    for (size_t i = 0; i < c->count; i++) {
        const lcr_problem &p = c->problems[i];
        printf("refuse: %s: ", after->rules[p.rule].number);
        if (p.kind == lcr_problem_kind::tree_full)
            printf("Telefon locate tree too large: it needs trie record %u, past the %u that lcrmerge's compiler holds\n",
                   static_cast<unsigned>(p.records_needed), TRIE_MAX_NODES);
        else
            puts("the compiler refuses it");
    }
}

// What the image written keeps not of CURRENT: timetables, the provider
// name table and reserved sections, and the area bytes of the rules kept.
void print_losses(const loaded_image *current, const bool *kept, const lcr_image_out *out)
{
    char text[128];
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++)
        if (timetable_loss(k, current->bytes + lcr_timetable_offset(k), out->buf + lcr_timetable_offset(k), text,
                           sizeof text))
            printf("lose timetable %u: %s\n", static_cast<unsigned>(k), text);
    for (const lcr_section &s : LCR_OTHER_SECTIONS) {
        unsigned differ = 0, first = 0;
        for (uint32_t at = s.offset + s.size; at-- > s.offset;)
            if (current->bytes[at] != out->buf[at])
                differ++, first = at;
        if (differ)
            printf("lose section %s: %u of %u bytes differ, the first at offset %u\n", s.name, differ,
                   static_cast<unsigned>(s.size), first);
    }
    const rule_list &rules = current->list;
    for (size_t i = 0; i < rules.count; i++) {
        const tool_rule &r = rules.rules[i];
        uint32_t record;
        if (!kept[i] || trie_longest_rule(out->buf, out->len, r.number, &record) != strlen(r.number))
            continue;
        uint8_t written = lcr_record_area(out->buf, record);
        if (written == r.area)
            continue;
        area_loss(r.area, r.route, written, text, sizeof text);
        printf("lose area %s: %s\n", r.number, text);
    }
}

// Merges, compiles and, with `output`, writes; the inputs loaded.
int merge_loaded(int mode, merge_input *current, merge_input *defaults, const char *output)
{
    const rule_list *before = &current->img.list;
    int merged = mode == 1 ? clear_routes(current->tree, defaults->tree) : clear_routes2(current->tree, defaults->tree);
    rule_list after{};
    // Every rule of CURRENT gets its entry, kept or not.
    auto *kept = static_cast<bool *>(malloc(before->count + 1));
    compiled_rules c{};
    int status = EXIT_TROUBLE;
    size_t count = 0;
    if (merged == 0 && kept && rules_of_tree(current->tree, &after) == 0) {
        count = print_drops_and_adds(mode, before, &after, &defaults->img.list, kept);
        if (compile_tree(lcr_find_sibling(current->tree, NODE_ROUTING), &c) == 0)
            status = EXIT_OK;
    }
    if (status != EXIT_OK) {
        report_plain("out of memory");
    } else if (c.result != 0 || c.dropped != 0) {
        // lcrmerge writes no image short of a rule, nor one that failed.
        print_refusals(&c, &after);
        status = EXIT_REFUSED;
    } else {
        print_losses(&current->img, kept, &c.out);
        int err = output ? write_lcr_output(output, c.out.buf, c.out.len) : 0;
        if (err != 0) {
            report(output, "%s", strerror(-err));
            status = EXIT_TROUBLE;
        } else {
            printf("result: %u of %u rules kept, %u added\n", static_cast<unsigned>(count),
                   static_cast<unsigned>(before->count), static_cast<unsigned>(after.count - count));
        }
    }
    compiled_rules_free(&c);
    rule_list_free(&after);
    free(kept);
    return status;
}

}  // namespace

int lcrtool_merge(const char *mode_arg, const char *current_path, const char *defaults_path, const char *output)
{
    // lcrmerge reads its mode with strtol, so "2abc" is mode 2 there; here
    // only the two modes themselves are taken.
    int mode = strcmp(mode_arg, "1") == 0 ? 1 : strcmp(mode_arg, "2") == 0 ? 2 : 0;
    if (mode == 0) {
        report_plain("mode '%s' is not 1 or 2", mode_arg);
        return EXIT_TROUBLE;
    }
    if (output && strcmp(output, "-") == 0) {
        report_plain("merge writes no image to standard output");
        return EXIT_TROUBLE;
    }
    merge_input current{current_path, {}, nullptr, {}}, defaults{defaults_path, {}, nullptr, {}};
    // Both files are read before anything is said, so one run names every
    // file in trouble.
    bool read_current = read_input(&current);
    bool read_defaults = read_input(&defaults);
    int status = EXIT_TROUBLE;
    if (read_current && read_defaults) {
        status = EXIT_OK;
        for (const merge_input *in : {&current, &defaults}) {
            if (in->status == lcr_load_status::loaded)
                continue;
            char why[80];
            load_failure_reason(in->status, &in->img, why, sizeof why);
            printf("refuse: %s: %s\n", input_name(in->path), why);
            status = EXIT_REFUSED;
        }
        if (status == EXIT_OK)
            status = merge_loaded(mode, &current, &defaults, output);
    }
    for (merge_input *in : {&current, &defaults}) {
        kelmar_free_list(in->tree);
        loaded_image_free(&in->img);
    }
    int flushed = finish_output();
    return flushed != EXIT_OK ? flushed : status;
}
