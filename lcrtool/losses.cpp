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
    auto table = static_cast<unsigned>(k);
    uint8_t entry = written[0];
    if (k >= LCR_FIXED_TIMETABLES)
        snprintf(text, size, "timetable %u has non-zero bytes in %u of %u slots: a merge writes it as zeros", table,
                 differ, slots);
    else if (entry >= ROUTE_SLOT_BASE)
        snprintf(text, size, "timetable %u differs in %u of %u slots: a merge writes route %d in all of them", table,
                 differ, slots, entry - ROUTE_SLOT_BASE);
    else
        snprintf(text, size, "timetable %u differs in %u of %u slots: a merge writes provider %u in all of them",
                 table, differ, slots, entry / 2u);
    return true;
}

void area_loss(const char *number, uint8_t stored, int32_t route, uint8_t written, char *text, size_t size)
{
    snprintf(text, size, "%s has area byte %u, which reads as route %d: a merge writes it as %u", number, stored,
             static_cast<int>(route), written);
}
