// SPDX-License-Identifier: MIT
// The burnimg option scan and parse_number on arbitrary argument lists.
//
// Input: the argument words after the program name, each ended by a NUL (a
// last word without one counts too). The scan's record is checked against a
// reference scan written here from the command-line rules, and every word
// is also read by parse_number and checked against a reference reader.
//
// The harness is linked with -Wl,--wrap=malloc: requests above
// alloc_limit fail, so a huge -b before -c reaches the scan's
// out-of-memory path instead of the sanitizer's allocation limit.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "options.h"
#include "require.h"

extern "C" void *__real_malloc(size_t size);

namespace {

constexpr size_t alloc_limit = 64 << 20;

int32_t reference_number(const std::string &text)
{
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint32_t v = 0;
        for (size_t i = 2; i < text.size() && isxdigit(static_cast<unsigned char>(text[i])); i++) {
            const char c = static_cast<char>(tolower(static_cast<unsigned char>(text[i])));
            v = v << 4 | static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        return static_cast<int32_t>(v);
    }
    // strtoll saturates at 64 bits, which is beyond the 32-bit clamp.
    long long v = strtoll(text.c_str(), nullptr, 10);
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

struct expected {
    int result = 0;
    int input = -1, output = -1;  // argv index of each name, -1 for unset
    uint32_t buffer_size = 0x10000;
    int32_t fill_size = 0;
    bool verify = false, keep_tail = false;
};

expected reference_scan(const std::vector<std::string> &words)
{
    const int argc = static_cast<int>(words.size()) + 1;
    expected e;
    if (argc > 1)
        e.input = 1;
    if (argc > 2)
        e.output = 2;
    for (int i = 1; i < argc; i++) {
        const std::string &arg = words[static_cast<size_t>(i - 1)];
        if (arg.empty() || arg[0] != '-')
            continue;
        const bool has_value = i + 1 < argc;
        const std::string value = has_value ? words[static_cast<size_t>(i)] : "";
        switch (arg.size() > 1 ? arg[1] : '\0') {
        case 'b':
            if (has_value)
                e.buffer_size = static_cast<uint32_t>(reference_number(value));
            i++;
            break;
        case 'f':
            if (has_value)
                e.fill_size = reference_number(value);
            i++;
            break;
        case 'i':
            e.input = has_value ? i + 1 : -1;
            i++;
            break;
        case 'o':
            e.output = has_value ? i + 1 : -1;
            i++;
            break;
        case 'c':
            if (e.buffer_size > alloc_limit) {
                e.result = -1;
                return e;
            }
            e.verify = true;
            break;
        case 'h':
            e.result = 1;
            return e;
        case 'u':
            e.keep_tail = true;
            break;
        default:
            break;
        }
    }
    // Refusing a buffer size of 0, and failing to give the comparison a
    // buffer as large as the final chunk size, both end the run.
    if (e.buffer_size == 0 || (e.verify && e.buffer_size > alloc_limit))
        e.result = -1;
    return e;
}

}  // namespace

extern "C" void *__wrap_malloc(size_t size)
{
    return size > alloc_limit ? nullptr : __real_malloc(size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words;
    for (size_t start = 0; start < size;) {
        const void *nul = memchr(data + start, 0, size - start);
        size_t end = nul ? static_cast<size_t>(static_cast<const uint8_t *>(nul) - data) : size;
        words.emplace_back(reinterpret_cast<const char *>(data + start), end - start);
        start = end + 1;
    }
    if (words.size() > 256)
        return 0;

    std::vector<char *> argv{const_cast<char *>("burnimg")};
    for (auto &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    for (const auto &w : words)
        require(parse_number(w.c_str()) == reference_number(w), "parse_number differs from the reference");

    burn_options opts;
    int result = scan_options(static_cast<int>(words.size()) + 1, argv.data(), "burnimg", &opts);
    const expected e = reference_scan(words);
    require(result == e.result, "scan result differs from the reference");
    if (result == 0) {
        require(opts.input_name == (e.input < 0 ? nullptr : argv[static_cast<size_t>(e.input)]), "input name");
        require(opts.output_name == (e.output < 0 ? nullptr : argv[static_cast<size_t>(e.output)]), "output name");
        require(opts.buffer_size == e.buffer_size, "buffer size");
        require(opts.fill_size == e.fill_size, "fill size");
        require(opts.verify == e.verify && opts.keep_tail == e.keep_tail, "flags");
        if (opts.verify) {
            require(opts.verify_buffer != nullptr && opts.verify_size >= opts.buffer_size,
                    "verification buffer smaller than a chunk");
            // A chunk's last byte must lie inside the buffer; ASan reports it
            // otherwise.
            opts.verify_buffer[opts.buffer_size - 1] = 0xA5;
        }
    }
    release_options(&opts);
    return 0;
}
