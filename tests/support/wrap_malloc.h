// Failing allocations in process, for test executables linked with
// -Wl,--wrap=malloc: every malloc call from the objects and static
// libraries linked into them reaches __wrap_malloc (wrap_malloc.cpp), which
// passes it on to the C library's malloc unless it is the one armed to fail.
//
//   wrap_malloc_fail_nth(3);   // the third allocation from now fails
//   int result = code_under_test();
//   wrap_malloc_disarm();      // every allocation succeeds again
#pragma once

// Counts allocations from zero again and makes the nth of them, counted
// from 1, return null; 0 fails none. Only that one allocation fails.
void wrap_malloc_fail_nth(long nth);

// Stops failing and counting.
void wrap_malloc_disarm();

// Allocations made since the last wrap_malloc_fail_nth (none are counted
// after wrap_malloc_disarm, nor when armed with 0).
long wrap_malloc_count();
