// SPDX-License-Identifier: MIT
#include "loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "image_format.h"
#include "node_block.h"
#include "rule.h"

// Version word of the image last rejected for it; 0 after any other call.
int32_t kelmar_lcr_version = 0;

namespace {

// A record the decoding reaches, in the order it reaches them.
struct trie_visit {
    uint16_t record;
    uint8_t digit;  // that leads to the record from its parent
    uint8_t depth;  // digits from the root: the length of its number
};

// One image being loaded: the bytes read and what the trie walks need.
struct trie_image {
    const uint8_t *bytes;
    uint32_t records;  // whole records within the bytes read
    lcr_node **list_head;
    // Records the checking walk has read, so a second arrival is seen.
    uint8_t visited[(LCR_MAX_READ_RECORDS + 7) / 8];
    // The records the checking walk read, in pre-order with ascending
    // digits: the order in which their rules are made. Each is read at most
    // once, so `visits` stays within `records`.
    trie_visit order[LCR_MAX_READ_RECORDS];
    uint32_t visits;
    uint32_t rules;  // visited records below the root with an area byte
    lcr_load_status status;  // of the checking walk
};

// Notes a record below the root that the decoding reaches: the order, and
// a rule when it has an area byte. False when the record was read before.
bool note(trie_image *img, uint32_t record, uint32_t digit, uint32_t depth)
{
    uint8_t bit = static_cast<uint8_t>(1u << (record % 8));
    if (img->visited[record / 8] & bit)
        return false;
    img->visited[record / 8] |= bit;
    img->order[img->visits++] = {static_cast<uint16_t>(record), static_cast<uint8_t>(digit),
                                 static_cast<uint8_t>(depth)};
    img->rules += lcr_record_area(img->bytes, record) != AREA_NONE;
    return true;
}

// Checks that no record is read twice by the decoding walk, which would
// mean joined branches or a cycle, and that every link the walk follows
// leads to a record wholly within the bytes read: a link past them means
// the file was cut, and loading what is left would pass a smaller rule set
// for the table. Notes the records in the order the decoding takes them. A
// record counts as read when it lies within the 20-digit limit (depth 0 to
// 20 below the root). Links out of a record 20 digits deep are never
// followed, so they may point anywhere, back into the trie or past its end
// included, without making the image malformed. Each record is read at
// most once here, so the check is linear in the bytes read whatever the
// links say.
lcr_load_status walk_trie(trie_image *img)
{
    lcr_walk_trie(img->bytes, img->records, [img](const lcr_link &link) {
        if (link.kind == lcr_link_kind::too_deep)
            return lcr_walk_step::pass;
        if (link.kind == lcr_link_kind::past) {
            img->status = lcr_load_status::cut;
            return lcr_walk_step::stop;
        }
        if (!note(img, link.to, link.digit, link.depth)) {
            img->status = lcr_load_status::joined;
            return lcr_walk_step::stop;
        }
        return lcr_walk_step::follow;
    });
    return img->status;
}

// Makes a rule of every record with an area byte below the root, in the
// order walk_trie noted them: pre-order with ascending digits, a
// record's number being its parent's and its own digit. The nodes come
// from the caller's reservation, so no creation fails.
void decode_lcr_trie(const trie_image *img, lcr_node *routing, const lcr_loaded_rule_sink *rules)
{
    char number[LCR_NUMBER_MAX_DIGITS + 1];
    for (uint32_t i = 0; i < img->visits; i++) {
        const trie_visit &v = img->order[i];
        // The root (depth 0) has the empty number and makes no rule.
        if (v.depth == 0)
            continue;
        // Pre-order: the parent's digits are in place, those of a deeper
        // record visited before are cut off here.
        number[v.depth - 1] = static_cast<char>('0' + v.digit);
        number[v.depth] = '\0';
        uint8_t area = lcr_record_area(img->bytes, v.record);
        if (area == AREA_NONE)
            continue;
        lcr_rule rule = {number, area_to_route(area), area_to_provider(area)};
        lcr_build_rule(routing, img->list_head, rule, lcr_child_order::route_number_provider);
        if (rules)
            rules->rule(rules->context, rule, area);
    }
}

// Everything about the bytes read that can make the image unusable, checked
// before the tree is touched.
lcr_load_status check_bytes(trie_image *img, uint32_t len)
{
    // A file too short for its version word cannot be judged by it.
    if (len < 4)
        return lcr_load_status::too_short;
    uint32_t version = get_le32(img->bytes + LCR_OFF_VERSION);
    if (version != LCR_VERSION) {
        kelmar_lcr_version = static_cast<int32_t>(version);
        return lcr_load_status::bad_version;
    }
    // The names and the trie lie after the fixed sections; a file that ends
    // inside them is not an image this system wrote.
    if (len < LCR_OFF_TRIE)
        return lcr_load_status::too_short;
    img->records = lcr_records_in(len);
    return img->records > 0 ? walk_trie(img) : lcr_load_status::loaded;
}

}  // namespace

ssize_t lcr_read_image_fd(int fd, uint8_t *buf)
{
    ssize_t got = 0;
    while (got < static_cast<ssize_t>(LCR_IMAGE_MAX)) {
        ssize_t n = read(fd, buf + got, LCR_IMAGE_MAX - static_cast<size_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

lcr_load_status lcr_load_image_bytes(const uint8_t *bytes, uint32_t len, lcr_node **list_head,
                                     const lcr_loaded_rule_sink *rules)
{
    kelmar_lcr_version = 0;
    lcr_node *routing = list_head ? lcr_find_sibling(*list_head, NODE_ROUTING) : nullptr;
    if (!routing)
        return lcr_load_status::no_routing;
    // The walk starts at the root, record 0, which it has read already: its
    // visit in `order` is zero, and its empty number makes no rule.
    trie_image img{bytes, 0, list_head, {}, {}, 1, 0, lcr_load_status::loaded};
    img.visited[0] = 1;
    lcr_load_status status = check_bytes(&img, len);
    if (status != lcr_load_status::loaded)
        return status;

    // The image's rules are appended behind the old ones, which go only
    // once every new rule is in place: a rule set with rules missing must
    // not pass for the image's. The one guarantee of that is this
    // reservation, made before the tree is touched: it covers the next
    // `img.rules * LCR_RULE_NODES` creations with no removal in between,
    // and the decoding makes exactly those and removes nothing, so it
    // cannot run out of memory and needs no rollback.
    if (!lcr_reserve_nodes(size_t{img.rules} * LCR_RULE_NODES))
        return lcr_load_status::out_of_memory;
    lcr_node *last_old = routing->last_child;
    decode_lcr_trie(&img, routing, rules);
    // The old rules are the Groups before the first new one, all of them
    // when the image holds no rule.
    lcr_node *first_new = last_old ? last_old->next : routing->child;
    bool old = true;
    lcr_remove_children_if(routing, NODE_GROUP, [&](const lcr_node *group) {
        old = old && group != first_new;
        return old;
    });
    lcr_write_provider_names(routing, reinterpret_cast<const char *>(bytes + LCR_OFF_PROVIDER_NAMES),
                             LCR_PROVIDER_NAME_STRIDE);
    return lcr_load_status::loaded;
}

int load_lcr_image(const char *path, lcr_node **list_head)
{
    kelmar_lcr_version = 0;
    // Without a "Routing" node neither is the buffer allocated nor the file
    // opened.
    if (!list_head || !lcr_find_sibling(*list_head, NODE_ROUTING))
        return -1;
    auto *buf = static_cast<uint8_t *>(malloc(LCR_IMAGE_MAX));
    if (!buf)
        return -1;
    int fd = open(path, O_RDONLY);
    ssize_t len = fd < 0 ? -1 : lcr_read_image_fd(fd, buf);
    if (fd >= 0)
        close(fd);
    bool loaded = len >= 0 && lcr_load_image_bytes(buf, static_cast<uint32_t>(len), list_head) ==
                                  lcr_load_status::loaded;
    free(buf);
    return loaded ? 0 : -1;
}
