// Record generation: one record per key of a host, each carrying the host's
// expanded data.
#pragma once

#include "compiler/tables.h"
#include "lib/iobuf.h"

#include <cstddef>
#include <cstdint>

// Expands h's data and adds a record for every key of its name through the
// database writer, which writes to out. Every failure ends the process.
void emit_host(const host *h, iobuf *out);

// Watches every record that emit_host adds, when set (a check sets it; a
// compile leaves it null): the host, the record's key and its data.
typedef void (*emit_watcher)(const host *h, const char *key, size_t key_length, const char *data,
                             uint64_t data_length);
extern emit_watcher emit_watch;
