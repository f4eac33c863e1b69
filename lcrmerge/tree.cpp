// SPDX-License-Identifier: MIT
#include "tree.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "node_block.h"

// List heads of the first and second rule set; null until the skeleton is built.
lcr_node *current_tree = nullptr;
lcr_node *default_tree = nullptr;

namespace {

// The names a node points to instead of owning a copy.
// The names of a rule first: they are by far the most frequent.
constexpr const char *KNOWN_NAMES[] = {NODE_GROUP, NODE_ROUTE, NODE_NUMBER, NODE_PROVIDER, NODE_ROUTING, NODE_VERSION};

bool is_known(const char *name)
{
    for (const char *known : KNOWN_NAMES)
        if (name == known)
            return true;
    return false;
}

// The constant that spells `name`, or null when none does. Nearly every
// creation passes the constant itself, so the pointers are compared first.
const char *known_spelling(const char *name)
{
    if (is_known(name))
        return name;
    for (const char *known : KNOWN_NAMES)
        if (strcmp(name, known) == 0)
            return known;
    return nullptr;
}

// Whether `node` bears `name`. A known name is spelt by its constant alone,
// so a pointer comparison settles it; any other name is compared as text.
bool same_name(const lcr_node *node, const char *name, bool known)
{
    return known ? node->name == name : strcmp(node->name, name) == 0;
}

void free_name_and_node(lcr_node *node)
{
    if (!is_known(node->name))
        free(const_cast<char *>(node->name));
    lcr_give_back_node(node);
}

}  // namespace

bool lcr_name_is(const lcr_node *node, const char *name)
{
    return node->name == name || (!is_known(name) && strcmp(node->name, name) == 0);
}

lcr_node *lcr_find_sibling(lcr_node *first, const char *name)
{
    for (lcr_node *node = first; node; node = node->next)
        if (lcr_name_is(node, name))
            return node;
    return nullptr;
}

lcr_node *kelmar_alloc_node(lcr_node *parent, lcr_node **list_head, const char *name)
{
    if (!name) {
        fputs("kelmar_alloc_node(null)\n", stderr);
        return nullptr;
    }
    lcr_node *node = lcr_take_node();
    if (!node)
        return nullptr;
    node->name = known_spelling(name);
    bool known = node->name != nullptr;
    if (!known) {
        size_t len = strlen(name) + 1;
        char *copy = static_cast<char *>(malloc(len));
        if (!copy) {
            lcr_give_back_node(node);
            return nullptr;
        }
        memcpy(copy, name, len);
        node->name = copy;
    }
    node->parent = parent;
    node->next = node->prev = node->child = node->last_child = nullptr;
    node->index = 0;
    // The first word of the value area is cleared, so that a node read
    // before its creator writes it holds 0 or the empty string rather than
    // heap garbage; nothing reads a value beyond its integer or its NUL.
    memset(node->value, 0, sizeof(int32_t));

    lcr_node **first = parent ? &parent->child : list_head;
    lcr_node *last = parent ? parent->last_child : *list_head;
    // A top-level list has no node to keep its end; it holds a node or two.
    while (!parent && last && last->next)
        last = last->next;
    if (parent)
        parent->last_child = node;
    if (!*first) {
        *first = node;
        return node;
    }
    // Siblings since the nearest earlier namesake bear other names, so its
    // index plus one is the new node's.
    for (lcr_node *b = last; b; b = b->prev) {
        if (same_name(b, node->name, known)) {
            node->index = b->index + 1;
            break;
        }
    }
    last->next = node;
    node->prev = last;
    return node;
}

void kelmar_free_list(lcr_node *first)
{
    lcr_node *node = first;
    while (node) {
        lcr_node *next = node->next;
        if (node->child)
            kelmar_free_list(node->child);
        // Unhook from the parent as we go, so a parent whose first child was
        // handed in ends up with no children and no dangling link.
        if (node->parent) {
            node->parent->child = next;
            if (next)
                next->prev = nullptr;
            else
                node->parent->last_child = nullptr;
        }
        free_name_and_node(node);
        node = next;
    }
}

void lcr_unlink_node(lcr_node *node)
{
    if (node->child)
        kelmar_free_list(node->child);
    if (node->parent && node->parent->child == node)
        node->parent->child = node->next;
    if (node->parent && node->parent->last_child == node)
        node->parent->last_child = node->prev;
    if (node->next)
        node->next->prev = node->prev;
    if (node->prev)
        node->prev->next = node->next;
    free_name_and_node(node);
}

int kelmar_free_node(lcr_node *node)
{
    if (!node)
        return -1;
    bool known = is_known(node->name);
    for (lcr_node *later = node->next; later; later = later->next)
        if (same_name(later, node->name, known))
            later->index--;
    lcr_unlink_node(node);
    return 0;
}

lcr_node *lcr_build_skeleton_routing(lcr_node **list_head)
{
    lcr_node *routing = kelmar_alloc_node(nullptr, list_head, NODE_ROUTING);
    // Without a "Routing" node the children would land in the top-level
    // list; the loader and the merge then find no "Routing" and fail.
    if (!routing)
        return nullptr;
    bool whole = kelmar_alloc_node(routing, list_head, NODE_VERSION) != nullptr;
    for (int p = 0; whole && p < LCR_PROVIDER_COUNT; p++)
        whole = kelmar_alloc_node(routing, list_head, NODE_PROVIDER) != nullptr;
    if (whole)
        return routing;
    // A "Routing" node short of a "Provider" would load an image without
    // that provider's name and still compile. Taken out again, it leaves
    // the list as it was, so the loader finds no "Routing" and fails.
    if (*list_head == routing)
        *list_head = routing->next;
    kelmar_free_node(routing);
    return nullptr;
}

int build_lcr_skeleton(lcr_node **list_head)
{
    return lcr_build_skeleton_routing(list_head) ? 0 : -1;
}

int32_t lcr_value_int(const lcr_node *node)
{
    int32_t value;
    memcpy(&value, node->value, sizeof value);
    return value;
}

void lcr_set_int(lcr_node *node, int32_t value)
{
    memcpy(node->value, &value, sizeof value);
}

const char *lcr_value_string(const lcr_node *node)
{
    return node->value;
}

void lcr_set_string(lcr_node *node, const char *text, size_t max_len)
{
    if (max_len > LCR_VALUE_SIZE - 1)
        max_len = LCR_VALUE_SIZE - 1;
    size_t len = strnlen(text, max_len);
    memcpy(node->value, text, len);
    node->value[len] = '\0';
}
