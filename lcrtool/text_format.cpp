// SPDX-License-Identifier: MIT
#include "text_format.h"

#include <cstdint>
#include <cstring>

void print_escaped_name(FILE *out, const char *name)
{
    for (const char *p = name; *p; p++) {
        auto c = static_cast<unsigned char>(*p);
        switch (c) {
        case '\\': fputs("\\\\", out); break;
        case '\t': fputs("\\t", out); break;
        case '\n': fputs("\\n", out); break;
        case '\r': fputs("\\r", out); break;
        default:
            if (!name_byte_printable(c) || may_start_utf8(c, static_cast<unsigned char>(p[1])))
                fprintf(out, "\\x%02x", c);
            else
                fputc(c, out);
        }
    }
}

int32_t utf8_char(const char *p, size_t *len)
{
    auto b = static_cast<unsigned char>(p[0]);
    // The continuation bytes the lead byte announces; 0 for a byte that
    // leads no sequence.
    size_t n = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (n == 0 || b > 0xF4)
        return -1;
    int32_t code = b & (0x3F >> n);
    for (size_t i = 1; i <= n; i++) {
        auto c = static_cast<unsigned char>(p[i]);  // the NUL ends the loop too
        if (!utf8_continuation(c))
            return -1;
        code = code << 6 | (c & 0x3F);
    }
    // A longer sequence than the character needs, a surrogate and a code
    // past U+10FFFF are not well-formed UTF-8.
    static constexpr int32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return -1;
    *len = n + 1;
    return code;
}

void print_provider_line(FILE *out, int provider, const char *name)
{
    fprintf(out, "provider\t%d\t", provider);
    print_escaped_name(out, name);
    fputc('\n', out);
}

void print_rule_fields(FILE *out, const tool_rule *rule)
{
    fprintf(out, "%s\t%d\t%d\t%u", rule->number, static_cast<int>(rule->route),
            static_cast<int>(rule->provider), static_cast<unsigned>(rule->area));
}

void print_rule_line(FILE *out, const tool_rule *rule)
{
    print_rule_fields(out, rule);
    fputc('\n', out);
}

namespace {

// A bytes line holds at most this many bytes, and a run of fewer equal
// bytes than BYTES_GAP between two that differ stays on the line.
constexpr uint32_t BYTES_PER_LINE = 32;
constexpr uint32_t BYTES_GAP = 4;

void print_slot_time(FILE *out, unsigned slot)
{
    unsigned minutes = slot * MINUTES_PER_SLOT;
    fprintf(out, "%02u:%02u", minutes / 60, minutes % 60);
}

}  // namespace

entry_kind timetable_entry_kind(uint8_t entry, unsigned *n)
{
    unsigned value = entry;
    if (value >= ROUTE_SLOT_BASE && value < ROUTE_SLOT_BASE + ROUTE_COUNT) {
        *n = value - ROUTE_SLOT_BASE;
        return entry_kind::route;
    }
    int32_t provider = lcr_value_provider(value);
    if (provider >= 0) {
        *n = static_cast<unsigned>(provider);
        return entry_kind::provider;
    }
    *n = value;
    return entry_kind::other;
}

void print_timetable_entry(FILE *out, uint8_t entry, const rule_list *list)
{
    unsigned n;
    switch (timetable_entry_kind(entry, &n)) {
    case entry_kind::route: fprintf(out, "route %u", n); break;
    case entry_kind::provider:
        fprintf(out, "provider %u \"", n);
        print_escaped_name(out, list->names[n]);
        fputc('"', out);
        break;
    case entry_kind::other: fprintf(out, "entry %u", n); break;
    }
}

void print_slot_run(FILE *out, unsigned from, unsigned to)
{
    print_slot_time(out, from);
    fputc('-', out);
    print_slot_time(out, to);
}

// On a tie the answer of the earliest slot counts as the most common.
void print_timetable(FILE *out, const uint8_t *table, const rule_list *list)
{
    unsigned count[256] = {};
    for (unsigned j = 0; j < LCR_TIME_SLOTS; j++)
        count[table[j]]++;
    uint8_t common = table[0];
    for (unsigned j = 1; j < LCR_TIME_SLOTS; j++)
        if (count[table[j]] > count[common])
            common = table[j];
    print_timetable_entry(out, common, list);
    for (unsigned j = 0, end; j < LCR_TIME_SLOTS; j = end) {
        for (end = j + 1; end < LCR_TIME_SLOTS && table[end] == table[j];)
            end++;
        if (table[j] == common)
            continue;
        fputs("; ", out);
        print_slot_run(out, j, end);
        fputc(' ', out);
        print_timetable_entry(out, table[j], list);
    }
}

void print_fixed_part_lines(FILE *out, const loaded_image *img)
{
    uint8_t fixed[LCR_OFF_TRIE];
    fixed_part_of_names(&img->list, fixed);
    const uint8_t *bytes = img->bytes;
    for (uint32_t k = 0; k < LCR_TIMETABLES; k++) {
        uint32_t at = lcr_timetable_offset(k);
        if (memcmp(bytes + at, fixed + at, LCR_TIME_SLOTS) == 0)
            continue;
        fprintf(out, "timetable\t%u\t", static_cast<unsigned>(k));
        print_timetable(out, bytes + at, &img->list);
        fputc('\n', out);
    }
    for (uint32_t at = LCR_OTHER_BYTES_BEGIN; at < LCR_OTHER_BYTES_END;) {
        if (bytes[at] == fixed[at]) {
            at++;
            continue;
        }
        uint32_t end = at + 1;
        for (uint32_t next = end; next < LCR_OTHER_BYTES_END && next - end < BYTES_GAP && next < at + BYTES_PER_LINE; next++)
            if (bytes[next] != fixed[next])
                end = next + 1;
        fprintf(out, "bytes\t%u\t", static_cast<unsigned>(at));
        for (; at < end; at++)
            fprintf(out, "%02x", bytes[at]);
        fputc('\n', out);
    }
}
