// SPDX-License-Identifier: MIT
// lcrtool's commands on two images from elsewhere: check, merge, lookup,
// timetables and dump, run as the program runs them, on files.
//
// Input: a flags byte (bit 0 picks merge mode 2, bit 1 gives merge an
// OUTPUT, bit 2 gives lookup a time, bit 3 gives timetables --all), two
// bytes giving where the images split, a byte for lookup's time (hour: its
// upper six bits modulo 25; minute: 20 times its lower two, so that some
// times are bad), then the current image and the defaults image. What
// each command must do follows from lcrmerge's own library run on the
// same bytes:
//   - check is in trouble exactly when the loader refuses the current
//     image for its length or version; it finds something in an image
//     with joined or cut branches; an image it finds nothing in loads;
//   - merge would write exactly when lcrmerge's pipeline succeeds (both
//     images load, the merge mode returns 0, the compiler neither fails
//     nor drops a rule), and then prints a result line, and otherwise a
//     line that says why it refuses; with an OUTPUT it writes the very
//     bytes that pipeline compiles, and nothing when it refuses;
//   - lookup of the number of every rule of a loaded image, and of each
//     such number with one more digit, meets a rule; a lookup in an image
//     without rules meets none; a bad time or an image that does not load
//     is trouble;
//   - timetables draws every image that loads, and no other;
//   - dump of an image that loads builds, unless the compiler's pool
//     cannot take its rules, into one with the same rules (each with its
//     area byte) and the same bytes before the trie.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "compiler.h"
#include "loaded_image.h"
#include "loader.h"
#include "merge.h"
#include "messages.h"
#include "scratch_files.h"
#include "tree_check.h"

namespace {

void ignore_problem(void *, const lcr_problem &) {}

lcr_load_status load(const uint8_t *image, size_t len, lcr_node **head)
{
    make_tree(head);
    return lcr_load_image_bytes(image, static_cast<uint32_t>(std::min<size_t>(len, LCR_IMAGE_MAX)), head);
}

// The image lcrmerge writes for these inputs, empty when it writes none.
std::string lcrmerge_result(int mode, lcr_node *current, lcr_node *defaults)
{
    int merged = mode == 1 ? clear_routes(current, defaults) : clear_routes2(current, defaults);
    static uint8_t buf[LCR_IMAGE_MAX];
    static lcr_compile_scratch scratch;
    lcr_image_out out = {buf, 0};
    uint32_t dropped = 0;
    const lcr_node *routing = lcr_find_sibling(current, NODE_ROUTING);
    if (merged != 0 || lcr_compile(routing, &out, &scratch, {ignore_problem, nullptr}, &dropped) != 0 || dropped != 0)
        return {};
    return std::string(reinterpret_cast<const char *>(buf), out.len);
}

void check_lookup(const char *path, bool loaded, const rule_set &rules, const char *at)
{
    bool good_time = !at || (strcmp(at, "24") < 0 && at[3] < '6');
    std::vector<std::string> numbers;
    for (const rule &r : rules.rules) {
        numbers.push_back(*r.number);
        numbers.push_back(*r.number + static_cast<char>('0' + numbers.size() % 10));
    }
    if (numbers.empty())
        numbers.push_back("0");
    std::vector<char *> args;
    for (std::string &n : numbers)
        args.push_back(n.data());
    int status = lcrtool_lookup(path, args.data(), static_cast<int>(args.size()), at);
    int expected = !loaded || !good_time ? EXIT_TROUBLE : rules.rules.empty() ? EXIT_NO_RULE : EXIT_OK;
    require(status == expected, "lookup of the image's own numbers went wrong");
}

bool same_rules(const rule_list &a, const rule_list &b)
{
    for (size_t i = 0; i < a.count && a.count == b.count; i++)
        if (strcmp(a.rules[i].number, b.rules[i].number) != 0 || a.rules[i].route != b.rules[i].route ||
            a.rules[i].provider != b.rules[i].provider || a.rules[i].area != b.rules[i].area)
            return false;
    return a.count == b.count;
}

void check_dump(const char *path)
{
    stdout_to("dump");
    require(lcrtool_dump(path) == EXIT_OK, "dump of an image that loads failed");
    stdout_to(nullptr);
    scratch_remove("built");
    if (lcrtool_build(scratch_path("dump"), scratch_path("built")) != EXIT_OK)
        return;
    loaded_image img, built;
    require(load_image(path, &img) == 0 && load_image(scratch_path("built"), &built) == 0, "an image does not load");
    require(same_rules(img.list, built.list), "the dump of an image builds other rules");
    require(memcmp(img.bytes, built.bytes, LCR_OFF_TRIE) == 0, "the dump of an image builds another fixed part");
    loaded_image_free(&img);
    loaded_image_free(&built);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    stdout_to(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const int mode = (data[0] & 1) ? 2 : 1;
    const size_t rest = size - 4;
    const size_t split = (data[1] | data[2] << 8) % (rest + 1);
    const uint8_t *image1 = data + 4, *image2 = image1 + split;
    char *current = const_cast<char *>(scratch_write("current", image1, split));
    const char *defaults = scratch_write("defaults", image2, rest - split);
    char at[6];
    snprintf(at, sizeof at, "%02u:%02u", (data[3] >> 2) % 25u, (data[3] & 3) * 20u);

    lcr_node *first, *second;
    const lcr_load_status status1 = load(image1, split, &first);
    const lcr_load_status status2 = load(image2, rest - split, &second);
    const bool loaded = status1 == lcr_load_status::loaded;
    const rule_set rules1 = read_rule_set(first);

    const int checked = lcrtool_check(&current, 1);
    const bool refused = status1 == lcr_load_status::too_short || status1 == lcr_load_status::bad_version;
    const bool broken = status1 == lcr_load_status::joined || status1 == lcr_load_status::cut;
    require((checked == EXIT_TROUBLE) == refused, "check is in trouble other than when the loader refuses");
    require(!broken || checked == EXIT_FINDINGS, "check finds nothing in joined or cut branches");
    require(checked != EXIT_OK || loaded, "check finds nothing in an image the loader refuses");

    const std::string written =
        loaded && status2 == lcr_load_status::loaded ? lcrmerge_result(mode, first, second) : std::string();
    const bool with_output = data[0] & 2;
    scratch_remove("output");
    stdout_to("said");
    const int merged = lcrtool_merge(mode == 1 ? "1" : "2", current, defaults,
                                     with_output ? scratch_path("output") : nullptr);
    stdout_to(nullptr);
    require(merged == (written.empty() ? EXIT_REFUSED : EXIT_OK), "merge and lcrmerge disagree on writing");
    std::string said, output;
    const char *line = written.empty() ? "\nrefuse: " : "\nresult: ";
    require(scratch_read("said", &said) && ("\n" + said).find(line) != std::string::npos,
            "merge does not say why it refuses, or what it keeps");
    const bool wrote = scratch_read("output", &output);
    require(wrote == (with_output && !written.empty()), "merge wrote an image when it should not, or none");
    require(!wrote || output == written, "merge wrote other bytes than lcrmerge");

    check_lookup(current, loaded, rules1, (data[0] & 4) ? at : nullptr);
    const int drawn = lcrtool_timetables(current, data[0] & 8);
    require(drawn == (loaded ? EXIT_OK : EXIT_TROUBLE), "timetables of an image went wrong");
    if (loaded)
        check_dump(current);

    drop_tree(&first);
    drop_tree(&second);
    return 0;
}
