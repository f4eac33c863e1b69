// Compiles a rule set into an lcr image: lcr_compile for any caller on the
// tree and buffer it hands in, compile_lcr for the driver on the first rule
// set (the list at `current_tree`) and the process-wide output buffer.
#pragma once

#include <cstdint>

#include "image_format.h"
#include "tree.h"

// An image being written: a buffer of LCR_IMAGE_MAX bytes and its length,
// one past the highest byte written.
struct lcr_image_out {
    uint8_t *buf;
    uint32_t len;
};

// Compiles the rules and provider names under `routing` into `out`. Errors
// in the rule set are reported on stderr. 0 with the image in `out`; -1
// when validation fails, with out->len 0 and the buffer zero. *dropped
// counts the rules that did not go into the number trie (a character other
// than 0 to 9, a number given twice, no trie record left): each was
// reported and is missing from the image, which is still made, but a caller
// must not pass it off as the rule set.
int lcr_compile(const lcr_node *routing, lcr_image_out *out, uint32_t *dropped);

// The driver's image and its length, and the rules compile_lcr dropped.
extern uint8_t lcr_out_buf[LCR_IMAGE_MAX];
extern uint32_t lcr_out_len;
extern uint32_t lcr_dropped_rules;

// lcr_compile of the "Routing" node at `current_tree` into lcr_out_buf,
// lcr_out_len and lcr_dropped_rules. -1 without a "Routing" node, with
// those three as they were.
int compile_lcr();

// Copies len bytes to out->buf at pos and raises out->len to cover them.
// Bytes that would pass LCR_IMAGE_MAX are dropped.
void lcr_put(lcr_image_out *out, uint32_t pos, const void *src, uint32_t len);
