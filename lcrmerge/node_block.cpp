// SPDX-License-Identifier: MIT
#include "node_block.h"

#include <cstdint>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define LCR_POISON_NODES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LCR_POISON_NODES 1
#endif
#endif
#ifdef LCR_POISON_NODES
#include <sanitizer/asan_interface.h>
#endif

namespace {

// Blocks of nodes taken by lcr_reserve_nodes. A node from the C library's
// malloc costs more than all the rest of the work for it, and a load makes
// four per rule, so a load takes the nodes of all its rules in one block.
// Each node still comes and goes on its own: a removed node is given back
// to its block at once, where the next creation finds it, and a block is
// returned to the C library once every node it handed out is back.
struct node_block {
    node_block *next;
    lcr_node *given_back;  // nodes handed out and given back, linked by `next`
    uint32_t size;         // nodes in the block
    uint32_t fresh;        // nodes from this one on were never handed out
    uint32_t in_use;       // nodes handed out and not given back
};
static_assert(sizeof(node_block) % alignof(lcr_node) == 0, "the nodes follow the header");

// The blocks in the order they were taken; spare nodes of the first come first.
node_block *blocks = nullptr;

lcr_node *nodes_of(node_block *b)
{
    return reinterpret_cast<lcr_node *>(b + 1);
}

// Under the address sanitizer a node that is not handed out may not be
// touched, as if it had been freed; the block's own code makes it usable
// again before it reads or hands it out.
void set_usable(void *at, size_t len, bool usable)
{
#ifdef LCR_POISON_NODES
    if (usable)
        ASAN_UNPOISON_MEMORY_REGION(at, len);
    else
        ASAN_POISON_MEMORY_REGION(at, len);
#else
    (void)at, (void)len, (void)usable;
#endif
}

}  // namespace

lcr_node *lcr_take_node()
{
    for (node_block *b = blocks; b; b = b->next) {
        lcr_node *node = b->given_back;
        if (node) {
            set_usable(node, sizeof *node, true);
            b->given_back = node->next;
        } else if (b->fresh < b->size) {
            node = nodes_of(b) + b->fresh++;
            set_usable(node, sizeof *node, true);
        } else {
            continue;
        }
        b->in_use++;
        return node;
    }
    return static_cast<lcr_node *>(malloc(sizeof(lcr_node)));
}

void lcr_give_back_node(lcr_node *node)
{
    auto at = reinterpret_cast<uintptr_t>(node);
    for (node_block **link = &blocks; *link; link = &(*link)->next) {
        node_block *b = *link;
        // Unsigned: a node below the block wraps to a large offset as well.
        if (at - reinterpret_cast<uintptr_t>(nodes_of(b)) >= b->size * sizeof(lcr_node))
            continue;
        if (--b->in_use == 0) {
            *link = b->next;
            set_usable(b, sizeof *b + b->size * sizeof(lcr_node), true);
            free(b);
            return;
        }
        node->next = b->given_back;
        b->given_back = node;
        set_usable(node, sizeof *node, false);
        return;
    }
    free(node);
}

bool lcr_reserve_nodes(size_t count)
{
    size_t spare = 0;
    for (const node_block *b = blocks; b; b = b->next)
        spare += b->size - b->in_use;
    if (count <= spare)
        return true;
    size_t more = count - spare;
    if (more > UINT32_MAX || more > (SIZE_MAX - sizeof(node_block)) / sizeof(lcr_node))
        return false;
    auto *b = static_cast<node_block *>(malloc(sizeof(node_block) + more * sizeof(lcr_node)));
    if (!b)
        return false;
    *b = {nullptr, nullptr, static_cast<uint32_t>(more), 0, 0};
    set_usable(nodes_of(b), more * sizeof(lcr_node), false);
    // Behind the others: their spare nodes are handed out first.
    node_block **link = &blocks;
    while (*link)
        link = &(*link)->next;
    *link = b;
    return true;
}
