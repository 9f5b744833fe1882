// cdb_writer: the compiler's database index. Records go straight to the
// output as they are added; an 8-byte entry per record is kept in chunks
// until the end, when the entries are sorted by bucket and the 256 hash
// tables are laid out one at a time and appended behind the records.
#include "cdb/cdb_writer.h"

#include "lib/die.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <unistd.h>

cdb_writer *cdb_the_writer;
uint32_t cdb_position;
cdb_allocator cdb_writer_allocator = malloc;

static_assert(sizeof(cdb_entry) == 8, "an entry is the 8 bytes of a slot");

namespace {

// Slots are staged in groups of at most one output buffer, so the output
// sees the same full-buffer writes as with a put per slot.
constexpr uint32_t slot_batch = iobuf_write_size / sizeof(cdb_entry);

void put_or_die(iobuf *out, const void *data, size_t n)
{
    if (iobuf_put(out, data, n) < 0)
        die(errno, "unable to write");
}

// One guarded step of cdb_position: the bytes just handed to the output must
// not end past the last 32-bit offset.
void advance_or_die(uint32_t n)
{
    if (n > cdb_position_limit - cdb_position)
        die(0, "database too large");
    cdb_position += n;
}

void count_buckets(cdb_writer *w)
{
    std::fill(std::begin(w->bucket_count), std::end(w->bucket_count), 0);
    for (const cdb_entry_chunk *c = w->chunks; c != nullptr; c = c->next)
        for (int i = 0; i < c->used; i++)
            w->bucket_count[c->entries[i].hash % cdb_bucket_count]++;
}

// Walking the entries newest first and filling each bucket's region from
// its end leaves every bucket in the order its records were added, which is
// the order the placement rule takes them in.
void distribute(cdb_writer *w)
{
    uint32_t sum = 0;
    for (uint32_t b = 0; b < cdb_bucket_count; b++) {
        sum += w->bucket_count[b];
        w->bucket_start[b] = sum;
    }
    for (const cdb_entry_chunk *c = w->chunks; c != nullptr; c = c->next)
        for (int i = c->used - 1; i >= 0; i--) {
            const cdb_entry &e = c->entries[i];
            w->sorted[--w->bucket_start[e.hash % cdb_bucket_count]] = e;
        }
}

// Puts one table's slots. A batch stops at the first slot that would carry
// cdb_position past the limit, so "unable to write" and "database too large"
// strike at the same slot, with the same bytes handed over, as they would
// with one put per slot.
void emit_slots(iobuf *out, const cdb_entry *table, uint32_t slots)
{
    unsigned char staged[slot_batch * sizeof(cdb_entry)];
    uint32_t done = 0;
    while (done < slots) {
        uint32_t fitting = (cdb_position_limit - cdb_position) / 8;
        uint32_t n = std::min(slots - done, slot_batch);
        bool too_large = n > fitting;
        if (too_large)
            n = fitting + 1;
        for (uint32_t j = 0; j < n; j++) {
            cdb_store_u32(staged + 8 * j, table[done + j].hash);
            cdb_store_u32(staged + 8 * j + 4, table[done + j].position);
        }
        put_or_die(out, staged, 8 * size_t{n});
        if (too_large)
            die(0, "database too large");
        cdb_position += 8 * n;
        done += n;
    }
}

} // namespace

void cdb_out_of_memory()
{
    static const char message[] = "out of memory\n";
    // Nothing is left to report a failure of this write to.
    if (write(2, message, sizeof message - 1) < 0) {
    }
    _exit(111);
}

void cdb_writer_init(cdb_writer *w)
{
    w->chunks = nullptr;
    w->sorted = nullptr;
    w->table = nullptr;
    w->entry_count = 0;
}

int cdb_writer_push_entry(cdb_writer *w, uint32_t hash, uint32_t position, cdb_allocator alloc)
{
    cdb_entry_chunk *c = w->chunks;
    if (c == nullptr || c->used == cdb_entry_chunk_size) {
        c = static_cast<cdb_entry_chunk *>(alloc(sizeof *c));
        if (c == nullptr)
            return 0;
        c->used = 0;
        c->next = w->chunks;
        w->chunks = c;
    }
    c->entries[c->used++] = cdb_entry{hash, position};
    w->entry_count++;
    return 1;
}

void cdb_writer_add(iobuf *out, const char *key, uint32_t key_length, const char *data,
                    uint32_t data_length)
{
    unsigned char head[8];
    cdb_store_u32(head, key_length);
    cdb_store_u32(head + 4, data_length);
    uint64_t record = sizeof head + uint64_t{key_length} + data_length;
    // Most records go into the output's buffer whole, where no put can fail:
    // they are copied there at once, and cdb_position is checked once.
    if (record < out->cap - out->len) {
        char *at = out->buf + out->len;
        memcpy(at, head, sizeof head);
        if (key_length != 0)
            memcpy(at + sizeof head, key, key_length);
        if (data_length != 0)
            memcpy(at + sizeof head + key_length, data, data_length);
        out->len += record;
        uint32_t h = cdb_hash(key, key_length);
        if (!cdb_writer_push_entry(cdb_the_writer, h, cdb_position, cdb_writer_allocator))
            cdb_out_of_memory();
        if (record > cdb_position_limit - cdb_position)
            die(0, "database too large");
        cdb_position += static_cast<uint32_t>(record);
        return;
    }
    put_or_die(out, head, sizeof head);
    uint32_t h = cdb_hash(key, key_length);
    put_or_die(out, key, key_length);
    put_or_die(out, data, data_length);
    if (!cdb_writer_push_entry(cdb_the_writer, h, cdb_position, cdb_writer_allocator))
        cdb_out_of_memory();
    advance_or_die(sizeof head);
    advance_or_die(key_length);
    advance_or_die(data_length);
}

uint64_t cdb_writer_work_places(const cdb_writer *w)
{
    uint64_t largest = *std::max_element(std::begin(w->bucket_count), std::end(w->bucket_count));
    return std::max<uint64_t>(1, 2 * largest) + w->entry_count;
}

int cdb_writer_prepare(cdb_writer *w, cdb_allocator alloc)
{
    count_buckets(w);
    uint64_t places = cdb_writer_work_places(w);
    if (places > cdb_writer_max_places)
        return 0;
    cdb_entry *sorted = static_cast<cdb_entry *>(alloc(places * sizeof(cdb_entry)));
    if (sorted == nullptr)
        return 0;
    w->sorted = sorted;
    w->table = sorted + w->entry_count;
    distribute(w);
    return 1;
}

uint32_t cdb_writer_bucket_table(cdb_writer *w, uint32_t position, int b)
{
    uint32_t n = w->bucket_count[b];
    uint32_t slots = 2 * n;
    cdb_store_u32(w->header + 8 * b, position);
    cdb_store_u32(w->header + 8 * b + 4, slots);
    if (slots == 0)
        return 0;
    cdb_entry *table = w->table;
    std::fill(table, table + slots, cdb_entry{0, 0});
    const cdb_entry *entries = w->sorted + w->bucket_start[b];
    for (uint32_t k = 0; k < n; k++) {
        uint32_t i = (entries[k].hash >> 8) % slots;
        while (table[i].position != 0)
            if (++i == slots)
                i = 0;
        table[i] = entries[k];
    }
    return slots;
}

void cdb_writer_emit_tables(iobuf *out)
{
    cdb_writer *w = cdb_the_writer;
    for (uint32_t b = 0; b < cdb_bucket_count; b++) {
        uint32_t slots = cdb_writer_bucket_table(w, cdb_position, static_cast<int>(b));
        emit_slots(out, w->table, slots);
    }
}
