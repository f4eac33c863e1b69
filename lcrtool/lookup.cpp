// lookup: the rule of an image that each dialled number meets, and what the
// timetable of that rule's area names.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "image_format.h"
#include "messages.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

void report_changed(const char *path)
{
    report(path, "image changed while it was read");
}

// Timetable entries 240 to 249 are the fixed routes 0 to 9.
constexpr int ROUTE_COUNT = 10;
constexpr unsigned MINUTES_PER_SLOT = 24 * 60 / LCR_TIME_SLOTS;

// The image's bytes as the loader reads them: one read of at most
// LCR_IMAGE_MAX bytes.
struct image_bytes {
    uint8_t *data;
    size_t len;
};

// The loader keeps neither the area byte as stored nor the timetables, so
// the file is read a second time for them. It is opened without blocking so
// that a FIFO with no writer left cannot hang the run.
int read_image_bytes(const char *path, image_bytes *img)
{
    img->len = 0;
    img->data = static_cast<uint8_t *>(malloc(LCR_IMAGE_MAX));
    if (!img->data) {
        report(path, "out of memory");
        return -1;
    }
    int fd = open(path, O_RDONLY | O_NONBLOCK);
    ssize_t n = fd < 0 ? -1 : read(fd, img->data, LCR_IMAGE_MAX);
    int err = errno;
    if (fd >= 0)
        close(fd);
    if (n < 0) {
        report(path, "%s", strerror(err));
        return -1;
    }
    img->len = static_cast<size_t>(n);
    // The loader took the file, so it reached at least the trie's offset.
    if (img->len < LCR_OFF_TRIE) {
        report_changed(path);
        return -1;
    }
    return 0;
}

// Length of the longest prefix of `number` whose trie record carries an
// area byte, and that byte; 0 when there is none. The walk follows child
// links as the loader does (0, 0xFFFF and records past the bytes read are
// no child), never takes the root's area byte, and stops 20 digits deep.
size_t longest_rule(const image_bytes *img, const char *number, uint8_t *area)
{
    size_t found = 0;
    uint32_t record = 0;
    uint32_t records = lcr_records_in(static_cast<uint32_t>(img->len));
    if (records == 0)
        return 0;
    for (size_t depth = 0; depth < LCR_NUMBER_MAX_DIGITS && number[depth]; depth++) {
        const uint8_t *links = img->data + lcr_record_offset(record) + 1;
        uint32_t child = lcr_child_link(links, static_cast<uint32_t>(number[depth] - '0'), records);
        if (child == 0)
            break;
        record = child;
        uint8_t byte = img->data[lcr_record_offset(record)];
        if (byte != AREA_NONE) {
            found = depth + 1;
            *area = byte;
        }
    }
    return found;
}

const tool_rule *find_rule(const rule_list *list, const char *number, size_t len)
{
    for (size_t i = 0; i < list->count; i++) {
        const char *n = list->rules[i].number;
        if (strncmp(n, number, len) == 0 && n[len] == '\0')
            return &list->rules[i];
    }
    return nullptr;
}

// One timetable entry: a fixed route, or a provider with its name. An entry
// that is neither (an odd provider value, or a value past the providers and
// routes) is shown as the byte it is.
void print_entry(uint8_t entry, const rule_list *list)
{
    int value = entry;
    if (value >= ROUTE_SLOT_BASE && value < ROUTE_SLOT_BASE + ROUTE_COUNT) {
        printf("route %d", value - ROUTE_SLOT_BASE);
    } else if (value % 2 == 0 && value / 2 < LCR_PROVIDER_COUNT) {
        printf("provider %d \"", value / 2);
        print_escaped_name(stdout, list->names[value / 2]);
        putchar('"');
    } else {
        printf("entry %d", value);
    }
}

void print_slot_time(unsigned slot)
{
    unsigned minutes = slot * MINUTES_PER_SLOT;
    printf("%02u:%02u", minutes / 60, minutes % 60);
}

// The answer most time slots give (on a tie, the one of the earliest slot),
// then each run of slots with another answer as "; HH:MM-HH:MM answer".
// Images this system writes give one answer in all 48 slots.
void print_timetable(const uint8_t *table, const rule_list *list)
{
    unsigned count[256] = {};
    for (unsigned j = 0; j < LCR_TIME_SLOTS; j++)
        count[table[j]]++;
    uint8_t common = table[0];
    for (unsigned j = 1; j < LCR_TIME_SLOTS; j++)
        if (count[table[j]] > count[common])
            common = table[j];
    print_entry(common, list);
    for (unsigned j = 0, end; j < LCR_TIME_SLOTS; j = end) {
        for (end = j + 1; end < LCR_TIME_SLOTS && table[end] == table[j];)
            end++;
        if (table[j] == common)
            continue;
        fputs("; ", stdout);
        print_slot_time(j);
        putchar('-');
        print_slot_time(end);
        putchar(' ');
        print_entry(table[j], list);
    }
}

// Prints the line for one number. EXIT_OK when it met a rule, EXIT_NO_RULE
// when not, EXIT_TROUBLE for a bad number; -1 when the bytes no longer
// agree with what the loader read.
int lookup_number(const char *path, const image_bytes *img, const rule_list *list, const char *number)
{
    if (!*number || strspn(number, "0123456789") != strlen(number)) {
        report(number, "not a number (digits 0 to 9 only)");
        return EXIT_TROUBLE;
    }
    uint8_t area = AREA_NONE;
    size_t len = longest_rule(img, number, &area);
    if (len == 0) {
        printf("%s\t-\n", number);
        return EXIT_NO_RULE;
    }
    const tool_rule *rule = find_rule(list, number, len);
    if (!rule) {
        report_changed(path);
        return -1;
    }
    printf("%s\t", number);
    print_rule_fields(stdout, rule);
    putchar('\t');
    if (area < LCR_TIMETABLES)
        print_timetable(img->data + LCR_OFF_TIMETABLES + LCR_TIME_SLOTS * area, list);
    else
        fputs("none", stdout);
    putchar('\n');
    return EXIT_OK;
}

}  // namespace

int lcrtool_lookup(const char *image, char *const *numbers, int count)
{
    rule_list list;
    if (load_rule_list(image, &list) != 0)
        return EXIT_TROUBLE;
    image_bytes img;
    int status = EXIT_TROUBLE;
    if (read_image_bytes(image, &img) == 0) {
        status = EXIT_OK;
        for (int i = 0; i < count; i++) {
            int result = lookup_number(image, &img, &list, numbers[i]);
            if (result < 0) {
                status = EXIT_TROUBLE;
                break;
            }
            status = std::max(status, result);
        }
        if (finish_output() != EXIT_OK)
            status = EXIT_TROUBLE;
    }
    free(img.data);
    rule_list_free(&list);
    return status;
}
