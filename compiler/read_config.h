// Reads the whole configuration into memory.
#pragma once

#include "lib/iobuf.h"
#include "lib/zostr.h"

// Reads everything from in into text and appends one NUL byte. The input
// must end with a newline and may hold no NUL byte; a read error, a missing
// final newline and a NUL byte are fatal, each reported as soon as it is
// met: a NUL byte once it has been read, whether its line is complete or
// not.
void read_config(iobuf *in, zostr *text);
