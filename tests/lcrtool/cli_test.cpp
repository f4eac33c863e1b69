// SPDX-License-Identifier: MIT
// lcrtool's command line, one table row per behaviour: arguments, input
// files, expected standard output and error, exit status and output file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <set>
#include <utility>

#include "fault_env.h"
#include "image_writer.h"
#include "lcrtool_test.h"

namespace {

const std::string USAGE =
    "usage: lcrtool dump IMAGE\n"
    "       lcrtool build TEXT IMAGE\n"
    "       lcrtool diff IMAGE_A IMAGE_B\n"
    "       lcrtool lookup [--at HH:MM] IMAGE NUMBER...\n"
    "       lcrtool timetables [--all] IMAGE\n"
    "       lcrtool check IMAGE...\n"
    "       lcrtool merge MODE CURRENT DEFAULTS [OUTPUT]\n"
    "A file named - is standard input, and the IMAGE that build writes standard output.\n";

struct cli_case {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> files;  // made before the run
    std::string out;
    std::string err;
    int status;
    std::string out_file = "";                     // checked after the run, if named
    std::optional<std::string> out_bytes = std::nullopt;  // nullopt: must not exist
    std::optional<std::string> in = std::nullopt;         // standard input, through a pipe
    std::vector<std::string> env = {};                    // faults (the same output with or without)
};

// Test names show the row's name, not its bytes.
void PrintTo(const cli_case &c, std::ostream *os)
{
    *os << c.name;
}

// Providers 0 and 3 named; "12" with route 3 (area 4), "19" with provider 2
// (area 12).
const std::string TWO_RULES = image_of({{"12", 4}, {"19", 12}}, {{0, "Telco"}, {3, "Arcor"}});

const std::string TWO_RULES_DUMP =
    dump_head({{0, "Telco"}, {3, "Arcor"}}) + "12\t3\t0\t4\n19\t-2\t2\t12\n";

// Root -> record 1 -> record 1 again: a trie that is no tree.
std::string looping_trie()
{
    image_writer img;
    img.add_record(255, {0, 1});
    img.add_record(4, {1});
    return img.bytes;
}

// Numbers "0000", "0001", ... as long as the compiler's trie for them
// needs at most `records` records (the root and every distinct prefix).
std::vector<std::string> numbers_needing(size_t records)
{
    std::set<std::string> prefixes{""};
    std::vector<std::string> numbers;
    for (int i = 0;; i++) {
        char number[12];
        snprintf(number, sizeof number, "%04d", i);
        for (size_t len = 1; len <= 4; len++)
            prefixes.insert(std::string(number, len));
        if (prefixes.size() > records)
            return numbers;
        numbers.push_back(number);
    }
}

// The numbers with route 0 (area 1), as text and as the image of them.
std::string route0_text(const std::vector<std::string> &numbers)
{
    std::string text;
    for (const auto &n : numbers)
        text += n + "\t0\t0\n";
    return text;
}

std::string route0_image(const std::vector<std::string> &numbers)
{
    image_writer img;
    for (const auto &n : numbers)
        img.add_number(n, 1);
    return img.bytes;
}

// Rules for lookup: no timetable (0180), route 5 (01801), provider 0, and
// provider 3 (0302).
image_writer lookup_rules()
{
    image_writer img;
    img.provider_name(0, "Telco").provider_name(3, "Arcor");
    img.add_number("0180", 64).add_number("01801", 6).add_number("0302", 13).add_number("040", 0);
    img.add_number("12345678901234567890", 1);
    return img;
}

// Provider 3's timetable, unlike those the compiler writes, names route 2
// from 08:00 to 18:00 and the odd provider value 7 in the last hour.
std::string lookup_image()
{
    image_writer img = lookup_rules();
    const size_t timetable13 = image_writer::timetable_offset(13);
    for (size_t slot = 16; slot < 36; slot++)
        img.poke(timetable13 + slot, 242);
    img.poke(timetable13 + 46, 7).poke(timetable13 + 47, 7);
    return img.bytes;
}

// What a merge rewrites: area bytes that read as route -3 (20, the first,
// and 100), timetables other than the compiler's (13 and 3 in one slot, the
// unused 40); and control bytes of both halves of ISO-8859-1 in names.
std::string merge_changes()
{
    image_writer img;
    img.provider_name(1, "Tel\x01").provider_name(2, "Tel\x85").add_number("5", 20).add_number("6", 100);
    img.poke(image_writer::timetable_offset(13) + 16, 242).poke(image_writer::timetable_offset(3) + 47, 0);
    img.poke(image_writer::timetable_offset(40), 1);
    return img.bytes;
}

// Provider 3's timetable differs from the compiler's at 00:00 (route 2) and
// at 23:30 (the odd provider value 7); the unused timetable 40 names route 2
// at 10:00.
std::string time_image()
{
    image_writer img;
    img.provider_name(0, "Telco").provider_name(3, "Arcor").add_number("0302", 13).add_number("0180", 64);
    img.poke(image_writer::timetable_offset(13), 242).poke(image_writer::timetable_offset(13) + 47, 7);
    img.poke(image_writer::timetable_offset(40) + 20, 242);
    return img.bytes;
}

const std::string RULER = "  00  02  04  06  08  10  12  14  16  18  20  22  24\n";

// lookup --at on time_image() at `time`, where 0302 gets `answer`.
cli_case lookup_at(const std::string &time, const std::string &answer)
{
    return {"lookup_at_" + time.substr(0, 2) + time.substr(3), {"lookup", "--at", time, "a.lcr", "0302", "0180", "9"},
            {{"a.lcr", time_image()}},
            "0302\t0302\t-2\t3\t13\tprovider 3 \"Arcor\"; 00:00-00:30 route 2; 23:30-24:00 entry 7\tat " + time + " " +
                answer + "\n0180\t0180\t-3\t0\t64\tnone\tat " + time + " none\n9\t-\n",
            "", 1};
}

// A time that lookup refuses before it reads the image.
cli_case bad_time(const std::string &name, const std::string &time)
{
    return {"lookup_at_" + name, {"lookup", "--at", time, "nope.lcr", "0302"}, {}, "",
            "lcrtool: " + time + ": not a time HH:MM from 00:00 to 23:59\n", 2};
}

// What timetables --all draws for an image without names or rules: every
// timetable as the compiler writes it, one answer all day.
std::string every_compiled_timetable()
{
    std::string out;
    for (int k = 0; k < 64; k++) {
        bool route = k >= 1 && k <= 10;
        int n = route ? k - 1 : k > 10 && k < 20 ? k - 10 : 0;
        char symbol = static_cast<char>((route ? '0' : 'a') + n);
        out += (k ? "\ntimetable " : "timetable ") + std::to_string(k) + " used by no rule\n" + RULER + "  " +
               std::string(48, symbol) + "\n  " + symbol + " = " +
               (route ? "route " + std::to_string(n) : "provider " + std::to_string(n) + " \"\"") + "\n";
    }
    return out;
}

const std::string CUT_SAMPLE_CHECK =
    "a.lcr: 6353 bytes, not 5892 + 21n: the last 20 bytes, too few for a record, are ignored\n"
    "a.lcr: child link for 112 leads to record 21, past the 21 records read: the image was cut, and lcrmerge refuses it\n";

// A rule with route -3 stored with area 30 gets timetable 30 of its own.
// Its most common answers tie, route 2 (from 01:00) and provider 0 (from
// 12:30), in 23 slots each: the earlier one counts, and the first slot's
// and the next timetable's answers count for nothing.
std::string own_timetable_image()
{
    image_writer img;
    img.add_number("0998", 30);
    for (size_t slot = 0; slot < 25; slot++)
        img.poke(image_writer::timetable_offset(30) + slot, slot < 2 ? 7 : 242);
    return img.bytes;
}

const std::string OWN_TIMETABLE_DUMP =
    dump_head() + "0998\t-3\t0\t30\ntimetable\t30\troute 2; 00:00-01:00 entry 7; 12:30-24:00 provider 0 \"\"\n";

// Besides that timetable, bytes the compiler never writes: an old name's
// tail after provider 3's NUL, 33 bytes of unused name slot 100 (more than
// a line holds), reserved bytes (the byte 00 between two of them, one four
// bytes on, the last one) and the first slots of timetable 0 (the highest
// route, provider and entry).
std::string odd_bytes_image()
{
    image_writer img;
    img.bytes = lookup_image();
    img.poke(77, 'X').poke(2644, 1).poke(2646, 1).poke(2651, 1).poke(2819, 0x80).poke(2820, 249).poke(2821, 18).poke(2822, 255);
    return img.bytes.replace(1104, 33, 33, '\xee');
}

const std::string ODD_BYTES_DUMP =
    dump_head({{0, "Telco"}, {3, "Arcor"}}) +
    "0180\t-3\t0\t64\n01801\t5\t0\t6\n0302\t-2\t3\t13\n040\t-2\t0\t0\n12345678901234567890\t0\t0\t1\n"
    "timetable\t0\tprovider 0 \"Telco\"; 00:00-00:30 route 9; 00:30-01:00 provider 9 \"\"; 01:00-01:30 entry 255\n"
    "timetable\t13\tprovider 3 \"Arcor\"; 08:00-18:00 route 2; 23:00-24:00 entry 7\n"
    "bytes\t77\t58\nbytes\t1104\t" + std::string(64, 'e') +
    "\nbytes\t1136\tee\nbytes\t2644\t010001\nbytes\t2651\t01\nbytes\t2819\t80\n";

// Of a table whose trie fills the pool, with or without rules past it.
const std::string MODE2_PAST_THE_POOL =
    "a mode-2 merge adds 110, 112, 19222, and the trie then needs at least 504 records, more than the 499 "
    "that lcrmerge's compiler holds: a mode-2 merge refuses this table unless the defaults table removes rules\n";

// The worked example of the merge modes: 0301 (route 2) and 110 match the
// defaults; 0302 has provider 3 and 0900 no rule in the defaults.
const std::string MERGE_CURRENT = image_of({{"0301", 3}, {"0302", 13}, {"110", 0}, {"0900", 64}});
// What lcrtool merge says of the emergency numbers that mode 2 adds.
const std::string EMERGENCY_ADDED = "add 110 -2 0: an emergency number that mode 2 adds\n"
                                    "add 112 -2 0: an emergency number that mode 2 adds\n"
                                    "add 19222 -2 0: an emergency number that mode 2 adds\n";
const std::string MERGE_DEFAULTS = image_of({{"0301", 3}, {"0302", 13}, {"110", 0}, {"0800", 2}});

// A build with rules the compiler would drop or refuse, each reported with
// its line: no image short of them is written, and the old one stays.
cli_case dropped(const std::string &name, const std::string &text, const std::string &err)
{
    return {name, {"build", "in.txt", "out.lcr"}, {{"in.txt", text}, {"out.lcr", "old"}}, "", err, 1, "out.lcr", "old"};
}

std::string build_error(int line, const std::string &why)
{
    return "lcrtool: in.txt:" + std::to_string(line) + ": " + why + "\n";
}

// What build says of a name on line `line` that holds U+`code`.
std::string beyond_latin1(int line, const std::string &code)
{
    return build_error(line, "provider name is UTF-8 and holds U+" + code + ", which ISO-8859-1 lacks; iconv -f "
                             "UTF-8 -t ISO-8859-1//TRANSLIT converts the file, spelling it with other letters");
}

// A build whose text is refused; no image is written.
cli_case refused(const std::string &name, const std::string &text, const std::string &err)
{
    return {name, {"build", "in.txt", "out.lcr"}, {{"in.txt", text}}, "", err, 1, "out.lcr"};
}

std::vector<cli_case> cases()
{
    std::vector<std::string> full = numbers_needing(499);
    // With the pool full, "000" still goes in (its record is there, ending
    // no number); "9" and "91" each need a record of their own.
    std::vector<std::string> too_many = full;
    too_many.insert(too_many.end(), {"91", "000", "9"});
    // The pool full with 110 and 112 in it: a mode-2 merge adds only 19222.
    std::vector<std::string> full_110_112 = numbers_needing(495);
    full_110_112.insert(full_110_112.end(), {"110", "112"});
    const std::string sample = read_file(std::string(SOURCE_DIR) + "/samples/current.lcr");
    return {
        // Usage.
        {"no_arguments", {}, {}, "", USAGE, 2},
        {"help", {"-h"}, {}, USAGE, "", 0},
        {"unknown_command", {"show", "a.lcr"}, {}, "", "lcrtool: unknown command 'show'\n" + USAGE, 2},
        {"dump_extra_argument", {"dump", "a.lcr", "b.lcr"}, {{"a.lcr", TWO_RULES}}, "", USAGE, 2},

        // dump
        {"dump_names_and_rules", {"dump", "a.lcr"}, {{"a.lcr", TWO_RULES}}, TWO_RULES_DUMP, "", 0},
        {"dump_empty_image", {"dump", "a.lcr"}, {{"a.lcr", image_writer().bytes}}, dump_head(), "", 0},
        {"dump_in_trie_order",
         {"dump", "a.lcr"},
         {{"a.lcr", image_of({{"2", 0}, {"11", 5}, {"1", 64}, {"100", 13}, {"10", 1}})}},
         dump_head() + "1\t-3\t0\t64\n10\t0\t0\t1\n100\t-2\t3\t13\n11\t4\t0\t5\n2\t-2\t0\t0\n",
         "",
         0},
        // An unused timetable's area byte reads as a number without
        // timetable; the byte itself is shown, and build keeps it, and the
        // timetable too: the text's way to give one rule a timetable.
        {"dump_stored_area", {"dump", "a.lcr"}, {{"a.lcr", own_timetable_image()}}, OWN_TIMETABLE_DUMP, "", 0},
        {"build_stored_area", {"build", "in.txt", "out.lcr"}, {{"in.txt", OWN_TIMETABLE_DUMP}}, "", "", 0, "out.lcr",
         own_timetable_image()},
        {"dump_timetables_and_other_bytes", {"dump", "a.lcr"}, {{"a.lcr", odd_bytes_image()}}, ODD_BYTES_DUMP, "", 0},
        // Control bytes of both halves of ISO-8859-1 (to 0x9F; 0xA0 is a
        // blank) are escaped, and so is a letter that a UTF-8 continuation
        // byte follows, so that no name reads as UTF-8 (the A with a tilde
        // and the currency sign would read as a-umlaut).
        {"dump_escapes_names",
         {"dump", "a.lcr"},
         {{"a.lcr", image_writer()
                        .provider_name(1, "a\tb\\c\xf6")
                        .provider_name(2, "x\ny\x01\r\x85\xa0\x9f")
                        .provider_name(3, "\xc3\xa4\xc3")
                        .bytes}},
         dump_head({{1, "a\\tb\\\\c\xf6"}, {2, "x\\ny\\x01\\r\\x85\xa0\\x9f"}, {3, "\\xc3\xa4\xc3"}}),
         "",
         0},
        {"dump_missing_file", {"dump", "nope.lcr"}, {}, "", "lcrtool: nope.lcr: No such file or directory\n", 2},
        {"dump_wrong_version", {"dump", "a.lcr"}, {{"a.lcr", image_writer().version(4).bytes}}, "",
         "lcrtool: a.lcr: not a version-3 lcr image (version word 4)\n", 2},
        {"dump_too_short", {"dump", "a.lcr"}, {{"a.lcr", image_writer().resize(100).bytes}}, "",
         "lcrtool: a.lcr: too short for an lcr image (100 bytes)\n", 2},
        {"dump_empty_file", {"dump", "a.lcr"}, {{"a.lcr", ""}}, "",
         "lcrtool: a.lcr: too short for an lcr image (0 bytes)\n", 2},
        {"dump_directory", {"dump", "."}, {}, "", "lcrtool: .: Is a directory\n", 2},
        {"dump_broken_trie", {"dump", "a.lcr"}, {{"a.lcr", looping_trie()}}, "",
         "lcrtool: a.lcr: not a valid version-3 lcr image\n", 2},

        // build: the image is laid out exactly as the layout says, rules in
        // number order whatever the order of the lines.
        {"build_two_rules",
         {"build", "in.txt", "out.lcr"},
         {{"in.txt", "provider\t0\tTelco\nprovider\t3\tArcor\n19\t-2\t2\t12\n12\t3\t0\n"}},
         "", "", 0, "out.lcr", TWO_RULES},
        {"build_lenient_layout",
         {"build", "in.txt", "out.lcr"},
         {{"in.txt",
           "# routing table\r\n\r\n\n   \nprovider 0 Telco\r\nnumber route provider area\n"
           "  12   3 0 4 # route 3\r\n\t# indented comment\n19 -2 2\t#provider 2\nprovider\t3\tArcor\n"
           "timetable 3 route 2;00:00-24:00 route 2\n"}},
         "", "", 0, "out.lcr", TWO_RULES},
        {"build_replaces_existing_image", {"build", "in.txt", "out.lcr"}, {{"in.txt", ""}, {"out.lcr", "old"}}, "",
         "", 0, "out.lcr", image_writer().bytes},
        {"build_over_its_own_text", {"build", "in.txt", "in.txt"}, {{"in.txt", "19\t-2\t2\n"}}, "", "", 0, "in.txt",
         image_of({{"19", 12}})},
        {"build_from_standard_input", {"build", "-", "out.lcr"}, {}, "", "", 0, "out.lcr", image_writer().bytes},
        {"build_unescapes_names",
         {"build", "in.txt", "out.lcr"},
         {{"in.txt", "provider\t1\ta\\tb\\\\c\\x7F\xf6\\x85\nprovider\t2\t lead and trail \n"
                     "provider\t3\t\\xc3\xa4\xc3\n"}},
         "", "", 0, "out.lcr",
         image_writer()
             .provider_name(1, "a\tb\\c\x7f\xf6\x85")
             .provider_name(2, " lead and trail ")
             .provider_name(3, "\xc3\xa4\xc3")
             .bytes},
        // A name typed in UTF-8 goes in as ISO-8859-1, its length counted
        // in characters; one in ISO-8859-1 beside it stays as it is, and a
        // UTF-8 editor's byte order mark is passed over.
        {"build_utf8_name",
         {"build", "in.txt", "out.lcr"},
         {{"in.txt", "\xef\xbb\xbfprovider\t1\t\xc3\x84\xc3\x96\xc3\x9c\xc3\xa4\xc3\xb6\xc3\xbc\xc3\xbf\xc2\xae Telefon 123\n"
                     "provider\t2\tGr\xe4" "fin\n"}},
         "", "", 0, "out.lcr",
         image_writer().provider_name(1, "\xc4\xd6\xdc\xe4\xf6\xfc\xff\xae Telefon 123").provider_name(2, "Gr\xe4" "fin").bytes},
        {"build_route_unset_as_provider",
         {"build", "in.txt", "out.lcr"}, {{"in.txt", "19\t-1\t2\t12\n"}},
         "", "", 0, "out.lcr", image_of({{"19", 12}})},
        // Timetables and bytes the compiler does not write come back, but
        // not over a name the provider lines give or its NUL (73 to 75);
        // "-" is standard output.
        {"build_timetables_and_other_bytes", {"build", "in.txt", "-"},
         {{"in.txt", ODD_BYTES_DUMP + "bytes\t73\t585858\n"}}, odd_bytes_image(), "", 0},
        // A name of 20 characters ends without a NUL: the byte after it is free.
        {"build_bytes_after_a_full_name", {"build", "in.txt", "-"},
         {{"in.txt", "provider\t1\t" + std::string(20, 'n') + "\nbytes\t46\t58\n"}},
         image_writer().provider_name(1, std::string(20, 'n')).poke(46, 'X').bytes, "", 0},
        {"build_fills_the_pool", {"build", "in.txt", "out.lcr"}, {{"in.txt", route0_text(full)}}, "", "", 0,
         "out.lcr", route0_image(full)},

        // build: what the compiler would drop or refuse is found first and
        // reported in line order, once per rule, with the compiler's words.
        // The first line of a number is the one the compiler takes.
        dropped("pool_full_drops_rules_needing_a_record", route0_text(too_many),
                build_error(static_cast<int>(full.size()) + 3,
                            "Telefon locate tree too large: this rule and 1 more after it by number do not fit "
                            "in the 499 trie records")),
        dropped("bad_digits_drop_their_rules", "provider\t0\tX\nx5\t1\t0\n13\t1\t0\n3\xf6\t1\t0\n12a\t1\t0\n1\x85\t1\t0\n",
                build_error(2, "Illegal number digit = 78 ('x')") + build_error(4, "Illegal number digit = f6 ('\xf6')") +
                    build_error(5, "Illegal number digit = 61 ('a')") +
                    build_error(6, "Illegal number digit = 85 ('\\x85')")),
        dropped("duplicates_keep_the_first_line", "0301\t3\t0\n110\t-2\t0\n0301\t2\t0\n0301\t3\t0\t4\n",
                build_error(3, "duplikate Entry for number 0301 with different Areas (first on line 1)") +
                    build_error(4, "duplikate Entry for number 0301 (first on line 1)")),
        dropped("no_timetable_keeps_old_output", "12\t3\t0\n13\t64\t0\t65\n14\t70\t0\n",
                build_error(2, "Area 65 timetable does not exist (route 64)") + build_error(3, "Area 71 timetable does not exist (route 70)")),
        refused("no_timetable_writes_nothing", "5\t253\t0\n5\t1\t0\n",
                build_error(1, "Area 254 timetable does not exist (route 253)") +
                    build_error(2, "duplikate Entry for number 5 with different Areas (first on line 1)")),

        // build: lines it cannot take, and values the compiler would take
        // but that would not come back from the image, each with its line
        // number.
        refused("long_number", "123456789012345678901\t1\t0\n",
                build_error(1, "number '123456789012345678901' has more than 20 digits")),
        refused("long_number_with_letters", "12345678901234567890a\t1\t0\n",
                build_error(1, "number '12345678901234567890a' has more than 20 characters")),
        refused("route_out_of_range", "12\t10\t0\n", build_error(1, "route '10' is not one of -3, -2, -1 and 0 to 9")),
        refused("route_below_no_timetable", "12\t63\t0\n",
                build_error(1, "route '63' is not one of -3, -2, -1 and 0 to 9")),
        refused("route_giving_no_number", "12\t254\t0\n",
                build_error(1, "route '254' is not one of -3, -2, -1 and 0 to 9")),
        refused("route_below_range", "12\t-4\t0\n", build_error(1, "route '-4' is not one of -3, -2, -1 and 0 to 9")),
        refused("route_not_a_number", "12\tx\t0\n", build_error(1, "route 'x' is not one of -3, -2, -1 and 0 to 9")),
        refused("provider_out_of_range", "12\t-2\t10\n", build_error(1, "provider '10' is not one of 0 to 9")),
        refused("provider_with_fixed_route", "12\t3\t5\n", build_error(1, "provider 5 needs route -2; route 3 takes provider 0")),
        refused("provider_without_timetable", "12\t-3\t1\n", build_error(1, "provider 1 needs route -2; route -3 takes provider 0")),
        refused("area_mismatch", "12\t3\t0\t5\n",
                build_error(1, "area '5' does not match route 3 and provider 0, which give 4")),
        refused("missing_field", "12\t3\n", build_error(1, "expected number, route, provider and area")),
        refused("extra_field", "12\t3\t0\t4\tx\n", build_error(1, "unexpected 'x' after the area")),
        refused("not_a_rule", "hello world\n",
                build_error(1, "expected a rule (number, route, provider, area) or a provider line")),
        refused("nul_byte", std::string("12\t3\0\t0\n", 8), build_error(1, "line holds a NUL byte")),
        refused("provider_out_of_range_line", "provider\t10\tX\n", build_error(1, "provider '10' is not one of 0 to 9")),
        refused("provider_without_number", "provider\n", build_error(1, "a provider line needs a provider number 0 to 9")),
        refused("name_too_long", "provider\t1\t123456789012345678901\n",
                build_error(1, "provider name longer than 20 characters")),
        // Then the least three-byte character, a four-byte one led by F4,
        // and a surrogate, which is no UTF-8 and so taken as ISO-8859-1.
        refused("utf8_name_beyond_latin1",
                "provider\t1\tGr\xc3\xa4" "fin \xc5\x81\nprovider\t2\t\xe0\xa0\x80\nprovider\t3\t\xf4\x80\x80\x80\n"
                "provider\t4\t\xed\xa0\x80\n",
                beyond_latin1(1, "0141") + beyond_latin1(2, "0800") + beyond_latin1(3, "100000")),
        refused("unknown_escape", "provider\t1\ta\\qb\n", build_error(1, "unknown escape '\\q' in provider name")),
        refused("short_hex_escape", "provider\t1\ta\\x4\n", build_error(1, "\\x in a provider name needs two hex digits")),
        refused("nul_escape", "provider\t1\ta\\x00\n", build_error(1, "a provider name cannot hold \\x00")),
        refused("trailing_backslash", "provider\t1\ta\\\n", build_error(1, "provider name ends in a lone backslash")),
        refused("timetable_run_past_midnight", "timetable\t13\tprovider 3; 18:00-08:00 route 2\n",
                build_error(1, "timetable run '18:00-08:00' wraps past midnight: give it as two runs, one to 24:00 and one from 00:00")),
        refused("bytes_past_the_sections_or_without_hex", "bytes\t2819\t8000\nbytes\t77\nbytes\t2820\t00\n",
                build_error(1, "bytes from offset 2819 need two hex digits each and end by offset 2819") +
                    build_error(2, "a bytes line needs an offset and hex digits") +
                    build_error(3, "offset '2820' is not one of 4 to 2819 (provider names and reserved sections)")),
        // A '#' starts a comment only after a blank.
        refused("timetable_answers_misspelt", "timetable\t13\tprovidor 3\ntimetable\t14\tentri 2\n"
                "timetable\t15\tprovider 3 \"Ar\"#x\ntimetable\t16\tprovider\n",
                build_error(1, "timetable answer 'providor 3' is not route 0 to 9, provider 0 to 9 or entry 0 to 255") +
                    build_error(2, "timetable answer 'entri 2' is not route 0 to 9, provider 0 to 9 or entry 0 to 255") +
                    build_error(3, "provider name in a timetable answer has no closing quote") +
                    build_error(4, "timetable answer 'provider' is not route 0 to 9, provider 0 to 9 or entry 0 to 255")),
        refused("provider_named_twice", "provider\t1\tA\n#\nprovider\t1\tB\n",
                build_error(3, "provider 1 already named on line 1")),
        refused("every_bad_line", "x\n12\t3\t0\ny\n1a\t3\t0\n12\t3\t0\n",
                build_error(1, "expected a rule (number, route, provider, area) or a provider line") +
                    build_error(3, "expected a rule (number, route, provider, area) or a provider line") +
                    build_error(4, "Illegal number digit = 61 ('a')") +
                    build_error(5, "duplikate Entry for number 12 (first on line 2)")),
        {"refused_build_keeps_old_output", {"build", "in.txt", "out.lcr"}, {{"in.txt", "x\n"}, {"out.lcr", "old"}}, "",
         build_error(1, "expected a rule (number, route, provider, area) or a provider line"), 1, "out.lcr", "old"},
        {"build_missing_text", {"build", "nope.txt", "out.lcr"}, {}, "",
         "lcrtool: nope.txt: No such file or directory\n", 2, "out.lcr"},
        {"build_text_is_directory", {"build", ".", "out.lcr"}, {}, "", "lcrtool: .: Is a directory\n", 2, "out.lcr"},
        {"build_output_folder_missing", {"build", "in.txt", "no/out.lcr"}, {{"in.txt", "12\t3\t0\n"}}, "",
         "lcrtool: no/out.lcr: No such file or directory\n", 2, "no/out.lcr"},

        // diff
        {"diff_equal_despite_record_order",
         {"diff", "a.lcr", "b.lcr"},
         {{"a.lcr", image_of({{"12", 4}, {"19", 12}, {"2", 0}})}, {"b.lcr", image_of({{"2", 0}, {"19", 12}, {"12", 4}})}},
         "", "", 0},
        {"diff_same_rule_from_other_area_byte", {"diff", "a.lcr", "b.lcr"},
         {{"a.lcr", image_of({{"5", 30}})}, {"b.lcr", image_of({{"5", 64}})}}, "area\t5\t30\t64\n", "", 1},
        {"diff_timetables_and_sections", {"diff", "a.lcr", "b.lcr"},
         {{"a.lcr", lookup_rules().bytes}, {"b.lcr", odd_bytes_image()}},
         "timetable\t0\t00:00-00:30\tprovider 0 \"Telco\"\troute 9\n"
         "timetable\t0\t00:30-01:00\tprovider 0 \"Telco\"\tprovider 9 \"\"\n"
         "timetable\t0\t01:00-01:30\tprovider 0 \"Telco\"\tentry 255\n"
         "timetable\t13\t08:00-18:00\tprovider 3 \"Arcor\"\troute 2\n"
         "timetable\t13\t23:00-24:00\tprovider 3 \"Arcor\"\tentry 7\n"
         "section\tprovider-names\t77\nsection\treserved-block\t2644\nsection\treserved-table-2\t2819\n",
         "", 1},
        {"diff_disjoint",
         {"diff", "a.lcr", "b.lcr"},
         {{"a.lcr", image_of({{"12", 4}, {"3", 0}})}, {"b.lcr", image_of({{"19", 12}})}},
         "-\t12\t3\t0\t4\n+\t19\t-2\t2\t12\n-\t3\t-2\t0\t0\n",
         "",
         1},
        {"diff_overlapping",
         {"diff", "a.lcr", "b.lcr"},
         {{"a.lcr", image_of({{"1", 4}, {"12", 0}, {"30", 64}, {"31", 2}})},
          {"b.lcr", image_of({{"31", 3}, {"5", 1}, {"30", 64}, {"12", 13}})}},
         "-\t1\t3\t0\t4\n!\t12\t-2\t0\t-2\t3\n!\t31\t1\t0\t2\t0\n+\t5\t0\t0\t1\n",
         "",
         1},
        {"diff_provider_names",
         {"diff", "a.lcr", "b.lcr"},
         {{"a.lcr", image_writer().provider_name(0, "Telco").bytes},
          {"b.lcr", image_writer().provider_name(0, "Telco2").provider_name(9, "Z\t").bytes}},
         "provider\t0\tTelco\tTelco2\nprovider\t9\t\tZ\\t\n",
         "",
         1},
        {"diff_missing_file", {"diff", "a.lcr", "b.lcr"}, {{"b.lcr", TWO_RULES}}, "",
         "lcrtool: a.lcr: No such file or directory\n", 2},
        // lookup: the longest prefix that ends a rule decides.
        {"lookup_rules",
         {"lookup", "a.lcr", "0180", "01801555", "0180999", "0302", "040", "1234567890123456789012345"},
         {{"a.lcr", lookup_image()}},
         "0180\t0180\t-3\t0\t64\tnone\n"
         "01801555\t01801\t5\t0\t6\troute 5\n"
         "0180999\t0180\t-3\t0\t64\tnone\n"
         "0302\t0302\t-2\t3\t13\tprovider 3 \"Arcor\"; 08:00-18:00 route 2; 23:00-24:00 entry 7\n"
         "040\t040\t-2\t0\t0\tprovider 0 \"Telco\"\n"
         "1234567890123456789012345\t12345678901234567890\t0\t0\t1\troute 0\n",
         "",
         0},
        {"lookup_no_rule", {"lookup", "a.lcr", "018", "0180", "9"}, {{"a.lcr", lookup_image()}},
         "018\t-\n0180\t0180\t-3\t0\t64\tnone\n9\t-\n", "", 1},
        {"lookup_bad_number", {"lookup", "a.lcr", "9", "0180-5", "0180"}, {{"a.lcr", lookup_image()}},
         "9\t-\n0180\t0180\t-3\t0\t64\tnone\n", "lcrtool: 0180-5: not a number (digits 0 to 9 only)\n", 2},
        // A child link of 0xFFFF leads nowhere, as for the loader; one past
        // the file's end means the file was cut, and the loader refuses it
        // as cut, though a record is reached twice after it (root digit 9).
        {"lookup_stops_at_dead_links", {"lookup", "a.lcr", "123", "1245"},
         {{"a.lcr", image_writer().add_number("12", 4).set_child(2, 3, 0xFFFF).bytes}},
         "123\t12\t3\t0\t4\troute 3\n1245\t12\t3\t0\t4\troute 3\n", "", 0},
        {"lookup_cut_image", {"lookup", "a.lcr", "123"},
         {{"a.lcr", image_writer().add_number("12", 4).set_child(2, 4, 600).set_child(0, 9, 1).bytes}}, "",
         "lcrtool: a.lcr: cut short: the trie links past the 5955 bytes read\n", 2},
        {"lookup_empty_image", {"lookup", "a.lcr", "110"}, {{"a.lcr", image_writer().bytes}}, "110\t-\n", "", 1},
        {"lookup_wrong_version", {"lookup", "a.lcr", "110"}, {{"a.lcr", image_writer().version(4).bytes}}, "",
         "lcrtool: a.lcr: not a version-3 lcr image (version word 4)\n", 2},
        {"lookup_without_number", {"lookup", "a.lcr"}, {{"a.lcr", lookup_image()}}, "", USAGE, 2},
        {"lookup_empty_number", {"lookup", "a.lcr", ""}, {{"a.lcr", lookup_image()}}, "", "lcrtool: empty number\n", 2},
        // lookup --at: the answer of the time's half hour.
        lookup_at("00:00", "route 2"),
        lookup_at("00:29", "route 2"),
        lookup_at("00:30", "provider 3 \"Arcor\""),
        lookup_at("23:59", "entry 7"),
        bad_time("24_00", "24:00"),
        bad_time("7_5", "7:5"),
        bad_time("12_60", "12:60"),
        bad_time("1x_00", "1x:00"),
        {"lookup_at_without_number", {"lookup", "--at", "12:00", "a.lcr"}, {{"a.lcr", time_image()}}, "", USAGE, 2},
        {"lookup_from_a_pipe", {"lookup", "-", "129"}, {}, "129\t12\t3\t0\t4\troute 3\n", "", 0, "",
         std::nullopt, TWO_RULES},

        // timetables: those in use or not as compiled, or all of them.
        {"timetables_in_use_or_changed", {"timetables", "a.lcr"}, {{"a.lcr", time_image()}},
         "timetable 13 used by 0302\n" + RULER + "  2" + std::string(46, 'd') + "*\n" +
             "  2 = route 2\n  d = provider 3 \"Arcor\"\n  * = entry 7\n\n"
             "timetable 40 used by no rule\n" + RULER + "  " + std::string(20, 'a') + "2" + std::string(27, 'a') +
             "\n  a = provider 0 \"Telco\"\n  2 = route 2\n",
         "", 0},
        {"timetables_all", {"timetables", "--all", "a.lcr"}, {{"a.lcr", image_writer().bytes}},
         every_compiled_timetable(), "", 0},
        {"timetables_missing_file", {"timetables", "nope.lcr"}, {}, "", "lcrtool: nope.lcr: No such file or directory\n", 2},

        // check: what the loader passes over or a merge changes, a line
        // each; every file is checked, and the worst outcome decides.
        // Byte 224, past the ten names, is no provider's name.
        {"check_clean_sample", {"check", "a.lcr"}, {{"a.lcr", sample.substr(0, 224) + '\x01' + sample.substr(225)}},
         "", "", 0},
        {"check_cut_file", {"check", "a.lcr"}, {{"a.lcr", sample.substr(0, 6353)}}, CUT_SAMPLE_CHECK, "", 1},
        {"check_junk_appended",
         {"check", "a.lcr", "nope.lcr", "b.lcr"},
         {{"a.lcr", TWO_RULES + "junk"}, {"b.lcr", route0_image(full_110_112) + std::string(100, 'x')}},
         "a.lcr: 5980 bytes, not 5892 + 21n: the last 4 bytes, too few for a record, are ignored\n"
         "b.lcr: 16471 bytes, more than the 16392 a reader takes: the 79 after them are ignored\n"
         "b.lcr: records that no link reaches: 1, the first record 499\n"
         "b.lcr: a mode-2 merge adds 19222, and the trie then needs 503 records, more than the 499 that lcrmerge's "
         "compiler holds: a mode-2 merge refuses this table unless the defaults table removes rules\n",
         "lcrtool: nope.lcr: No such file or directory\n",
         2},
        {"check_names_of_20_characters_and_more", {"check", "a.lcr"},
         {{"a.lcr", image_of({{"5", 1}}, {{1, std::string(20, 'n')}, {2, std::string(21, 'n')}})}},
         "a.lcr: provider 2's name runs past 20 characters: readers keep the first 20\n", "", 1},
        {"check_joined_trie", {"check", "a.lcr"}, {{"a.lcr", looping_trie()}},
         "a.lcr: record 1 is reached both as 1 and as 10: the loader refuses the image\n", "", 1},
        // Exactly the 16392 bytes a reader takes, through a pipe, which a
        // second "-" finds at its end.
        {"check_trie_past_the_pool", {"check", "-", "-"}, {},
         "standard input: 0447 needs trie record 500, past the 499 that lcrmerge's compiler holds: a merge that "
         "keeps it fails\nstandard input: " + MODE2_PAST_THE_POOL,
         "lcrtool: standard input: too short for an lcr image (0 bytes)\n", 2, "", std::nullopt,
         route0_image(numbers_needing(500))},
        // More through a pipe, where the read past them is interrupted once.
        {"check_mode2_past_the_pool_from_a_pipe", {"check", "-"}, {},
         "standard input: more than the 16392 bytes a reader takes: the rest is ignored\n"
         "standard input: records that no link reaches: 1, the first record 499\n"
         "standard input: " + MODE2_PAST_THE_POOL, "", 1, "", std::nullopt, route0_image(full) + std::string(30, 'x'),
         fault_env("", [] { child_faults f; f.read_eintr = 1; return f; }())},
        {"check_what_a_merge_changes", {"check", "a.lcr"}, {{"a.lcr", merge_changes()}},
         "a.lcr: 5 has area byte 20, which reads as route -3: a merge writes it as 64\n"
         "a.lcr: 6 has area byte 100, which reads as route -3: a merge writes it as 64\n"
         "a.lcr: timetable 3 differs in 1 of 48 slots: a merge writes route 2 in all of them\n"
         "a.lcr: timetable 13 differs in 1 of 48 slots: a merge writes provider 3 in all of them\n"
         "a.lcr: timetable 40 has non-zero bytes in 1 of 48 slots: a merge writes it as zeros\n"
         "a.lcr: provider 1's name holds byte 0x01, which is not printable ISO-8859-1\n"
         "a.lcr: provider 2's name holds byte 0x85, which is not printable ISO-8859-1\n",
         "", 1},
        {"check_link_past_20_digits", {"check", "a.lcr"},
         {{"a.lcr", image_writer().add_number("12345678901234567890", 1).set_child(20, 5, 1).bytes}},
         "a.lcr: child link for 123456789012345678905 is not followed: no reader goes past 20 digits\n", "", 1},
        {"check_without_image", {"check"}, {}, "", USAGE, 2},

        // merge: what lcrmerge does with two images, a line each, and its
        // status; with OUTPUT the image it writes.
        {"merge_mode1_keeps_what_matches", {"merge", "1", "a.lcr", "b.lcr"},
         {{"a.lcr", MERGE_CURRENT}, {"b.lcr", MERGE_DEFAULTS}},
         "drop 0302 -2 3: provider 3 is not 0, so it matches no rule\n"
         "drop 0900 -3 0: the defaults have no rule with number 0900 and route -3\n"
         "result: 2 of 4 rules kept, 0 added\n", "", 0},
        {"merge_mode2_removes_what_matches", {"merge", "2", "a.lcr", "b.lcr", "out.lcr"},
         {{"a.lcr", MERGE_CURRENT}, {"b.lcr", MERGE_DEFAULTS}, {"out.lcr", "old"}},
         "drop 0301 2 0: matches the defaults' rule 0301 2 0\n"
         "add 112 -2 0: an emergency number that mode 2 adds\n"
         "add 19222 -2 0: an emergency number that mode 2 adds\n"
         "result: 3 of 4 rules kept, 2 added\n", "", 0, "out.lcr",
         image_of({{"0302", 13}, {"0900", 64}, {"110", 0}, {"112", 0}, {"19222", 0}})},
        // Defaults of 64 rules, a whole block of them.
        {"merge_drop_against_a_block_of_rules", {"merge", "2", "a.lcr", "b.lcr"},
         {{"a.lcr", image_of({{"0000", 1}})}, {"b.lcr", route0_image({full.begin(), full.begin() + 64})}},
         "drop 0000 0 0: matches the defaults' rule 0000 0 0\n" + EMERGENCY_ADDED + "result: 0 of 1 rules kept, 3 added\n",
         "", 0},
        // merge_changes() and a reserved byte that is not zero, the last of
        // its section.
        {"merge_names_what_is_lost", {"merge", "2", "a.lcr", "b.lcr"},
         {{"a.lcr", merge_changes().replace(2691, 1, 1, '\x07')}, {"b.lcr", image_writer().bytes}},
         EMERGENCY_ADDED + "lose timetable 3: differs in 1 of 48 slots: a merge writes route 2 in all of them\n"
         "lose timetable 13: differs in 1 of 48 slots: a merge writes provider 3 in all of them\n"
         "lose timetable 40: has non-zero bytes in 1 of 48 slots: a merge writes it as zeros\n"
         "lose section reserved-block: 1 of 48 bytes differ, the first at offset 2691\n"
         "lose area 5: area byte 20, which reads as route -3: a merge writes it as 64\n"
         "lose area 6: area byte 100, which reads as route -3: a merge writes it as 64\n"
         "result: 2 of 2 rules kept, 3 added\n", "", 0},
        {"merge_refused_by_the_pool", {"merge", "2", "a.lcr", "b.lcr", "out.lcr"},
         {{"a.lcr", route0_image(full)}, {"b.lcr", image_writer().bytes}, {"out.lcr", "old"}},
         EMERGENCY_ADDED + "refuse: 110: Telefon locate tree too large: it needs trie record 502, past the 499 that lcrmerge's compiler holds\n"
         "refuse: 112: Telefon locate tree too large: it needs trie record 502, past the 499 that lcrmerge's compiler holds\n"
         "refuse: 19222: Telefon locate tree too large: it needs trie record 504, past the 499 that lcrmerge's compiler holds\n",
         "", 1, "out.lcr", "old"},
        {"merge_refused_load", {"merge", "1", "a.lcr", "b.lcr", "out.lcr"},
         {{"a.lcr", sample.substr(0, 6353)}, {"b.lcr", image_writer().version(2).bytes}},
         "refuse: a.lcr: cut short: the trie links past the 6353 bytes read\n"
         "refuse: b.lcr: not a version-3 lcr image (version word 2)\n", "", 1, "out.lcr"},
        {"merge_output_folder_missing", {"merge", "1", "a.lcr", "b.lcr", "no/out.lcr"},
         {{"a.lcr", MERGE_CURRENT}, {"b.lcr", MERGE_DEFAULTS}},
         "drop 0302 -2 3: provider 3 is not 0, so it matches no rule\n"
         "drop 0900 -3 0: the defaults have no rule with number 0900 and route -3\n",
         "lcrtool: no/out.lcr: No such file or directory\n", 2, "no/out.lcr"},
        {"merge_mode_is_1_or_2", {"merge", "2abc", "a.lcr", "b.lcr", "out.lcr"},
         {{"a.lcr", MERGE_CURRENT}, {"b.lcr", MERGE_DEFAULTS}}, "",
         "lcrtool: mode '2abc' is not 1 or 2\n", 2, "out.lcr"},
        {"check_empty_table", {"check", "a.lcr"}, {{"a.lcr", image_writer().bytes}},
         "a.lcr: holds no rule: a merge leaves no routing in mode 1, and only the emergency numbers 110, 112 and "
         "19222 in mode 2\n", "", 1},

        {"diff_names_every_bad_file", {"diff", "a.lcr", "b.lcr"}, {{"b.lcr", image_writer().version(2).bytes}}, "",
         "lcrtool: a.lcr: No such file or directory\nlcrtool: b.lcr: not a version-3 lcr image (version word 2)\n", 2},
    };
}

class Cli : public testing::TestWithParam<cli_case> {};

TEST_P(Cli, Runs)
{
    const cli_case &c = GetParam();
    scratch_dir dir;
    for (const auto &[name, bytes] : c.files)
        write_file(dir.file(name), bytes);
    run_result r = run_lcrtool(c.args, dir.path, c.in, c.env);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.exit_code, c.status);
    if (c.out_file.empty())
        return;
    bool exists = access(dir.file(c.out_file).c_str(), F_OK) == 0;
    if (c.out_bytes) {
        EXPECT_TRUE(exists);
        EXPECT_EQ(read_file(dir.file(c.out_file)), *c.out_bytes);
    } else {
        EXPECT_FALSE(exists) << c.out_file << " was written";
    }
}

INSTANTIATE_TEST_SUITE_P(Lcrtool, Cli, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<cli_case> &info) { return info.param.name; });

// Standard output that cannot be written fails the run with the reason.
TEST(LcrtoolOutput, FullDeviceFailsTheRun)
{
    run_options opts;
    opts.stdout_path = "/dev/full";
    const run_result r = run_program(LCRTOOL_PATH, {"-h"}, opts);
    EXPECT_EQ(r.err, "lcrtool: standard output: No space left on device\n");
    EXPECT_EQ(r.exit_code, 2);
}

// Each allocation of a build (of a text with a problem to report), a merge
// and a check failing in turn: a run either says it ran out of memory, fails
// and writes no image, or runs as it does with all the memory it asks for.
TEST(LcrtoolOutOfMemory, FailsWithAMessageOrRunsAsUsual)
{
    scratch_dir dir;
    write_file(dir.file("a.txt"), TWO_RULES_DUMP + "12\t4\t0\n");
    write_file(dir.file("a.lcr"), TWO_RULES);
    const std::string report = dir.file("report"), out = dir.file("out.lcr");
    for (const std::vector<std::string> &args : {std::vector<std::string>{"build", "a.txt", "out.lcr"},
                                                {"merge", "2", "a.lcr", "a.lcr", "out.lcr"}, {"check", "a.lcr"}}) {
        auto run = [&](long nth, bool) {
            unlink(out.c_str());
            run_options opts;
            opts.cwd = dir.path;
            opts.env = fault_env(report, malloc_fault(nth));
            return run_program(LCRTOOL_PATH, args, opts);
        };
        const run_result clean = run(0, false);
        const std::string image = read_file(out);  // "" when none is written
        each_failed_allocation(report, false, run, [&](const run_result &r, long) {
            SCOPED_TRACE(args[0]);
            const bool failed = r.exit_code == 2 && r.err.find(" memory") != std::string::npos;
            EXPECT_EQ(r.out + r.err, failed ? r.out + r.err : clean.out + clean.err);
            EXPECT_EQ(r.exit_code, failed ? r.exit_code : clean.exit_code);
            EXPECT_EQ(read_file(out), failed ? "" : image);
        });
    }
}

}  // namespace
