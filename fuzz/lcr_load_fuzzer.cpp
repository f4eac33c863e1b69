// SPDX-License-Identifier: MIT
// The image loader on arbitrary file contents.
//
// Each input is written to a file and loaded into a tree that already holds
// one rule and named providers. The result is checked against the readers'
// shared walk of the same bytes (which the unit tests hold to the layout):
//   - a file too short for its version word, or with a version other than 3,
//     is refused, and a wrong version is left in kelmar_lcr_version;
//   - a file with a whole fixed part and a trie in which no record is reached
//     twice loads, with exactly the walk's rules in pre-order and the
//     provider names of the bytes;
//   - a trie with a link, out of a record less than 20 digits deep, to a
//     record that is not wholly within the bytes read was cut, and one with
//     a record reached twice is joined: both are refused;
//   - a short fixed part may be refused; if it is loaded, the rules must
//     still be the walk's;
//   - a refused image leaves the tree exactly as it was;
//   - the tree keeps its invariants whatever happens, and nothing leaks.
#include <algorithm>
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

// What the trie of an image with `records` whole records holds, by the
// readers' shared walk: the rules in pre-order, whether a record is reached
// a second time (the walk stops there), and whether a link leads past the
// records read.
struct reference {
    std::vector<rule> rules;
    bool reached_twice = false;
    bool cut = false;
};

reference read_reference(const uint8_t *bytes, uint32_t records)
{
    reference ref;
    std::vector<bool> seen(records);
    char number[LCR_NUMBER_MAX_DIGITS + 1] = "";
    lcr_walk_trie(bytes, records, [&](const lcr_link &l) {
        ref.cut = ref.cut || l.kind == lcr_link_kind::past;
        if (l.kind != lcr_link_kind::record)
            return lcr_walk_step::pass;
        if (seen[l.to]) {
            ref.reached_twice = true;
            return lcr_walk_step::stop;
        }
        seen[l.to] = true;
        number[l.depth - 1] = static_cast<char>('0' + l.digit);
        number[l.depth] = '\0';
        if (uint8_t area = lcr_record_area(bytes, l.to); area != 255)
            ref.rules.push_back({number, area_to_route(area), area_to_provider(area)});
        return lcr_walk_step::follow;
    });
    return ref;
}

// The provider names of the bytes: at most 20 characters each, up to a NUL
// or the end of the bytes.
std::vector<std::string> reference_names(const uint8_t *bytes, size_t len)
{
    std::vector<std::string> names;
    for (int p = 0; p < 10; p++) {
        const size_t field = image_writer::name_offset(p);
        const char *name = reinterpret_cast<const char *>(bytes) + (field < len ? field : 0);
        names.emplace_back(name, field < len ? strnlen(name, std::min<size_t>(20, len - field)) : 0);
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
        const reference ref = read_reference(data, static_cast<uint32_t>(image_writer::records_in(len)));
        if (len >= image_writer::trie_offset && !ref.reached_twice && !ref.cut)
            require(result == 0, "well-formed image refused");
        if (ref.cut || ref.reached_twice)
            require(result == -1, "cut or joined image loaded");
        if (result == 0) {
            require(after.rules == ref.rules, "loaded rules differ from the image's");
            require(after.providers == reference_names(data, len), "provider names differ from the image's");
        }
    }
    if (result != 0)
        require(after == before, "refused image changed the tree");

    drop_tree(&head);
    return 0;
}
