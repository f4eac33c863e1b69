// SPDX-License-Identifier: MIT
// Writes lcr image bytes straight from the layout, for tests. It shares no
// code with the compiler, so the loader can be tested against images that
// the compiler did not make, including broken and hostile ones.
//
//   image_writer img;                       // valid, empty: 5892 bytes
//   img.provider_name(0, "Telco").add_number("12", 4).add_number("19", 12);
//   write_file(path, img.bytes);            // 5892 + 21 * 4 bytes
//
// The image is kept as the file's bytes: every call edits `bytes` at fixed
// offsets, so raw pokes and truncation combine freely with the rest.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct image_writer {
    // The file contents. Starts as a valid image without rules: version 3,
    // every name empty, zero reserved sections, the standard timetables
    // (as the compiler writes them) and no trie record.
    std::string bytes;

    image_writer();

    // Stores `v` as the little-endian version word at offset 0.
    image_writer &version(uint32_t v);

    // Writes `name` and a NUL at provider p's name field (offset 4 + 22p),
    // unchecked: a name of 22 or more characters runs on into the next
    // provider's field, which hostile tests rely on.
    image_writer &provider_name(int p, std::string_view name);

    // Appends a trie record with the given area byte and child indices (one
    // per digit, 0 for none) and returns its index.
    uint32_t add_record(uint8_t area, const std::array<uint16_t, 10> &child = {});

    // Overwrites one field of an existing record.
    image_writer &set_area(uint32_t record, uint8_t area);
    image_writer &set_child(uint32_t record, int digit, uint16_t child);

    // Inserts a number (digits only) the way the compiler builds its trie:
    // the root is record 0, missing records are appended in the order the
    // path needs them, their area byte is 255, and the last record of the
    // path gets `area`. An existing number has its area byte replaced.
    image_writer &add_number(std::string_view digits, uint8_t area);

    // Raw edits for broken images.
    image_writer &poke(size_t offset, uint8_t value);
    image_writer &resize(size_t len);

    // Trie records held, counting a partial one at the end.
    uint32_t record_count() const;

    // The layout, the one place the tests spell it (on purpose rather than
    // taken from the program's constants, so that a wrong constant there
    // fails a test). Records of 21 bytes follow the fixed part, record i's
    // link for digit d at its bytes 1 + 2d; record_offset(n) is also the
    // length of an image of n records.
    static constexpr size_t trie_offset = 5892;
    static constexpr size_t record_size = 21;
    static size_t name_offset(int p) { return 4 + 22 * static_cast<size_t>(p); }
    static size_t timetable_offset(uint32_t k) { return 2820 + 48 * size_t{k}; }
    static size_t record_offset(size_t i) { return trie_offset + record_size * i; }
    static size_t link_offset(size_t i, int d) { return record_offset(i) + 1 + 2 * static_cast<size_t>(d); }
    // Whole records in the first `len` bytes of an image.
    static size_t records_in(size_t len) { return len > trie_offset ? (len - trie_offset) / record_size : 0; }
};

// One trie record by its area byte and its (digit, child index) links.
struct trie_record {
    uint8_t area;
    std::vector<std::pair<int, int>> children;
};

// The bytes of an image without names whose trie is exactly `records`, as
// a rule set with those records should compile to.
std::string layout_image(const std::vector<trie_record> &records);

// The bytes of an image holding the provider names given by provider number
// and the (number, area byte) pairs, inserted in that order by add_number.
std::string image_of(const std::vector<std::pair<std::string, uint8_t>> &numbers,
                     const std::map<int, std::string> &names = {});
