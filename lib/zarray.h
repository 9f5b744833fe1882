// zarray: a growable array of plain records held in the block of a zostr,
// for the scratch tables of the expansion, the check and the explanation.
// Growth and the report of exhausted memory are the string library's. The
// block may move when the array grows, so pointers into it are good only
// until the next push.
#pragma once

#include "lib/zostr.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

template <typename T>
struct zarray {
    static_assert(std::is_trivially_copyable_v<T>);
    zostr block;
};

template <typename T>
size_t zarray_size(const zarray<T> *a)
{
    return a->block.data ? a->block.length / sizeof(T) : 0;
}

template <typename T>
T *zarray_at(const zarray<T> *a, size_t i)
{
    return reinterpret_cast<T *>(a->block.data) + i;
}

template <typename T>
T *zarray_last(const zarray<T> *a)
{
    return zarray_at(a, zarray_size(a) - 1);
}

// Most pushes find room in the block: they are a copy, made here; the
// others grow the block through the string library.
template <typename T>
void zarray_push(zarray<T> *a, const T &record)
{
    zostr *b = &a->block;
    if (b->data && b->capacity - b->length > sizeof record) {
        memcpy(b->data + b->length, &record, sizeof record);
        b->length += sizeof record;
        return;
    }
    zostr_xadd_mem(b, &record, sizeof record);
}

// Makes the array n records long; records past its old end are not set.
template <typename T>
void zarray_resize(zarray<T> *a, size_t n)
{
    zostr *b = &a->block;
    uint64_t length = uint64_t{n} * sizeof(T);
    if (!b->data || b->capacity <= length)
        zostr_xallocmore(b, length + 1);
    b->length = length;
}

// Keeps the first n records.
template <typename T>
void zarray_cut(zarray<T> *a, size_t n)
{
    if (a->block.data)
        zostr_cut(&a->block, static_cast<int64_t>(n * sizeof(T)));
}

template <typename T>
void zarray_pop(zarray<T> *a)
{
    zarray_cut(a, zarray_size(a) - 1);
}

// Makes the array n zero-filled records long.
template <typename T>
void zarray_zero(zarray<T> *a, size_t n)
{
    static const char zeros[4096] = {};
    zarray_cut(a, 0);
    for (size_t left = n * sizeof(T); left;) {
        size_t k = left < sizeof zeros ? left : sizeof zeros;
        zostr_xadd_mem(&a->block, zeros, k);
        left -= k;
    }
}
