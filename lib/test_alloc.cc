// The malloc and realloc wrappers behind test_alloc_fail.
#include "lib/test_alloc.h"

#include <cerrno>
#include <cstddef>

extern "C" {
void *__real_malloc(size_t size);
void *__real_realloc(void *p, size_t size);
void *__wrap_malloc(size_t size);
void *__wrap_realloc(void *p, size_t size);
}

namespace {

unsigned skip_left;
unsigned fail_left;

bool next_call_fails()
{
    if (skip_left > 0) {
        skip_left--;
        return false;
    }
    if (fail_left > 0) {
        fail_left--;
        errno = ENOMEM;
        return true;
    }
    return false;
}

} // namespace

void test_alloc_fail(unsigned skip, unsigned count)
{
    skip_left = skip;
    fail_left = count;
}

void test_alloc_reset()
{
    test_alloc_fail(0, 0);
}

void *__wrap_malloc(size_t size)
{
    return next_call_fails() ? nullptr : __real_malloc(size);
}

void *__wrap_realloc(void *p, size_t size)
{
    return next_call_fails() ? nullptr : __real_realloc(p, size);
}
