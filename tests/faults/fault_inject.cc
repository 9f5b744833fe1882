// Fault injection for a test build of corvane_make (corvane_make_faults).
// The build links the compiler with --wrap for the calls below, so every such
// call made by the compiler's own code passes through here; calls from inside
// the C library do not. The environment variable CORVANE_FAULTS says which
// call fails, as comma-separated items:
//   alloc=N         the N-th allocation (malloc, calloc, realloc or
//                   posix_memalign, counted together from 1) fails with ENOMEM
//   alloc=N+        the N-th allocation and every one after it fail
//   open=N:ERRNO    the N-th open fails with the errno named (EIO, EACCES ...)
//   fsync=N:ERRNO   the N-th fsync fails likewise
//   flock=N:ERRNO   the N-th flock likewise
//   ftruncate=N:ERRNO  the N-th ftruncate likewise
//   mark            the file "fault-injected" is created in the working
//                   directory when a fault strikes (so a test can tell a run
//                   that never reached the N-th call)
//   trace           every open, read, flock, ftruncate, fsync and rename is
//                   written to descriptor 2 as "open PATH", "read COUNT"
//                   (what it returned), "flock", "ftruncate", "fsync" or
//                   "rename FROM TO", a line each
// A run without the variable behaves exactly as corvane_make.
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *p, size_t size);
int __real_posix_memalign(void **block, size_t alignment, size_t size);
int __real_open(const char *path, int flags, ...);
ssize_t __real_read(int fd, void *buf, size_t n);
int __real_flock(int fd, int operation);
int __real_ftruncate(int fd, off_t length);
int __real_fsync(int fd);
int __real_rename(const char *from, const char *to);
void *__wrap_malloc(size_t size);
void *__wrap_calloc(size_t count, size_t size);
void *__wrap_realloc(void *p, size_t size);
int __wrap_posix_memalign(void **block, size_t alignment, size_t size);
int __wrap_open(const char *path, int flags, ...);
ssize_t __wrap_read(int fd, void *buf, size_t n);
int __wrap_flock(int fd, int operation);
int __wrap_ftruncate(int fd, off_t length);
int __wrap_fsync(int fd);
int __wrap_rename(const char *from, const char *to);
}

namespace {

struct fault {
    unsigned long at;   // the call that fails, counted from 1; 0: none
    bool onward;        // every call from the at-th on fails
    int err;
    unsigned long calls;
};

fault alloc_fault, open_fault, fsync_fault, flock_fault, ftruncate_fault;
bool configured;
bool tracing;
bool marking;

int errno_named(const char *name)
{
    static const struct {
        const char *name;
        int value;
    } names[] = {{"EIO", EIO},       {"EACCES", EACCES}, {"ENOSPC", ENOSPC}, {"EROFS", EROFS},
                 {"EINVAL", EINVAL}, {"EMFILE", EMFILE}, {"ENOMEM", ENOMEM}, {"EDQUOT", EDQUOT},
                 {"ENOLCK", ENOLCK}, {"EINTR", EINTR}};
    for (const auto &n : names)
        if (strncmp(name, n.name, strlen(n.name)) == 0)
            return n.value;
    return EIO;
}

// Reads CORVANE_FAULTS once; getenv and the parsing allocate nothing.
void configure()
{
    if (configured)
        return;
    configured = true;
    const char *remaining = getenv("CORVANE_FAULTS");
    while (remaining && *remaining) {
        if (strncmp(remaining, "trace", 5) == 0)
            tracing = true;
        if (strncmp(remaining, "mark", 4) == 0)
            marking = true;
        const char *eq = strchr(remaining, '=');
        const char *comma = strchr(remaining, ',');
        if (!eq || (comma && comma < eq)) {
            remaining = comma ? comma + 1 : nullptr;
            continue;
        }
        fault *f = strncmp(remaining, "alloc=", 6) == 0       ? &alloc_fault
                   : strncmp(remaining, "open=", 5) == 0      ? &open_fault
                   : strncmp(remaining, "fsync=", 6) == 0     ? &fsync_fault
                   : strncmp(remaining, "flock=", 6) == 0     ? &flock_fault
                   : strncmp(remaining, "ftruncate=", 10) == 0 ? &ftruncate_fault
                                                              : nullptr;
        char *rest;
        unsigned long at = strtoul(eq + 1, &rest, 10);
        if (f) {
            f->at = at;
            f->onward = *rest == '+';
            f->err = *rest == ':' ? errno_named(rest + 1) : ENOMEM;
        }
        remaining = comma ? comma + 1 : nullptr;
    }
}

bool fails(fault *f)
{
    configure();
    ++f->calls;
    if (f->at == 0 || f->calls < f->at || (f->calls > f->at && !f->onward))
        return false;
    if (marking && f->calls == f->at) {
        int fd = __real_open("fault-injected", O_WRONLY | O_CREAT, 0644);
        if (fd >= 0)
            close(fd);
    }
    errno = f->err;
    return true;
}

void trace(const char *what, const char *a = nullptr, const char *b = nullptr)
{
    configure();
    if (!tracing)
        return;
    const char *parts[] = {what, a ? " " : "", a ? a : "", b ? " " : "", b ? b : "", "\n"};
    for (const char *p : parts)
        if (write(2, p, strlen(p)) < 0)
            return;
}

} // namespace

void *__wrap_malloc(size_t size)
{
    return fails(&alloc_fault) ? nullptr : __real_malloc(size);
}

void *__wrap_calloc(size_t count, size_t size)
{
    return fails(&alloc_fault) ? nullptr : __real_calloc(count, size);
}

void *__wrap_realloc(void *p, size_t size)
{
    return fails(&alloc_fault) ? nullptr : __real_realloc(p, size);
}

int __wrap_posix_memalign(void **block, size_t alignment, size_t size)
{
    return fails(&alloc_fault) ? ENOMEM : __real_posix_memalign(block, alignment, size);
}

int __wrap_open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    trace("open", path);
    return fails(&open_fault) ? -1 : __real_open(path, flags, mode);
}

// Traced with its result, which shows where the configuration ended.
ssize_t __wrap_read(int fd, void *buf, size_t n)
{
    ssize_t r = __real_read(fd, buf, n);
    int err = errno;
    char count[24];
    snprintf(count, sizeof count, "%zd", r);
    trace("read", count);
    errno = err;
    return r;
}

int __wrap_flock(int fd, int operation)
{
    trace("flock");
    return fails(&flock_fault) ? -1 : __real_flock(fd, operation);
}

int __wrap_ftruncate(int fd, off_t length)
{
    trace("ftruncate");
    return fails(&ftruncate_fault) ? -1 : __real_ftruncate(fd, length);
}

int __wrap_fsync(int fd)
{
    trace("fsync");
    return fails(&fsync_fault) ? -1 : __real_fsync(fd);
}

int __wrap_rename(const char *from, const char *to)
{
    trace("rename", from, to);
    return __real_rename(from, to);
}
