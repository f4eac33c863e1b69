// SPDX-License-Identifier: MIT
// The text form of a rule set, printed by `dump` and read by `build`:
//
//   provider<TAB>P<TAB>NAME        one line for each provider 0 to 9
//   number<TAB>route<TAB>provider<TAB>area     the header of the rules
//   NUMBER<TAB>ROUTE<TAB>PROVIDER<TAB>AREA     one line per rule
//   timetable<TAB>K<TAB>ANSWER[; HH:MM-HH:MM ANSWER]...
//   bytes<TAB>OFFSET<TAB>HEX
//
// The text is ISO-8859-1, the device's character set. Names are written
// with backslash escapes (\\, \t, \n, \r, \xHH for the other bytes that
// name_byte_printable rejects and for a byte that could start UTF-8) so that
// every name fits on its line, shows no control byte on a terminal and comes
// back byte for byte; other bytes, ISO-8859-1 letters included, stand as
// they are. build takes a name typed in UTF-8 as such (is_utf8 in
// text_reader.cpp).
//
// After the rules, dump prints a timetable line for each timetable whose 48
// slots are not what the compiler writes there, and bytes lines for the
// bytes of the provider name table and the reserved sections that are not
// what the compiler writes for the ten names. An image that lcrmerge wrote
// has neither. build writes them over the compiled image.
// A timetable answer is spelled as lookup shows it: "route R", "provider P"
// (with the name in quotes, which is only for the reader) or "entry N".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "loaded_image.h"
#include "rule_list.h"

// Timetable entries 240 to 249 are the fixed routes 0 to 9.
inline constexpr unsigned ROUTE_COUNT = 10;
// The 48 time slots of a timetable are half hours from 00:00.
inline constexpr unsigned MINUTES_PER_SLOT = 24 * 60 / LCR_TIME_SLOTS;

inline constexpr char RULE_HEADER[] = "number\troute\tprovider\tarea";

// ISO-8859-1 prints every byte but the control codes of its two halves,
// 0x00 to 0x1F and 0x7F to 0x9F. A name byte that is not printable is
// escaped by dump and reported by check, and build spells such a byte as
// an escape where it names a bad digit.
inline constexpr bool name_byte_printable(uint8_t b)
{
    return (b >= 0x20 && b < 0x7F) || b >= 0xA0;
}

// UTF-8 writes each character from U+0080 on as a lead byte from 0xC2 up
// and one to three continuation bytes 0x80 to 0xBF. build reads a name as
// UTF-8 when its bytes above 0x7F all form such sequences, so dump escapes
// every byte from 0xC0 up that such a byte follows: no name it writes
// then holds a sequence, and each reads back as ISO-8859-1.
inline constexpr bool utf8_continuation(uint8_t b)
{
    return (b & 0xC0) == 0x80;
}
inline constexpr bool may_start_utf8(uint8_t b, uint8_t next)
{
    return b >= 0xC0 && utf8_continuation(next);
}
// The character of the well-formed UTF-8 sequence of two to four bytes at
// `p` (NUL-terminated), with its length in *len; -1 when there is none.
int32_t utf8_char(const char *p, size_t *len);

// A name with the escapes above.
void print_escaped_name(FILE *out, const char *name);
void print_provider_line(FILE *out, int provider, const char *name);
// The fields of a rule line without its newline, for lines that go on.
void print_rule_fields(FILE *out, const tool_rule *rule);
void print_rule_line(FILE *out, const tool_rule *rule);

// What a timetable entry names: a fixed route, one of the providers 0 to 9,
// or neither (an odd or large provider value, or 250 to 255).
enum class entry_kind { route, provider, other };
// The kind of `entry`; `n` gets the route or provider number, or for other
// entries the byte itself.
entry_kind timetable_entry_kind(uint8_t entry, unsigned *n);
// One timetable entry: "route R", "provider P "NAME"" with the name of
// `list`, or "entry N" for a byte that is neither.
void print_timetable_entry(FILE *out, uint8_t entry, const rule_list *list);
// Time slots [from, to) as "HH:MM-HH:MM".
void print_slot_run(FILE *out, unsigned from, unsigned to);
// The 48 slots of a timetable: the answer most slots give, then each run
// of slots that gives another as "; HH:MM-HH:MM ANSWER".
void print_timetable(FILE *out, const uint8_t *table, const rule_list *list);
// The timetable and bytes lines of a loaded image.
void print_fixed_part_lines(FILE *out, const loaded_image *img);

// What a text gives besides names and rules: timetables and bytes of the
// fixed part, which build writes over the compiled image.
struct text_extras {
    uint32_t timetable_line[LCR_TIMETABLES];  // line that gave timetable k, 0 for none
    uint8_t timetable[LCR_TIMETABLES][LCR_TIME_SLOTS];
    bool byte_given[LCR_OTHER_BYTES];  // byte i stands for offset LCR_OTHER_BYTES_BEGIN + i
    uint8_t byte[LCR_OTHER_BYTES];
};

// Reads the text at `path` ("-" for standard input) into `list`, in the
// order of its lines, and its timetable and bytes lines into `extras`.
// Every line it cannot take is reported with its line number. EXIT_OK;
// EXIT_REJECTED after a bad line, with the rules of the other lines in
// `list` (none after so many bad lines that it gave up); EXIT_TROUBLE,
// with `list` empty, when the file cannot be read or memory runs out.
int read_rule_text(const char *path, rule_list *list, text_extras *extras);
