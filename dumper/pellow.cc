// pellow: prints every record of a database read on standard input as a
// client block of the configuration language.
//
// Only the first header word (where the records end) and the records are
// read; the rest of the header and the hash tables are never looked at.
#include "cdb/cdb.h"
#include "dumper/pellow_io.h"
#include "cdb/record_text.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies n bytes of input to the output unchanged.
void copy_key(uint32_t n)
{
    while (n > 0) {
        if (pellow_in.pos == pellow_in.end && !pellow_fill())
            pellow_bad_format();
        size_t take = static_cast<size_t>(pellow_in.end - pellow_in.pos);
        if (take > n)
            take = n;
        pellow_write(pellow_in.pos, take);
        pellow_in.pos += take;
        n -= static_cast<uint32_t>(take);
    }
}

// The data of a record too large for one buffer, a piece at a time: the
// most input whose text, five bytes a byte at worst, fits the output buffer.
constexpr size_t data_piece_most = (pellow_block_size - record_text_overrun) / 5;

// Writes n bytes of record data by the data rule, in pieces as the input
// arrives; whether an item's value is open carries from piece to piece.
void print_data(uint32_t n)
{
    bool quoted = false;
    while (n > 0) {
        if (pellow_in.pos == pellow_in.end && !pellow_fill())
            pellow_bad_format();
        size_t take = static_cast<size_t>(pellow_in.end - pellow_in.pos);
        take = std::min({take, size_t{n}, data_piece_most});
        if (5 * take + record_text_overrun > static_cast<size_t>(pellow_out.end - pellow_out.pos))
            pellow_drain();
        pellow_out.pos = record_text_data(pellow_out.pos, pellow_in.pos, static_cast<uint32_t>(take), &quoted);
        pellow_in.pos += take;
        n -= static_cast<uint32_t>(take);
    }
}

// Prints the key and data that follow in the input, in pieces as the
// buffers fill and drain: the way of a record that does not lie whole in the
// input read, or whose text may not fit into the output buffer.
void print_record(uint32_t key_length, uint32_t data_length)
{
    pellow_put("client ");
    copy_key(key_length);
    pellow_put(" {\n  ");
    print_data(data_length);
    pellow_put("}\n");
}

static_assert(pellow_overrun >= record_text_overrun);

// Prints the records that lie whole in the input read, as long as their
// text fits into the output buffer, with the places of both buffers kept in
// locals; returns what is left of the records. The records are looked for
// only up to where the input read or the records end, whichever comes first,
// so one test tells whether a record lies whole within both. It stops before
// a record it cannot print this way, and when less than a head is left
// before that place; the caller then takes one record the general way, which
// reports every fault of the format.
uint32_t print_whole_records(uint32_t left)
{
    const unsigned char *const start = pellow_in.pos;
    const unsigned char *in = start;
    const unsigned char *const stop = start + std::min(size_t{left}, static_cast<size_t>(pellow_in.end - start));
    unsigned char *out = pellow_out.pos;
    unsigned char *const out_end = pellow_out.end;
    while (stop - in >= 8) {
        uint32_t key_length = cdb_load_u32(in);
        uint32_t data_length = cdb_load_u32(in + 4);
        uint64_t record = uint64_t{key_length} + data_length;
        if (record > static_cast<uint64_t>(stop - in) - 8)
            break;
        uint64_t bound = record_text_bound(key_length, data_length);
        if (bound > static_cast<uint64_t>(out_end - out)) {
            if (bound > pellow_block_size)
                break;
            pellow_out.pos = out;
            pellow_drain();
            out = pellow_out.pos;
        }
        const unsigned char *key = in + 8;
        out = record_text(out, key, key_length, key + key_length, data_length);
        in = key + record;
    }
    pellow_in.pos = const_cast<unsigned char *>(in);
    pellow_out.pos = out;
    return left - static_cast<uint32_t>(in - start);
}

} // namespace

int main()
{
    unsigned char head[8];
    pellow_read(head, 4);
    uint32_t end_of_records = cdb_load_u32(head);
    pellow_read(nullptr, cdb_header_size - 4);
    if (end_of_records <= cdb_header_size)
        pellow_finish();

    // What is left of the records, counted down: each record must fit in it
    // whole, head, key and data, and the last must end where it ends.
    uint32_t left = end_of_records - cdb_header_size;
    for (;;) {
        left = print_whole_records(left);
        if (left == 0)
            pellow_finish();
        if (left <= 7)
            pellow_bad_format();
        // Most heads lie whole in the input read.
        if (pellow_in.end - pellow_in.pos >= 8) {
            memcpy(head, pellow_in.pos, 8);
            pellow_in.pos += 8;
        } else {
            pellow_read(head, 8);
        }
        uint32_t key_length = cdb_load_u32(head);
        uint32_t data_length = cdb_load_u32(head + 4);
        uint64_t record = uint64_t{key_length} + data_length;
        if (record > left - 8)
            pellow_bad_format();
        left -= static_cast<uint32_t>(8 + record);
        print_record(key_length, data_length);
        if (left == 0)
            pellow_finish();
    }
}
