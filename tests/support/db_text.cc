// Database bytes from a textual description.
#include "tests/support/db_text.h"

#include "cdb/cdb.h"
#include "tests/support/case_file.h"
#include "tests/support/cdb_builder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

bool parse_number(const std::string &text, uint64_t *value)
{
    try {
        size_t used = 0;
        *value = std::stoull(text, &used, 0);
        return used == text.size();
    } catch (...) {
        return false;
    }
}

} // namespace

std::string build_db_from_text(const std::string &description, std::string *error)
{
    std::vector<test_record> records;
    std::string stray, raw;
    bool is_raw = false;
    std::vector<std::vector<std::string>> finishing;
    for (const std::string &line : body_lines(description)) {
        std::vector<std::string> w = split_words(line, error);
        if (w.empty() || w[0][0] == '#')
            continue;
        uint64_t n = 0;
        const std::string &verb = w[0];
        size_t want = verb == "record" ? 3 : 2;
        if (w.size() != want) {
            *error = "wrong number of words in: " + line;
            return "";
        }
        bool numeric = verb == "zeros" || verb == "u32" || verb == "eor" || verb == "truncate";
        if (numeric && !parse_number(w[1], &n)) {
            *error = "not a number in: " + line;
            return "";
        }
        if (verb == "record") {
            records.push_back({w[1], w[2]});
        } else if (verb == "stray") {
            stray += w[1];
        } else if (verb == "raw") {
            is_raw = true;
            raw += w[1];
        } else if (verb == "zeros") {
            is_raw = true;
            raw.append(n, '\0');
        } else if (verb == "u32") {
            is_raw = true;
            unsigned char b[4];
            cdb_store_u32(b, static_cast<uint32_t>(n));
            raw.append(reinterpret_cast<const char *>(b), 4);
        } else if (verb == "eor" || verb == "truncate" || verb == "append") {
            finishing.push_back(w);
        } else {
            *error = "unknown directive: " + line;
            return "";
        }
    }
    std::string db = is_raw ? raw : build_cdb_with_stray(records, stray);
    for (const std::vector<std::string> &w : finishing) {
        uint64_t n = 0;
        if (w[0] == "append") {
            db += w[1];
            continue;
        }
        parse_number(w[1], &n);
        if (w[0] == "truncate") {
            db.resize(n < db.size() ? n : db.size());
        } else {   // eor
            unsigned char b[4];
            cdb_store_u32(b, static_cast<uint32_t>(n));
            if (db.size() < 4)
                db.resize(4);
            db.replace(0, 4, reinterpret_cast<const char *>(b), 4);
        }
    }
    return db;
}
