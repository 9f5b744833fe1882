// Record generation: expansion, keys, and the records streamed to the
// database writer.
#include "compiler/emit.h"

#include "cdb/cdb_writer.h"
#include "compiler/expand/expand.h"
#include "compiler/keys.h"
#include "compiler/report.h"
#include "lib/die.h"

#include <cstdint>

emit_watcher emit_watch;

namespace {

struct record_data {
    const host *h;
    iobuf *out;
    const char *made;    // the data made when the entry was complete, or null
    const char *bytes;   // null until written out for the first key
    uint64_t length;
};

// The data is written out only once a record needs it, and only if that
// record can fit: a host too large for the database is refused without
// building its data.
void add_record(void *context, const char *key, size_t key_length)
{
    record_data *d = static_cast<record_data *>(context);
    if (!d->bytes) {
        if (uint64_t{cdb_position} + 8 + key_length + d->length > cdb_position_limit)
            die(0, "database too large");
        d->bytes = d->made ? d->made : expand_data();
    }
    cdb_writer_add(d->out, key, static_cast<uint32_t>(key_length), d->bytes,
                   static_cast<uint32_t>(d->length));
    if (emit_watch)
        emit_watch(d->h, key, key_length, d->bytes, d->length);
}

// The data of a host that kept its variables is made at its turn.
record_data host_data(const host *h, iobuf *out)
{
    if (h->data)
        return record_data{h, out, h->data, nullptr, h->data_length};
    expand_failure failure;
    switch (expand_host(h, expand_data_limit(), &failure, nullptr)) {
    case expand_done:
        break;
    case expand_too_large:
        die(0, "database too large");
    case expand_bad_reference:
        die_at(failure.line, 0, failure.msg, failure.detail);
    }
    return record_data{h, out, nullptr, nullptr, expand_length()};
}

} // namespace

void emit_host(const host *h, iobuf *out)
{
    record_data data = host_data(h, out);
    if (const key_failure *f = keys_split(h->name, add_record, &data))
        die_at(h->line, 0, f->msg, f->detail);
}
