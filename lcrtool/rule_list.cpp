#include "rule_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "loader.h"
#include "messages.h"
#include "rule.h"

int rule_list_append(rule_list *list, const tool_rule *rule)
{
    if (list->count == list->capacity) {
        size_t capacity = list->capacity ? 2 * list->capacity : 64;
        void *grown = realloc(list->rules, capacity * sizeof *list->rules);
        if (!grown)
            return -1;
        list->rules = static_cast<tool_rule *>(grown);
        list->capacity = capacity;
    }
    list->rules[list->count++] = *rule;
    return 0;
}

void rule_list_free(rule_list *list)
{
    free(list->rules);
    list->rules = nullptr;
    list->count = list->capacity = 0;
}

static int compare_rules(const void *a, const void *b)
{
    const auto *x = static_cast<const tool_rule *>(a);
    const auto *y = static_cast<const tool_rule *>(b);
    int c = strcmp(x->number, y->number);
    if (c != 0)
        return c;
    return (x->line > y->line) - (x->line < y->line);
}

void sort_rules(rule_list *list)
{
    if (list->count > 1)
        qsort(list->rules, list->count, sizeof *list->rules, compare_rules);
}

size_t shared_prefix(const char *a, const char *b, size_t max)
{
    size_t n = 0;
    while (n < max && a[n] && a[n] == b[n])
        n++;
    return n;
}

uint8_t rule_area(const tool_rule *rule)
{
    return static_cast<uint8_t>(route_to_area(rule->route, 2 * rule->provider));
}

void compiled_fixed_part(const rule_list *list, uint8_t *fixed)
{
    memset(fixed, 0, LCR_OFF_TRIE);
    put_le32(fixed + LCR_OFF_VERSION, LCR_VERSION);
    for (int p = 0; p < LCR_PROVIDER_COUNT; p++)
        memcpy(fixed + lcr_provider_name_offset(p), list->names[p], strlen(list->names[p]));
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++)
        memset(fixed + LCR_OFF_TIMETABLES + LCR_TIME_SLOTS * k, lcr_compiled_timetable_entry(k), LCR_TIME_SLOTS);
}

// The rules with the compiler's defaults for a missing Route or Provider,
// since a dump shows what the image built from them holds. A Group without
// a Number is no rule. The area byte is the one stored in the image.
static int collect_rules(const lcr_node *routing, loaded_image *img)
{
    lcr_read_provider_names(routing, img->list.names);
    bool whole = lcr_for_each_compiled_rule(routing, [&](const lcr_rule &read) {
        tool_rule rule = {{}, read.route, read.provider, 0, 0};
        memcpy(rule.number, read.number, strnlen(read.number, LCR_NUMBER_MAX_DIGITS));
        uint32_t record = 0;
        trie_longest_rule(img->bytes, img->len, rule.number, &record);
        rule.area = img->bytes[lcr_record_offset(record)];
        return rule_list_append(&img->list, &rule) == 0;
    });
    return whole ? 0 : -1;
}

size_t trie_longest_rule(const uint8_t *bytes, uint32_t len, const char *number, uint32_t *found_record)
{
    size_t found = 0;
    uint32_t record = 0;
    uint32_t records = lcr_records_in(len);
    if (records == 0)
        return 0;
    for (size_t depth = 0; depth < LCR_NUMBER_MAX_DIGITS && number[depth]; depth++) {
        const uint8_t *links = bytes + lcr_record_offset(record) + 1;
        uint32_t child = lcr_child_link(links, static_cast<uint32_t>(number[depth] - '0'), records);
        if (child == 0)
            break;
        record = child;
        if (bytes[lcr_record_offset(record)] != AREA_NONE) {
            found = depth + 1;
            *found_record = record;
        }
    }
    return found;
}

void report_load_failure(const char *path, lcr_load_status status, uint32_t len)
{
    switch (status) {
    case lcr_load_status::bad_version:
        report(path, "not a version-3 lcr image (version word %u)", static_cast<unsigned>(kelmar_lcr_version));
        break;
    case lcr_load_status::too_short:
        report(path, "too short for an lcr image (%u bytes)", static_cast<unsigned>(len));
        break;
    case lcr_load_status::joined:
        report(path, "not a valid version-3 lcr image");
        break;
    case lcr_load_status::cut:
        report(path, "cut short: the trie links past the %u bytes read", static_cast<unsigned>(len));
        break;
    default:
        report(path, "out of memory");
        break;
    }
}

// What follows a read of `len` bytes from `fd`, as read_image tells it;
// -1 on a read error.
static int bytes_past(int fd, ssize_t len, uint64_t *past)
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

int read_image(const char *path, loaded_image *img, uint64_t *past)
{
    *img = loaded_image{};
    img->bytes = static_cast<uint8_t *>(malloc(LCR_IMAGE_MAX));
    if (!img->bytes) {
        report(path, "out of memory");
        return -1;
    }
    int fd = open(path, O_RDONLY);
    ssize_t len = fd < 0 ? -1 : lcr_read_image_fd(fd, img->bytes);
    if (len >= 0 && past && bytes_past(fd, len, past) != 0)
        len = -1;
    int err = errno;
    if (fd >= 0)
        close(fd);
    if (len < 0) {
        report(path, "%s", strerror(err));
        loaded_image_free(img);
        return -1;
    }
    img->len = static_cast<uint32_t>(len);
    return 0;
}

lcr_load_status load_read_image(loaded_image *img)
{
    lcr_node *tree = nullptr;
    lcr_node *routing = lcr_build_skeleton_routing(&tree);
    lcr_load_status status = routing ? lcr_load_image_bytes(img->bytes, img->len, &tree)
                                     : lcr_load_status::out_of_memory;
    if (status == lcr_load_status::loaded && collect_rules(routing, img) != 0)
        status = lcr_load_status::out_of_memory;
    kelmar_free_list(tree);
    return status;
}

int load_image(const char *path, loaded_image *img)
{
    if (read_image(path, img, nullptr) != 0)
        return -1;
    lcr_load_status status = load_read_image(img);
    if (status != lcr_load_status::loaded) {
        report_load_failure(path, status, img->len);
        loaded_image_free(img);
        return -1;
    }
    return 0;
}

void loaded_image_free(loaded_image *img)
{
    free(img->bytes);
    img->bytes = nullptr;
    img->len = 0;
    rule_list_free(&img->list);
}
