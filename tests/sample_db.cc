// Writes a small sample database to standard output, built by the tests'
// own database builder.
#include "tests/support/cdb_builder.h"

#include <cstdio>

int main()
{
    std::string db = build_cdb({
        {"10.0.0.1", std::string("root=/srv\0path=/srv/boot\0", 25)},
        {"pc7", std::string("root=/srv\0path=/srv/boot\0", 25)},
        {"printer", std::string("queue=lp0\0", 10)},
    });
    return fwrite(db.data(), 1, db.size(), stdout) == db.size() && fflush(stdout) == 0 ? 0 : 1;
}
