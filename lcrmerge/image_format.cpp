// SPDX-License-Identifier: MIT
#include "image_format.h"

int32_t route_to_area(int32_t route, int32_t provider_value)
{
    if (route == ROUTE_NO_TIMETABLE)
        return AREA_NO_TIMETABLE;
    if (route < ROUTE_NO_TIMETABLE)
        return 0;
    // Fixed routes 0 to 9 give 1 to 10. Larger routes are not refused here:
    // they give bytes that decode as something else or that the compiler's
    // validation rejects. The addition is done unsigned so that it wraps
    // instead of overflowing for routes near INT32_MAX.
    if (route >= 0)
        return static_cast<int32_t>(static_cast<uint32_t>(route) + 1u);
    // Route -2 or -1: providers 1 to 9 have their own timetables 11 to 19.
    if (provider_value >= 2 && provider_value <= 18 && provider_value % 2 == 0)
        return 10 + provider_value / 2;
    return 0;
}

int32_t area_to_route(uint32_t area)
{
    if (area == 0)
        return ROUTE_BY_PROVIDER;
    if (area <= 10)
        return static_cast<int32_t>(area) - 1;
    if (area <= 19)
        return ROUTE_BY_PROVIDER;
    return ROUTE_NO_TIMETABLE;
}

int32_t area_to_provider(uint32_t area)
{
    if (area >= 11 && area <= 19)
        return static_cast<int32_t>(area) - 10;
    return 0;
}
