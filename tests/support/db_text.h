// Database bytes described as text, for end-to-end cases of pellow. One
// directive a line; texts are words or double-quoted with escapes:
//   record KEY DATA     a record (the database is built with its tables)
//   stray BYTES         bytes between the last record and the tables,
//                       counted as part of the records by the header
//   raw BYTES           the database is raw bytes instead: append these
//   zeros N             raw: append N zero bytes
//   u32 N               raw: append N as a little-endian word
// and then, in the order given:
//   eor N               overwrite the header's first word (end of records)
//   truncate N          keep only the first N bytes
//   append BYTES        append bytes after everything
#pragma once

#include <string>

// Returns the bytes; sets *error on a malformed description.
std::string build_db_from_text(const std::string &description, std::string *error);
