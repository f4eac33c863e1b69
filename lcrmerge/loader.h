// SPDX-License-Identifier: MIT
// Reads an lcr image file into a configuration tree.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "rule.h"
#include "tree.h"

// Version word of the last image rejected for its version; 0 otherwise.
extern "C" LCR_EXPORT int32_t kelmar_lcr_version;

// Replaces the rules and provider names under the first "Routing" node of
// the list at `list_head` with those of the image at `path`, one rule per
// trie record with an area byte, in pre-order with ascending digits.
// 0 on success. -1, with the tree unchanged, when there is no "Routing"
// node, the file cannot be opened or read, its version word is not 3
// (kept in kelmar_lcr_version), it ends before the trie, the trie reaches
// a record twice within 20 digits of the root (joined branches or a cycle),
// a child link within those 20 digits leads to a record that does not lie
// wholly within the bytes read (the file was cut), or memory runs out
// before every rule is in place. Child links 0 and 0xFFFF are no child.
// At most LCR_IMAGE_MAX bytes are read, and bytes after a whole trie are
// ignored.
int load_lcr_image(const char *path, lcr_node **list_head);

// Why a load from bytes failed.
enum class lcr_load_status {
    loaded,
    no_routing,    // the list has no "Routing" node
    too_short,     // the bytes end before the version word or the trie
    bad_version,   // the version word is not 3 (kept in kelmar_lcr_version)
    joined,        // the trie reaches a record twice within 20 digits
    cut,           // a child link leads past the bytes read
    out_of_memory,
};

// Reads at most LCR_IMAGE_MAX bytes from `fd` into `buf`, going on after a
// short read to the end of the input, so a pipe is read whole. The length
// read, or -1 with errno set. The caller opens and closes `fd`, and may
// read on past what an image can hold.
ssize_t lcr_read_image_fd(int fd, uint8_t *buf);

// Told of each rule as the loader makes it, in order: the rule, and the
// area byte its trie record stores, of which the rule keeps only the route
// and provider it reads as.
struct lcr_loaded_rule_sink {
    void (*rule)(void *context, const lcr_rule &rule, uint8_t area);
    void *context;
};

// load_lcr_image on `len` bytes already read: the same outcome, with the
// reason for a failure. kelmar_lcr_version is set as load_lcr_image sets it.
// Each rule made is handed to `rules` too, when it is given.
lcr_load_status lcr_load_image_bytes(const uint8_t *bytes, uint32_t len, lcr_node **list_head,
                                     const lcr_loaded_rule_sink *rules = nullptr);
