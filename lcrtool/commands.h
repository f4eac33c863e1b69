// SPDX-License-Identifier: MIT
// The subcommands of lcrtool. Each returns the process exit status
// (messages.h) and reports its own errors.
#pragma once

// Prints the provider names and the rules of an image in the text form.
int lcrtool_dump(const char *image);
// Compiles the text form into an image file.
int lcrtool_build(const char *text, const char *image);
// Prints how the rule sets of two images differ.
int lcrtool_diff(const char *image_a, const char *image_b);
// Prints, for each number, the rule of its longest prefix in the image and
// what that rule's timetable names; with `at` ("HH:MM", null for none),
// also the answer at that time of day.
int lcrtool_lookup(const char *image, char *const *numbers, int count, const char *at);
// Draws each timetable that a rule uses or that holds other than what the
// compiler writes (every one with `all`) as one line of half hours.
int lcrtool_timetables(const char *image, bool all);
// Prints, for each image, what the loader passes over in it without a word
// and what a merge would change: one "FILE: finding" line each.
int lcrtool_check(char *const *images, int count);
// Prints what lcrmerge does with the two images in `mode` ("1" or "2"):
// the rules it drops and adds, what the image loses, or why lcrmerge
// refuses; with `output` (may be null) writes the image lcrmerge writes.
int lcrtool_merge(const char *mode, const char *current, const char *defaults, const char *output);
