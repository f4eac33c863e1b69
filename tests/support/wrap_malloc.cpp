// SPDX-License-Identifier: MIT
#include "wrap_malloc.h"

#include <cstddef>

extern "C" void *__real_malloc(size_t size);

namespace {

// Allocations made since counting began, the one to fail (0: none) and
// whether it has failed.
long allocations = 0;
long fail_at = 0;
bool failed = false;
void *last = nullptr;
size_t last_size = 0;

}  // namespace

// Counting goes on after the armed allocation has failed, so each later
// one succeeds until the test disarms.
extern "C" void *__wrap_malloc(size_t size)
{
    if (fail_at && ++allocations == fail_at) {
        failed = true;
        return nullptr;
    }
    last_size = size;
    return last = __real_malloc(size);
}

void wrap_malloc_fail_nth(long nth)
{
    allocations = 0;
    fail_at = nth;
    failed = false;
}

void wrap_malloc_disarm()
{
    fail_at = 0;
}

bool wrap_malloc_failed()
{
    return failed;
}

void *wrap_malloc_last(size_t *size)
{
    *size = last_size;
    return last;
}
