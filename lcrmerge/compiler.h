// Compiles the first rule set (the list at `current_tree`) into an lcr image
// held in process-wide storage.
#pragma once

#include <cstdint>

#include "image_format.h"

// The image being written and its length (one past the highest byte written).
extern uint8_t lcr_out_buf[LCR_IMAGE_MAX];
extern uint32_t lcr_out_len;
// Write cursor of the serialiser.
extern uint32_t lcr_out_pos;
// Rules the last compile_lcr could not enter into the number trie (a
// character other than 0 to 9, a number given twice, no trie record left).
// Each was reported on stderr and is missing from the image; the image
// itself is still made, but a caller must not pass it off as the rule set.
extern uint32_t lcr_dropped_rules;

// 0 on success with the image in lcr_out_buf; -1 on failure. Errors in the
// rule set are reported on stderr. Without a "Routing" node nothing is
// touched, lcr_dropped_rules included; otherwise lcr_dropped_rules counts
// afresh. After a failed validation lcr_out_len is 0 and the buffer zero.
// A return of 0 with lcr_dropped_rules above 0 is an image short of rules.
int compile_lcr();

// Copies len bytes to lcr_out_buf at pos and raises lcr_out_len to cover
// them; the cursor is left alone. Bytes that would pass LCR_IMAGE_MAX are
// dropped.
void lcr_put(uint32_t pos, const void *src, uint32_t len);
