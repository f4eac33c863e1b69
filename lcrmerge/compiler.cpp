#include "compiler.h"

#include <cstdio>
#include <cstring>

#include "rule.h"

namespace {

constexpr int DIGITS = 10;

struct timetable {
    int32_t enabled;
    int32_t slot[LCR_TIME_SLOTS];  // provider value, or ROUTE_SLOT_BASE + route
};

struct trie_node {
    int32_t index;  // position in the pool and record number in the image
    trie_node *child[DIGITS];
    uint8_t area;  // AREA_NONE where no number ends
};

// What one compile works on, cleared at its start.
struct compile_scratch {
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

// The one compile_scratch, static so that its 36 KiB or so lie in .bss on
// the device rather than on its small stack; each step is handed it.
compile_scratch scratch;

}  // namespace

// The driver's image, its length, and the rules compile_lcr dropped.
uint8_t lcr_out_buf[LCR_IMAGE_MAX];
uint32_t lcr_out_len;
uint32_t lcr_dropped_rules;

namespace {

trie_node *trie_alloc(compile_scratch *s)
{
    if (s->count >= TRIE_MAX_NODES) {
        fputs("ERROR  Telefon locate tree too large\n", stderr);
        return nullptr;
    }
    trie_node *node = &s->pool[s->count];
    for (trie_node *&child : node->child)
        child = nullptr;
    node->area = AREA_NONE;
    node->index = static_cast<int32_t>(s->count);
    s->count++;
    return node;
}

// Enters `number` with the low 8 bits of `area`. Nodes made before an error
// stay in the trie with AREA_NONE; they are written as records all the same.
int trie_insert(compile_scratch *s, const char *number, int32_t area)
{
    if (s->count == 0 && !trie_alloc(s))
        return -1;
    trie_node *node = &s->pool[0];
    for (const char *c = number; *c; c++) {
        unsigned code = static_cast<unsigned char>(*c);
        // Unsigned, so characters below '0' wrap to large values and fail too.
        unsigned digit = static_cast<uint8_t>(code - '0');
        if (digit > 9) {
            fprintf(stderr, "ERROR: Illegal number digit = %x!\n", code);
            return -1;
        }
        if (!node->child[digit]) {
            node->child[digit] = trie_alloc(s);
            if (!node->child[digit])
                return -1;
        }
        node = node->child[digit];
    }
    auto low = static_cast<uint8_t>(area);
    if (node->area == AREA_NONE) {
        node->area = low;
        return 0;
    }
    if (node->area == low)
        fprintf(stderr, "ERROR : duplikate Entry for number %s\n", number);
    else
        fprintf(stderr, "ERROR : duplikate Entry for number %s with different Areas\n", number);
    return -1;
}

// Area bytes 0 to 19 each get a timetable that gives, in every time slot,
// the same route or provider the area byte itself encodes.
void fill_fixed_timetables(compile_scratch *s)
{
    for (uint32_t k = 0; k < LCR_FIXED_TIMETABLES; k++) {
        s->timetables[k].enabled = 1;
        for (int32_t &slot : s->timetables[k].slot)
            slot = lcr_compiled_timetable_entry(k);
    }
}

// One trie entry per rule. A rule that fails to go in has already said why
// on stderr; it is dropped and counted, and the others still go in, so
// that every fault of the rule set is reported in one run. Returns the
// count.
uint32_t insert_rules(compile_scratch *s, const lcr_node *routing)
{
    uint32_t dropped = 0;
    lcr_for_each_compiled_rule(routing, [&](const lcr_rule &rule) {
        // A value area filled to the brim has no NUL of its own.
        char digits[LCR_VALUE_SIZE + 1];
        size_t len = strnlen(rule.number, LCR_VALUE_SIZE);
        memcpy(digits, rule.number, len);
        digits[len] = '\0';
        // Doubling wraps like the 32-bit arithmetic of the device.
        auto provider_value = static_cast<int32_t>(static_cast<uint32_t>(rule.provider) * 2u);
        dropped += trie_insert(s, digits, route_to_area(rule.route, provider_value)) != 0;
        return true;
    });
    return dropped;
}

// Whether a timetable entry below LCR_PROVIDER_SLOTS names a provider the
// rule set has: provider value 2p for provider p of 0 to 9.
bool provider_exists(const compile_scratch *s, uint32_t value)
{
    uint32_t p = value / 2;
    return value % 2 == 0 && p < LCR_PROVIDER_COUNT && (s->present >> p & 1);
}

// First time slot of timetable `area` that names a provider the rule set
// lacks, or LCR_TIME_SLOTS when there is none (or the table is unused).
uint32_t first_missing_provider(const compile_scratch *s, uint32_t area)
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
// once, when a record first uses it; the first record in index order that
// fails is the one reported.
int validate(const compile_scratch *s)
{
    constexpr uint8_t UNCHECKED = 0xFF;
    uint8_t missing_at[LCR_TIMETABLES];
    memset(missing_at, UNCHECKED, sizeof missing_at);
    for (uint32_t t = 0; t < s->count; t++) {
        uint32_t area = s->pool[t].area;
        if (area == AREA_NONE || area == AREA_NO_TIMETABLE)
            continue;
        if (area > AREA_NO_TIMETABLE) {
            fprintf(stderr, "ERROR Area %d timetable does not exist (Tree point %d)\n",
                    static_cast<int>(area), static_cast<int>(t));
            return -1;
        }
        if (missing_at[area] == UNCHECKED)
            missing_at[area] = static_cast<uint8_t>(first_missing_provider(s, area));
        uint32_t j = missing_at[area];
        if (j < LCR_TIME_SLOTS) {
            fprintf(stderr,
                    "ERROR Provider value %d does not exist\n"
                    "(Tree point %d, Area value %d, Time %d)\n",
                    static_cast<int>(s->timetables[area].slot[j]), static_cast<int>(t),
                    static_cast<int>(area), static_cast<int>(j));
            return -1;
        }
    }
    return 0;
}

// Writes each field at its offset in the layout. The buffer was cleared
// first, so the zero bytes around the provider names are in place already.
void serialise(const compile_scratch *s, lcr_image_out *out)
{
    uint8_t word[4];
    put_le32(word, LCR_VERSION);
    lcr_put(out, LCR_OFF_VERSION, word, sizeof word);
    // A name may run on into the next slot, which then starts no name of
    // its own: only the even slots, provider p's slot 2p, ever start one.
    for (uint32_t p = 0; p < LCR_PROVIDER_COUNT; p++)
        if (s->present >> p & 1)
            lcr_put(out, lcr_provider_name_offset(p), s->names[p], static_cast<uint32_t>(strlen(s->names[p])) + 1);

    // The reserved block and the two reserved tables are zero in every image.
    static const uint8_t zeros[LCR_OFF_TIMETABLES - LCR_OFF_RESERVED_BLOCK] = {};
    lcr_put(out, LCR_OFF_RESERVED_BLOCK, zeros, sizeof zeros);
    // The slots are 32-bit entries; the image holds their low bytes. An
    // unused timetable was cleared with the rest, so it comes out as zeros.
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++) {
        uint8_t row[LCR_TIME_SLOTS];
        for (uint32_t j = 0; j < LCR_TIME_SLOTS; j++)
            row[j] = static_cast<uint8_t>(s->timetables[k].slot[j]);
        lcr_put(out, LCR_OFF_TIMETABLES + LCR_TIME_SLOTS * k, row, LCR_TIME_SLOTS);
    }

    // Pool node i is the node with index i, so the records come out in
    // index order without searching the trie.
    for (uint32_t i = 0; i < s->count; i++) {
        const trie_node &node = s->pool[i];
        uint8_t record[LCR_TRIE_RECORD_SIZE];
        record[0] = node.area;
        for (int d = 0; d < DIGITS; d++) {
            // Index 0 is the root, which is no one's child, so it marks "no child".
            uint32_t child = node.child[d] ? static_cast<uint32_t>(node.child[d]->index) : 0;
            put_le16(record + 1 + 2 * d, static_cast<uint16_t>(child));
        }
        lcr_put(out, lcr_record_offset(i), record, sizeof record);
    }
}

}  // namespace

int lcr_compile(const lcr_node *routing, lcr_image_out *out, uint32_t *dropped)
{
    compile_scratch *s = &scratch;
    memset(s, 0, sizeof *s);
    memset(out->buf, 0, LCR_IMAGE_MAX);
    out->len = 0;
    fill_fixed_timetables(s);
    s->present = lcr_read_provider_names(routing, s->names);
    *dropped = insert_rules(s, routing);
    if (validate(s) != 0)
        return -1;
    serialise(s, out);
    return 0;
}

int compile_lcr()
{
    const lcr_node *routing = lcr_find_sibling(current_tree, NODE_ROUTING);
    if (!routing)
        return -1;
    lcr_image_out out = {lcr_out_buf, 0};
    int result = lcr_compile(routing, &out, &lcr_dropped_rules);
    lcr_out_len = out.len;
    return result;
}

void lcr_put(lcr_image_out *out, uint32_t pos, const void *src, uint32_t len)
{
    // The pool bound keeps a compiled image within the buffer, but this is
    // the one place that writes to it, so it clips every write at the end
    // of the buffer itself. The room left is computed before comparing, so
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
