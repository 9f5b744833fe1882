// The standard descriptors at the start of a run: none of 0, 1 and 2 may be
// left for a file that the compiler opens.
#pragma once

// Fills every closed one of descriptors 0, 1 and 2 with /dev/null. Run
// before anything else is opened.
void std_fds_fill();
