// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "image_format.h"

namespace {

// The loader's test holds the area-byte table's rows at their edges.
TEST(AreaCodec, EncodesRoutesAndProviderValues)
{
    struct { int32_t route, provider_value, area; } cases[] = {
        {-3, 6, 64},   {-4, 6, 0},    {INT32_MIN, 0, 0},
        {0, 6, 1},     {9, 0, 10},    {10, 0, 11},   {19, 0, 20},  {63, 0, 64},  {70, 0, 71},
        {-2, 2, 11},   {-1, 18, 19},  {-2, 0, 0},    {-2, 3, 0},   {-2, 19, 0},
        {-2, 20, 0},   {-2, -2, 0},   {-1, -18, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(route_to_area(c.route, c.provider_value), c.area)
            << "route " << c.route << " provider value " << c.provider_value;
    // Routes near the top of the range wrap instead of overflowing.
    EXPECT_EQ(route_to_area(INT32_MAX, 0) & 0xFF, 0x00);
}

TEST(AreaCodec, RoundTripOfRules)
{
    for (int32_t p = 0; p <= 9; p++) {
        for (int32_t r = 0; r <= 9; r++) {
            uint32_t area = static_cast<uint32_t>(route_to_area(r, 2 * p)) & 0xFF;
            EXPECT_EQ(area_to_route(area), r);
            EXPECT_EQ(area_to_provider(area), 0);
        }
        for (int32_t r : {-2, -1}) {
            uint32_t area = static_cast<uint32_t>(route_to_area(r, 2 * p)) & 0xFF;
            EXPECT_EQ(area_to_route(area), -2);
            EXPECT_EQ(area_to_provider(area), p);
        }
        EXPECT_EQ(area_to_route(static_cast<uint32_t>(route_to_area(-3, 2 * p))), -3);
    }
}

TEST(ByteOrder, LittleEndianOnEveryHost)
{
    const uint8_t w[4] = {0x78, 0x56, 0x34, 0x12};
    uint8_t b[4] = {0, 0, 0x34, 0x12}, c[4] = {};
    put_le16(b, 0x5678);
    put_le32(c, 0x12345678);
    EXPECT_EQ(memcmp(b, w, 4), 0);
    EXPECT_EQ(memcmp(c, w, 4), 0);
    EXPECT_EQ(get_le16(w + 2), 0x1234);
    EXPECT_EQ(get_le32(w), 0x12345678u);
}

}  // namespace
