// corvane_make --explain=KEY: what the server gets for KEY, and where each
// part of it came from, in configuration syntax.
//
// The output is the block that pellow prints for the record that a lookup
// of KEY finds first, with comment lines ("#") around its lines: which
// entry gave the key and which older entries give it too, and for every
// variable where its value was set (for a value from a class, the class
// and the line there, then each include that carried it), each "+=" and
// "override" after that, and the value as written when it had references.
// Without its comment lines the output is pellow's block byte for byte.
#pragma once

// Writes the explanation of key to standard output, once a check has
// watched every record (check.h) with the assignments traced
// (assign_trace.h). A key that no entry gives ends the process with a
// message and status 100; a failed write with "unable to write", status 1.
void explain_key(const char *key);
