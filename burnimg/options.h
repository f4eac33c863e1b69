// SPDX-License-Identifier: MIT
// The command line of burnimg: the option record, the number reader and the
// usage text.
#pragma once

#include <cstdint>

// One run's instructions, filled by scan_options before any file is opened.
struct burn_options {
    const char *input_name;        // image to copy; null when the command line names none
    const char *output_name;       // target to overwrite; null when the command line names none
    uint32_t buffer_size;          // bytes per chunk, in the copy and in the comparison
    int32_t fill_size;             // pad with 0xFF until this many bytes are written; 0: no fill
    bool verify;                   // read back and compare, repeating the cycle until equal
    bool keep_tail;                // copy the image whole, its last 8 bytes included
    unsigned char *verify_buffer;  // target side of the comparison, from malloc
    uint32_t verify_size;          // bytes that verify_buffer holds
};

inline constexpr uint32_t DEFAULT_BUFFER_SIZE = 0x10000;

// Printed by -h. It names the program by this fixed word, not by argv[0].
inline constexpr char USAGE_TEXT[] =
    "burnimg: -i <input-file> -o <output-file> [-b buffersize] [-u]";

// Reads an option value: "0x"/"0X" and hexadecimal digits kept to the low
// 32 bits, otherwise a decimal number clamped to the signed 32-bit range.
// Never fails: text that holds no digits reads as 0.
int32_t parse_number(const char *text);

// Fills *opts from the command line. Returns 0 when the run goes on, 1
// after -h has printed the usage text, and -1 when the run must end: a
// verification buffer that cannot be allocated (silently) or a buffer size
// of 0 (with a message naming prog). Call release_options afterwards in
// every case.
int scan_options(int argc, char *const *argv, const char *prog, burn_options *opts);

// Frees what scan_options allocated.
void release_options(burn_options *opts);
