// SPDX-License-Identifier: MIT
// The image loader on arbitrary file contents.
//
// Each input is written to a file and loaded into a tree that already holds
// one rule and named providers. The result is checked against a reference
// walk of the same bytes, written here from the image layout (its rules
// decoded by the area-byte codec, which the unit tests hold to the
// design's table):
//   - a file too short for its version word, or with a version other than 3,
//     is refused, and a wrong version is left in kelmar_lcr_version;
//   - a file with a whole fixed part and a trie in which no record is reached
//     twice loads, with exactly the reference rules in pre-order and the
//     reference provider names;
//   - a trie with a link, out of a record less than 20 digits deep, to a
//     record that is not wholly within the bytes read was cut and is refused;
//   - anything else (a short fixed part, joined branches, cycles) may be
//     refused; if it is loaded, the rules must still be the reference ones;
//   - a refused image leaves the tree exactly as it was;
//   - the tree keeps its invariants whatever happens, and nothing leaks.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image_format.h"
#include "image_writer.h"
#include "loader.h"
#include "merge.h"
#include "tree_check.h"

namespace {

constexpr size_t read_max = 16392;
// Bound on the reference walk: a well-formed trie has at most 500 records,
// so a walk this long has gone round a join or a cycle many times.
constexpr size_t walk_limit = 100000;

struct reference {
    const uint8_t *bytes;
    size_t len;
    size_t records;
    std::vector<unsigned> arrivals;
    bool reached_twice = false;  // within 20 digits of the root
    bool cut = false;            // a followed link leads past the records read
    bool exploded = false;
    size_t steps = 0;
    std::vector<rule> rules;

    unsigned link(size_t rec, int d) const
    {
        size_t off = image_writer::link_offset(rec, d);
        return bytes[off] | bytes[off + 1] << 8;
    }

    unsigned child(size_t rec, int d) const
    {
        unsigned c = link(rec, d);
        if (c == 0 || c == 0xFFFF || c >= records)
            return 0;
        return c;
    }

    // Marks the records within 20 digits of the root, stopping at the first
    // one reached a second time; linear in the records.
    void check_arrivals(size_t rec, size_t depth)
    {
        if (depth > 20 || reached_twice)
            return;
        if (++arrivals[rec] > 1) {
            reached_twice = true;
            return;
        }
        for (int d = 0; d < 10; d++) {
            unsigned l = link(rec, d);
            if (depth < 20 && l != 0 && l != 0xFFFF && l >= records)
                cut = true;
            if (unsigned c = child(rec, d))
                check_arrivals(c, depth + 1);
        }
    }

    void walk(size_t rec, int digit, const std::string &prefix)
    {
        if (prefix.size() == 20 || exploded)
            return;
        if (++steps > walk_limit) {
            exploded = true;
            return;
        }
        std::string number = prefix;
        if (digit >= 0)
            number += static_cast<char>('0' + digit);
        unsigned area = bytes[image_writer::record_offset(rec)];
        if (area != 255 && digit >= 0)
            rules.push_back({number, area_to_route(area), area_to_provider(area)});
        for (int d = 0; d < 10; d++)
            if (unsigned c = child(rec, d))
                walk(c, d, number);
    }
};

std::vector<std::string> reference_names(const uint8_t *bytes, size_t len)
{
    std::vector<std::string> names;
    for (size_t p = 0; p < 10; p++) {
        std::string name;
        const size_t field = image_writer::name_offset(static_cast<int>(p));
        for (size_t i = 0; i < 20 && field + i < len; i++) {
            char c = static_cast<char>(bytes[field + i]);
            if (!c)
                break;
            name += c;
        }
        names.push_back(name);
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lcr_node *head;
    lcr_node *routing = make_tree(&head);
    add_rule(routing, &head, "999", 5, 0);
    for (lcr_node *c = routing->child; c; c = c->next)
        if (lcr_name_is(c, NODE_PROVIDER))
            lcr_set_string(c, "old", 3);
    const rule_set before = read_rule_set(head);

    kelmar_lcr_version = 12345;
    int result = load_lcr_image(scratch_image(data, size), &head);
    check_tree(head);
    const rule_set after = read_rule_set(head);

    const size_t len = size < read_max ? size : read_max;
    const uint32_t version = len >= 4 ? uint32_t{data[0]} | uint32_t{data[1]} << 8 |
                                            uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24
                                      : 0;
    if (len < 4 || version != 3) {
        require(result == -1, "image without version 3 loaded");
        require(kelmar_lcr_version == (len < 4 ? 0 : static_cast<int32_t>(version)),
                "kelmar_lcr_version does not hold the refused version word");
    } else {
        require(kelmar_lcr_version == 0, "kelmar_lcr_version not cleared");
        reference ref;
        ref.bytes = data;
        ref.len = len;
        ref.records = image_writer::records_in(len);
        ref.arrivals.assign(ref.records, 0);
        if (ref.records > 0)
            ref.check_arrivals(0, 0);
        const bool well_formed = len >= image_writer::trie_offset && !ref.reached_twice && !ref.cut;
        if (well_formed)
            require(result == 0, "well-formed image refused");
        if (ref.cut && !ref.reached_twice)
            require(result == -1, "cut image loaded");
        if (result == 0) {
            if (ref.records > 0)
                ref.walk(0, -1, "");
            require(!ref.exploded, "image whose walk does not end was loaded");
            require(after.rules == ref.rules, "loaded rules differ from the image's");
            require(after.providers == reference_names(data, len), "provider names differ from the image's");
        }
    }
    if (result != 0)
        require(after == before, "refused image changed the tree");

    drop_tree(&head);
    return 0;
}
