// SPDX-License-Identifier: MIT
#include "tree_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tree_invariants.h"

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
    kelmar_free_list(*head);
    *head = nullptr;
}

void check_tree(lcr_node *head)
{
    const std::string fault = rule_tree_fault(head);
    require(fault.empty(), fault.c_str());
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
