// SPDX-License-Identifier: MIT
// Failing allocations in process, for test executables linked with
// -Wl,--wrap=malloc: every malloc call from the objects and static
// libraries linked into them reaches __wrap_malloc (wrap_malloc.cpp), which
// passes it on to the C library's malloc unless it is the one armed to fail.
//
//   wrap_malloc_fail_nth(3);   // the third allocation from now fails
//   int result = code_under_test();
//   wrap_malloc_disarm();      // every allocation succeeds again
//
// or, the same: with_nth_malloc_failing(3, [&] { return code_under_test(); }).
#pragma once

#include <cstddef>

// Counts allocations from zero again and makes the nth of them, counted
// from 1, return null; 0 fails none. Only that one allocation fails.
void wrap_malloc_fail_nth(long nth);

// Stops failing and counting.
void wrap_malloc_disarm();

// Whether the allocation armed by the last wrap_malloc_fail_nth has failed.
bool wrap_malloc_failed();

// The last allocation that succeeded, and its size.
void *wrap_malloc_last(size_t *size);

// Runs `code` with its nth allocation failing and returns what it returns.
template <class Code>
auto with_nth_malloc_failing(long nth, Code code)
{
    wrap_malloc_fail_nth(nth);
    auto result = code();
    wrap_malloc_disarm();
    return result;
}
