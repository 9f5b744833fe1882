// pellow: prints every record of a database read on standard input as a
// client block of the configuration language.
//
// Only the first header word (where the records end) and the records are
// read; the rest of the header and the hash tables are never looked at.
#include "cdb/cdb.h"
#include "dumper/pellow_io.h"
#include "dumper/record_text.h"

#include <cstring>

namespace {

// Finds the next byte in [p, stop) that the data rule transforms: a NUL
// always, an "=" only while the value's opening quote is still to come.
const unsigned char *next_special(const unsigned char *p, const unsigned char *stop, bool quoted)
{
    if (quoted)
        return static_cast<const unsigned char *>(memchr(p, 0, static_cast<size_t>(stop - p)));
    for (; p < stop; p++)
        if (*p == 0 || *p == '=')
            return p;
    return nullptr;
}

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

// Writes n bytes of record data as "name=\"value\";" items: a NUL closes an
// item, the first "=" of an item opens its value's quotes.
void print_data(uint32_t n)
{
    bool quoted = false;
    while (n > 0) {
        if (pellow_in.pos == pellow_in.end && !pellow_fill())
            pellow_bad_format();
        size_t take = static_cast<size_t>(pellow_in.end - pellow_in.pos);
        if (take > n)
            take = n;
        const unsigned char *p = pellow_in.pos;
        const unsigned char *stop = p + take;
        while (p < stop) {
            const unsigned char *q = next_special(p, stop, quoted);
            if (!q) {
                pellow_write(p, static_cast<size_t>(stop - p));
                break;
            }
            pellow_write(p, static_cast<size_t>(q - p));
            if (*q == 0) {
                pellow_put("\";\n  ");
                quoted = false;
            } else {
                pellow_put("=\"");
                quoted = true;
            }
            p = q + 1;
        }
        pellow_in.pos += take;
        n -= static_cast<uint32_t>(take);
    }
}

static_assert(pellow_overrun >= record_text_overrun);

// Prints the key and data that follow in the input: at once when the whole
// record has been read and its text fits into the output buffer, else in
// pieces as the buffers fill and drain.
void print_record(uint32_t key_length, uint32_t data_length)
{
    uint64_t bound = record_text_bound(key_length, data_length);
    uint64_t record = uint64_t{key_length} + data_length;
    if (bound <= pellow_block_size &&
        record <= static_cast<uint64_t>(pellow_in.end - pellow_in.pos)) {
        if (bound > static_cast<uint64_t>(pellow_out.end - pellow_out.pos))
            pellow_drain();
        const unsigned char *key = pellow_in.pos;
        pellow_out.pos = record_text(pellow_out.pos, key, key_length, key + key_length, data_length);
        pellow_in.pos += record;
        return;
    }
    pellow_put("client ");
    copy_key(key_length);
    pellow_put(" {\n  ");
    print_data(data_length);
    pellow_put("}\n");
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

    // Positions are unsigned 32-bit; every test is a difference from
    // end_of_records, which the position never passes, so none can overflow.
    uint32_t position = cdb_header_size;
    for (;;) {
        if (end_of_records - position <= 7)
            pellow_bad_format();
        pellow_read(head, 8);
        position += 8;
        uint32_t key_length = cdb_load_u32(head);
        uint32_t data_length = cdb_load_u32(head + 4);
        if (key_length > end_of_records - position)
            pellow_bad_format();
        position += key_length;
        if (data_length > end_of_records - position)
            pellow_bad_format();

        print_record(key_length, data_length);
        position += data_length;
        if (position >= end_of_records)
            pellow_finish();
    }
}
