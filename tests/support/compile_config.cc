// Running the compiler and pellow on inputs made in code.
#include "tests/support/compile_config.h"

const std::string old_database = "the previous database\n";

compiled compile_config(const std::string &program, const std::string &config)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/config", config);
    process_setup setup;
    setup.path = program;
    setup.argv = {"corvane_make", "data.cdb", "data.tmp", "config"};
    setup.dir = dir;
    compiled c;
    c.result = run_process(setup);
    bool ok = false;
    c.db = read_file(dir + "/data.cdb", &ok);
    if (!ok)
        c.db.clear();
    remove_tree(dir);
    return c;
}

process_result dump_database(const std::string &pellow, const std::string &db)
{
    process_setup setup;
    setup.path = pellow;
    setup.argv = {"pellow"};
    setup.stdin_data = db;
    return run_process(setup);
}
