// SPDX-License-Identifier: MIT
// Writes the seed corpora of the fuzz targets: lcr images made by the
// compiler and by the test image writer (well-formed, short, long, cyclic,
// joined, every area byte), image pairs for the merge and lcrtool targets,
// texts for lcrtool's reader (some of them as lcrtool dumps), and
// argument lists for the burnimg option scan.
//
//   make_corpus DIR    writes DIR/lcr_load, DIR/lcr_merge, DIR/burnimg_options,
//                      DIR/lcrtool_image, DIR/lcrtool_text
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "compiler.h"
#include "image_writer.h"
#include "merge.h"
#include "tree_check.h"

namespace {

std::string out_dir;

void put(const std::string &target, const std::string &name, const std::string &bytes)
{
    std::string dir = out_dir + "/" + target;
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
        perror(path.c_str());
        exit(1);
    }
}

struct seed_rule {
    const char *number;
    int32_t route;
    int32_t provider;
};

// Compiles a rule set with the product's own compiler.
std::string compiled(const std::vector<seed_rule> &rules, const std::vector<std::string> &names = {})
{
    lcr_node *head;
    lcr_node *routing = make_tree(&head);
    for (lcr_node *c = routing->child; c; c = c->next)
        if (lcr_name_is(c, NODE_PROVIDER) && static_cast<size_t>(c->index) < names.size())
            lcr_set_string(c, names[static_cast<size_t>(c->index)].c_str(), 20);
    for (const seed_rule &r : rules)
        add_rule(routing, &head, r.number, r.route, r.provider);
    uint8_t buf[LCR_IMAGE_MAX];
    lcr_image_out out = {buf, 0};
    static lcr_compile_scratch scratch;
    bool printed = false;
    uint32_t dropped;
    if (lcr_compile(routing, &out, &scratch, {lcr_print_problem, &printed}, &dropped) != 0) {
        fputs("make_corpus: a seed rule set does not compile\n", stderr);
        exit(1);
    }
    drop_tree(&head);
    return std::string(reinterpret_cast<const char *>(buf), out.len);
}

// A rule set that needs more nodes than the compiler's pool, compiled: the
// rules that fit.
std::string full_pool()
{
    std::vector<std::string> many_numbers;
    for (int i = 0; i < 300; i++)
        many_numbers.push_back(std::to_string(1000 + 7 * i));
    std::vector<seed_rule> many;
    for (const auto &n : many_numbers)
        many.push_back({n.c_str(), static_cast<int32_t>(n.size() % 10), 0});
    return compiled(many);
}

// Merge input: flags (mode, allocation failure on), split point, the
// allocation to fail, first image, second image.
std::string pair(int mode, const std::string &a, const std::string &b, unsigned fail_at = 0)
{
    std::string s;
    s += static_cast<char>((mode == 2 ? 1 : 0) | (fail_at ? 2 : 0));
    s += static_cast<char>(a.size() & 0xFF);
    s += static_cast<char>(a.size() >> 8);
    s += static_cast<char>(fail_at & 0xFF);
    s += static_cast<char>(fail_at >> 8);
    return s + a + b;
}

std::string args(const std::vector<std::string> &words)
{
    std::string s;
    for (const auto &w : words)
        s += w + '\0';
    return s;
}

void lcr_seeds()
{
    const std::string example = compiled({{"12", 3, 0}, {"19", -2, 2}}, {"Telco", "Ten chars!", "Eleven char", "Twenty characters!!!"});
    put("lcr_load", "worked-example", example);
    put("lcr_load", "empty-rule-set", compiled({}));
    put("lcr_load", "route-kinds",
        compiled({{"0301", 2, 0}, {"0302", -2, 3}, {"110", -2, 0}, {"0900", -3, 0}, {"0800", 9, 0},
                  {"01", -1, 9}, {"00491", 0, 0}},
                 {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}));
    put("lcr_load", "twenty-digits", compiled({{"12345678901234567890", 1, 0}, {"123456789012345678901", 2, 0}}));
    put("lcr_load", "truncated-version", example.substr(0, 3));
    put("lcr_load", "version-only", example.substr(0, 4));
    put("lcr_load", "short-fixed-part", example.substr(0, 5891));
    put("lcr_load", "partial-record", example.substr(0, example.size() - 5));
    put("lcr_load", "version-4", image_writer().version(4).add_number("12", 4).bytes);

    // One rule per area byte value, 000 to 255.
    image_writer every_area;
    for (int a = 0; a < 256; a++) {
        char number[4];
        snprintf(number, sizeof number, "%03d", a);
        every_area.add_number(number, static_cast<uint8_t>(a));
    }
    every_area.set_area(0, 7);  // the root's area byte makes no rule
    put("lcr_load", "every-area-byte", every_area.bytes);

    // Broken links: a cycle back to the root, a record joined from two
    // digits, a self-loop below 20 digits, the 0xFFFF "no child" mark and an
    // index past the end of the file.
    image_writer cycle;
    cycle.add_number("12", 4);
    cycle.set_child(2, 3, 0);
    cycle.set_child(2, 5, 1);
    put("lcr_load", "cycle-to-parent", cycle.bytes);
    image_writer join;
    join.add_number("12", 4).add_number("3", 0);
    join.set_child(0, 4, 2);
    put("lcr_load", "joined-branches", join.bytes);
    image_writer self;
    self.add_number("7", 13);
    for (int d = 0; d < 10; d++)
        self.set_child(1, d, 1);
    put("lcr_load", "self-loop", self.bytes);
    image_writer marks;
    marks.add_number("45", 2);
    marks.set_child(0, 0, 0xFFFF).set_child(1, 9, 400);
    put("lcr_load", "no-child-marks", marks.bytes);

    // A trie longer than the most a reader takes: the deepest records lie
    // past LCR_IMAGE_MAX.
    image_writer longer;
    for (int i = 0; i < 520; i++) {
        char number[8];
        snprintf(number, sizeof number, "%d", 10000 + i);
        longer.add_number(number, static_cast<uint8_t>(i % 20));
    }
    put("lcr_load", "longer-than-max", longer.bytes);

    const std::string full = full_pool();
    put("lcr_load", "full-pool", full);

    // Merge pairs: the worked example of the merge modes, empty sets, and
    // a first set that fills the pool once mode 2 adds its rules.
    const std::string first = compiled({{"0301", 2, 0}, {"0302", -2, 3}, {"110", -2, 0}, {"0900", -3, 0}});
    const std::string second = compiled({{"0301", 2, 0}, {"0302", -2, 3}, {"110", -2, 0}, {"0800", 1, 0}});
    put("lcr_merge", "mode1-example", pair(1, first, second));
    put("lcr_merge", "mode2-example", pair(2, first, second));
    put("lcr_merge", "mode1-empty-second", pair(1, first, compiled({})));
    put("lcr_merge", "mode2-empty-both", pair(2, compiled({}), compiled({})));
    put("lcr_merge", "mode2-emergency", pair(2, compiled({{"112", 4, 0}, {"1100", -2, 0}}), compiled({{"112", 4, 0}})));
    put("lcr_merge", "mode2-full-pool", pair(2, full, first));
    // Allocation failures: the first load's buffer, a rule of the second
    // load, an emergency rule of mode 2.
    put("lcr_merge", "mode1-oom-first-buffer", pair(1, first, second, 1));
    put("lcr_merge", "mode1-oom-second-rule", pair(1, first, second, 40));
    put("lcr_merge", "mode2-oom-emergency-rule", pair(2, compiled({{"0301", 2, 0}}), second, 45));
}

// lcrtool input: flags (merge mode 2, a merge OUTPUT, a lookup time,
// timetables --all), split point, the time byte, current, defaults.
std::string tool_pair(unsigned flags, const std::string &a, const std::string &b, uint8_t time = 0)
{
    return std::string{static_cast<char>(flags), static_cast<char>(a.size() & 0xFF), static_cast<char>(a.size() >> 8),
                        static_cast<char>(time)} + a + b;
}

// The provider lines without names and the header of the rules, as dump
// prints them.
std::string text_head()
{
    std::string text;
    for (int p = 0; p < 10; p++)
        text += "provider\t" + std::to_string(p) + "\t\n";
    return text + "number\troute\tprovider\tarea\n";
}

void lcrtool_seeds()
{
    const std::string first = compiled({{"0301", 2, 0}, {"0302", -2, 3}, {"110", -2, 0}, {"0900", -3, 0}});
    const std::string second = compiled({{"0301", 2, 0}, {"0302", -2, 3}, {"110", -2, 0}, {"0800", 1, 0}});
    put("lcrtool_image", "mode1-output", tool_pair(2, first, second));
    put("lcrtool_image", "mode2-lookup-at-1740", tool_pair(1 | 4, first, second, 17 << 2 | 2));
    put("lcrtool_image", "mode2-bad-time-all", tool_pair(1 | 4 | 8, first, second, 24 << 2));
    image_writer join;
    join.add_number("12", 4).add_number("3", 0).set_child(0, 4, 2);
    put("lcrtool_image", "joined-current", tool_pair(2, join.bytes, second));
    image_writer odd;
    odd.add_number("0998", 30).add_number("12345678901234567890", 70).set_area(0, 7).poke(77, 'X');
    put("lcrtool_image", "odd-areas-root-area", tool_pair(1 | 2 | 8, odd.bytes, first));
    put("lcrtool_image", "cut-defaults", tool_pair(0, first, second.substr(0, second.size() - 30)));
    put("lcrtool_image", "mode2-full-pool-output", tool_pair(1 | 2, full_pool(), first));
    put("lcrtool_image", "version-4", tool_pair(1, image_writer().version(4).bytes, first));

    put("lcrtool_text", "dump-of-merge-example",
        text_head() + "0301\t2\t0\t3\n0302\t-2\t3\t13\n0900\t-3\t0\t64\n110\t-2\t0\t0\n");
    put("lcrtool_text", "dump-of-odd-areas", text_head() + "0998\t-3\t0\t30\n12345678901234567890\t-3\t0\t70\nbytes\t77\t58\n");
    std::string past_the_pool = text_head();
    for (int i = 0; i < 300; i++)
        past_the_pool += std::to_string(1000 + 7 * i) + "\t4\t0\t5\n";
    put("lcrtool_text", "more-than-the-pool", past_the_pool);
    put("lcrtool_text", "timetables-and-bytes",
        "provider\t0\tTelco\nprovider\t3\tArcor\nnumber\troute\tprovider\tarea\n0180\t-3\t0\t64\n"
        "0302\t-2\t3\t13\n19\t-1\t2\t12\n0998\t-3\t0\t30\n"
        "timetable\t13\tprovider 3 \"Arcor\"; 08:00-18:00 route 2; 23:00-24:00 entry 7\n"
        "timetable\t30\troute 1 # a comment\nbytes\t77\t58\nbytes\t2819\t80\n");
    put("lcrtool_text", "names-utf8-escapes-crlf",
        "\xef\xbb\xbfprovider\t1\t\xc3\x84rger \\x\\t\\x7f\r\nprovider\t2\tGr\xe4" "fin\r\n12\t3\t0\r\n");
    put("lcrtool_text", "refused-lines",
        "12\t3\t0\n12\t4\t0\n1a\t0\t0\n123456789012345678901\t0\t0\n13\t64\t0\nprovider\t9\t\\x00\n"
        "timetable\t5\troute 1; 18:00-06:00 route 2\nbytes\t5000\t00\nnonsense\n");
}

void burnimg_seeds()
{
    put("burnimg_options", "defaults", args({"image.bin", "/dev/mtd3"}));
    put("burnimg_options", "all-options",
        args({"-i", "image.bin", "-o", "/dev/mtd3", "-b", "0x8000", "-f", "0x40000", "-c", "-u"}));
    put("burnimg_options", "help-after-check", args({"-b", "1024", "-c", "-h", "-x"}));
    put("burnimg_options", "value-options-at-end", args({"-c", "-b4096", "-i", "-o"}));
    put("burnimg_options", "numbers",
        args({"-b", " 42", "-f", "-0x10", "-b", "0x123456789", "-f", "99999999999", "-b", "0X12g", "-f", "010", "-"}));
    put("burnimg_options", "empty", args({}));
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs("usage: make_corpus DIR\n", stderr);
        return 2;
    }
    out_dir = argv[1];
    mkdir(out_dir.c_str(), 0755);
    lcr_seeds();
    lcrtool_seeds();
    burnimg_seeds();
    return 0;
}
