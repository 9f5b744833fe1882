// The standard descriptors at the start of a run. A descriptor among 0, 1
// and 2 that the caller left closed would go to the next file the compiler
// opens: the temporary file on 0 would be read back as the configuration,
// on 2 it would receive the error report. So each closed one is filled
// first, with /dev/null opened in the one direction in which the descriptor
// is never used: the configuration read from 0, help written to 1 and
// reports written to 2 then fail with EBADF, exactly as on the closed
// descriptor ("bad input format: read error", "unable to write: Bad file
// descriptor", a report that goes nowhere).
#include "compiler/std_fds.h"

#include "lib/die.h"

#include <cerrno>
#include <fcntl.h>

void std_fds_fill()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The descriptors below fd are open, so the lowest free one is fd.
        if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) < 0)
            die(errno, "cannot open /dev/null");
    }
}
