// Reads an lcr image file into a configuration tree.
#pragma once

#include <cstdint>

#include "tree.h"

// Version word of the last image rejected for its version; 0 otherwise.
extern "C" LCR_EXPORT int32_t kelmar_lcr_version;

// Replaces the rules and provider names under the first "Routing" node of
// the list at `list_head` with those of the image at `path`. 0 on success;
// -1 on failure, with the tree unchanged.
int load_lcr_image(const char *path, lcr_node **list_head);
