// Fresh memory set up in one system call, on huge pages where it can be.
//
// The first touch of a fresh page is dear on the virtual machines this runs
// on: about 9 us a page when it faults in, about 5 us when it was set up
// beforehand, and about as much for a whole huge page of 2 MiB. A large
// block is therefore set up at once, and its whole 2 MiB pieces are asked
// for as huge pages.
#pragma once

#include <cstdint>

// The size and alignment of a huge page.
constexpr uint64_t pages_huge = uint64_t{2} << 20;

// The whole pages of [at, at + size), which the caller is about to write
// through, are set up at once instead of faulting in one at a time as they
// are first written, and the whole huge pages among them are asked for as
// such. Only a hint: a system without it takes the faults, and a failure
// changes nothing. Blocks of less than 64 KiB are left to fault: the call
// itself costs about as much as a few faults.
void pages_prepare(void *at, uint64_t size);

// A block of size bytes from the C library's allocator; one of a huge page
// or more starts on a huge page (free and realloc take it as any other).
// Null with errno set when memory runs out.
void *pages_alloc(uint64_t size);

// pages_alloc's block with its pages set up (pages_prepare).
void *pages_block(uint64_t size);
