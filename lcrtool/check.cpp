// SPDX-License-Identifier: MIT
// check: what the loader passes over in an image without a word, and what a
// merge would change in it, one finding per line on standard output.
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "compile.h"
#include "image_format.h"
#include "loaded_image.h"
#include "loader.h"
#include "losses.h"
#include "merge.h"
#include "messages.h"
#include "text_format.h"

namespace {

// One image under check: the bytes read and what the walk learnt of them.
struct image_check {
    const char *file;
    const uint8_t *bytes;
    uint32_t records;  // whole records within the bytes read
    uint32_t findings;
    bool reached[LCR_MAX_READ_RECORDS];
    // The number by which the walk first reached each record.
    char number[LCR_MAX_READ_RECORDS][LCR_NUMBER_MAX_DIGITS + 1];
    char text[128];  // the words of a finding shared with merge
};

__attribute__((format(printf, 2, 3))) void finding(image_check *c, const char *fmt, ...)
{
    printf("%s: ", c->file);
    va_list args;
    va_start(args, fmt);
    vprintf(fmt, args);
    va_end(args);
    putchar('\n');
    c->findings++;
}

// What the area byte of a record the walk reaches says that no reader
// takes, or that a merge does not keep.
void check_area(image_check *c, uint32_t record, uint32_t depth)
{
    uint8_t area = lcr_record_area(c->bytes, record);
    if (area == AREA_NONE)
        return;
    int32_t route = area_to_route(area);
    if (depth == 0) {
        finding(c, "the root record holds area byte %u, which no reader takes as a rule", area);
    } else if (route == ROUTE_NO_TIMETABLE && area != AREA_NO_TIMETABLE) {
        area_loss(area, route, AREA_NO_TIMETABLE, c->text, sizeof c->text);
        finding(c, "%s has %s", c->number[record], c->text);
    }
}

// Follows the trie as the loader does: from the root, digits in ascending
// order, links only out of records less than 20 digits deep. Where the
// loader stops without a word, or refuses the image, this says so and goes
// on, so one run shows every damaged link; a record reached again is not
// entered again, which also ends a cycle.
void check_records(image_check *c)
{
    if (c->records == 0)
        return;
    c->reached[0] = true;
    check_area(c, 0, 0);
    // The number a link leads to. The walk goes depth first, so the digits
    // before the link's own are those of the record it leaves.
    char next[LCR_NUMBER_MAX_DIGITS + 2];
    lcr_walk_trie(c->bytes, c->records, [&](const lcr_link &link) {
        next[link.depth - 1] = static_cast<char>('0' + link.digit);
        next[link.depth] = '\0';
        if (link.kind == lcr_link_kind::too_deep) {
            finding(c, "child link for %s is not followed: no reader goes past 20 digits", next);
        } else if (link.kind == lcr_link_kind::past) {
            finding(c, "child link for %s leads to record %u, past the %u records read: the image was cut, and lcrmerge refuses it",
                    next, link.to, c->records);
        } else if (c->reached[link.to]) {
            finding(c, "record %u is reached both as %s and as %s: the loader refuses the image", link.to,
                    c->number[link.to], next);
        } else {
            c->reached[link.to] = true;
            memcpy(c->number[link.to], next, sizeof c->number[link.to]);
            check_area(c, link.to, link.depth);
            return lcr_walk_step::follow;
        }
        return lcr_walk_step::pass;
    });
    uint32_t unreached = 0;
    uint32_t first = 0;
    for (uint32_t i = c->records; i-- > 0;) {
        if (!c->reached[i]) {
            unreached++;
            first = i;
        }
    }
    if (unreached)
        finding(c, "records that no link reaches: %u, the first record %u", unreached, first);
}

// The rules, in the loader's order, that lcrmerge's compiler drops for
// want of a trie record. -1 when memory runs out.
int check_trie_records(image_check *c, const rule_list *list)
{
    compiled_rules compiled;
    if (compile_rules(list, &compiled) != 0)
        return -1;
    for (size_t i = 0; i < compiled.count; i++) {
        const lcr_problem &p = compiled.problems[i];
        if (p.kind == lcr_problem_kind::tree_full)
            finding(c, "%s needs trie record %u, past the %u that lcrmerge's compiler holds: a merge that keeps it fails",
                    list->rules[p.rule].number, static_cast<unsigned>(p.records_needed), TRIE_MAX_NODES);
    }
    compiled_rules_free(&compiled);
    return 0;
}

// What a merge leaves of a table without rules, in either mode.
void check_rules_left(image_check *c, const rule_list *list)
{
    if (list->count == 0)
        finding(c, "holds no rule: a merge leaves no routing in mode 1, and only the emergency numbers "
                   "110, 112 and 19222 in mode 2");
}

// Whether the trie still fits once mode 2 has added the emergency numbers
// the table lacks. Against defaults without a rule, mode 2 removes nothing
// and only adds them: the real merge and the real compiler then tell what
// every mode-2 merge of this table faces unless its defaults remove rules.
// The merge changes `tree`. -1 when memory runs out.
int check_mode2_pool(image_check *c, size_t rules, lcr_node *tree)
{
    lcr_node *none = nullptr;
    int merged = lcr_build_skeleton_routing(&none) ? clear_routes2(tree, none) : -1;
    kelmar_free_list(none);
    compiled_rules compiled;
    if (merged != 0 || compile_tree(lcr_find_sibling(tree, NODE_ROUTING), &compiled) != 0)
        return -1;
    // The rules mode 2 added stand after the table's own, which fit when
    // the table fits, so the pool drops only added ones then; the table's
    // own that do not fit have findings of their own. The numbers added
    // are named as "110, 112, 19222".
    char added[32] = "";
    size_t at = 0;
    lcr_for_each_compiled_rule(lcr_find_sibling(tree, NODE_ROUTING), [&](const lcr_rule &r) {
        size_t len = strlen(added);
        if (at++ >= rules && len + strlen(r.number) + 3 < sizeof added)
            snprintf(added + len, sizeof added - len, "%s%s", len ? ", " : "", r.number);
        return true;
    });
    uint32_t drops = 0, needed = 0;
    for (size_t i = 0; i < compiled.count; i++) {
        const lcr_problem &p = compiled.problems[i];
        if (p.kind == lcr_problem_kind::tree_full) {
            drops++;
            needed = std::max(needed, p.records_needed);
        }
    }
    compiled_rules_free(&compiled);
    if (!*added || drops == 0)
        return 0;
    // Each rule dropped needs a record of its own for its last digit.
    needed = std::max(needed, TRIE_MAX_NODES + drops);
    finding(c, "a mode-2 merge adds %s, and the trie then needs %s%u records, more than the %u that lcrmerge's "
               "compiler holds: a mode-2 merge refuses this table unless the defaults table removes rules",
            added, drops > 1 ? "at least " : "", static_cast<unsigned>(needed), TRIE_MAX_NODES);
    return 0;
}

void check_timetables(image_check *c)
{
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++) {
        uint8_t written[LCR_TIME_SLOTS];
        memset(written, lcr_compiled_timetable_entry(k), sizeof written);
        if (timetable_loss(k, c->bytes + lcr_timetable_offset(k), written, c->text, sizeof c->text))
            finding(c, "timetable %u %s", static_cast<unsigned>(k), c->text);
    }
}

void check_names(image_check *c)
{
    for (uint32_t p = 0; p < LCR_PROVIDER_COUNT; p++) {
        const uint8_t *name = c->bytes + lcr_provider_name_offset(p);
        size_t len = strnlen(reinterpret_cast<const char *>(name), LCR_PROVIDER_NAME_MAX);
        const uint8_t *bad = std::find_if_not(name, name + len, name_byte_printable);
        if (bad != name + len)
            finding(c, "provider %u's name holds byte 0x%02X, which is not printable ISO-8859-1", p, *bad);
        if (len == LCR_PROVIDER_NAME_MAX && name[len] != 0)
            finding(c, "provider %u's name runs past %u characters: readers keep the first %u", p,
                    LCR_PROVIDER_NAME_MAX, LCR_PROVIDER_NAME_MAX);
    }
}

int check_file(const char *path)
{
    loaded_image img;
    uint64_t past = 0;
    if (read_image(path, &img, &past) != 0)
        return EXIT_TROUBLE;
    lcr_node *tree = nullptr;
    lcr_load_status status = load_read_image(&img, &tree);
    // A trie with joined branches, or cut short, is an image all the same:
    // the walk below says where they join or where it was cut.
    if (status != lcr_load_status::loaded && status != lcr_load_status::joined &&
        status != lcr_load_status::cut) {
        report_load_failure(path, status, &img);
        loaded_image_free(&img);
        return EXIT_TROUBLE;
    }
    image_check check{input_name(path), img.bytes, lcr_records_in(img.len), 0, {}, {}, {}};
    image_check *c = &check;
    // A loaded image holds the fixed sections, so only the bytes after its
    // whole records can fall short of one.
    uint32_t partial = img.len - lcr_record_offset(c->records);
    if (past == PAST_UNKNOWN)
        finding(c, "more than the %u bytes a reader takes: the rest is ignored", LCR_IMAGE_MAX);
    else if (past)
        finding(c, "%" PRIu64 " bytes, more than the %u a reader takes: the %" PRIu64 " after them are ignored",
                img.len + past, LCR_IMAGE_MAX, past);
    else if (partial)
        finding(c, "%u bytes, not %u + %un: the last %u bytes, too few for a record, are ignored", img.len,
                LCR_OFF_TRIE, LCR_TRIE_RECORD_SIZE, partial);
    check_records(c);
    bool whole = check_trie_records(c, &img.list) == 0;
    if (tree) {
        check_rules_left(c, &img.list);
        whole = check_mode2_pool(c, img.list.count, tree) == 0 && whole;
        kelmar_free_list(tree);
    }
    if (!whole)
        report(input_name(path), "out of memory");
    check_timetables(c);
    check_names(c);
    loaded_image_free(&img);
    return !whole ? EXIT_TROUBLE : c->findings ? EXIT_FINDINGS : EXIT_OK;
}

}  // namespace

int lcrtool_check(char *const *images, int count)
{
    int status = EXIT_OK;
    for (int i = 0; i < count; i++)
        status = std::max(status, check_file(images[i]));
    return std::max(status, finish_output());
}
