// SPDX-License-Identifier: MIT
#include "image_writer.h"

#include <cstdlib>

namespace {

constexpr size_t time_slots = 48;

void put16(std::string &b, size_t off, uint16_t v)
{
    b.at(off) = static_cast<char>(v & 0xFF);
    b.at(off + 1) = static_cast<char>(v >> 8);
}

uint16_t get16(const std::string &b, size_t off)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(b.at(off)) | static_cast<uint8_t>(b.at(off + 1)) << 8);
}

// Entry of timetable k in every time slot: provider 0, routes 0 to 9 as
// 240 to 249, providers 1 to 9 as their provider values 2 to 18, else 0.
uint8_t timetable_entry(size_t k)
{
    if (k >= 1 && k <= 10)
        return static_cast<uint8_t>(239 + k);
    if (k >= 11 && k <= 19)
        return static_cast<uint8_t>(2 * (k - 10));
    return 0;
}

}  // namespace

image_writer::image_writer() : bytes(trie_offset, '\0')
{
    version(3);
    for (size_t k = 0; k < 64; k++)
        for (size_t j = 0; j < time_slots; j++)
            bytes[timetable_offset(k) + j] = static_cast<char>(timetable_entry(k));
}

image_writer &image_writer::version(uint32_t v)
{
    for (size_t i = 0; i < 4; i++)
        bytes.at(i) = static_cast<char>(v >> (8 * i));
    return *this;
}

image_writer &image_writer::provider_name(int p, std::string_view name)
{
    size_t off = name_offset(p);
    bytes.replace(off, name.size() + 1, std::string(name) + '\0');
    return *this;
}

uint32_t image_writer::record_count() const
{
    if (bytes.size() <= trie_offset)
        return 0;
    return static_cast<uint32_t>((bytes.size() - trie_offset + record_size - 1) / record_size);
}

uint32_t image_writer::add_record(uint8_t area, const std::array<uint16_t, 10> &child)
{
    uint32_t i = record_count();
    bytes.resize(record_offset(i + 1), '\0');
    set_area(i, area);
    for (int d = 0; d < 10; d++)
        set_child(i, d, child[d]);
    return i;
}

image_writer &image_writer::set_area(uint32_t record, uint8_t area)
{
    bytes.at(record_offset(record)) = static_cast<char>(area);
    return *this;
}

image_writer &image_writer::set_child(uint32_t record, int digit, uint16_t child)
{
    put16(bytes, link_offset(record, digit), child);
    return *this;
}

image_writer &image_writer::add_number(std::string_view digits, uint8_t area)
{
    if (record_count() == 0)
        add_record(255);
    uint32_t rec = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            abort();  // a broken fixture, not a case to test
        size_t field = link_offset(rec, c - '0');
        uint16_t next = get16(bytes, field);
        if (next == 0) {
            next = static_cast<uint16_t>(add_record(255));
            put16(bytes, field, next);
        }
        rec = next;
    }
    return set_area(rec, area);
}

image_writer &image_writer::poke(size_t offset, uint8_t value)
{
    bytes.at(offset) = static_cast<char>(value);
    return *this;
}

image_writer &image_writer::resize(size_t len)
{
    bytes.resize(len, '\0');
    return *this;
}

std::string layout_image(const std::vector<trie_record> &records)
{
    image_writer img;
    for (const trie_record &r : records)
        img.add_record(r.area);
    for (size_t i = 0; i < records.size(); i++)
        for (auto [digit, child] : records[i].children)
            img.set_child(static_cast<uint32_t>(i), digit, static_cast<uint16_t>(child));
    return img.bytes;
}

std::string image_of(const std::vector<std::pair<std::string, uint8_t>> &numbers,
                     const std::map<int, std::string> &names)
{
    image_writer img;
    for (const auto &[p, name] : names)
        img.provider_name(p, name);
    for (const auto &[digits, area] : numbers)
        img.add_number(digits, area);
    return img.bytes;
}
