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

// 0 on success with the image in lcr_out_buf; -1 on failure.
int compile_lcr();

void lcr_put(uint32_t pos, const void *src, uint32_t len);
