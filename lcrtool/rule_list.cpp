#include "rule_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "loader.h"
#include "messages.h"
#include "rule.h"

int rule_list_append(rule_list *list, const tool_rule *rule)
{
    if (list->count == list->capacity) {
        size_t capacity = list->capacity ? 2 * list->capacity : 64;
        void *grown = realloc(list->rules, capacity * sizeof *list->rules);
        if (!grown)
            return -1;
        list->rules = static_cast<tool_rule *>(grown);
        list->capacity = capacity;
    }
    list->rules[list->count++] = *rule;
    return 0;
}

void rule_list_free(rule_list *list)
{
    free(list->rules);
    list->rules = nullptr;
    list->count = list->capacity = 0;
}

static int compare_rules(const void *a, const void *b)
{
    const auto *x = static_cast<const tool_rule *>(a);
    const auto *y = static_cast<const tool_rule *>(b);
    int c = strcmp(x->number, y->number);
    if (c != 0)
        return c;
    return (x->line > y->line) - (x->line < y->line);
}

void sort_rules(rule_list *list)
{
    if (list->count > 1)
        qsort(list->rules, list->count, sizeof *list->rules, compare_rules);
}

uint8_t rule_area(const tool_rule *rule)
{
    return static_cast<uint8_t>(route_to_area(rule->route, 2 * rule->provider));
}

static void copy_text(char *dst, const char *src, size_t max_len)
{
    size_t len = strnlen(src, max_len);
    memcpy(dst, src, len);
    dst[len] = '\0';
}

// The rules with the compiler's defaults for a missing Route or Provider,
// since a dump shows what the image built from them holds. A Group without
// a Number is no rule.
static int collect_rules(const lcr_node *routing, rule_list *list)
{
    for (const lcr_node *node = routing->child; node; node = node->next) {
        int p = lcr_provider_slot(node);
        if (p >= 0) {
            copy_text(list->names[p], lcr_value_string(node), LCR_PROVIDER_NAME_MAX);
        } else if (lcr_is(node, NODE_GROUP)) {
            lcr_rule read = lcr_read_rule(node, ROUTE_BY_PROVIDER, 0);
            if (!read.number)
                continue;
            tool_rule rule = {{}, read.route, read.provider, 0};
            copy_text(rule.number, read.number, LCR_NUMBER_MAX_DIGITS);
            if (rule_list_append(list, &rule) != 0)
                return -1;
        }
    }
    return 0;
}

// The loader says only that it failed; its version word and a look at the
// file itself give the reason. The file is opened without blocking so that
// a FIFO with no writer cannot hang the report.
static void report_load_failure(const char *path)
{
    if (kelmar_lcr_version != 0) {
        report(path, "not a version-3 lcr image (version word %u)",
               static_cast<unsigned>(kelmar_lcr_version));
        return;
    }
    int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        report(path, "%s", strerror(errno));
        return;
    }
    struct stat st;
    char byte;
    if (read(fd, &byte, 1) < 0) {
        report(path, "%s", strerror(errno));
    } else if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
               st.st_size < static_cast<off_t>(LCR_OFF_TRIE)) {
        report(path, "too short for an lcr image (%lld bytes)", static_cast<long long>(st.st_size));
    } else {
        report(path, "not a valid version-3 lcr image");
    }
    close(fd);
}

int load_rule_list(const char *path, rule_list *list)
{
    *list = rule_list{};
    lcr_node *tree = nullptr;
    build_lcr_skeleton(&tree);
    lcr_node *routing = lcr_find_sibling(tree, NODE_ROUTING);
    int result = -1;
    if (!routing) {
        report(path, "out of memory");
    } else if (load_lcr_image(path, &tree) != 0) {
        report_load_failure(path);
    } else if (collect_rules(routing, list) != 0) {
        report(path, "out of memory");
        rule_list_free(list);
    } else {
        result = 0;
    }
    kelmar_free_list(tree);
    return result;
}
