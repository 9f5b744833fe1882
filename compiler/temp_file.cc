// The temporary file. Everything about it is checked before it is
// truncated: it must be neither the database nor the configuration, it must
// not be a symbolic link (renaming a link would install the link, and the
// database would have gone into whatever it points to), and no other run
// may be building in it.
//
// Runs that share tmpfile take turns through an exclusive lock on the file.
// A run that waited may find that the file it opened is gone from the name:
// the run before it has renamed it over its cdbfile. The file is then
// opened afresh by name (created anew) and locked again; writing into the
// one it holds would overwrite the database just installed.
#include "compiler/temp_file.h"

#include "lib/die.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool same_file(const struct stat *a, const struct stat *b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

// Waits for the lock; a signal that interrupts the wait does not end it.
void lock(int fd)
{
    while (flock(fd, LOCK_EX) < 0)
        if (errno != EINTR)
            die(errno, "cannot lock temporary file");
}

// Whether the locked descriptor fd is still the file that tmpfile names.
bool still_named(int fd, const char *tmpfile, struct stat *held)
{
    struct stat named;
    if (fstat(fd, held) < 0)
        die(errno, "cannot open temporary file");
    if (lstat(tmpfile, &named) < 0) {
        if (errno != ENOENT)
            die(errno, "cannot open temporary file");
        return false;
    }
    return same_file(held, &named);
}

} // namespace

void refuse_same_file(const struct stat *tmp, const char *cdbfile, int input)
{
    struct stat other;
    if (stat(cdbfile, &other) == 0 && same_file(tmp, &other))
        die(0, "tmpfile and cdbfile are the same file");
    if (fstat(input, &other) == 0 && same_file(tmp, &other))
        die(0, "tmpfile and configfile are the same file");
}

int temp_file_open(const char *tmpfile, const char *cdbfile, int input)
{
    for (;;) {
        int fd = open(tmpfile, O_RDWR | O_CREAT | O_NOFOLLOW, 0644);
        if (fd < 0)
            die(errno, "cannot open temporary file");
        lock(fd);
        struct stat held;
        if (!still_named(fd, tmpfile, &held)) {
            close(fd);
            continue;
        }
        // The names may have changed since they were first checked.
        refuse_same_file(&held, cdbfile, input);
        // A device or a FIFO cannot be truncated, and is written as it is.
        if (S_ISREG(held.st_mode) && ftruncate(fd, 0) < 0)
            die(errno, "cannot open temporary file");
        // The lock belongs to the open file, not to the descriptor: this
        // second one keeps it after the caller closes fd, until the
        // process ends, so the rename happens under it.
        if (dup(fd) < 0)
            die(errno, "cannot lock temporary file");
        return fd;
    }
}
