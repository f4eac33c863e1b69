// SPDX-License-Identifier: MIT
#include "options.h"

#include <cstdio>
#include <cstdlib>

namespace {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

uint32_t parse_hex(const char *p)
{
    uint32_t value = 0;
    // The shift is unsigned, so digits beyond the eighth push the earliest
    // ones out instead of overflowing.
    for (int d; (d = hex_digit(*p)) >= 0; p++)
        value = value << 4 | static_cast<uint32_t>(d);
    return value;
}

// Reads decimal text the way strtol does in base 10, but clamps to the
// signed 32-bit range on every host: `long` is 64 bits wide on a PC and 32
// bits on the device, and the result must not depend on it.
int32_t parse_decimal(const char *p)
{
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    const uint32_t limit = negative ? 0x80000000u : 0x7fffffffu;
    uint32_t magnitude = 0;
    // Once the magnitude reaches the limit it stays there, however many
    // digits follow.
    for (; *p >= '0' && *p <= '9'; p++) {
        const uint32_t d = static_cast<uint32_t>(*p - '0');
        magnitude = magnitude > (limit - d) / 10 ? limit : magnitude * 10 + d;
    }
    return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

// Gives opts a fresh verification buffer of size bytes. On failure the old
// buffer stays in place, so release_options still frees it.
bool replace_verify_buffer(burn_options *opts, uint32_t size)
{
    // A request for 0 bytes asks for 1: malloc(0) may return null, which
    // must not read as running out of memory.
    auto *buf = static_cast<unsigned char *>(malloc(size ? size : 1));
    if (!buf)
        return false;
    free(opts->verify_buffer);
    opts->verify_buffer = buf;
    opts->verify_size = size;
    return true;
}

}  // namespace

int32_t parse_number(const char *text)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return static_cast<int32_t>(parse_hex(text + 2));
    return parse_decimal(text);
}

int scan_options(int argc, char *const *argv, const char *prog, burn_options *opts)
{
    *opts = burn_options{};
    opts->buffer_size = DEFAULT_BUFFER_SIZE;
    // The first two words are the default names whatever they look like;
    // options after them may still replace them.
    if (argc > 1)
        opts->input_name = argv[1];
    if (argc > 2)
        opts->output_name = argv[2];

    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (arg[0] != '-')
            continue;
        // Only the letter after '-' counts. An option with a value takes the
        // next word unchanged; after the last word there is none, and then
        // -b and -f keep their value while -i and -o leave the name unset.
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        switch (arg[1]) {
        case 'b':
            if (value)
                opts->buffer_size = static_cast<uint32_t>(parse_number(value));
            i++;
            break;
        case 'f':
            if (value)
                opts->fill_size = parse_number(value);
            i++;
            break;
        case 'i':
            opts->input_name = value;
            i++;
            break;
        case 'o':
            opts->output_name = value;
            i++;
            break;
        case 'c':
            // Sized by the -b values before it; a later, larger -b is
            // caught up with once the scan is done.
            if (!replace_verify_buffer(opts, opts->buffer_size))
                return -1;
            opts->verify = true;
            break;
        case 'h':
            puts(USAGE_TEXT);
            fflush(stdout);
            return 1;
        case 'u':
            opts->keep_tail = true;
            break;
        default:
            break;
        }
    }

    // Chunks of 0 bytes would copy nothing and never finish a comparison.
    if (opts->buffer_size == 0) {
        printf("%s: invalid buffer size 0\n", prog);
        fflush(stdout);
        return -1;
    }
    // The comparison reads whole chunks into verify_buffer.
    if (opts->verify && opts->verify_size < opts->buffer_size &&
        !replace_verify_buffer(opts, opts->buffer_size))
        return -1;
    return 0;
}

void release_options(burn_options *opts)
{
    free(opts->verify_buffer);
    opts->verify_buffer = nullptr;
    opts->verify_size = 0;
}
