// SPDX-License-Identifier: MIT
// Layout of an lcr image and the area-byte codec shared by the loader and
// the compiler. Multi-byte fields are little-endian on every host, so they
// are read and written byte by byte.
#pragma once

#include <cstdint>
#include <cstring>

inline constexpr uint32_t LCR_VERSION = 3;
// Output buffer size and the most bytes a reader takes: room for 500 records.
inline constexpr uint32_t LCR_IMAGE_MAX = 16392;
// Records the compiler's pool holds; the largest image written is 16371 bytes.
inline constexpr uint32_t TRIE_MAX_NODES = 499;
inline constexpr uint8_t AREA_NONE = 255;
inline constexpr uint8_t AREA_NO_TIMETABLE = 64;
inline constexpr int32_t ROUTE_SLOT_BASE = 240;

// Route codes.
inline constexpr int32_t ROUTE_BY_PROVIDER = -2;  // the provider decides
inline constexpr int32_t ROUTE_UNSET = -1;        // encoded like -2
inline constexpr int32_t ROUTE_NO_TIMETABLE = -3;

// Section offsets and sizes.
inline constexpr uint32_t LCR_OFF_VERSION = 0;
inline constexpr uint32_t LCR_OFF_PROVIDER_NAMES = 4;
inline constexpr uint32_t LCR_PROVIDER_SLOT_SIZE = 11;
inline constexpr uint32_t LCR_PROVIDER_SLOTS = 240;  // provider values 0 to 239
inline constexpr uint32_t LCR_OFF_RESERVED_BLOCK = 2644;
inline constexpr uint32_t LCR_RESERVED_BLOCK_SIZE = 48;
inline constexpr uint32_t LCR_OFF_RESERVED_TABLE1 = 2692;
inline constexpr uint32_t LCR_OFF_RESERVED_TABLE2 = 2756;
inline constexpr uint32_t LCR_RESERVED_TABLE_SIZE = 64;
inline constexpr uint32_t LCR_OFF_TIMETABLES = 2820;
inline constexpr uint32_t LCR_TIMETABLES = 64;
inline constexpr uint32_t LCR_TIME_SLOTS = 48;
inline constexpr uint32_t LCR_OFF_TRIE = 5892;
inline constexpr uint32_t LCR_TRIE_RECORD_SIZE = 21;

// Providers 0 to 9 have a name field and a provider value each.
inline constexpr int LCR_PROVIDER_COUNT = 10;
// Provider p's name starts at slot 2p and may run on into slot 2p + 1.
inline constexpr uint32_t LCR_PROVIDER_NAME_MAX = 20;
// A trie record has a child link for each decimal digit.
inline constexpr uint32_t LCR_DIGITS = 10;
// A reader does not descend below this many digits.
inline constexpr uint32_t LCR_NUMBER_MAX_DIGITS = 20;
// Child index that a reader also takes as "no child".
inline constexpr uint16_t LCR_CHILD_NONE_ALT = 0xFFFF;

static_assert(LCR_OFF_PROVIDER_NAMES + LCR_PROVIDER_SLOTS * LCR_PROVIDER_SLOT_SIZE == LCR_OFF_RESERVED_BLOCK);
static_assert(LCR_OFF_TIMETABLES + LCR_TIMETABLES * LCR_TIME_SLOTS == LCR_OFF_TRIE);
static_assert(LCR_OFF_RESERVED_TABLE2 + LCR_RESERVED_TABLE_SIZE == LCR_OFF_TIMETABLES);
static_assert(LCR_OFF_TRIE + 500 * LCR_TRIE_RECORD_SIZE == LCR_IMAGE_MAX);

constexpr uint32_t lcr_record_offset(uint32_t record)
{
    return LCR_OFF_TRIE + LCR_TRIE_RECORD_SIZE * record;
}

// Provider p's name field: slots 2p and 2p + 1.
inline constexpr uint32_t LCR_PROVIDER_NAME_STRIDE = 2 * LCR_PROVIDER_SLOT_SIZE;

constexpr uint32_t lcr_provider_name_offset(uint32_t provider)
{
    return LCR_OFF_PROVIDER_NAMES + LCR_PROVIDER_NAME_STRIDE * provider;
}

// Timetable k, the one of area byte k: LCR_TIME_SLOTS bytes.
constexpr uint32_t lcr_timetable_offset(uint32_t k)
{
    return LCR_OFF_TIMETABLES + LCR_TIME_SLOTS * k;
}

// A section of the fixed part of an image (the bytes before the trie).
struct lcr_section {
    const char *name;
    uint32_t offset;
    uint32_t size;
};

// The provider name table and the reserved sections: the fixed part but
// the version word and the timetables. They lie together, from
// LCR_OTHER_BYTES_BEGIN to the timetables.
inline constexpr lcr_section LCR_OTHER_SECTIONS[] = {
    {"provider-names", LCR_OFF_PROVIDER_NAMES, LCR_PROVIDER_SLOTS * LCR_PROVIDER_SLOT_SIZE},
    {"reserved-block", LCR_OFF_RESERVED_BLOCK, LCR_RESERVED_BLOCK_SIZE},
    {"reserved-table-1", LCR_OFF_RESERVED_TABLE1, LCR_RESERVED_TABLE_SIZE},
    {"reserved-table-2", LCR_OFF_RESERVED_TABLE2, LCR_RESERVED_TABLE_SIZE},
};
inline constexpr uint32_t LCR_OTHER_BYTES_BEGIN = LCR_OFF_PROVIDER_NAMES;
inline constexpr uint32_t LCR_OTHER_BYTES_END = LCR_OFF_TIMETABLES;
inline constexpr uint32_t LCR_OTHER_BYTES = LCR_OTHER_BYTES_END - LCR_OTHER_BYTES_BEGIN;

inline uint16_t get_le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t get_le32(const uint8_t *p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void put_le16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void put_le32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The trie records. A record is its area byte, then the child link for
// each digit d, 16 bits at 1 + 2d. Readers and the writer go through the
// helpers below, which are the one place that knows this.

// Records of the trie held in full by the first `len` bytes of an image.
constexpr uint32_t lcr_records_in(uint32_t len)
{
    return len < LCR_OFF_TRIE ? 0 : (len - LCR_OFF_TRIE) / LCR_TRIE_RECORD_SIZE;
}

// Most records a read of LCR_IMAGE_MAX bytes holds.
inline constexpr uint32_t LCR_MAX_READ_RECORDS = lcr_records_in(LCR_IMAGE_MAX);

constexpr uint32_t lcr_link_offset(uint32_t d)
{
    return 1 + 2 * d;
}

inline uint8_t lcr_record_area(const uint8_t *image, uint32_t record)
{
    return image[lcr_record_offset(record)];
}

// The record that the child link of `record` for digit d names; 0 when
// there is no child, which both 0 and 0xFFFF stand for. Any other value
// names a record; one past the records read means the file was cut, and
// each walk decides what follows from that.
inline uint32_t lcr_record_link(const uint8_t *image, uint32_t record, uint32_t d)
{
    uint32_t c = get_le16(image + lcr_record_offset(record) + lcr_link_offset(d));
    return c == LCR_CHILD_NONE_ALT ? 0 : c;
}

inline void lcr_set_record_area(uint8_t *image, uint32_t record, uint8_t area)
{
    image[lcr_record_offset(record)] = area;
}

inline void lcr_set_record_link(uint8_t *image, uint32_t record, uint32_t d, uint16_t child)
{
    put_le16(image + lcr_record_offset(record) + lcr_link_offset(d), child);
}

// What a link that the walk below meets leads to.
enum class lcr_link_kind : uint8_t {
    record,    // a record wholly within the bytes read
    past,      // a record past the bytes read: the file was cut
    too_deep,  // anything: it leaves a record 20 digits deep, and no
               // reader follows it
};

// A link other than "no child", for `digit`, to record `to`, whose number
// has `depth` digits.
struct lcr_link {
    uint32_t digit;
    uint32_t to;
    uint32_t depth;
    lcr_link_kind kind;
};

// What the visitor of a walk wants done with the link it was shown.
enum class lcr_walk_step : uint8_t {
    follow,  // walk the record it leads to, which must be a record read
    pass,    // go on with the next link
    stop,    // end the walk
};

// The state of one walk, so that each step down takes only the record and
// its depth.
template <class Visit>
struct lcr_trie_walk {
    const uint8_t *image;
    uint32_t records;
    Visit &visit;

    bool below(uint32_t record, uint32_t depth)
    {
        // Most records are leaves with every link 0, seen here at one glance.
        static const uint8_t no_links[2 * LCR_DIGITS] = {};
        if (memcmp(image + lcr_record_offset(record) + lcr_link_offset(0), no_links, sizeof no_links) == 0)
            return true;
        for (uint32_t d = 0; d < LCR_DIGITS; d++) {
            uint32_t to = lcr_record_link(image, record, d);
            if (to == 0)
                continue;
            lcr_link_kind kind = depth == LCR_NUMBER_MAX_DIGITS ? lcr_link_kind::too_deep
                                 : to >= records                ? lcr_link_kind::past
                                                                : lcr_link_kind::record;
            lcr_walk_step step = visit(lcr_link{d, to, depth + 1, kind});
            if (step == lcr_walk_step::stop)
                return false;
            if (step == lcr_walk_step::follow && !below(to, depth + 1))
                return false;
        }
        return true;
    }
};

// Walks the trie of an image that holds `records` whole records as every
// reader does: from the root, record 0, depth first, digits in ascending
// order. It shows `visit` each link that is not "no child", as an
// lcr_link, and does what `visit` returns (an lcr_walk_step). The visitor
// decides what a link past the records read means, and whether a record
// reached a second time is walked again. The root itself is no link's: a
// caller that looks at it does so before the walk. False when `visit`
// stopped the walk.
template <class Visit>
bool lcr_walk_trie(const uint8_t *image, uint32_t records, Visit visit)
{
    return records == 0 || lcr_trie_walk<Visit>{image, records, visit}.below(0, 0);
}

// The codec's inverses. Provider p's provider value, 2p: the slot of its
// name and its entry in a timetable. Doubling wraps like the 32-bit
// arithmetic of the device.
constexpr int32_t lcr_provider_value(int32_t provider)
{
    return static_cast<int32_t>(static_cast<uint32_t>(provider) * 2u);
}

// The provider whose provider value is `value`, or -1 for a value that is
// no provider's: an odd one, or 20 and up.
constexpr int32_t lcr_value_provider(uint32_t value)
{
    return value % 2 == 0 && value / 2 < static_cast<uint32_t>(LCR_PROVIDER_COUNT) ? static_cast<int32_t>(value / 2) : -1;
}

// The route whose rule route_to_area turns into area byte `area` (1 and
// up), for messages about the byte: area - 1. Past area byte 10 no valid
// route gives it.
constexpr int32_t lcr_route_of_area(uint32_t area)
{
    return static_cast<int32_t>(area) - 1;
}

// Timetables 0 to 19 serve the area bytes that valid routes and providers
// give; the compiler writes the others as zeros.
inline constexpr uint32_t LCR_FIXED_TIMETABLES = 20;

// The entry the compiler writes into every time slot of timetable k: the
// route or provider that area byte k itself encodes (provider 0 for 0,
// routes 0 to 9 as 240 to 249 for 1 to 10, provider values 2 to 18 for 11
// to 19), and 0 for the timetables 20 to 63 that are not in use.
constexpr uint8_t lcr_compiled_timetable_entry(uint32_t k)
{
    if (k >= 1 && k <= 10)
        return static_cast<uint8_t>(ROUTE_SLOT_BASE + static_cast<int32_t>(k) - 1);
    if (k >= 11 && k < LCR_FIXED_TIMETABLES)
        return static_cast<uint8_t>(2 * (k - 10));
    return 0;
}

// Area byte of a rule; the caller stores the low 8 bits. `provider_value`
// is twice the provider number.
int32_t route_to_area(int32_t route, int32_t provider_value);
int32_t area_to_route(uint32_t area);
int32_t area_to_provider(uint32_t area);
