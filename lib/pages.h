// Setting up the pages of a fresh block in one system call.
#pragma once

#include <cstdint>

// The whole pages of [at, at + size), which the caller is about to write
// through, are set up at once instead of faulting in one at a time as they
// are first written: far cheaper where a fault is dear (on the virtual
// machines measured, about half the cost of each fresh page). Only a hint:
// a system without it takes the faults, and a failure changes nothing.
// Blocks of less than 64 KiB are left to fault: the call itself costs
// about as much as a few faults.
void pages_prepare(void *at, uint64_t size);
