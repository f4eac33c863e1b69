// SPDX-License-Identifier: MIT
#include "loaded_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compiler.h"
#include "messages.h"

namespace {

// What follows a read of `len` bytes from `fd`, as read_image tells it;
// -1 on a read error.
int bytes_past(int fd, ssize_t len, uint64_t *past)
{
    *past = 0;
    if (len < static_cast<ssize_t>(LCR_IMAGE_MAX))
        return 0;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (st.st_size > len)
            *past = static_cast<uint64_t>(st.st_size - len);
        return 0;
    }
    uint8_t byte;
    ssize_t n;
    do
        n = read(fd, &byte, 1);
    while (n < 0 && errno == EINTR);
    if (n > 0)
        *past = PAST_UNKNOWN;
    return n < 0 ? -1 : 0;
}

// Each rule the loader makes, with the compiler's defaults it has (the
// loader gives every rule a Route and a Provider) and the area byte stored
// in the image.
struct rule_collector {
    rule_list *list;
    bool out_of_memory;
};

void collect_rule(void *context, const lcr_rule &read, uint8_t area)
{
    auto *c = static_cast<rule_collector *>(context);
    tool_rule rule = {{}, read.route, read.provider, 0, area};
    memcpy(rule.number, read.number, strnlen(read.number, LCR_NUMBER_MAX_DIGITS));
    if (!c->out_of_memory && rule_list_append(c->list, &rule) != 0)
        c->out_of_memory = true;
}

}  // namespace

const char *input_name(const char *path)
{
    return strcmp(path, "-") == 0 ? "standard input" : path;
}

void fixed_part_of_names(const rule_list *list, uint8_t *fixed)
{
    memset(fixed, 0, LCR_OFF_TRIE);
    lcr_image_out out = {fixed, 0};
    lcr_write_fixed_part(list->names, (1u << LCR_PROVIDER_COUNT) - 1, &out);
}

size_t trie_longest_rule(const uint8_t *bytes, uint32_t len, const char *number, uint32_t *found_record)
{
    size_t found = 0;
    // Only the link for the number's next digit is followed, and the walk
    // stops where the number ends or a link leads past the bytes read.
    lcr_walk_trie(bytes, lcr_records_in(len), [&](const lcr_link &link) {
        if (link.digit != static_cast<uint32_t>(number[link.depth - 1] - '0'))
            return lcr_walk_step::pass;
        if (link.kind != lcr_link_kind::record)
            return lcr_walk_step::stop;
        if (lcr_record_area(bytes, link.to) != AREA_NONE) {
            found = link.depth;
            *found_record = link.to;
        }
        return number[link.depth] ? lcr_walk_step::follow : lcr_walk_step::stop;
    });
    return found;
}

void load_failure_reason(lcr_load_status status, const loaded_image *img, char *text, size_t size)
{
    auto len = static_cast<unsigned>(img->len);
    switch (status) {
    case lcr_load_status::bad_version:
        snprintf(text, size, "not a version-3 lcr image (version word %u)", static_cast<unsigned>(get_le32(img->bytes)));
        break;
    case lcr_load_status::too_short:
        snprintf(text, size, "too short for an lcr image (%u bytes)", len);
        break;
    case lcr_load_status::joined:
        snprintf(text, size, "not a valid version-3 lcr image");
        break;
    case lcr_load_status::cut:
        snprintf(text, size, "cut short: the trie links past the %u bytes read", len);
        break;
    default:
        snprintf(text, size, "out of memory");
        break;
    }
}

void report_load_failure(const char *path, lcr_load_status status, const loaded_image *img)
{
    char why[80];
    load_failure_reason(status, img, why, sizeof why);
    report(input_name(path), "%s", why);
}

int read_image(const char *path, loaded_image *img, uint64_t *past)
{
    *img = loaded_image{};
    img->bytes = static_cast<uint8_t *>(malloc(LCR_IMAGE_MAX));
    if (!img->bytes) {
        report(input_name(path), "out of memory");
        return -1;
    }
    bool from_stdin = strcmp(path, "-") == 0;
    int fd = from_stdin ? STDIN_FILENO : open(path, O_RDONLY);
    ssize_t len = fd < 0 ? -1 : lcr_read_image_fd(fd, img->bytes);
    if (len >= 0 && past && bytes_past(fd, len, past) != 0)
        len = -1;
    int err = errno;
    if (fd >= 0 && !from_stdin)
        close(fd);
    if (len < 0) {
        report(input_name(path), "%s", strerror(err));
        loaded_image_free(img);
        return -1;
    }
    img->len = static_cast<uint32_t>(len);
    return 0;
}

lcr_load_status load_read_image(loaded_image *img, lcr_node **keep)
{
    lcr_node *tree = nullptr;
    lcr_node *routing = lcr_build_skeleton_routing(&tree);
    rule_collector collector = {&img->list, false};
    lcr_loaded_rule_sink sink = {collect_rule, &collector};
    lcr_load_status status = routing ? lcr_load_image_bytes(img->bytes, img->len, &tree, &sink)
                                     : lcr_load_status::out_of_memory;
    if (status == lcr_load_status::loaded)
        lcr_read_provider_names(routing, img->list.names);
    if (collector.out_of_memory)
        status = lcr_load_status::out_of_memory;
    if (keep && status == lcr_load_status::loaded) {
        *keep = tree;
        return status;
    }
    if (keep)
        *keep = nullptr;
    kelmar_free_list(tree);
    return status;
}

int load_image(const char *path, loaded_image *img)
{
    if (read_image(path, img, nullptr) != 0)
        return -1;
    lcr_load_status status = load_read_image(img);
    if (status != lcr_load_status::loaded) {
        report_load_failure(path, status, img);
        loaded_image_free(img);
        return -1;
    }
    return 0;
}

void loaded_image_free(loaded_image *img)
{
    free(img->bytes);
    rule_list_free(&img->list);
    *img = loaded_image{};
}
