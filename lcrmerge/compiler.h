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

// 0 on success with the image in lcr_out_buf; -1 on failure. Errors in the
// rule set are reported on stderr. Without a "Routing" node nothing is
// touched; after a failed validation lcr_out_len is 0 and the buffer zero.
int compile_lcr();

// Copies len bytes to lcr_out_buf at pos and raises lcr_out_len to cover
// them; the cursor is left alone. Bytes that would pass LCR_IMAGE_MAX are
// dropped.
void lcr_put(uint32_t pos, const void *src, uint32_t len);
