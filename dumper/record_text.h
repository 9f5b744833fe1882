// The text of one record in memory, as pellow prints it: "client ", the key,
// " {\n  ", the data by the data rule, "}\n". This is the path for a record
// that lies whole in the input buffer; pellow prints other records in pieces.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies and loads run a word at a time: the data must be readable this far
// past its end, and the output has to have this much room beyond the text.
constexpr size_t record_text_overrun = 8;

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
