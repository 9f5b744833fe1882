// Giving back the memory of the configuration text behind the parser.
//
// The whole configuration is read before parsing starts, so that its read
// errors come before any other report; but once an entry is complete, the
// text before it is looked at no more. The tables keep copies of what they
// hold for longer (host names, classes and their variables, the variables
// of a host that keeps them), and a host whose data is made needs its
// variables no more (host_data.h). So the pages of text behind the parser
// are given back to the system as it goes, and the configuration and the
// data made from it are not held in memory at once.
//
// While assignments are traced for an explanation, the variables of every
// host are kept as views into the text, and nothing is given back.
#pragma once

#include <cstdint>

// The text, from the first byte to the last that is held (its NUL), may be
// given back from now on.
void text_release_start(const char *text, uint64_t length);

// Nothing before p is looked at any more: the whole pages of text before it
// are given back, a large piece at a time. Without text_release_start,
// nothing is.
void text_release_before(const char *p);
