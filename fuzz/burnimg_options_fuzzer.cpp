// SPDX-License-Identifier: MIT
// The burnimg option scan and parse_number on arbitrary argument lists.
//
// Input: the argument words after the program name, each ended by a NUL (a
// last word without one counts too). Every word's number, as parse_number
// reads it, reads back the same from its decimal (the table test holds the
// forms and the clamps). The scan's record must hold what any
// scan gives: names and numbers taken from the words or left at their
// defaults, flags that a word asked for, a comparison buffer that holds a
// chunk, and the same record from a second scan of the same words.
//
// The harness is linked with -Wl,--wrap=malloc: requests above
// alloc_limit fail, so a huge -b before -c reaches the scan's
// out-of-memory path instead of the sanitizer's allocation limit.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "options.h"
#include "require.h"

extern "C" void *__real_malloc(size_t size);

namespace {

constexpr size_t alloc_limit = 64 << 20;

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

    for (const auto &w : words) {
        const int32_t v = parse_number(w.c_str());
        require(parse_number(std::to_string(v).c_str()) == v, "a number does not read back from its decimal");
    }

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
