// corvane_make cdbfile tmpfile [configfile]: the program's entry point; the
// run itself is in driver.cc.
#include "compiler/driver.h"

int main(int argc, char **argv)
{
    return corvane_make_main(argc, argv);
}
