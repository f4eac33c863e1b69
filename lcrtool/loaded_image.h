// SPDX-License-Identifier: MIT
// An image as lcrtool reads it: the bytes of one read, checked by the
// project's loader, and the rule set the loader makes of those same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_format.h"
#include "loader.h"
#include "rule_list.h"

struct loaded_image {
    uint8_t *bytes;  // malloc'd, LCR_IMAGE_MAX bytes, `len` of them read
    uint32_t len;
    rule_list list;  // in the loader's order, each rule with its stored area byte
};

// The name messages use for an input path: "-" is standard input.
const char *input_name(const char *path);

// Reads the image at `path` once ("-" for standard input; a pipe or a FIFO
// too) and loads it with the project's loader. On failure reports the file
// and the reason and returns -1; `img` then holds nothing to free.
int load_image(const char *path, loaded_image *img);

// The two steps of load_image, for a caller that judges the outcome itself.
// read_image takes the bytes a reader takes and reports its failure as
// load_image does. With `past` it also learns what follows them: the bytes
// left of a regular file, or for other input, which may never end,
// PAST_UNKNOWN when there is one more byte.
inline constexpr uint64_t PAST_UNKNOWN = UINT64_MAX;
int read_image(const char *path, loaded_image *img, uint64_t *past);
// Loads the bytes read into img->list; reports nothing. With `tree`, a
// loaded rule set is also kept as the loader made it, in the list at
// *tree, for the caller to free with kelmar_free_list; *tree is null
// otherwise.
lcr_load_status load_read_image(loaded_image *img, lcr_node **tree = nullptr);
// Why a load of the bytes in `img` failed, without the file's name, into
// `text`: the words of load_image's message.
void load_failure_reason(lcr_load_status status, const loaded_image *img, char *text, size_t size);
// The message for a load of the bytes in `img` that failed, as load_image
// gives it.
void report_load_failure(const char *path, lcr_load_status status, const loaded_image *img);
void loaded_image_free(loaded_image *img);

// Fills `fixed` (LCR_OFF_TRIE bytes) with what the compiler writes before
// the trie for the names of `list`.
void fixed_part_of_names(const rule_list *list, uint8_t *fixed);

// Length of the longest prefix of `number` whose trie record in the image
// `bytes` (`len` of them read) carries an area byte, and that record; 0
// when there is none. The walk follows child links as the loader does (0,
// 0xFFFF and records past the bytes read are no child), never takes the
// root's area byte, and stops 20 digits deep. `number` holds digits only.
size_t trie_longest_rule(const uint8_t *bytes, uint32_t len, const char *number, uint32_t *record);
