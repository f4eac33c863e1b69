// SPDX-License-Identifier: MIT
// Where the nodes of the configuration tree come from: blocks of nodes taken
// for a load, else one malloc per node. Only tree.cpp creates and removes
// nodes; the loader reserves a block before it creates a load's rules.
#pragma once

#include <cstddef>

#include "tree.h"

// Takes memory for `count` node creations in one block. The contract: the
// next `count` creations of nodes that bear one of the NODE_ names, with no
// node removed in between, cannot run out of memory and make no call to
// malloc of their own. (A removal may hand a block back to the C library
// and its spare nodes with it; a name of another spelling is still copied
// with malloc.) Nodes removed earlier count towards them. false, with
// nothing taken, when memory runs out.
bool lcr_reserve_nodes(size_t count);

// A node for kelmar_alloc_node: a spare one from a block, else one of its
// own from the C library; null when memory ran out. Its fields are unset.
lcr_node *lcr_take_node();
// Gives a removed node back to its block, or to the C library.
void lcr_give_back_node(lcr_node *node);
