#include <cerrno>
#include <cstring>

#include "commands.h"
#include "compiler.h"
#include "messages.h"
#include "output.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

// Two rules for one number would leave the compiler to drop the later one;
// here both lines are named instead. `list` is sorted.
bool report_duplicates(const char *file, const rule_list *list)
{
    bool found = false;
    const tool_rule *first = list->rules;  // first rule of the current number
    for (size_t i = 1; i < list->count; i++) {
        const tool_rule *rule = &list->rules[i];
        if (strcmp(first->number, rule->number) != 0) {
            first = rule;
            continue;
        }
        report_line(file, rule->line, "number %s already given on line %u", rule->number,
                    static_cast<unsigned>(first->line));
        found = true;
    }
    return found;
}

// Trie records the compiler takes for the sorted, distinct numbers of
// `list`: the root, then one per digit that a number does not share with
// the number before it. Past TRIE_MAX_NODES the compiler would drop rules.
size_t trie_records_needed(const rule_list *list)
{
    size_t records = list->count ? 1 : 0;
    const char *prev = "";
    for (size_t i = 0; i < list->count; i++) {
        const char *number = list->rules[i].number;
        size_t shared = 0;
        while (prev[shared] && prev[shared] == number[shared])
            shared++;
        records += strlen(number) - shared;
        prev = number;
    }
    return records;
}

bool append_group(lcr_node *routing, const tool_rule *rule)
{
    lcr_node *group = kelmar_alloc_node(routing, &current_tree, NODE_GROUP);
    lcr_node *route = group ? kelmar_alloc_node(group, &current_tree, NODE_ROUTE) : nullptr;
    lcr_node *number = route ? kelmar_alloc_node(group, &current_tree, NODE_NUMBER) : nullptr;
    lcr_node *provider = number ? kelmar_alloc_node(group, &current_tree, NODE_PROVIDER) : nullptr;
    if (!provider)
        return false;
    lcr_set_int(route, rule->route);
    lcr_set_string(number, rule->number, LCR_NUMBER_MAX_DIGITS);
    lcr_set_int(provider, rule->provider);
    return true;
}

// Makes `current_tree` the rule set of `list`: the skeleton, the ten names,
// one Group per rule in the list's order.
bool build_tree(const rule_list *list)
{
    build_lcr_skeleton(&current_tree);
    lcr_node *routing = lcr_find_sibling(current_tree, NODE_ROUTING);
    if (!routing)
        return false;
    int providers = 0;
    for (lcr_node *node = routing->child; node; node = node->next) {
        if (lcr_name_is(node, NODE_PROVIDER) && node->index < LCR_PROVIDER_COUNT) {
            lcr_set_string(node, list->names[node->index], LCR_PROVIDER_NAME_MAX);
            providers++;
        }
    }
    if (providers != LCR_PROVIDER_COUNT)
        return false;
    for (size_t i = 0; i < list->count; i++)
        if (!append_group(routing, &list->rules[i]))
            return false;
    return true;
}

// Replaces the file the way lcrmerge replaces its output: atomically where
// it can, so a failed write leaves the old image in place.
int write_image(const char *path)
{
    errno = 0;
    if (write_lcr_output(path, lcr_out_buf, lcr_out_len) == 0)
        return EXIT_OK;
    report(path, "%s", errno ? strerror(errno) : "cannot write the image");
    return EXIT_TROUBLE;
}

int compile_and_write(const char *text, const rule_list *list, const char *image)
{
    if (report_duplicates(text, list))
        return EXIT_REJECTED;
    size_t records = trie_records_needed(list);
    if (records > TRIE_MAX_NODES) {
        report(text, "the rules need %zu trie records; an image holds at most %u", records,
               static_cast<unsigned>(TRIE_MAX_NODES));
        return EXIT_REJECTED;
    }
    if (!build_tree(list)) {
        report(text, "out of memory");
        return EXIT_TROUBLE;
    }
    // The compiler prints its own errors, as it does for lcrmerge.
    if (compile_lcr() != 0)
        return EXIT_REJECTED;
    return write_image(image);
}

}  // namespace

int lcrtool_build(const char *text, const char *image)
{
    rule_list list;
    int status = read_rule_text(text, &list);
    if (status != EXIT_OK)
        return status;
    // Rules go in by number, the order the loader gives them back, so an
    // image built from a dump of a built image has the very same bytes.
    sort_rules(&list);
    status = compile_and_write(text_file_name(text), &list, image);
    kelmar_free_list(current_tree);
    current_tree = nullptr;
    rule_list_free(&list);
    return status;
}
