// The memory of the compiler's database index: the writer's chunks of
// entries and its sorted entries, cut from large blocks whose pages are
// set up at once, on huge pages once the index is large (lib/pages.h).
//
// An index of many records used to take its chunks from malloc one at a
// time and its sorted entries as one more block, each of their pages
// faulting in on first use; on the virtual machines measured those faults
// were more than a third of a compile of 400,000 records. Nothing is given
// back before the process ends, so the chunks and the sorted entries are
// in memory together at the end (8 bytes a record each).
#pragma once

#include <cstddef>

// An allocator for cdb_writer_allocator and cdb_writer_prepare: size bytes
// aligned for any entry, or null when memory runs out.
void *cdb_arena_alloc(size_t size);
