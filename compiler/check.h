// A check of the configuration (corvane_make --check and --explain): every
// key that record generation adds is watched, to find the entries that can
// never be served and, for an explained key, the entry that gives it. The
// database itself goes nowhere.
//
// Warnings, one line each on standard error, in the order of the lines they
// name:
//   an entry that gives keys, every one of which a later entry gives too (a
//   lookup finds the later entry's record first), with the line of the
//   first later entry that gives one of them;
//   a class that no entry and no other class includes.
#pragma once

#include "compiler/tables.h"
#include "lib/zarray.h"

#include <cstdint>
#include <string_view>

// What a check found out about the explained key.
struct key_givers {
    const host *first;             // the entry whose record a lookup finds, or null
    const char *data;              // its data, a copy
    uint64_t data_length;
    zarray<const host *> older;    // the other entries that give the key, newest first
};

// Starts watching the records; explain_key is the key to explain, or null.
void check_begin(const char *explain_key);

// After each host's records: weighs the host's keys against the later
// entries' (hosts come newest first).
void check_host_done(const host *h);

// Writes the warnings to standard error.
void check_report();

// The givers of the explained key, once every host is done.
const key_givers *check_givers();
