// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "options.h"

namespace {

struct number_case {
    const char *text;
    int32_t want;
};

void PrintTo(const number_case &c, std::ostream *os)
{
    *os << '"' << c.text << '"';
}

class ParseNumber : public ::testing::TestWithParam<number_case> {};

TEST_P(ParseNumber, Reads)
{
    EXPECT_EQ(parse_number(GetParam().text), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Table, ParseNumber, ::testing::Values(
    number_case{"0x8000", 32768}, number_case{"0X8000", 32768},
    number_case{"0xff", 255}, number_case{"0xFF", 255}, number_case{"0xaBcA", 0xabca},
    number_case{"0x12g", 18}, number_case{"0x", 0},
    // Hexadecimal keeps the low 32 bits, the sign bit included.
    number_case{"0x123456789", 0x23456789}, number_case{"0xffffffff", -1},
    number_case{"0x80000000", INT32_MIN},
    number_case{"4096", 4096}, number_case{"010", 10}, number_case{" 42", 42},
    number_case{"\t\n+7", 7}, number_case{"-12abc", -12}, number_case{"-0x10", 0},
    number_case{"", 0}, number_case{"-", 0}, number_case{"x1", 0},
    // Decimal clamps to the signed 32-bit range whatever the width of long.
    number_case{"2147483647", INT32_MAX}, number_case{"2147483648", INT32_MAX},
    number_case{"99999999999", INT32_MAX}, number_case{"99999999999999999999999", INT32_MAX},
    number_case{"-2147483648", INT32_MIN}, number_case{"-2147483649", INT32_MIN},
    number_case{"-99999999999999999999999", INT32_MIN}));

struct scan_case {
    std::vector<std::string> args;  // after the invocation name
    int status = 0;
    std::string out{};
    const char *in = nullptr;
    const char *target = nullptr;
    uint32_t buffer = DEFAULT_BUFFER_SIZE;
    int32_t fill = 0;
    bool verify = false;
    bool keep_tail = false;
    uint32_t verify_size = 0;
};

void PrintTo(const scan_case &c, std::ostream *os)
{
    for (const auto &a : c.args)
        *os << a << ' ';
}

class ScanOptions : public ::testing::TestWithParam<scan_case> {};

TEST_P(ScanOptions, FillsTheRecord)
{
    const scan_case &c = GetParam();
    std::vector<char *> argv{const_cast<char *>("./burn")};
    for (const auto &a : c.args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    burn_options o;
    testing::internal::CaptureStdout();
    int status = scan_options(static_cast<int>(argv.size() - 1), argv.data(), "./burn", &o);
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(status, c.status);
    EXPECT_EQ(out, c.out);
    if (status == 0) {
        EXPECT_STREQ(o.input_name, c.in);
        EXPECT_STREQ(o.output_name, c.target);
        EXPECT_EQ(o.buffer_size, c.buffer);
        EXPECT_EQ(o.fill_size, c.fill);
        EXPECT_EQ(o.verify, c.verify);
        EXPECT_EQ(o.keep_tail, c.keep_tail);
        EXPECT_EQ(o.verify_size, c.verify_size);
        EXPECT_EQ(o.verify_buffer != nullptr, c.verify);
    }
    release_options(&o);
}

const std::string usage = std::string(USAGE_TEXT) + "\n";

INSTANTIATE_TEST_SUITE_P(Table, ScanOptions, ::testing::Values(
    scan_case{.args = {"image.bin", "/dev/mtd3"}, .in = "image.bin", .target = "/dev/mtd3"},
    scan_case{.args = {}},
    scan_case{.args = {"image.bin"}, .in = "image.bin"},
    // Positional defaults are the first two words, options included.
    scan_case{.args = {"-c", "image.bin", "/dev/mtd3"}, .in = "-c", .target = "image.bin",
              .verify = true, .verify_size = 0x10000},
    // Only the second character counts; a value is the next word unchanged.
    scan_case{.args = {"-input", "a", "-out", "b", "-b4096", "512", "-fill", "0x100"},
              .in = "a", .target = "b", .buffer = 512, .fill = 256},
    scan_case{.args = {"-i", "-o", "t"}, .in = "-o", .target = "-o"},
    // Unknown letters take no value, so the -u after each still acts.
    scan_case{.args = {"a", "b", "-x", "-u"}, .in = "a", .target = "b", .keep_tail = true},
    scan_case{.args = {"-v", "-B", "-", "-9", "-i", "a", "-o", "b"}, .in = "a", .target = "b"},
    // -b and -f with no word after them keep their value; -i and -o unset the name.
    scan_case{.args = {"a", "b", "-b", "100", "-f", "7", "-b"}, .in = "a", .target = "b",
              .buffer = 100, .fill = 7},
    scan_case{.args = {"a", "b", "-f"}, .in = "a", .target = "b"},
    scan_case{.args = {"a", "b", "-i"}, .target = "b"},
    scan_case{.args = {"a", "-o"}, .in = "a"},
    // Fields take the number as their own type.
    scan_case{.args = {"a", "b", "-b", "-1", "-f", "0xffffffff"}, .in = "a", .target = "b",
              .buffer = 0xffffffffu, .fill = -1},
    // Repeats: the last value wins, flags stay set, each -c sizes its own
    // buffer by the -b before it and the last one is kept.
    scan_case{.args = {"-u", "-i", "x", "-i", "a", "-o", "b", "-u", "-f", "1", "-f", "2"},
              .in = "a", .target = "b", .fill = 2, .keep_tail = true},
    scan_case{.args = {"a", "b", "-b", "1024", "-c"}, .in = "a", .target = "b", .buffer = 1024,
              .verify = true, .verify_size = 1024},
    scan_case{.args = {"a", "b", "-c", "-b", "512"}, .in = "a", .target = "b", .buffer = 512,
              .verify = true, .verify_size = 0x10000},
    scan_case{.args = {"a", "b", "-b", "100", "-c", "-b", "200", "-c", "-b", "50"}, .in = "a",
              .target = "b", .buffer = 50, .verify = true, .verify_size = 200},
    // A -b after -c that outgrows the buffer gets a buffer of the final size.
    scan_case{.args = {"a", "b", "-c", "-b", "131072"}, .in = "a", .target = "b",
              .buffer = 131072, .verify = true, .verify_size = 131072},
    // -h ends the scan where it stands, before a later or even an earlier -b 0 is refused.
    scan_case{.args = {"-h", "a", "b"}, .status = 1, .out = usage},
    scan_case{.args = {"a", "b", "-c", "-u", "-h", "-b", "0"}, .status = 1, .out = usage},
    scan_case{.args = {"a", "b", "-b", "0", "-h"}, .status = 1, .out = usage},
    scan_case{.args = {"a", "b", "-b", "0"}, .status = -1, .out = "./burn: invalid buffer size 0\n"},
    scan_case{.args = {"a", "b", "-b", "0", "-c"}, .status = -1,
              .out = "./burn: invalid buffer size 0\n"}));

}  // namespace
