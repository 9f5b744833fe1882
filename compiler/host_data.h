// A host's record data, made as soon as its entry is complete.
//
// The records come out newest host first, so nothing can be written before
// the whole configuration is read; but a host's variables are final once
// its entry ends, and its data can be made then. Only the data is kept,
// over the text behind the parser or in large blocks, and the host's
// variable records and index are used again for the next host: the tables
// hold the variables of one host at a time instead of all of them.
//
// Whatever expand_host makes of a host is the one result of the expansion
// rule, so data made early is the data that the host's turn would make. A
// host keeps its variables, and has its data made at its turn as before,
// when the early expansion fails (its report must come at its turn, in the
// same words, after the reports of newer hosts and of the rest of the
// parse) or when the data would be longer than what its variables take:
// keeping the data must not cost more than keeping the variables would.
// A key is explained from the variables of its entry (explain.h), so while
// assignments are traced every host keeps its variables.
#pragma once

#include "compiler/tables.h"

// Called once the current host's entry is complete: makes and keeps its
// data, or leaves it to the host's turn. The text before bound is looked at
// no more: the data may be kept there.
void host_data_make(host *h, const char *bound);
