#include <cstdio>
#include <cstring>

#include "commands.h"
#include "messages.h"
#include "rule_list.h"
#include "text_format.h"

namespace {

// Lines of the difference, tab-separated like the dump:
//   provider  P  NAME_IN_A  NAME_IN_B
//   -  rule only in A (number, route, provider, area)
//   +  rule only in B
//   !  NUMBER  ROUTE_A  PROVIDER_A  ROUTE_B  PROVIDER_B
void print_name_change(int provider, const char *a, const char *b)
{
    fprintf(stdout, "provider\t%d\t", provider);
    print_escaped_name(stdout, a);
    fputc('\t', stdout);
    print_escaped_name(stdout, b);
    fputc('\n', stdout);
}

bool compare_names(const rule_list *a, const rule_list *b)
{
    bool differ = false;
    for (int p = 0; p < LCR_PROVIDER_COUNT; p++) {
        if (strcmp(a->names[p], b->names[p]) == 0)
            continue;
        print_name_change(p, a->names[p], b->names[p]);
        differ = true;
    }
    return differ;
}

// A loaded image holds each number once (one trie path per number), so the
// number is the key. Both lists are sorted and walked side by side.
bool compare_rules(const rule_list *a, const rule_list *b)
{
    bool differ = false;
    size_t i = 0, j = 0;
    while (i < a->count || j < b->count) {
        int c = i == a->count ? 1 : j == b->count ? -1 : strcmp(a->rules[i].number, b->rules[j].number);
        if (c < 0) {
            fputs("-\t", stdout);
            print_rule_line(stdout, &a->rules[i++]);
            differ = true;
        } else if (c > 0) {
            fputs("+\t", stdout);
            print_rule_line(stdout, &b->rules[j++]);
            differ = true;
        } else {
            const tool_rule *x = &a->rules[i++], *y = &b->rules[j++];
            if (x->route == y->route && x->provider == y->provider)
                continue;
            printf("!\t%s\t%d\t%d\t%d\t%d\n", x->number, static_cast<int>(x->route),
                   static_cast<int>(x->provider), static_cast<int>(y->route), static_cast<int>(y->provider));
            differ = true;
        }
    }
    return differ;
}

}  // namespace

int lcrtool_diff(const char *image_a, const char *image_b)
{
    loaded_image img_a, img_b;
    // Both files are tried, so that one run names every file in trouble.
    bool ok_a = load_image(image_a, &img_a) == 0;
    bool ok_b = load_image(image_b, &img_b) == 0;
    rule_list &a = img_a.list, &b = img_b.list;
    int status = EXIT_TROUBLE;
    if (ok_a && ok_b) {
        sort_rules(&a);
        sort_rules(&b);
        bool names_differ = compare_names(&a, &b);
        bool rules_differ = compare_rules(&a, &b);
        status = names_differ || rules_differ ? EXIT_DIFFERENT : EXIT_OK;
        if (finish_output() != EXIT_OK)
            status = EXIT_TROUBLE;
    }
    loaded_image_free(&img_a);
    loaded_image_free(&img_b);
    return status;
}
