// SPDX-License-Identifier: MIT
// Load, merge and compile, the whole lcrmerge pipeline but the files.
//
// Input: a flags byte (bit 0 picks the merge mode, bit 1 turns on an
// allocation failure), two bytes giving where the images split, two bytes
// naming the allocation of the loads and the merge that fails, then the
// two images. The target is linked with --wrap=malloc and the tests'
// wrap_malloc (tests/support) for that failure:
//   - a load whose allocation fails returns -1 and leaves its tree as it
//     was; a merge whose allocation fails either still gives the reference
//     result (the table of second-set keys is only a shortcut) or, in mode
//     2, reports -1 with a consistent tree holding only reference rules.
// When both load and the merge succeeds:
//   - the merge result is checked against a reference merge computed here
//     from the two loaded rule sets;
//   - the compiler must accept the merged rule set, and its output must load
//     again;
//   - the reloaded rules are the merged rules in trie order (ascending by
//     number), unless the merged numbers need more trie nodes than the
//     compiler's pool holds, in which case the reloaded rules are some of
//     the merged ones and the image is as large as the pool allows;
//   - the provider names survive the round trip.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "compiler.h"
#include "image_writer.h"
#include "loader.h"
#include "merge.h"
#include "tree_check.h"
#include "wrap_malloc.h"

namespace {

constexpr const char *emergency[] = {"110", "112", "19222"};

bool has_match(const rule &a, const std::vector<rule> &second)
{
    if (a.provider != 0)
        return false;
    for (const rule &b : second)
        if (a.number == b.number && a.route == b.route)
            return true;
    return false;
}

std::vector<rule> reference_merge(int mode, const std::vector<rule> &first, const std::vector<rule> &second)
{
    std::vector<rule> out;
    for (const rule &a : first) {
        bool keep;
        if (mode == 1)
            keep = has_match(a, second);
        else
            keep = std::find(std::begin(emergency), std::end(emergency), a.number) != std::end(emergency) ||
                   !has_match(a, second);
        if (keep)
            out.push_back(a);
    }
    if (mode == 2)
        for (const char *e : emergency)
            if (std::none_of(out.begin(), out.end(), [&](const rule &r) { return r.number == e; }))
                out.push_back({e, -2, 0});
    return out;
}

// Trie nodes the compiler needs for these numbers: one per distinct
// prefix, the empty one (the root) included.
size_t trie_nodes_needed(const std::vector<rule> &rules)
{
    std::set<std::string> prefixes{""};
    for (const rule &r : rules)
        for (size_t n = 1; n <= r.number->size(); n++)
            prefixes.insert(r.number->substr(0, n));
    return rules.empty() ? 0 : prefixes.size();
}

// Loads an image into a tree; a load that met the failing allocation must
// fail and leave the tree as it was.
bool load(const uint8_t *image, size_t len, lcr_node **head)
{
    const rule_set before = read_rule_set(*head);
    const bool failed_before = wrap_malloc_failed();
    int result = load_lcr_image(scratch_image(image, len), head);
    check_tree(*head);
    if (wrap_malloc_failed() && !failed_before)
        require(result == -1, "a load that ran out of memory succeeded");
    if (result != 0)
        require(read_rule_set(*head) == before, "a failed load changed the tree");
    return result == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    const int mode = (data[0] & 1) ? 2 : 1;
    const size_t rest = size - 5;
    const size_t split = (data[1] | data[2] << 8) % (rest + 1);
    const uint8_t *image1 = data + 5;
    const uint8_t *image2 = image1 + split;

    lcr_node *first, *second;
    make_tree(&first);
    make_tree(&second);
    wrap_malloc_fail_nth((data[0] & 2) ? (data[3] | data[4] << 8) : 0);
    if (!load(image1, split, &first) || !load(image2, rest - split, &second)) {
        wrap_malloc_disarm();
        drop_tree(&first);
        drop_tree(&second);
        return 0;
    }
    const rule_set loaded1 = read_rule_set(first);
    const rule_set loaded2 = read_rule_set(second);
    const std::vector<rule> expected_merge = reference_merge(mode, loaded1.rules, loaded2.rules);

    int merged_result = mode == 1 ? clear_routes(first, second) : clear_routes2(first, second);
    wrap_malloc_disarm();
    check_tree(first);
    require(read_rule_set(second) == loaded2, "merge changed the second set");
    const rule_set merged = read_rule_set(first);
    require(merged.providers == loaded1.providers, "merge changed the provider names");
    if (merged_result != 0) {
        require(wrap_malloc_failed() && mode == 2, "merge refused two loaded trees");
        for (const rule &r : merged.rules)
            require(std::find(expected_merge.begin(), expected_merge.end(), r) != expected_merge.end(),
                    "a merge that ran out of memory made up a rule");
        drop_tree(&first);
        drop_tree(&second);
        return 0;
    }
    require(merged.rules == expected_merge, "merge result differs from the reference");

    static uint8_t buf[LCR_IMAGE_MAX];
    lcr_image_out out = {buf, 0};
    static lcr_compile_scratch scratch;
    bool printed = false;
    uint32_t dropped;
    require(lcr_compile(lcr_find_sibling(first, NODE_ROUTING), &out, &scratch, {lcr_print_problem, &printed},
                        &dropped) == 0,
            "compiler refused a merged rule set");
    const size_t needed = trie_nodes_needed(merged.rules);
    // Two loaded sets hold no bad digit and no number twice, so a rule is
    // dropped only when the pool runs out. lcrmerge then writes nothing;
    // the image the compiler made all the same is still checked below.
    require((dropped != 0) == (needed > 499), "dropped rules do not match the pool");
    const size_t records = needed < 499 ? needed : 499;
    require(out.len == image_writer::record_offset(records), "image length does not match the trie");

    const std::vector<uint8_t> image(buf, buf + out.len);
    lcr_node *again;
    make_tree(&again);
    require(load_lcr_image(scratch_image(image.data(), image.size()), &again) == 0, "compiled image does not load");
    check_tree(again);
    const rule_set reloaded = read_rule_set(again);
    require(reloaded.providers == merged.providers, "provider names lost in the round trip");

    std::vector<rule> expected = merged.rules;
    std::sort(expected.begin(), expected.end());
    if (needed <= 499) {
        require(reloaded.rules == expected, "round trip changed the rules");
    } else {
        require(std::is_sorted(reloaded.rules.begin(), reloaded.rules.end()), "reloaded rules out of trie order");
        require(std::includes(expected.begin(), expected.end(), reloaded.rules.begin(), reloaded.rules.end()),
                "round trip of an oversized rule set made up rules");
    }

    drop_tree(&again);
    drop_tree(&first);
    drop_tree(&second);
    return 0;
}
