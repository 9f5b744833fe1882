// The temporary file: which file it may be, and opening it for a database
// while other runs may be using the same name.
#pragma once

#include <sys/stat.h>

// Ends the run when the file tmp (the status of tmpfile) is cdbfile, or
// the file that the configuration is read from (the descriptor input):
// writing there would destroy it.
void refuse_same_file(const struct stat *tmp, const char *cdbfile, int input);

// Opens tmpfile for the database, truncated when it is a regular file. A
// symbolic link at tmpfile is refused, and the file is locked: another run
// building in the same tmpfile waits until this one has installed its
// database. The lock is held until the process ends.
int temp_file_open(const char *tmpfile, const char *cdbfile, int input);
