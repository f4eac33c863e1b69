// The text form of a rule set, printed by `dump` and read by `build`:
//
//   provider<TAB>P<TAB>NAME        one line for each provider 0 to 9
//   number<TAB>route<TAB>provider<TAB>area     the header of the rules
//   NUMBER<TAB>ROUTE<TAB>PROVIDER<TAB>AREA     one line per rule
//
// Names are written with backslash escapes (\\, \t, \n, \r, \xHH for other
// control bytes) so that every name fits on its line and comes back byte for
// byte; other bytes, ISO-8859-1 letters included, stand as they are.
#pragma once

#include <cstdio>

#include "rule_list.h"

inline constexpr char RULE_HEADER[] = "number\troute\tprovider\tarea";

// A name with the escapes above.
void print_escaped_name(FILE *out, const char *name);
void print_provider_line(FILE *out, int provider, const char *name);
// The fields of a rule line without its newline, for lines that go on.
void print_rule_fields(FILE *out, const tool_rule *rule);
void print_rule_line(FILE *out, const tool_rule *rule);

// The name messages use for a text path: "-" is standard input.
const char *text_file_name(const char *path);

// Reads the text at `path` ("-" for standard input) into `list`, in the
// order of its lines. Every line it cannot take is reported with its line
// number. EXIT_OK; EXIT_REJECTED after a bad line; EXIT_TROUBLE when the
// file cannot be read or memory runs out.
int read_rule_text(const char *path, rule_list *list);
