#include <cerrno>
#include <cstring>

#include "commands.h"
#include "compiler.h"
#include "messages.h"
#include "output.h"
#include "rule.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

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
        int p = lcr_provider_slot(node);
        if (p >= 0) {
            lcr_set_string(node, list->names[p], LCR_PROVIDER_NAME_MAX);
            providers++;
        }
    }
    if (providers != LCR_PROVIDER_COUNT)
        return false;
    // The children in the loader's order, so the tree is the one a load of
    // the built image gives.
    for (size_t i = 0; i < list->count; i++) {
        const tool_rule &r = list->rules[i];
        lcr_rule rule = {r.number, r.route, r.provider};
        if (!lcr_build_rule(routing, &current_tree, rule, lcr_child_order::route_number_provider))
            return false;
    }
    return true;
}

// The compiler writes area 64 for every rule with route -3; a rule read
// with another byte that also means route -3 gets its byte back.
void keep_stored_areas(const rule_list *list)
{
    for (size_t i = 0; i < list->count; i++) {
        const tool_rule &r = list->rules[i];
        uint32_t record;
        if (r.area != rule_area(&r) && trie_longest_rule(lcr_out_buf, lcr_out_len, r.number, &record))
            lcr_out_buf[lcr_record_offset(record)] = r.area;
    }
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

// The text reader refuses, with their line numbers, only the lines it
// cannot read and the values the compiler would take without a word but
// that would come back from the image as something else. Everything the
// compiler checks itself is left to it, and its messages and outcome are
// those of lcrmerge: a rule it drops (a character other than 0 to 9, a
// number given twice, no trie record left) and a rule set it refuses (an
// area byte without timetable) both leave the old image in place.
int compile_and_write(const char *text, const rule_list *list, const char *image)
{
    if (!build_tree(list)) {
        report(text, "out of memory");
        return EXIT_TROUBLE;
    }
    if (compile_lcr() != 0 || lcr_dropped_rules != 0)
        return EXIT_REJECTED;
    keep_stored_areas(list);
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
    // The sort keeps lines with the same number in text order, so the
    // compiler keeps the first of them.
    sort_rules(&list);
    status = compile_and_write(text_file_name(text), &list, image);
    kelmar_free_list(current_tree);
    current_tree = nullptr;
    rule_list_free(&list);
    return status;
}
