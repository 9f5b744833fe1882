// The text form of a record, the configuration syntax in which pellow
// prints a database and corvane_make explains a key: "client ", the key,
// " {\n  ", the data by the data rule, "}\n". The data rule: a NUL closes an
// item with "\";\n  ", and the first "=" of an item opens its value with
// "=\""; every other byte stands as it is.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies and loads run up to sixteen bytes at a time: the key and the data
// must be readable this far past their ends, and the output has to have this
// much room beyond the text.
constexpr size_t record_text_overrun = 16;

// The most room that record_text can need: each data byte gives at most five
// bytes of text, and a copy may overrun the text by a word.
constexpr uint64_t record_text_bound(uint32_t key_length, uint32_t data_length)
{
    return 7 + uint64_t{key_length} + 5 + 5 * uint64_t{data_length} + 2 + record_text_overrun;
}

// Writes the record's text at out, which has record_text_bound bytes of room,
// and returns the end of the text.
unsigned char *record_text(unsigned char *out, const unsigned char *key, uint32_t key_length,
                           const unsigned char *data, uint32_t data_length);

// Writes the text of data by the data rule, from a place where the item's
// value has been opened (*quoted) or not, and updates *quoted. The data may
// be given in pieces, one call each, as long as *quoted goes from one call
// to the next; a NUL ends an item, so items may be written one at a time.
// The same overrun as above applies to the input and to the output, which
// needs room for 5 bytes a data byte and the overrun.
unsigned char *record_text_data(unsigned char *out, const unsigned char *data, uint32_t data_length,
                                bool *quoted);
