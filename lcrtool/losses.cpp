// SPDX-License-Identifier: MIT
#include "losses.h"

#include <cstdio>

#include "image_format.h"

bool timetable_loss(uint32_t k, const uint8_t *stored, const uint8_t *written, char *text, size_t size)
{
    unsigned differ = 0;
    for (uint32_t j = 0; j < LCR_TIME_SLOTS; j++)
        differ += stored[j] != written[j];
    if (differ == 0)
        return false;
    auto slots = static_cast<unsigned>(LCR_TIME_SLOTS);
    uint8_t entry = written[0];
    if (k >= LCR_FIXED_TIMETABLES)
        snprintf(text, size, "has non-zero bytes in %u of %u slots: a merge writes it as zeros", differ, slots);
    else if (entry >= ROUTE_SLOT_BASE)
        snprintf(text, size, "differs in %u of %u slots: a merge writes route %d in all of them", differ, slots,
                 entry - ROUTE_SLOT_BASE);
    else
        snprintf(text, size, "differs in %u of %u slots: a merge writes provider %u in all of them", differ, slots,
                 static_cast<unsigned>(lcr_value_provider(entry)));
    return true;
}

void area_loss(uint8_t stored, int32_t route, uint8_t written, char *text, size_t size)
{
    snprintf(text, size, "area byte %u, which reads as route %d: a merge writes it as %u", stored,
             static_cast<int>(route), written);
}
