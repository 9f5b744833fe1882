// Record generation: one record per key of a host, each carrying the host's
// expanded data.
#pragma once

#include "compiler/tables.h"

// Expands h's data and adds a record for every key of its name through the
// database writer on db_out. Every failure ends the process.
void emit_host(const host *h);
