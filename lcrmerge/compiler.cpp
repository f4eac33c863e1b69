// SPDX-License-Identifier: MIT
#include "compiler.h"

#include <cstdio>
#include <cstring>

namespace {

using timetable = lcr_compile_scratch::timetable;
using trie_node = lcr_compile_scratch::trie_node;

// The driver's scratch, static so that it lies in .bss on the device rather
// than on its small stack.
lcr_compile_scratch driver_scratch;

}  // namespace

// The driver's image and its length.
uint8_t lcr_out_buf[LCR_IMAGE_MAX];
uint32_t lcr_out_len;

namespace {

// One compile: the scratch it works on and where its problems go.
struct compile_run {
    lcr_compile_scratch *s;
    const lcr_problem_sink &sink;
};

void report(const compile_run *run, const lcr_problem &problem)
{
    run->sink.report(run->sink.context, problem);
}

trie_node *trie_alloc(lcr_compile_scratch *s)
{
    if (s->count >= TRIE_MAX_NODES)
        return nullptr;
    trie_node *node = &s->pool[s->count];
    for (trie_node *&child : node->child)
        child = nullptr;
    node->area = AREA_NONE;
    node->rule = 0;
    s->count++;
    return node;
}

// Enters `number` of rule `rule` with the low 8 bits of `area`. Nodes made
// before an error stay in the trie with AREA_NONE; they are written as
// records all the same.
int trie_insert(const compile_run *run, uint32_t rule, const char *number, int32_t area)
{
    lcr_compile_scratch *s = run->s;
    lcr_problem problem = {};
    problem.rule = rule;
    problem.number = number;
    // The pool always has room for the root.
    if (s->count == 0)
        trie_alloc(s);
    trie_node *node = &s->pool[0];
    for (const char *c = number; *c; c++) {
        unsigned code = static_cast<unsigned char>(*c);
        // Unsigned, so characters below '0' wrap to large values and fail too.
        unsigned digit = static_cast<uint8_t>(code - '0');
        if (digit >= LCR_DIGITS) {
            problem.kind = lcr_problem_kind::bad_digit;
            problem.bad_char = static_cast<uint8_t>(code);
            report(run, problem);
            return -1;
        }
        if (!node->child[digit]) {
            node->child[digit] = trie_alloc(s);
            if (!node->child[digit]) {
                problem.kind = lcr_problem_kind::tree_full;
                problem.records_needed = TRIE_MAX_NODES + static_cast<uint32_t>(strlen(c));
                report(run, problem);
                return -1;
            }
        }
        node = node->child[digit];
    }
    auto low = static_cast<uint8_t>(area);
    if (node->area == AREA_NONE) {
        node->area = low;
        node->rule = rule;
        return 0;
    }
    problem.kind = node->area == low ? lcr_problem_kind::duplicate : lcr_problem_kind::duplicate_other_area;
    problem.first_rule = node->rule;
    report(run, problem);
    return -1;
}

// Area bytes 0 to 19 each get a timetable that gives, in every time slot,
// the same route or provider the area byte itself encodes.
void fill_fixed_timetables(lcr_compile_scratch *s)
{
    for (uint32_t k = 0; k < LCR_FIXED_TIMETABLES; k++) {
        s->timetables[k].enabled = 1;
        for (int32_t &slot : s->timetables[k].slot)
            slot = lcr_compiled_timetable_entry(k);
    }
}

// One trie entry per rule. A rule that fails to go in has been reported;
// it is dropped and counted, and the others still go in, so that every
// fault of the rule set is reported in one run. Returns the count.
uint32_t insert_rules(const compile_run *run, const lcr_node *routing)
{
    uint32_t dropped = 0;
    uint32_t rule_number = 0;
    lcr_for_each_compiled_rule(routing, [&](const lcr_rule &rule) {
        // A value area filled to the brim has no NUL of its own.
        char digits[LCR_VALUE_SIZE + 1];
        size_t len = strnlen(rule.number, LCR_VALUE_SIZE);
        memcpy(digits, rule.number, len);
        digits[len] = '\0';
        int32_t area = route_to_area(rule.route, lcr_provider_value(rule.provider));
        dropped += trie_insert(run, rule_number++, digits, area) != 0;
        return true;
    });
    return dropped;
}

// Whether a timetable entry below LCR_PROVIDER_SLOTS names a provider the
// rule set has: provider value 2p for provider p of 0 to 9.
bool provider_exists(const lcr_compile_scratch *s, uint32_t value)
{
    int32_t p = lcr_value_provider(value);
    return p >= 0 && (s->present >> p & 1);
}

// First time slot of timetable `area` that names a provider the rule set
// lacks, or LCR_TIME_SLOTS when there is none (or the table is unused).
uint32_t first_missing_provider(const lcr_compile_scratch *s, uint32_t area)
{
    const timetable &table = s->timetables[area];
    if (!table.enabled)
        return LCR_TIME_SLOTS;
    for (uint32_t j = 0; j < LCR_TIME_SLOTS; j++) {
        auto value = static_cast<uint32_t>(table.slot[j]);
        if (value < LCR_PROVIDER_SLOTS && !provider_exists(s, value))
            return j;
    }
    return LCR_TIME_SLOTS;
}

// Every area byte in the trie needs a timetable, and every provider such a
// timetable names must exist. Area 64 is a number without a timetable, and
// the unused timetables 20 to 63 name nothing. Each timetable is checked
// once, when a record first uses it. Every record that fails is reported,
// in index order, so that a caller can name each faulty rule.
int validate(const compile_run *run)
{
    const lcr_compile_scratch *s = run->s;
    constexpr uint8_t UNCHECKED = 0xFF;
    uint8_t missing_at[LCR_TIMETABLES];
    memset(missing_at, UNCHECKED, sizeof missing_at);
    int result = 0;
    for (uint32_t t = 0; t < s->count; t++) {
        const trie_node &node = s->pool[t];
        uint32_t area = node.area;
        if (area == AREA_NONE || area == AREA_NO_TIMETABLE)
            continue;
        lcr_problem problem = {};
        problem.kind = lcr_problem_kind::no_timetable;
        problem.rule = node.rule;
        problem.record = static_cast<uint16_t>(t);
        problem.area = static_cast<uint8_t>(area);
        if (area < AREA_NO_TIMETABLE) {
            if (missing_at[area] == UNCHECKED)
                missing_at[area] = static_cast<uint8_t>(first_missing_provider(s, area));
            uint32_t j = missing_at[area];
            if (j == LCR_TIME_SLOTS)
                continue;
            problem.kind = lcr_problem_kind::missing_provider;
            // Only entries below LCR_PROVIDER_SLOTS name a provider.
            problem.provider_value = static_cast<uint8_t>(s->timetables[area].slot[j]);
            problem.slot = static_cast<uint8_t>(j);
        }
        report(run, problem);
        result = -1;
    }
    return result;
}

// The pool's records fit the buffer, so they are written without clipping.
static_assert(lcr_record_offset(TRIE_MAX_NODES) <= LCR_IMAGE_MAX);

// Writes the trie after the fixed part. The buffer was cleared first, so
// the zero bytes around the provider names are in place already.
void serialise(const lcr_compile_scratch *s, lcr_image_out *out)
{
    lcr_write_fixed_part(s->names, s->present, out);
    // Pool node i is record i, so the records come out in index order
    // without searching the trie.
    for (uint32_t i = 0; i < s->count; i++) {
        const trie_node &node = s->pool[i];
        lcr_set_record_area(out->buf, i, node.area);
        for (uint32_t d = 0; d < LCR_DIGITS; d++) {
            // Index 0 is the root, which is no one's child, so it marks "no child".
            uint32_t child = node.child[d] ? static_cast<uint32_t>(node.child[d] - s->pool) : 0;
            lcr_set_record_link(out->buf, i, d, static_cast<uint16_t>(child));
        }
    }
    out->len = lcr_record_offset(s->count);
}

}  // namespace

void lcr_write_fixed_part(const lcr_provider_name *names, uint32_t present, lcr_image_out *out)
{
    uint8_t word[4];
    put_le32(word, LCR_VERSION);
    lcr_put(out, LCR_OFF_VERSION, word, sizeof word);
    // A name may run on into the next slot, which then starts no name of
    // its own: only the even slots, provider p's slot 2p, ever start one.
    for (uint32_t p = 0; p < LCR_PROVIDER_COUNT; p++)
        if (present >> p & 1)
            lcr_put(out, lcr_provider_name_offset(p), names[p], static_cast<uint32_t>(strlen(names[p])) + 1);

    // The reserved block and the two reserved tables are zero in every image.
    static const uint8_t zeros[LCR_OFF_TIMETABLES - LCR_OFF_RESERVED_BLOCK] = {};
    lcr_put(out, LCR_OFF_RESERVED_BLOCK, zeros, sizeof zeros);
    // The slots are 32-bit entries that fill_fixed_timetables sets; the
    // image holds their low bytes, and an unused timetable's zeros.
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++) {
        uint8_t row[LCR_TIME_SLOTS];
        memset(row, lcr_compiled_timetable_entry(k), sizeof row);
        lcr_put(out, lcr_timetable_offset(k), row, LCR_TIME_SLOTS);
    }
}

int lcr_compile(const lcr_node *routing, lcr_image_out *out, lcr_compile_scratch *scratch,
                const lcr_problem_sink &problems, uint32_t *dropped)
{
    compile_run run = {scratch, problems};
    memset(scratch, 0, sizeof *scratch);
    memset(out->buf, 0, LCR_IMAGE_MAX);
    out->len = 0;
    fill_fixed_timetables(scratch);
    scratch->present = lcr_read_provider_names(routing, scratch->names);
    *dropped = insert_rules(&run, routing);
    if (validate(&run) != 0)
        return -1;
    serialise(scratch, out);
    return 0;
}

void lcr_print_problem(void *context, const lcr_problem &p)
{
    auto *trie_fault_printed = static_cast<bool *>(context);
    if (lcr_problem_fails_compile(p.kind)) {
        if (*trie_fault_printed)
            return;
        *trie_fault_printed = true;
    }
    switch (p.kind) {
    case lcr_problem_kind::bad_digit:
        fprintf(stderr, "ERROR: Illegal number digit = %x!\n", static_cast<unsigned>(p.bad_char));
        break;
    case lcr_problem_kind::duplicate:
        fprintf(stderr, "ERROR : duplikate Entry for number %s\n", p.number);
        break;
    case lcr_problem_kind::duplicate_other_area:
        fprintf(stderr, "ERROR : duplikate Entry for number %s with different Areas\n", p.number);
        break;
    case lcr_problem_kind::tree_full:
        fputs("ERROR  Telefon locate tree too large\n", stderr);
        break;
    case lcr_problem_kind::no_timetable:
        fprintf(stderr, "ERROR Area %d timetable does not exist (Tree point %d)\n", static_cast<int>(p.area),
                static_cast<int>(p.record));
        break;
    case lcr_problem_kind::missing_provider:
        fprintf(stderr,
                "ERROR Provider value %d does not exist\n"
                "(Tree point %d, Area value %d, Time %d)\n",
                static_cast<int>(p.provider_value), static_cast<int>(p.record), static_cast<int>(p.area),
                static_cast<int>(p.slot));
        break;
    }
}

int compile_lcr(uint32_t *dropped)
{
    const lcr_node *routing = lcr_find_sibling(current_tree, NODE_ROUTING);
    if (!routing)
        return -1;
    lcr_image_out out = {lcr_out_buf, 0};
    bool trie_fault_printed = false;
    uint32_t count = 0;
    int result = lcr_compile(routing, &out, &driver_scratch, {lcr_print_problem, &trie_fault_printed}, &count);
    lcr_out_len = out.len;
    *dropped = count;
    return result;
}

void lcr_put(lcr_image_out *out, uint32_t pos, const void *src, uint32_t len)
{
    // The fixed part lies within the buffer, but writes of any size come
    // through here, so it clips every write at the end of the buffer
    // itself. The room left is computed before comparing, so
    // a huge pos or len cannot wrap around into the buffer.
    if (pos > LCR_IMAGE_MAX)
        return;
    uint32_t room = LCR_IMAGE_MAX - pos;
    if (len > room)
        len = room;
    if (len)
        memcpy(out->buf + pos, src, len);
    if (pos + len > out->len)
        out->len = pos + len;
}
