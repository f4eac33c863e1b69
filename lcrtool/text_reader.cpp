// SPDX-License-Identifier: MIT
// Reading the text form back: rule, provider, timetable and bytes lines.
#include "text_format.h"

#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "messages.h"

namespace {

// A file full of garbage (an image given by mistake) stops being reported
// line by line after this many errors.
constexpr unsigned MAX_REPORTED_ERRORS = 20;

constexpr char UTF8_BOM[] = "\xEF\xBB\xBF";

struct text_reader {
    const char *file;  // name used in messages
    rule_list *list;
    text_extras *extras;
    uint32_t line;
    uint32_t named_on[LCR_PROVIDER_COUNT];  // line that named provider p, 0 for none
    unsigned errors;
    bool out_of_memory;
    // Why the current line is refused; fields quoted in it are cut to 32
    // bytes so that a long one cannot crowd out the reason.
    char why[192];
};

// Records why the current line is refused; returns false for the caller.
bool refuse(text_reader *r, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
bool refuse(text_reader *r, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vsnprintf(r->why, sizeof r->why, fmt, args);
    va_end(args);
    return false;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

const char *skip_blanks(const char *p)
{
    while (is_blank(*p))
        p++;
    return p;
}

// Cuts the next field out of the line: skips blanks, ends the field at the
// next blank, and leaves *cursor just past that single blank, so a provider
// name after it keeps any blanks of its own. Null at the end of the line,
// and at a field that starts with '#': the rest of the line is a comment.
char *next_field(char **cursor)
{
    char *p = *cursor;
    while (is_blank(*p))
        p++;
    if (*p == '#')
        p += strlen(p);
    if (!*p) {
        *cursor = p;
        return nullptr;
    }
    char *start = p;
    while (*p && !is_blank(*p))
        p++;
    if (*p)
        *p++ = '\0';
    *cursor = p;
    return start;
}

bool parse_int(const char *text, long lo, long hi, int32_t *out)
{
    char *end;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (end == text || *end || errno || v < lo || v > hi)
        return false;
    *out = static_cast<int32_t>(v);
    return true;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool all_digits(const char *text)
{
    for (; *text; text++)
        if (!is_digit(*text))
            return false;
    return true;
}

// Routes 64 to 253 give area bytes 65 to 254, which have no timetable. The
// compiler refuses the whole rule set for such a byte, as it does in
// lcrmerge, so these routes are passed on for it to say so.
constexpr int32_t ROUTE_NO_AREA_FIRST = AREA_NO_TIMETABLE;
constexpr int32_t ROUTE_NO_AREA_LAST = AREA_NONE - 2;

bool route_is_taken(int32_t route)
{
    return route <= 9 || route >= ROUTE_NO_AREA_FIRST;
}

// Every area byte from 20 to 254 reads back as route -3, but only 20 to 63
// have a timetable, which a lookup shows. An image's byte is kept as it was
// (build writes it into the record after compiling), so such an image
// comes back with the same answers.
bool kept_as_no_timetable(const tool_rule *rule, int32_t area)
{
    return rule->route == ROUTE_NO_TIMETABLE && area != AREA_NO_TIMETABLE &&
           area_to_route(static_cast<uint32_t>(area)) == ROUTE_NO_TIMETABLE;
}

// Reads the fields of a rule line into `rule`. What the compiler itself
// reports (a character other than 0 to 9 in the number, a number given
// twice, a route whose area byte has no timetable) is left to it. Refused
// here is only what it would take without a word but what would come back
// from the image as another rule, or not at all: a number of more than 20
// characters (the image keeps 20 digits), routes 10 to 63 and 254 up, a
// provider outside 0 to 9, and a provider with any route but -2 (-1, which
// is stored the same way, comes back as -2).
bool read_rule(text_reader *r, const char *number, char *cursor, tool_rule *rule)
{
    if (strlen(number) > LCR_NUMBER_MAX_DIGITS) {
        if (all_digits(number))
            return refuse(r, "number '%.32s' has more than %u digits", number, LCR_NUMBER_MAX_DIGITS);
        return refuse(r, "number '%.32s' has more than %u characters", number, LCR_NUMBER_MAX_DIGITS);
    }
    strcpy(rule->number, number);
    const char *route = next_field(&cursor);
    const char *provider = next_field(&cursor);
    const char *area = next_field(&cursor);
    const char *extra = next_field(&cursor);
    if (!route || !provider)
        return refuse(r, "expected number, route, provider and area");
    if (extra)
        return refuse(r, "unexpected '%.32s' after the area", extra);
    if (!parse_int(route, ROUTE_NO_TIMETABLE, ROUTE_NO_AREA_LAST, &rule->route) || !route_is_taken(rule->route))
        return refuse(r, "route '%.32s' is not one of -3, -2, -1 and 0 to 9", route);
    if (!parse_int(provider, 0, LCR_PROVIDER_COUNT - 1, &rule->provider))
        return refuse(r, "provider '%.32s' is not one of 0 to 9", provider);
    bool by_provider = rule->route == ROUTE_BY_PROVIDER || rule->route == ROUTE_UNSET;
    if (rule->provider != 0 && !by_provider)
        return refuse(r, "provider %d needs route -2; route %d takes provider 0",
                      static_cast<int>(rule->provider), static_cast<int>(rule->route));
    // The area column is what the route and provider give; a value that
    // disagrees means one of them was edited and the other not.
    rule->area = rule_area(rule);
    int32_t given;
    if (area && parse_int(area, 0, AREA_NONE - 1, &given) && kept_as_no_timetable(rule, given)) {
        rule->area = static_cast<uint8_t>(given);
        return true;
    }
    if (area && (!parse_int(area, 0, 255, &given) || given != rule->area))
        return refuse(r, "area '%.32s' does not match route %d and provider %d, which give %u", area,
                      static_cast<int>(rule->route), static_cast<int>(rule->provider),
                      static_cast<unsigned>(rule_area(rule)));
    return true;
}

bool parse_rule(text_reader *r, const char *number, char *cursor)
{
    tool_rule rule{{}, 0, 0, r->line, 0};
    if (!read_rule(r, number, cursor, &rule)) {
        // A line that does not start with a digit and does not read as a
        // rule is most likely no rule at all (a mistyped keyword, an image
        // given by mistake); the reason for the first field that failed
        // would only mislead.
        if (!is_digit(*number))
            return refuse(r, "expected a rule (number, route, provider, area) or a provider line");
        return false;
    }
    if (rule_list_append(r->list, &rule) != 0) {
        r->out_of_memory = true;
        return refuse(r, "out of memory");
    }
    return true;
}

// The byte that two hexadecimal digits of either case at `p` spell, or -1.
int hex_byte(const char *p)
{
    static const char digits[] = "0123456789abcdef";
    const char *hi = p[0] ? strchr(digits, tolower(static_cast<unsigned char>(p[0]))) : nullptr;
    const char *lo = hi && p[1] ? strchr(digits, tolower(static_cast<unsigned char>(p[1]))) : nullptr;
    return lo ? static_cast<int>((hi - digits) << 4 | (lo - digits)) : -1;
}

// Whether the bytes of a name as the line holds them are UTF-8: some lie
// above 0x7F, and all of those form well-formed sequences. A name in
// ISO-8859-1 almost never does: a letter from 0xC0 up would have to stand
// before a control code or a sign from 0xA0 to 0xBF (0xC3 0xA4, an A with
// a tilde and the currency sign, is a-umlaut in UTF-8). dump escapes such
// a letter, and a person can write it as \xHH; escapes are plain ASCII.
bool is_utf8(const char *text)
{
    bool beyond_ascii = false;
    for (const char *p = text; *p;) {
        size_t len = 1;
        if (static_cast<unsigned char>(*p) > 0x7F) {
            if (utf8_char(p, &len) < 0)
                return false;
            beyond_ascii = true;
        }
        p += len;
    }
    return beyond_ascii;
}

// ISO-8859-1 holds the characters U+0000 to U+00FF, each as the byte of
// its code.
constexpr int32_t LATIN1_LAST = 0xFF;

// Reads a name: its escapes, and a name typed in UTF-8 (is_utf8) as the
// ISO-8859-1 bytes of its characters, so its length counts characters.
bool unescape_name(text_reader *r, const char *text, char *name)
{
    bool utf8 = is_utf8(text);
    size_t len = 0;
    for (const char *p = text; *p; p++) {
        char c = *p;
        if (utf8 && static_cast<unsigned char>(c) > 0x7F) {
            size_t n = 1;
            int32_t code = utf8_char(p, &n);
            if (code > LATIN1_LAST)
                return refuse(r,
                              "provider name is UTF-8 and holds U+%04X, which ISO-8859-1 lacks; iconv -f UTF-8 -t "
                              "ISO-8859-1//TRANSLIT converts the file, spelling it with other letters",
                              static_cast<unsigned>(code));
            c = static_cast<char>(code);
            p += n - 1;
        } else if (c == '\\') {
            p++;
            int byte;
            switch (*p) {
            case '\\': c = '\\'; break;
            case 't': c = '\t'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 'x':
                byte = hex_byte(p + 1);
                if (byte < 0)
                    return refuse(r, "\\x in a provider name needs two hex digits");
                c = static_cast<char>(byte);
                if (c == '\0')
                    return refuse(r, "a provider name cannot hold \\x00");
                p += 2;
                break;
            case '\0':
                return refuse(r, "provider name ends in a lone backslash");
            default:
                return refuse(r, "unknown escape '\\%c' in provider name", *p);
            }
        }
        if (len == LCR_PROVIDER_NAME_MAX)
            return refuse(r, "provider name longer than %u characters", LCR_PROVIDER_NAME_MAX);
        name[len++] = c;
    }
    name[len] = '\0';
    return true;
}

// "provider P NAME": the name is the rest of the line after the one blank
// that ends P, empty when the line ends at P.
bool parse_provider(text_reader *r, char *cursor)
{
    const char *number = next_field(&cursor);
    int32_t p;
    if (!number)
        return refuse(r, "a provider line needs a provider number 0 to 9");
    if (!parse_int(number, 0, LCR_PROVIDER_COUNT - 1, &p))
        return refuse(r, "provider '%.32s' is not one of 0 to 9", number);
    if (r->named_on[p])
        return refuse(r, "provider %d already named on line %u", static_cast<int>(p),
                      static_cast<unsigned>(r->named_on[p]));
    if (!unescape_name(r, cursor, r->list->names[p]))
        return false;
    r->named_on[p] = r->line;
    return true;
}

// Nothing but blanks and a comment is left of the line at `p`; a comment
// starts with a '#' after a blank.
bool at_line_end(const char *p)
{
    const char *s = skip_blanks(p);
    return *s == '\0' || (*s == '#' && s > p);
}

// Reads the digits at *p as a number of at most `hi` and moves *p past them.
bool read_small_number(const char **p, unsigned hi, unsigned *out)
{
    const char *s = *p;
    unsigned v = 0;
    if (!is_digit(*s))
        return false;
    for (; is_digit(*s); s++) {
        v = 10 * v + static_cast<unsigned>(*s - '0');
        if (v > hi)
            return false;
    }
    *p = s;
    *out = v;
    return true;
}

// Past a provider's name in quotes at `p`, or `p` itself when no quote
// opens there; null when the name does not end. A name may hold quotes and
// semicolons itself, so the quote that ends it is the first one followed by
// the end of the line (or a comment) or by "; " and the time of a run.
const char *skip_quoted_name(const char *p)
{
    if (*p != '"')
        return p;
    for (const char *q = strchr(p + 1, '"'); q; q = strchr(q + 1, '"')) {
        const char *after = skip_blanks(q + 1);
        if (at_line_end(q + 1) || (*after == ';' && is_digit(*skip_blanks(after + 1))))
            return q + 1;
    }
    return nullptr;
}

// One timetable answer at *cursor, as lookup spells it: "route R",
// "provider P" with or without its name in quotes, or "entry N". The
// provider's number decides; its name is there for the reader.
bool read_answer(text_reader *r, const char **cursor, uint8_t *entry)
{
    const char *word = *cursor;
    size_t len = strcspn(word, " \t");
    const char *p = skip_blanks(word + len);
    unsigned n = 0;
    bool ok = false;
    if (len == 5 && strncmp(word, "route", len) == 0) {
        ok = read_small_number(&p, ROUTE_COUNT - 1, &n);
        n += static_cast<unsigned>(ROUTE_SLOT_BASE);
    } else if (len == 8 && strncmp(word, "provider", len) == 0) {
        ok = read_small_number(&p, LCR_PROVIDER_COUNT - 1, &n);
        n *= 2;
        if (ok && !(p = skip_quoted_name(skip_blanks(p))))
            return refuse(r, "provider name in a timetable answer has no closing quote");
    } else if (len == 5 && strncmp(word, "entry", len) == 0) {
        ok = read_small_number(&p, UINT8_MAX, &n);
    }
    if (!ok || (*p && !is_blank(*p) && *p != ';'))
        return refuse(r, "timetable answer '%.*s' is not route 0 to 9, provider 0 to 9 or entry 0 to 255",
                      static_cast<int>(std::min<size_t>(strcspn(word, ";"), 32)), word);
    *entry = static_cast<uint8_t>(n);
    *cursor = p;
    return true;
}

// "HH:MM" on a half hour from 00:00 to 24:00, as a slot number 0 to 48.
bool read_slot_time(const char **p, unsigned *slot)
{
    const char *s = *p;
    unsigned hours, minutes;
    if (!is_digit(s[0]) || !is_digit(s[1]) || s[2] != ':' || !is_digit(s[3]) || !is_digit(s[4]))
        return false;
    hours = 10 * static_cast<unsigned>(s[0] - '0') + static_cast<unsigned>(s[1] - '0');
    minutes = 10 * static_cast<unsigned>(s[3] - '0') + static_cast<unsigned>(s[4] - '0');
    minutes += 60 * hours;
    if (minutes % MINUTES_PER_SLOT || minutes > MINUTES_PER_SLOT * LCR_TIME_SLOTS)
        return false;
    *slot = minutes / MINUTES_PER_SLOT;
    *p = s + 5;
    return true;
}

// "timetable K ANSWER[; HH:MM-HH:MM ANSWER]...": the first answer fills all
// 48 slots, and each run then fills its own, a later run over an earlier.
bool parse_timetable(text_reader *r, char *cursor)
{
    const char *number = next_field(&cursor);
    int32_t k;
    if (!number)
        return refuse(r, "a timetable line needs a timetable number 0 to %u", LCR_TIMETABLES - 1);
    if (!parse_int(number, 0, LCR_TIMETABLES - 1, &k))
        return refuse(r, "timetable '%.32s' is not one of 0 to %u", number, LCR_TIMETABLES - 1);
    if (r->extras->timetable_line[k])
        return refuse(r, "timetable %d already given on line %u", static_cast<int>(k),
                      static_cast<unsigned>(r->extras->timetable_line[k]));
    uint8_t *table = r->extras->timetable[k];
    const char *p = skip_blanks(cursor);
    uint8_t entry;
    if (!read_answer(r, &p, &entry))
        return false;
    memset(table, entry, LCR_TIME_SLOTS);
    while (!at_line_end(p)) {
        p = skip_blanks(p);
        if (*p != ';')
            return refuse(r, "expected '; HH:MM-HH:MM answer' after a timetable answer");
        p = skip_blanks(p + 1);
        const char *run = p;
        unsigned from, to;
        if (!read_slot_time(&p, &from) || *p != '-' || !(++p, read_slot_time(&p, &to)) || from == to ||
            !is_blank(*p))
            return refuse(r, "timetable run '%.11s' is not HH:MM-HH:MM on half hours from 00:00 to 24:00", run);
        // A run holds the slots of one day, from 00:00 on.
        if (from > to)
            return refuse(r, "timetable run '%.11s' wraps past midnight: give it as two runs, one to 24:00 and one from 00:00",
                          run);
        p = skip_blanks(p);
        if (!read_answer(r, &p, &entry))
            return false;
        memset(table + from, entry, to - from);
    }
    r->extras->timetable_line[k] = r->line;
    return true;
}

// "bytes OFFSET HEX": bytes of the provider name table and the reserved
// sections from OFFSET on, two hex digits each.
bool parse_bytes(text_reader *r, char *cursor)
{
    const char *offset = next_field(&cursor);
    const char *hex = next_field(&cursor);
    const char *extra = next_field(&cursor);
    int32_t at;
    if (!offset || !hex)
        return refuse(r, "a bytes line needs an offset and hex digits");
    if (extra)
        return refuse(r, "unexpected '%.32s' after the bytes", extra);
    if (!parse_int(offset, LCR_OTHER_BYTES_BEGIN, LCR_OTHER_BYTES_END - 1, &at))
        return refuse(r, "offset '%.32s' is not one of %u to %u (provider names and reserved sections)", offset,
                      LCR_OTHER_BYTES_BEGIN, LCR_OTHER_BYTES_END - 1);
    size_t digits = strlen(hex);
    uint32_t first = static_cast<uint32_t>(at) - LCR_OTHER_BYTES_BEGIN;
    if (digits % 2 || digits / 2 > LCR_OTHER_BYTES - first)
        return refuse(r, "bytes from offset %d need two hex digits each and end by offset %u", static_cast<int>(at),
                      LCR_OTHER_BYTES_END - 1);
    // Every pair is read before any is kept, so a refused line gives none.
    for (size_t i = 0; i < digits; i += 2)
        if (hex_byte(hex + i) < 0)
            return refuse(r, "'%.32s' is not hex digits", hex);
    for (size_t i = 0; i < digits / 2; i++) {
        r->extras->byte[first + i] = static_cast<uint8_t>(hex_byte(hex + 2 * i));
        r->extras->byte_given[first + i] = true;
    }
    return true;
}

bool parse_line(text_reader *r, char *line, size_t len)
{
    if (memchr(line, '\0', len))
        return refuse(r, "line holds a NUL byte");
    char *cursor = line;
    const char *first = next_field(&cursor);
    if (!first || strcmp(first, "number") == 0)
        return true;  // blank, comment, or the header of the rules
    if (strcmp(first, "provider") == 0)
        return parse_provider(r, cursor);
    if (strcmp(first, "timetable") == 0)
        return parse_timetable(r, cursor);
    if (strcmp(first, "bytes") == 0)
        return parse_bytes(r, cursor);
    return parse_rule(r, first, cursor);
}

}  // namespace

int read_rule_text(const char *path, rule_list *list, text_extras *extras)
{
    bool from_stdin = strcmp(path, "-") == 0;
    text_reader r{input_name(path), list, extras, 0, {}, 0, false, {}};
    *list = rule_list{};
    *extras = text_extras{};
    FILE *in = from_stdin ? stdin : fopen(path, "r");
    if (!in) {
        report(r.file, "%s", strerror(errno));
        return EXIT_TROUBLE;
    }
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t len;
    while ((len = getline(&line, &capacity, in)) >= 0) {
        r.line++;
        // A line may end in CR LF when the text was edited elsewhere; a CR
        // that belongs to a name is always written as \r.
        if (len > 0 && line[len - 1] == '\n')
            line[--len] = '\0';
        if (len > 0 && line[len - 1] == '\r')
            line[--len] = '\0';
        // Editors that save UTF-8 may put a byte order mark first.
        char *text = line;
        constexpr size_t bom = sizeof UTF8_BOM - 1;
        if (r.line == 1 && strncmp(text, UTF8_BOM, bom) == 0) {
            text += bom;
            len -= static_cast<ssize_t>(bom);
        }
        if (parse_line(&r, text, static_cast<size_t>(len)))
            continue;
        report_line(r.file, r.line, "%s", r.why);
        if (r.out_of_memory)
            break;
        if (++r.errors == MAX_REPORTED_ERRORS) {
            report(r.file, "too many errors; giving up");
            // What follows was not read, so the rules read so far are
            // not the text's.
            rule_list_free(list);
            break;
        }
    }
    int status = r.errors ? EXIT_REJECTED : EXIT_OK;
    if (r.out_of_memory) {
        status = EXIT_TROUBLE;
    } else if (!r.errors && (ferror(in) || !feof(in))) {
        // getline also stops short of the end when it cannot have memory
        // for the line; the rules read so far are then not the text's.
        report(r.file, "%s", strerror(errno));
        status = EXIT_TROUBLE;
    }
    free(line);
    if (!from_stdin)
        fclose(in);
    if (status == EXIT_TROUBLE)
        rule_list_free(list);
    return status;
}
