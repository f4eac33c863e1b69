// SPDX-License-Identifier: MIT
// How lcrtool reports trouble: one line on standard error that names the
// file (and the line, for text input) and the reason.
#pragma once

#include <cstdint>

// Exit statuses shared by the subcommands.
inline constexpr int EXIT_OK = 0;         // done; for diff: no difference
inline constexpr int EXIT_REJECTED = 1;   // build: the text's rules refused
inline constexpr int EXIT_DIFFERENT = 1;  // diff: the rule sets differ
inline constexpr int EXIT_NO_RULE = 1;    // lookup: a number met no rule
inline constexpr int EXIT_FINDINGS = 1;   // check: an image has findings
inline constexpr int EXIT_REFUSED = 1;    // merge: lcrmerge would write nothing
inline constexpr int EXIT_TROUBLE = 2;    // a file unreadable or unwritable, bad usage

// "lcrtool: reason\n", for trouble that is no file's
void report_plain(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// "lcrtool: FILE: reason\n"
void report(const char *file, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// "lcrtool: FILE:LINE: reason\n"
void report_line(const char *file, uint32_t line, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// Flushes standard output; EXIT_OK, or EXIT_TROUBLE with a message when
// anything written to it was lost (a full disk, a closed pipe).
int finish_output();
