// The record data of a host: its variables joined as name "=" value NUL,
// with every "${name}" reference expanded.
#pragma once

#include "cdb/cdb_writer.h"
#include "compiler/tables.h"

#include <cstdint>

enum expand_status {
    expand_done,
    expand_bad_reference,   // the failure says which
    expand_too_large,       // the data would be longer than the limit
};

struct expand_failure {
    const char *msg;      // "unfinished ${ in", "didn't find variable", "recursive variable reference"
    const char *detail;   // good until the next expansion
    int64_t line;         // where the variable holding the reference was last set
};

// The longest data that a record can carry: with a key of at least one
// byte, data and key together must stay within the database's limit.
inline uint64_t expand_data_limit()
{
    return uint64_t{cdb_position_limit} - 1;
}

// Builds and expands the data of h. A text that is bound to grow past limit
// stops the expansion as soon as that is certain. On success the data is
// described by expand_length and written out by expand_data.
expand_status expand_host(const host *h, uint64_t limit, expand_failure *failure);

uint64_t expand_length();

// The expanded data, written out on the first call; good until the next
// expansion.
const char *expand_data();
