// Makes a child program's allocations fail, through the fail_malloc library
// that run_program hands to the program with LD_PRELOAD (see
// fail_malloc.cpp). Natively and under an emulator alike the library may not
// reach the program (a static program, a sanitizer that refuses it), so a
// test first asks whether it did and skips otherwise.
#pragma once

#include <string>
#include <vector>

// Environment entries for run_options::env: the nth malloc call of the
// program fails (0: none does), and with `after` every later one too. The
// library writes its report to `report`.
std::vector<std::string> fail_malloc_env(const std::string &report, long nth, bool after = false);

// What the report at `report` says: the number of malloc calls the program
// made; -1 when the library was loaded but the program did not exit
// normally; -2 when the library was not loaded at all.
long fail_malloc_calls(const std::string &report);
