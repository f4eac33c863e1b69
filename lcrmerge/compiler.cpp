#include "compiler.h"

uint8_t lcr_out_buf[LCR_IMAGE_MAX];
uint32_t lcr_out_len;
uint32_t lcr_out_pos;

int compile_lcr()
{
    return -1;  // not built yet
}

void lcr_put(uint32_t, const void *, uint32_t) {}
