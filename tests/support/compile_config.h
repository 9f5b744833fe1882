// The programs run for tests whose inputs are made in code rather than kept
// in case files: the compiler on one configuration in a fresh directory, as
// "corvane_make data.cdb data.tmp config", and pellow on a database.
#pragma once

#include "tests/support/run_process.h"

#include <string>

struct compiled {
    process_result result;
    std::string db;   // the installed database, or "" when none was
};

compiled compile_config(const std::string &program, const std::string &config);

// What "data.cdb" holds before a run that must leave it alone: a text that
// no run produces.
extern const std::string old_database;

// pellow (at path) on the database db.
process_result dump_database(const std::string &pellow, const std::string &db);
