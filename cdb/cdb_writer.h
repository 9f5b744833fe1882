// cdb_writer: writes a database in one pass. Records stream to the output
// as they are added; only an 8-byte (hash, position) entry per record stays
// in memory. At the end the entries are sorted by bucket and the 256 hash
// tables are appended; the header is built in memory and written over the
// placeholder by the caller.
#pragma once

#include "cdb/cdb.h"
#include "lib/iobuf.h"

#include <cstddef>
#include <cstdint>

struct cdb_entry {
    uint32_t hash;
    uint32_t position;
};

constexpr int cdb_entry_chunk_size = 1000;

struct cdb_entry_chunk {
    cdb_entry entries[cdb_entry_chunk_size];
    cdb_entry_chunk *next;   // the next older chunk
    int used;
};

struct cdb_writer {
    unsigned char header[cdb_header_size];   // the file header, ready to write
    uint32_t bucket_count[cdb_bucket_count];
    uint32_t bucket_start[cdb_bucket_count];
    cdb_entry_chunk *chunks;                 // newest first
    cdb_entry *sorted;                       // entries by bucket, then the work area
    cdb_entry *table;                        // the work area for one bucket's table
    uint32_t entry_count;
};

typedef void *(*cdb_allocator)(size_t size);

// The one database index of a run and the offset of the next byte of the
// database (2048 once the header placeholder is written).
extern cdb_writer *cdb_the_writer;
extern uint32_t cdb_position;
// The allocator that cdb_writer_add uses for new chunks (malloc by default).
extern cdb_allocator cdb_writer_allocator;

// The offset past which no byte of the database may lie (cdb_limit.cc):
// 0xFFFFFFFF, or a smaller cap that a build sets.
extern const uint32_t cdb_position_limit;

void cdb_writer_init(cdb_writer *w);

// Appends one record at cdb_position and registers its entry. Returns only
// on success: "unable to write", "database too large" (die) and
// "out of memory\n" (status 111) end the process.
void cdb_writer_add(iobuf *out, const char *key, uint32_t key_length, const char *data,
                    uint32_t data_length);

// 1 when stored; 0 when the allocator failed (the index is then unchanged).
int cdb_writer_push_entry(cdb_writer *w, uint32_t hash, uint32_t position, cdb_allocator alloc);

// Sorts the entries by bucket into one allocation that also holds the work
// area; 0 when the size is out of bounds or the allocator failed. The
// chunks are kept either way.
int cdb_writer_prepare(cdb_writer *w, cdb_allocator alloc);

// The most 8-byte places whose size in bytes still fits in 32 bits.
constexpr uint32_t cdb_writer_max_places = 0x1FFFFFFF;

// The places prepare needs once bucket_count is filled: entry_count sorted
// entries and a work area of max(1, 2 x the largest bucket count). Counted in
// 64 bits, so no count can wrap it below cdb_writer_max_places.
uint64_t cdb_writer_work_places(const cdb_writer *w);

// Fills header entry b with (position, slot count), lays out the bucket's
// table in w->table and returns its slot count.
uint32_t cdb_writer_bucket_table(cdb_writer *w, uint32_t position, int b);

// Writes the 256 tables in bucket order, advancing cdb_position; returns
// only on success.
void cdb_writer_emit_tables(iobuf *out);

// Writes the 14 bytes "out of memory\n" to descriptor 2 and ends with 111.
[[noreturn]] void cdb_out_of_memory();
