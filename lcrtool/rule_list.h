// A rule set in the flat form lcrtool works on: the ten provider names and
// one entry per rule, taken from a loaded image or read from text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_format.h"
#include "loader.h"
#include "rule.h"
#include "tree.h"

struct tool_rule {
    // Digits; read from text it may hold other characters, which are left
    // for the compiler to refuse.
    char number[LCR_NUMBER_MAX_DIGITS + 1];
    int32_t route;
    int32_t provider;
    uint32_t line;  // text line the rule came from; 0 for a loaded image
    // The area byte the number's trie record holds: what the route and
    // provider give (rule_area), or, for route -3, any byte from 20 to 254
    // that an image held, since each of those reads as route -3.
    uint8_t area;
};

struct rule_list {
    lcr_provider_name names[LCR_PROVIDER_COUNT];
    tool_rule *rules;  // malloc'd, `count` used of `capacity`
    size_t count;
    size_t capacity;
};

// Appends a copy of `rule`; -1 when memory runs out.
int rule_list_append(rule_list *list, const tool_rule *rule);
void rule_list_free(rule_list *list);

// Orders rules by number as strings (the order the loader gives an image's
// rules), rules with the same number by line.
void sort_rules(rule_list *list);

// How many of the first `max` characters `a` and `b` share. In number
// order a rule shares with the compiler's trie as many digits as it shares
// with the number entered just before it: the records it takes are the
// rest.
size_t shared_prefix(const char *a, const char *b, size_t max);

// The area byte the compiler gives the rule.
uint8_t rule_area(const tool_rule *rule);

// An image as lcrtool reads it: the bytes of one read, and the rule set the
// loader makes of those same bytes, in the loader's order.
struct loaded_image {
    uint8_t *bytes;  // malloc'd, LCR_IMAGE_MAX bytes, `len` of them read
    uint32_t len;
    rule_list list;
};

// Reads the image at `path` once (a pipe or a FIFO too) and loads it with
// the project's loader. On failure reports the file and the reason and
// returns -1; `img` then holds nothing to free.
int load_image(const char *path, loaded_image *img);

// The two steps of load_image, for a caller that judges the outcome itself.
// read_image takes the bytes a reader takes and reports its failure as
// load_image does. With `past` it also learns what follows them: the bytes
// left of a regular file, or for other input, which may never end,
// PAST_UNKNOWN when there is one more byte.
inline constexpr uint64_t PAST_UNKNOWN = UINT64_MAX;
int read_image(const char *path, loaded_image *img, uint64_t *past);
// Loads the bytes read into img->list; reports nothing.
lcr_load_status load_read_image(loaded_image *img);
// The message for a load that failed, as load_image gives it.
void report_load_failure(const char *path, lcr_load_status status, uint32_t len);
void loaded_image_free(loaded_image *img);

// A section of the fixed part of an image (the bytes before the trie).
struct image_section {
    const char *name;
    uint32_t offset;
    uint32_t size;
};

// The provider name table and the reserved sections: the fixed part but
// the version word and the timetables. Where they hold other bytes than
// the compiler writes for an image's names, dump shows them as bytes lines
// and diff as section lines.
inline constexpr image_section OTHER_SECTIONS[] = {
    {"provider-names", LCR_OFF_PROVIDER_NAMES, LCR_PROVIDER_SLOTS * LCR_PROVIDER_SLOT_SIZE},
    {"reserved-block", LCR_OFF_RESERVED_BLOCK, LCR_RESERVED_BLOCK_SIZE},
    {"reserved-table-1", LCR_OFF_RESERVED_TABLE1, LCR_RESERVED_TABLE_SIZE},
    {"reserved-table-2", LCR_OFF_RESERVED_TABLE2, LCR_RESERVED_TABLE_SIZE},
};
inline constexpr uint32_t OTHER_BYTES_BEGIN = LCR_OFF_PROVIDER_NAMES;
inline constexpr uint32_t OTHER_BYTES_END = LCR_OFF_TIMETABLES;
inline constexpr uint32_t OTHER_BYTES = OTHER_BYTES_END - OTHER_BYTES_BEGIN;

// Fills `fixed` (LCR_OFF_TRIE bytes) with the fixed part that the compiler
// writes for the names of `list`: the version word, each name at its
// provider's slot with zeros around it, zero reserved sections and the
// compiler's timetables.
void compiled_fixed_part(const rule_list *list, uint8_t *fixed);

// Length of the longest prefix of `number` whose trie record in the image
// `bytes` (`len` of them read) carries an area byte, and that record; 0
// when there is none. The walk
// follows child links as the loader does (0, 0xFFFF and records past the
// bytes read are no child), never takes the root's area byte, and stops 20
// digits deep. `number` holds digits only.
size_t trie_longest_rule(const uint8_t *bytes, uint32_t len, const char *number, uint32_t *record);
