#include "tree_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void check_siblings(lcr_node *parent, lcr_node *first)
{
    lcr_node *prev = nullptr;
    for (lcr_node *node = first; node; node = node->next) {
        require(node->prev == prev, "prev link does not match next link");
        require(node->parent == parent, "node hangs under the wrong parent");
        require(node->name != nullptr, "node without a name");
        int32_t earlier = 0;
        for (lcr_node *b = first; b != node; b = b->next)
            if (strcmp(b->name, node->name) == 0)
                earlier++;
        require(node->index == earlier, "index does not count the earlier namesakes");
        check_siblings(node, node->child);
        prev = node;
    }
}

lcr_node *routing_of(lcr_node *head)
{
    return lcr_find_sibling(head, NODE_ROUTING);
}

}  // namespace

lcr_node *make_tree(lcr_node **head)
{
    *head = nullptr;
    build_lcr_skeleton(head);
    require(*head != nullptr, "skeleton not built");
    // Provider names are written by a load; until then they must read as
    // strings all the same.
    for (lcr_node *c = (*head)->child; c; c = c->next)
        if (lcr_name_is(c, NODE_PROVIDER))
            lcr_set_string(c, "", 0);
    return *head;
}

void drop_tree(lcr_node **head)
{
    while (lcr_node *node = *head) {
        *head = node->next;
        if (node->next)
            node->next->prev = nullptr;
        node->next = nullptr;
        kelmar_free_node(node);
    }
}

rule_set read_rule_set(lcr_node *head)
{
    rule_set set;
    set.providers.assign(LCR_PROVIDER_COUNT, "");
    lcr_node *routing = routing_of(head);
    if (!routing)
        return set;
    for (lcr_node *c = routing->child; c; c = c->next) {
        if (lcr_name_is(c, NODE_PROVIDER) && c->index >= 0 && c->index < LCR_PROVIDER_COUNT) {
            set.providers[static_cast<size_t>(c->index)] = lcr_value_string(c);
            continue;
        }
        if (!lcr_name_is(c, NODE_GROUP))
            continue;
        rule r{"", 1234, 0};
        for (lcr_node *k = c->child; k; k = k->next) {
            if (lcr_name_is(k, NODE_NUMBER))
                r.number = lcr_value_string(k);
            else if (lcr_name_is(k, NODE_ROUTE))
                r.route = lcr_value_int(k);
            else if (lcr_name_is(k, NODE_PROVIDER))
                r.provider = lcr_value_int(k);
        }
        set.rules.push_back(r);
    }
    return set;
}

void check_tree(lcr_node *head)
{
    check_siblings(nullptr, head);
    lcr_node *routing = routing_of(head);
    require(routing != nullptr, "no Routing node");
    int versions = 0, providers = 0;
    for (lcr_node *c = routing->child; c; c = c->next) {
        if (lcr_name_is(c, NODE_VERSION)) {
            versions++;
        } else if (lcr_name_is(c, NODE_PROVIDER)) {
            providers++;
            require(memchr(c->value, '\0', LCR_VALUE_SIZE) != nullptr, "provider name without NUL");
            require(strlen(c->value) <= 20, "provider name longer than 20 characters");
        } else if (lcr_name_is(c, NODE_GROUP)) {
            int route = 0, number = 0, provider = 0, other = 0;
            for (lcr_node *k = c->child; k; k = k->next) {
                if (lcr_name_is(k, NODE_ROUTE))
                    route++;
                else if (lcr_name_is(k, NODE_NUMBER))
                    number++;
                else if (lcr_name_is(k, NODE_PROVIDER))
                    provider++;
                else
                    other++;
                require(k->child == nullptr, "rule child with children");
            }
            require(route == 1 && number == 1 && provider == 1 && other == 0,
                    "rule without exactly one Route, Number and Provider");
        } else {
            require(false, "unexpected child of Routing");
        }
    }
    require(versions == 1 && providers == LCR_PROVIDER_COUNT, "skeleton incomplete");
}

const char *scratch_image(const uint8_t *data, size_t len)
{
    static char path[64];
    if (!path[0]) {
        strcpy(path, "/tmp/lcr-fuzz-XXXXXX");
        int fd = mkstemp(path);
        require(fd >= 0, "cannot make a scratch file");
        close(fd);
        atexit([] { unlink(path); });
    }
    int fd = open(path, O_WRONLY | O_TRUNC);
    require(fd >= 0, "cannot open the scratch file");
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, data + done, len - done);
        require(n > 0, "cannot write the scratch file");
        done += static_cast<size_t>(n);
    }
    close(fd);
    return path;
}
