// Builds database bytes for tests from (key, data) records, independently of
// the compiler's writer: the header, the records from offset 2048, and the
// 256 hash tables laid out by the placement rule of the format; and reads
// the number of records back from a header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct test_record {
    std::string key;
    std::string data;
};

// A complete, well-formed database holding the records in the given order.
std::string build_cdb(const std::vector<test_record> &records);

// As build_cdb, with `stray` bytes between the last record and the tables;
// the header's record end counts them as records' bytes.
std::string build_cdb_with_stray(const std::vector<test_record> &records, const std::string &stray);

// The number of records of a database, from its header: every table has two
// slots a record. 0 for a file shorter than a header.
uint64_t cdb_record_count(const std::string &db);
