// SPDX-License-Identifier: MIT
// The worked example of the two merge modes as image files, for the tests
// that run the lcrmerge program. Area bytes: 0 = provider 0, 3 = route 2,
// 13 = provider 3, 2 = route 1, 64 = no timetable. A merged image holds the
// rules in the order the loader read them (ascending digits), then added ones.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "image_writer.h"

// An image with providers 1 and 3 named and the given (number, area) rules.
inline std::string merge_image(const std::vector<std::pair<std::string, uint8_t>> &rules)
{
    return image_of(rules, {{1, "Fernruf"}, {3, "Sparwahl"}});
}

inline const std::string FIRST = merge_image({{"0301", 3}, {"0302", 13}, {"110", 0}, {"0900", 64}});
inline const std::string SECOND = merge_image({{"0301", 3}, {"0302", 13}, {"110", 0}, {"0800", 2}});
inline const std::string MODE1 = merge_image({{"0301", 3}, {"110", 0}});
inline const std::string MODE2 = merge_image({{"0302", 13}, {"0900", 64}, {"110", 0}, {"112", 0}, {"19222", 0}});

// What an output file holds before a run that must leave it alone.
inline const std::string OLD = "old output bytes\n";
