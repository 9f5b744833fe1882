// Runs the compiler on one configuration in a fresh directory, as
// "corvane_make data.cdb data.tmp config", for tests whose configurations
// are made in code rather than kept in case files.
#pragma once

#include "tests/support/run_process.h"

#include <string>

struct compiled {
    process_result result;
    std::string db;   // the installed database, or "" when none was
};

compiled compile_config(const std::string &program, const std::string &config);
