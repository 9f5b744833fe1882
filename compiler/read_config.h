// Reads the whole configuration into memory.
#pragma once

#include "lib/zostr.h"

// Reads every line from descriptor fd into text and appends one NUL byte.
// The input must end with a newline and may hold no NUL byte; a read error,
// a missing final newline and a NUL byte are fatal.
void read_config(int fd, zostr *text);
