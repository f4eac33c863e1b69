// SPDX-License-Identifier: MIT
// The words for what a merge does not keep of an image: check foresees
// these losses in one image, merge finds them in the image it compiled.
#pragma once

#include <cstddef>
#include <cstdint>

// Timetable k as an image stores it (`stored`) against the one a merge
// writes (`written`, the same answer in every slot): false when they are
// equal; otherwise true, with the words that follow "timetable 13 " in
// `text`, such as "differs in 20 of 48 slots: a merge writes provider 3 in
// all of them".
bool timetable_loss(uint32_t k, const uint8_t *stored, const uint8_t *written, char *text, size_t size);

// A rule's area byte as stored, which reads as `route`, against the one a
// merge writes: "area byte 30, which reads as route -3: a merge writes it
// as 64".
void area_loss(uint8_t stored, int32_t route, uint8_t written, char *text, size_t size);
