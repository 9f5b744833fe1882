// zostr: growable byte strings on the ladder of block sizes, the 'Z' mark
// behind the content, and the tracking list that catches a record coming to
// its first block while an older block of it is still on record.
#include "lib/zostr.h"

#include "lib/pages.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int zostr_tracking = 1;
zostr_track_entry *zostr_track_list = nullptr;
void (*zostr_oom_handler)(const char *name) = nullptr;

static_assert(SIZE_MAX >= UINT64_MAX, "block sizes are passed to the allocator unchanged");
static_assert(zostr_ladder_size(17) == 48 && zostr_ladder_size(49) == 112);
static_assert(zostr_ladder_size((uint64_t{1} << 63) - 16) == (uint64_t{1} << 63) - 16);
static_assert(zostr_ladder_size((uint64_t{1} << 63) - 15) == zostr_top_size);

namespace {

constexpr char end_mark = 'Z';

uint64_t add_saturating(uint64_t a, uint64_t b)
{
    return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

void write_stderr(const char *text, size_t n)
{
    // The process is about to end; there is nobody left to tell of a failed write.
    [[maybe_unused]] ssize_t r = write(2, text, n);
}

bool track_contains(const zostr *s)
{
    for (const zostr_track_entry *e = zostr_track_list; e; e = e->next)
        if (e->record == s)
            return true;
    return false;
}

void track_release_all()
{
    while (zostr_track_list) {
        zostr_track_entry *e = zostr_track_list;
        zostr_track_list = e->next;
        free(e);
    }
}

void track_remove(const zostr *s)
{
    zostr_track_entry **link = &zostr_track_list;
    while (*link) {
        zostr_track_entry *e = *link;
        if (e->record == s) {
            *link = e->next;
            free(e);
        } else {
            link = &e->next;
        }
    }
}

// Lists s at the head of the tracking list; true when it was listed. A
// record already listed has lost a block that nobody released or took over.
bool track_first_block(zostr *s)
{
    if (track_contains(s)) {
        static const char msg[] = "reusing zostr\n";
        write_stderr(msg, sizeof msg - 1);
        abort();
    }
    zostr_track_entry *e = static_cast<zostr_track_entry *>(malloc(sizeof *e));
    if (!e) {
        zostr_tracking = 0;
        track_release_all();
        return false;
    }
    e->record = s;
    e->next = zostr_track_list;
    zostr_track_list = e;
    return true;
}

zostr *first_block(zostr *s, uint64_t n)
{
    s->length = 0;
    bool listed = zostr_tracking && track_first_block(s);
    uint64_t size = zostr_ladder_size(n);
    // No allocator meets the top size; asking a checking allocator would only
    // make it complain instead of failing. A large first block starts on a
    // huge page, so that its whole huge pages can be had as such.
    char *block = size == zostr_top_size ? nullptr : static_cast<char *>(pages_alloc(size));
    if (!block) {
        // The record holds no block, so it must not stay listed: a later
        // retry would be taken for reuse.
        if (listed) {
            zostr_track_entry *e = zostr_track_list;
            zostr_track_list = e->next;
            free(e);
        }
        errno = ENOMEM;
        return nullptr;
    }
    s->data = block;
    s->capacity = size;
    return s;
}

zostr *enlarge(zostr *s, uint64_t n)
{
    // The wanted bytes come on top of the whole block, so the block at least
    // doubles; a sum beyond 64 bits is beyond the top size as well.
    uint64_t size = zostr_ladder_size(add_saturating(s->capacity, n));
    if (size == zostr_top_size) {
        errno = ENOMEM;
        return nullptr;
    }
    char *block = static_cast<char *>(realloc(s->data, size));
    if (!block)
        return nullptr;
    s->data = block;
    s->capacity = size;
    return s;
}

zostr *or_die(zostr *result, const char *name)
{
    if (!result)
        zostr_out_of_memory(name);
    return result;
}

} // namespace

zostr *zostr_allocmore(zostr *s, uint64_t n)
{
    return s->data ? enlarge(s, n) : first_block(s, n);
}

zostr *zostr_add_mem(zostr *s, const void *src, uint64_t n)
{
    // length + n + 1 > capacity, written so that it cannot overflow.
    if (!s->data || n >= s->capacity - s->length) {
        if (!zostr_allocmore(s, add_saturating(n, 1)))
            return nullptr;
    }
    if (n)
        memcpy(s->data + s->length, src, n);
    s->length += n;
    s->data[s->length] = end_mark;
    return s;
}

zostr *zostr_dup_mem(zostr *s, const void *src, uint64_t n)
{
    s->length = 0;
    if (!s->data || n >= s->capacity) {
        if (!zostr_allocmore(s, add_saturating(n, 1))) {
            if (s->data)
                s->data[0] = end_mark;
            return nullptr;
        }
    }
    if (n)
        memcpy(s->data, src, n);
    s->length = n;
    s->data[n] = end_mark;
    return s;
}

zostr *zostr_add_cstr(zostr *s, const char *t)
{
    return zostr_add_mem(s, t, strlen(t));
}

zostr *zostr_dup_cstr(zostr *s, const char *t)
{
    return zostr_dup_mem(s, t, strlen(t));
}

zostr *zostr_add_zostr(zostr *s, const zostr *t)
{
    return zostr_add_mem(s, t->data, t->length);
}

zostr *zostr_dup_zostr(zostr *s, const zostr *t)
{
    return zostr_dup_mem(s, t->data, t->length);
}

zostr *zostr_add_char(zostr *s, int c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return zostr_add_mem(s, &byte, 1);
}

zostr *zostr_dup_char(zostr *s, int c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    return zostr_dup_mem(s, &byte, 1);
}

zostr *zostr_xallocmore(zostr *s, uint64_t n)
{
    return or_die(zostr_allocmore(s, n), "zostr_xallocmore");
}

zostr *zostr_xadd_mem(zostr *s, const void *src, uint64_t n)
{
    return or_die(zostr_add_mem(s, src, n), "zostr_xadd_mem");
}

zostr *zostr_xdup_mem(zostr *s, const void *src, uint64_t n)
{
    return or_die(zostr_dup_mem(s, src, n), "zostr_xdup_mem");
}

zostr *zostr_xadd_cstr(zostr *s, const char *t)
{
    return or_die(zostr_add_cstr(s, t), "zostr_xadd_cstr");
}

zostr *zostr_xdup_cstr(zostr *s, const char *t)
{
    return or_die(zostr_dup_cstr(s, t), "zostr_xdup_cstr");
}

zostr *zostr_xadd_zostr(zostr *s, const zostr *t)
{
    return or_die(zostr_add_zostr(s, t), "zostr_xadd_zostr");
}

zostr *zostr_xdup_zostr(zostr *s, const zostr *t)
{
    return or_die(zostr_dup_zostr(s, t), "zostr_xdup_zostr");
}

zostr *zostr_xadd_char(zostr *s, int c)
{
    return or_die(zostr_add_char(s, c), "zostr_xadd_char");
}

zostr *zostr_xdup_char(zostr *s, int c)
{
    return or_die(zostr_dup_char(s, c), "zostr_xdup_char");
}

zostr *zostr_cut(zostr *s, int64_t k)
{
    if (!s->data) {
        if (k != 0)
            return nullptr;
        s->length = 0;
        return s;
    }
    if (k >= 0) {
        if (static_cast<uint64_t>(k) > s->length)
            return nullptr;
        s->length = static_cast<uint64_t>(k);
    } else {
        uint64_t drop = 0 - static_cast<uint64_t>(k);
        s->length = drop > s->length ? 0 : s->length - drop;
    }
    s->data[s->length] = end_mark;
    return s;
}

void zostr_free(zostr *s)
{
    if (!s->data)
        return;
    if (zostr_tracking)
        track_remove(s);
    free(s->data);
    s->data = nullptr;
}

void zostr_forget(zostr *s)
{
    if (zostr_tracking && zostr_track_list)
        track_remove(s);
}

void zostr_out_of_memory(const char *name)
{
    if (zostr_oom_handler) {
        zostr_oom_handler(name);
    } else {
        static const char prefix[] = "out of memory in ";
        write_stderr(prefix, sizeof prefix - 1);
        write_stderr(name, strlen(name));
        write_stderr("\n", 1);
    }
    _exit(1);
}
