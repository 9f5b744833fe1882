// Reads the whole configuration into memory.
#pragma once

#include "lib/iobuf.h"
#include "lib/zostr.h"

// Reads everything from in into text and appends one NUL byte. The input
// must end with a newline and may hold no NUL byte; a read error, a missing
// final newline and a NUL byte are fatal, reported as if the input were
// taken line by line: a NUL byte as soon as its line is complete, a read
// error only after every complete line before it.
void read_config(iobuf *in, zostr *text);
