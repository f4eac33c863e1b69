// SPDX-License-Identifier: MIT
// The burnimg option scan and parse_number on arbitrary argument lists.
//
// Input: the argument words after the program name, each ended by a NUL (a
// last word without one counts too). Every word is read by parse_number and
// checked against a reference reader. The scan's record must hold what any
// scan gives: names and numbers taken from the words or left at their
// defaults, flags that a word asked for, a comparison buffer that holds a
// chunk, and the same record from a second scan of the same words.
//
// The harness is linked with -Wl,--wrap=malloc: requests above
// alloc_limit fail, so a huge -b before -c reaches the scan's
// out-of-memory path instead of the sanitizer's allocation limit.

#include <algorithm>
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

// Whether some word starts with `option` ("-u"); the scan sets no flag and
// prints no help unless one does.
bool asked(const std::vector<std::string> &words, const char *option)
{
    for (const auto &w : words)
        if (w.compare(0, 2, option) == 0)
            return true;
    return false;
}

// Whether `v` is `fallback` or what parse_number reads from some word.
bool from_a_word(const std::vector<std::string> &words, int32_t v, int32_t fallback)
{
    for (const auto &w : words)
        if (parse_number(w.c_str()) == v)
            return true;
    return v == fallback;
}

// Whether `name` is null or one of the words themselves: a name is never copied.
bool names_a_word(const std::vector<char *> &argv, const char *name)
{
    return !name || std::find(argv.begin() + 1, argv.end(), name) != argv.end();
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

    burn_options opts, again;
    int result = scan_options(static_cast<int>(argv.size()) - 1, argv.data(), "burnimg", &opts);
    int second = scan_options(static_cast<int>(argv.size()) - 1, argv.data(), "burnimg", &again);
    require(result == second && (result == 0 || result == -1 || (result == 1 && asked(words, "-h"))), "scan result");
    if (result == 0) {
        require(opts.input_name == again.input_name && opts.output_name == again.output_name &&
                    opts.buffer_size == again.buffer_size && opts.fill_size == again.fill_size &&
                    opts.verify == again.verify && opts.keep_tail == again.keep_tail,
                "a second scan of the same words differs");
        require(names_a_word(argv, opts.input_name) && names_a_word(argv, opts.output_name), "names");
        require(opts.buffer_size != 0 && from_a_word(words, static_cast<int32_t>(opts.buffer_size),
                                                     static_cast<int32_t>(DEFAULT_BUFFER_SIZE)), "buffer size");
        require(from_a_word(words, opts.fill_size, 0), "fill size");
        require((!opts.verify || asked(words, "-c")) && (!opts.keep_tail || asked(words, "-u")), "flags");
        if (opts.verify) {
            require(opts.verify_buffer != nullptr && opts.verify_size >= opts.buffer_size,
                    "verification buffer smaller than a chunk");
            // A chunk's last byte must lie inside the buffer; ASan reports it
            // otherwise.
            opts.verify_buffer[opts.buffer_size - 1] = 0xA5;
        }
    }
    release_options(&again);
    release_options(&opts);
    return 0;
}
