// SPDX-License-Identifier: MIT
// Compiles a rule set into an lcr image: lcr_compile for any caller on the
// tree, buffer and scratch it hands in, reporting what it refuses as
// values; compile_lcr for the driver on the first rule set (the list at
// `current_tree`), the process-wide output buffer and the compiler's
// messages on stderr.
#pragma once

#include <cstdint>

#include "image_format.h"
#include "rule.h"
#include "tree.h"

// An image being written: a buffer of LCR_IMAGE_MAX bytes and its length,
// one past the highest byte written.
struct lcr_image_out {
    uint8_t *buf;
    uint32_t len;
};

// Why the compiler drops a rule or refuses the rule set. The first four
// are found while the rules go into the trie and drop their rule; the last
// two are found in the trie afterwards and fail the compile.
enum class lcr_problem_kind : uint8_t {
    bad_digit,             // a character other than 0 to 9
    duplicate,             // a number given twice
    duplicate_other_area,  // as duplicate, the first with another area byte
    tree_full,             // no trie record left for the rest of the number
    no_timetable,          // an area byte of 65 to 254
    missing_provider,      // a time slot names a provider the set lacks
};

inline bool lcr_problem_fails_compile(lcr_problem_kind kind)
{
    return kind == lcr_problem_kind::no_timetable || kind == lcr_problem_kind::missing_provider;
}

// A problem and the numbers its kind has; the fields of other kinds are 0.
struct lcr_problem {
    lcr_problem_kind kind;
    uint8_t bad_char;        // bad_digit: the character, as an unsigned byte
    uint8_t area;            // trie faults: the record's area byte
    uint8_t provider_value;  // missing_provider: the provider value it names
    // The rule by its place among those the compiler takes (lcr_for_each_
    // compiled_rule), 0 the first; for a fault in the trie, the rule that
    // gave the record its area byte.
    uint32_t rule;
    // The rule's number, valid during the report only; null for a fault in
    // the trie.
    const char *number;
    uint32_t first_rule;      // duplicate kinds: the rule that entered the number first
    uint32_t records_needed;  // tree_full: the records the trie would hold with
                              // the rest of the number in it, past TRIE_MAX_NODES
    uint16_t record;          // trie faults: the record ("tree point")
    uint8_t slot;             // missing_provider: the time slot
};

// Where lcr_compile hands each problem, in the order it finds them: the
// rules' in rule order, then the trie's in record order.
struct lcr_problem_sink {
    void (*report)(void *context, const lcr_problem &problem);
    void *context;
};

// What one compile works on. lcr_compile clears it first; it is large
// (36 KiB or so), so the driver keeps its one in .bss rather than on the
// device's small stack.
struct lcr_compile_scratch {
    struct timetable {
        int32_t enabled;
        int32_t slot[LCR_TIME_SLOTS];  // provider value, or ROUTE_SLOT_BASE + route
    };
    // Pool node i is record i of the image.
    struct trie_node {
        trie_node *child[LCR_DIGITS];
        uint32_t rule;  // the rule that gave the area byte
        uint8_t area;   // AREA_NONE where no number ends
    };
    // Names of providers 0 to 9; bit p of `present` when the rule set has
    // provider p, whose provider value is 2p.
    lcr_provider_name names[LCR_PROVIDER_COUNT];
    uint32_t present;
    // Timetables by area byte.
    timetable timetables[LCR_TIMETABLES];
    // Storage of the number trie: pool node i becomes record i of the
    // image, and node 0, once taken, is the root.
    trie_node pool[TRIE_MAX_NODES];
    uint32_t count;  // pool nodes taken so far
};

// Compiles the rules and provider names under `routing` into `out`,
// handing every problem to `problems`. 0 with the image in `out`; -1 when
// a fault in the trie refuses the rule set, with out->len 0 and the buffer
// zero. *dropped counts the rules that did not go into the number trie (a
// character other than 0 to 9, a number given twice, no trie record left):
// each was reported and is missing from the image, which is still made,
// but a caller must not pass it off as the rule set.
int lcr_compile(const lcr_node *routing, lcr_image_out *out, lcr_compile_scratch *scratch,
                const lcr_problem_sink &problems, uint32_t *dropped);

// The bytes before the trie as lcr_compile writes them for the names of
// the providers in `present` (bit p for provider p): the version word,
// each name in its field, zero reserved sections and the compiled
// timetables. The bytes of `out` it does not write must be zero already.
void lcr_write_fixed_part(const lcr_provider_name *names, uint32_t present, lcr_image_out *out);

// The compiler's message for `problem` on stderr, as compile_lcr prints
// it. The compile stops at the first fault of the trie, so only that one
// has a message: `context` points to a bool that is set once it is
// printed.
void lcr_print_problem(void *context, const lcr_problem &problem);

// The driver's image and its length.
extern uint8_t lcr_out_buf[LCR_IMAGE_MAX];
extern uint32_t lcr_out_len;

// lcr_compile of the "Routing" node at `current_tree` into lcr_out_buf and
// lcr_out_len, its problems printed by lcr_print_problem, the count of
// dropped rules in *dropped. -1 without a "Routing" node, with the image
// and *dropped as they were.
int compile_lcr(uint32_t *dropped);

// Copies len bytes to out->buf at pos and raises out->len to cover them.
// Bytes that would pass LCR_IMAGE_MAX are dropped.
void lcr_put(lcr_image_out *out, uint32_t pos, const void *src, uint32_t len);
