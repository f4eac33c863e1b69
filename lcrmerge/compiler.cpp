#include "compiler.h"

#include <cstdio>
#include <cstring>

#include "rule.h"

namespace {

// Room for a provider name of LCR_PROVIDER_NAME_MAX characters and its NUL.
constexpr uint32_t PROVIDER_NAME_FIELD = 24;
// A name this long still fits its own slot together with its NUL.
constexpr uint32_t PROVIDER_SLOT_NAME_MAX = LCR_PROVIDER_SLOT_SIZE - 1;
constexpr int DIGITS = 10;

struct provider_entry {
    int32_t present;  // a "Provider" node of the rule set supplied this entry
    char name[PROVIDER_NAME_FIELD];
};

struct timetable {
    int32_t enabled;
    int32_t slot[LCR_TIME_SLOTS];  // provider value, or ROUTE_SLOT_BASE + route
};

struct trie_node {
    int32_t index;  // position in the pool and record number in the image
    trie_node *child[DIGITS];
    uint8_t area;  // AREA_NONE where no number ends
};

}  // namespace

// The image being written.
uint8_t lcr_out_buf[LCR_IMAGE_MAX];
// One past the highest byte of lcr_out_buf written so far.
uint32_t lcr_out_len;
// Where the serialiser writes its next field.
uint32_t lcr_out_pos;
// Rules of the last compile that did not go into the trie.
uint32_t lcr_dropped_rules;

namespace {

// Provider names by provider value; only the even values below 20 are filled.
provider_entry provider_table[LCR_PROVIDER_SLOTS];
// Always zero; their low bytes make up the image's two reserved tables.
int32_t reserved_table1[LCR_RESERVED_TABLE_SIZE];
int32_t reserved_table2[LCR_RESERVED_TABLE_SIZE];
// Timetables by area byte.
timetable timetables[LCR_TIMETABLES];
// Storage of the number trie: pool node i becomes record i of the image.
trie_node trie_pool[TRIE_MAX_NODES];
// Pool nodes taken so far.
uint32_t trie_count;
// Pool node 0 once the first number is inserted, null before.
trie_node *trie_root;

trie_node *trie_alloc()
{
    if (trie_count >= TRIE_MAX_NODES) {
        fputs("ERROR  Telefon locate tree too large\n", stderr);
        return nullptr;
    }
    trie_node *node = &trie_pool[trie_count];
    for (trie_node *&child : node->child)
        child = nullptr;
    node->area = AREA_NONE;
    node->index = static_cast<int32_t>(trie_count);
    trie_count++;
    return node;
}

// Enters `number` with the low 8 bits of `area`. Nodes made before an error
// stay in the trie with AREA_NONE; they are written as records all the same.
int trie_insert(const char *number, int32_t area)
{
    if (!trie_root) {
        trie_root = trie_alloc();
        if (!trie_root)
            return -1;
    }
    trie_node *node = trie_root;
    for (const char *c = number; *c; c++) {
        unsigned code = static_cast<unsigned char>(*c);
        // Unsigned, so characters below '0' wrap to large values and fail too.
        unsigned digit = static_cast<uint8_t>(code - '0');
        if (digit > 9) {
            fprintf(stderr, "ERROR: Illegal number digit = %x!\n", code);
            return -1;
        }
        if (!node->child[digit]) {
            node->child[digit] = trie_alloc();
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

void clear_state()
{
    memset(provider_table, 0, sizeof provider_table);
    memset(reserved_table1, 0, sizeof reserved_table1);
    memset(reserved_table2, 0, sizeof reserved_table2);
    memset(timetables, 0, sizeof timetables);
    trie_root = nullptr;
    trie_count = 0;
    lcr_dropped_rules = 0;
    lcr_out_len = 0;
    memset(lcr_out_buf, 0, sizeof lcr_out_buf);
}

// Area bytes 0 to 19 each get a timetable that gives, in every time slot,
// the same route or provider the area byte itself encodes.
void fill_fixed_timetables()
{
    for (uint32_t k = 0; k < LCR_FIXED_TIMETABLES; k++) {
        timetables[k].enabled = 1;
        for (int32_t &slot : timetables[k].slot)
            slot = lcr_compiled_timetable_entry(k);
    }
}

void collect_provider_names(const lcr_node *routing)
{
    for (const lcr_node *node = routing->child; node; node = node->next) {
        int p = lcr_provider_slot(node);
        if (p < 0)
            continue;
        provider_entry &entry = provider_table[2 * p];
        const char *name = lcr_value_string(node);
        memset(entry.name, 0, sizeof entry.name);
        memcpy(entry.name, name, strnlen(name, LCR_PROVIDER_NAME_MAX));
        entry.present = 1;
    }
}

// One trie entry per Group with a Number. A rule that fails to go in has
// already said why on stderr; it is dropped and counted, and the others
// still go in, so that every fault of the rule set is reported in one run.
void insert_rules(const lcr_node *routing)
{
    for (const lcr_node *group = routing->child; group; group = group->next) {
        if (!lcr_is(group, NODE_GROUP))
            continue;
        // A rule without a Route is one the provider decides.
        lcr_rule rule = lcr_read_rule(group, ROUTE_BY_PROVIDER, 0);
        if (!rule.number)
            continue;
        // A value area filled to the brim has no NUL of its own.
        char digits[LCR_VALUE_SIZE + 1];
        size_t len = strnlen(rule.number, LCR_VALUE_SIZE);
        memcpy(digits, rule.number, len);
        digits[len] = '\0';
        // Doubling wraps like the 32-bit arithmetic of the device.
        auto provider_value = static_cast<int32_t>(static_cast<uint32_t>(rule.provider) * 2u);
        if (trie_insert(digits, route_to_area(rule.route, provider_value)) != 0)
            lcr_dropped_rules++;
    }
}

// First time slot of timetable `area` that names a provider the rule set
// lacks, or LCR_TIME_SLOTS when there is none (or the table is unused).
uint32_t first_missing_provider(uint32_t area)
{
    const timetable &table = timetables[area];
    if (!table.enabled)
        return LCR_TIME_SLOTS;
    for (uint32_t j = 0; j < LCR_TIME_SLOTS; j++) {
        auto value = static_cast<uint32_t>(table.slot[j]);
        if (value < LCR_PROVIDER_SLOTS && !provider_table[value].present)
            return j;
    }
    return LCR_TIME_SLOTS;
}

// Every area byte in the trie needs a timetable, and every provider such a
// timetable names must exist. Area 64 is a number without a timetable, and
// the unused timetables 20 to 63 name nothing. Each timetable is checked
// once, when a record first uses it; the first record in index order that
// fails is the one reported.
int validate()
{
    constexpr uint8_t UNCHECKED = 0xFF;
    uint8_t missing_at[LCR_TIMETABLES];
    memset(missing_at, UNCHECKED, sizeof missing_at);
    for (uint32_t t = 0; t < trie_count; t++) {
        uint32_t area = trie_pool[t].area;
        if (area == AREA_NONE || area == AREA_NO_TIMETABLE)
            continue;
        if (area > AREA_NO_TIMETABLE) {
            fprintf(stderr, "ERROR Area %d timetable does not exist (Tree point %d)\n",
                    static_cast<int>(area), static_cast<int>(t));
            return -1;
        }
        if (missing_at[area] == UNCHECKED)
            missing_at[area] = static_cast<uint8_t>(first_missing_provider(area));
        uint32_t j = missing_at[area];
        if (j < LCR_TIME_SLOTS) {
            fprintf(stderr,
                    "ERROR Provider value %d does not exist\n"
                    "(Tree point %d, Area value %d, Time %d)\n",
                    static_cast<int>(timetables[area].slot[j]), static_cast<int>(t),
                    static_cast<int>(area), static_cast<int>(j));
            return -1;
        }
    }
    return 0;
}

void put_field(const void *src, uint32_t len)
{
    lcr_put(lcr_out_pos, src, len);
    lcr_out_pos += len;
}

void put_provider_names()
{
    static const uint8_t zero = 0;
    for (uint32_t v = 0; v < LCR_PROVIDER_SLOTS; v++) {
        const provider_entry &entry = provider_table[v];
        if (entry.present) {
            auto len = static_cast<uint32_t>(strlen(entry.name));
            lcr_put(lcr_out_pos, entry.name, len + 1);
            // A long name runs on into the next slot, which then starts no
            // name of its own. Only even slots are ever present, so the
            // skipped slot never holds a name.
            if (len > PROVIDER_SLOT_NAME_MAX) {
                lcr_out_pos += LCR_PROVIDER_SLOT_SIZE;
                v++;
            }
        } else {
            lcr_put(lcr_out_pos, &zero, 1);
        }
        lcr_out_pos += LCR_PROVIDER_SLOT_SIZE;
    }
}

// Fields are written through tables of 32-bit entries; the image holds
// their low bytes.
void put_low_bytes(const int32_t *entries, uint32_t count)
{
    static_assert(LCR_TIME_SLOTS <= LCR_RESERVED_TABLE_SIZE, "one row holds any table");
    uint8_t row[LCR_RESERVED_TABLE_SIZE];
    for (uint32_t i = 0; i < count; i++)
        row[i] = static_cast<uint8_t>(entries[i]);
    put_field(row, count);
}

void serialise()
{
    uint8_t word[4];
    put_le32(word, LCR_VERSION);
    lcr_put(LCR_OFF_VERSION, word, sizeof word);
    lcr_out_pos = LCR_OFF_PROVIDER_NAMES;
    put_provider_names();

    static const uint8_t reserved_block[LCR_RESERVED_BLOCK_SIZE] = {};
    put_field(reserved_block, sizeof reserved_block);
    put_low_bytes(reserved_table1, LCR_RESERVED_TABLE_SIZE);
    put_low_bytes(reserved_table2, LCR_RESERVED_TABLE_SIZE);

    static const int32_t unused[LCR_TIME_SLOTS] = {};
    for (const timetable &table : timetables)
        put_low_bytes(table.enabled ? table.slot : unused, LCR_TIME_SLOTS);

    // Pool node i is the node with index i, so the records come out in
    // index order without searching the trie.
    for (uint32_t i = 0; i < trie_count; i++) {
        const trie_node &node = trie_pool[i];
        uint8_t record[LCR_TRIE_RECORD_SIZE];
        record[0] = node.area;
        for (int d = 0; d < DIGITS; d++) {
            // Index 0 is the root, which is no one's child, so it marks "no child".
            uint32_t child = node.child[d] ? static_cast<uint32_t>(node.child[d]->index) : 0;
            put_le16(record + 1 + 2 * d, static_cast<uint16_t>(child));
        }
        put_field(record, sizeof record);
    }
}

}  // namespace

int compile_lcr()
{
    const lcr_node *routing = lcr_find_sibling(current_tree, NODE_ROUTING);
    if (!routing)
        return -1;
    clear_state();
    fill_fixed_timetables();
    collect_provider_names(routing);
    insert_rules(routing);
    if (validate() != 0)
        return -1;
    serialise();
    return 0;
}

void lcr_put(uint32_t pos, const void *src, uint32_t len)
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
        memcpy(lcr_out_buf + pos, src, len);
    if (pos + len > lcr_out_len)
        lcr_out_len = pos + len;
}
