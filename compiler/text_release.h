// The configuration text behind the parser: lent for the data of hosts, or
// given back.
//
// The whole configuration is read before parsing starts, so that its read
// errors come before any other report; but once an entry is complete, the
// text before it is looked at no more. The tables keep copies of what they
// hold for longer (host names, classes and their variables, the variables
// of a host that keeps them), and a host whose data is made needs its
// variables no more (host_data.h). So the pages of text behind the parser
// are free for other use as it goes: the data made of a host is written
// over the text before it, one host after another from the start of the
// text, in pages that the read has set up already (a host's data is about
// as long as the text it is made from); and pages that the data is not
// about to reach are given back to the system. The configuration and the
// data made from it are not held in memory at once.
//
// While assignments are traced for an explanation, the variables of every
// host are kept as views into the text, and nothing is lent or given back.
#pragma once

#include <cstdint>

// The text, from the first byte to the last that is held (its NUL), may be
// lent and given back from now on.
void text_release_start(const char *text, uint64_t length);

// The length of the text given to text_release_start (0 without it).
uint64_t text_release_length();

// A place for length bytes in the text before bound, which nothing looks at
// any more, following the place taken before; null when it has no room
// left (or without text_release_start). What is written there stays until
// the end.
char *text_release_take(uint64_t length, const char *bound);

// Nothing before p is looked at any more: the whole pages of text between
// the places taken and p are given back, a large piece at a time, but for a
// reserve that the next places are likely to take.
void text_release_before(const char *p);
