#include "loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "image_format.h"

// Version word of the image last rejected for it; 0 after any other call.
int32_t kelmar_lcr_version = 0;

namespace {

// Most trie records a read can hold: the bytes after the fixed sections of
// an LCR_IMAGE_MAX read.
constexpr uint32_t MAX_READ_RECORDS = (LCR_IMAGE_MAX - LCR_OFF_TRIE) / LCR_TRIE_RECORD_SIZE;

// One image being loaded: the bytes read and what the trie walks need.
struct trie_image {
    const uint8_t *bytes;
    uint32_t records;  // whole records within the bytes read
    lcr_node **list_head;
    // Records the checking walk has read, so a second arrival is seen.
    uint8_t visited[(MAX_READ_RECORDS + 7) / 8];
};

// Child index of `record` for digit d, or 0 when there is none. Both 0 and
// 0xFFFF are "no child", and so is an index whose record was not read in
// full: the walks never look past the bytes read.
uint32_t child_record(const trie_image *img, uint32_t record, int d)
{
    uint32_t c = get_le16(img->bytes + lcr_record_offset(record) + 1 + 2 * d);
    if (c == LCR_CHILD_NONE_ALT || c >= img->records)
        return 0;
    return c;
}

// Checks that no record is read twice by the decoding walk below, which
// would mean joined branches or a cycle. A record counts as read when it
// lies within the 20-digit limit (depth 0 to 20 below the root). Links out
// of a record 20 digits deep are never followed, so they may point
// anywhere, back into the trie included, without making the image
// malformed. Each record is read at most once here, so the check is linear
// in the bytes read whatever the links say.
bool trie_is_tree(trie_image *img, uint32_t record, uint32_t depth)
{
    uint8_t bit = static_cast<uint8_t>(1u << (record % 8));
    if (img->visited[record / 8] & bit)
        return false;
    img->visited[record / 8] |= bit;
    if (depth == LCR_NUMBER_MAX_DIGITS)
        return true;
    for (int d = 0; d < 10; d++) {
        uint32_t c = child_record(img, record, d);
        if (c && !trie_is_tree(img, c, depth + 1))
            return false;
    }
    return true;
}

// Appends the rule of one record under "Routing". Returns false, with
// nothing left behind, when a node cannot be created.
bool add_loaded_rule(const trie_image *img, lcr_node *routing, uint8_t area, const char *number)
{
    lcr_node *group = kelmar_alloc_node(routing, img->list_head, NODE_GROUP);
    if (!group)
        return false;
    lcr_node *route = kelmar_alloc_node(group, img->list_head, NODE_ROUTE);
    lcr_node *num = route ? kelmar_alloc_node(group, img->list_head, NODE_NUMBER) : nullptr;
    lcr_node *provider = num ? kelmar_alloc_node(group, img->list_head, NODE_PROVIDER) : nullptr;
    if (!provider) {
        // The Group is the last child, so removing it renumbers nothing.
        kelmar_free_node(group);
        return false;
    }
    lcr_set_int(route, area_to_route(area));
    lcr_set_string(num, number, LCR_NUMBER_MAX_DIGITS);
    lcr_set_int(provider, area_to_provider(area));
    return true;
}

// Makes a rule of `record` and of every record below it, in pre-order with
// ascending digits. `digit` leads to the record from its parent (-1 for the
// root, which never makes a rule) and `prefix` is the parent's number. Runs
// only on a trie that trie_is_tree accepted, so it ends within 22 nested
// calls and reads every record at most once. Returns false as soon as a
// rule cannot be created; the rules made so far stay for the caller to
// remove.
bool decode_lcr_trie(const trie_image *img, uint32_t record, int digit, const char *prefix, lcr_node *routing)
{
    size_t len = strlen(prefix);
    if (len == LCR_NUMBER_MAX_DIGITS)
        return true;
    char number[LCR_NUMBER_MAX_DIGITS + 1];
    memcpy(number, prefix, len);
    if (digit >= 0)
        number[len++] = static_cast<char>('0' + digit);
    number[len] = '\0';

    uint8_t area = img->bytes[lcr_record_offset(record)];
    if (area != AREA_NONE && digit >= 0 && !add_loaded_rule(img, routing, area, number))
        return false;
    for (int d = 0; d < 10; d++) {
        uint32_t c = child_record(img, record, d);
        if (c && !decode_lcr_trie(img, c, d, number, routing))
            return false;
    }
    return true;
}

// Reads at most LCR_IMAGE_MAX bytes of `path`; the length read, or -1. A
// regular file comes in one request. A pipe or a device may hand over less
// than it holds, so reading goes on to the end of the input: a part of an
// image must not pass for the whole of it.
ssize_t read_image_file(const char *path, uint8_t *buf)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return -1;
    ssize_t got = 0;
    while (got < static_cast<ssize_t>(LCR_IMAGE_MAX)) {
        ssize_t n = read(fd, buf + got, LCR_IMAGE_MAX - static_cast<size_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            got = -1;
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    close(fd);
    return got;
}

// Removes the "Group" nodes from `first` up to, not including, `stop`.
void remove_rules(lcr_node *first, const lcr_node *stop)
{
    lcr_node *node = first;
    while (node != stop) {
        // Taken before the removal frees the node.
        lcr_node *next = node->next;
        if (lcr_name_is(node, NODE_GROUP))
            kelmar_free_node(node);
        node = next;
    }
}

void load_provider_names(lcr_node *routing, const uint8_t *bytes)
{
    for (lcr_node *node = routing->child; node; node = node->next) {
        if (!lcr_name_is(node, NODE_PROVIDER) || node->index < 0 || node->index >= LCR_PROVIDER_COUNT)
            continue;
        const char *name = reinterpret_cast<const char *>(bytes + lcr_provider_name_offset(node->index));
        lcr_set_string(node, name, LCR_PROVIDER_NAME_MAX);
    }
}

// Everything about the bytes read that can make the image unusable, checked
// before the tree is touched.
int check_image(trie_image *img, uint32_t len)
{
    // A file too short for its version word cannot be judged by it.
    if (len < 4)
        return -1;
    uint32_t version = get_le32(img->bytes + LCR_OFF_VERSION);
    if (version != LCR_VERSION) {
        kelmar_lcr_version = static_cast<int32_t>(version);
        return -1;
    }
    // The names and the trie lie after the fixed sections; a file that ends
    // inside them is not an image this system wrote.
    if (len < LCR_OFF_TRIE)
        return -1;
    img->records = (len - LCR_OFF_TRIE) / LCR_TRIE_RECORD_SIZE;
    memset(img->visited, 0, sizeof img->visited);
    if (img->records > 0 && !trie_is_tree(img, 0, 0))
        return -1;
    return 0;
}

}  // namespace

int load_lcr_image(const char *path, lcr_node **list_head)
{
    kelmar_lcr_version = 0;
    lcr_node *routing = list_head ? lcr_find_sibling(*list_head, NODE_ROUTING) : nullptr;
    if (!routing)
        return -1;
    auto *buf = static_cast<uint8_t *>(malloc(LCR_IMAGE_MAX));
    if (!buf)
        return -1;
    ssize_t len = read_image_file(path, buf);
    trie_image img{buf, 0, list_head, {}};
    if (len < 0 || check_image(&img, static_cast<uint32_t>(len)) != 0) {
        free(buf);
        return -1;
    }

    // The image's rules are appended behind the old ones, which go only
    // once every new rule is in place. A rule that cannot be created (memory
    // ran out) fails the load and takes the new rules with it: a rule set
    // with rules missing must not pass for the image's.
    lcr_node *last_old = routing->child;
    while (last_old && last_old->next)
        last_old = last_old->next;
    bool whole = img.records == 0 || decode_lcr_trie(&img, 0, -1, "", routing);
    lcr_node *first_new = last_old ? last_old->next : routing->child;
    if (!whole) {
        remove_rules(first_new, nullptr);
        free(buf);
        return -1;
    }
    remove_rules(routing->child, first_new);
    load_provider_names(routing, buf);
    free(buf);
    return 0;
}
