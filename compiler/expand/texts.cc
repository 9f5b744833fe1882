// Texts with holes: what the frames write, the finished expansions that
// memos share, and the data written out byte for byte.
//
// A text is a list of pieces: bytes, a run of "$" (only its length), or a
// hole that stands for a prefix of a finished text. Inserting a finished
// expansion costs one piece, however long it is, so the length of the data
// is known before a byte of it is written, and data that cannot fit is
// refused without building it.
#include "compiler/expand/state.h"

#include <cstring>

namespace {

// Expansions shorter than this are copied rather than referred to, so
// every hole stands for at least this many bytes, and writing the data out
// costs time in proportion to its length.
constexpr uint64_t copy_below = 64;

uint64_t pool_length(const expansion *run)
{
    return run->byte_pool.data ? run->byte_pool.length : 0;
}

// Room for n more bytes, so that bytes copied from the pool to its end
// stay where they are.
void pool_reserve(expansion *run, uint64_t n)
{
    zostr *pool = &run->byte_pool;
    if (!pool->data || pool->capacity - pool->length <= n)
        zostr_xallocmore(pool, n + 1);
}

text_piece *last_piece(const expansion *run, const text_work *w)
{
    size_t n = zarray_size(&run->work_pieces);
    return n > w->piece_base ? zarray_at(&run->work_pieces, n - 1) : nullptr;
}

const text_record *text_at(const expansion *run, uint32_t text)
{
    return zarray_at(&run->texts, text);
}

// The "$" bytes at the end of a hole: the text's own, less what was cut
// off its end (only "$" is ever cut).
uint64_t hole_end_dollars(const expansion *run, const text_piece *p)
{
    const text_record *t = text_at(run, static_cast<uint32_t>(p->ref));
    return t->end_dollars - (t->length - p->length);
}

void note_added(text_work *w, uint64_t n, uint64_t end_dollars, bool sealed)
{
    w->length = add_capped(w->length, n);
    if (sealed) {
        w->sealed = true;
        w->end_dollars = end_dollars;
    } else {
        w->end_dollars = add_capped(w->end_dollars, n);
    }
}

// Adds n bytes just written at the pool's end, from `at` on.
void add_pool_bytes(expansion *run, text_work *w, uint64_t at, uint64_t n)
{
    text_piece *p = last_piece(run, w);
    if (p && p->kind == piece_bytes && p->ref + p->length == at)
        p->length += n;
    else
        zarray_push(&run->work_pieces, text_piece{n, at, piece_bytes});
}

void add_dollar_bytes(zostr *out, uint64_t n)
{
    static const char dollars[256] = {
#define D16 '$', '$', '$', '$', '$', '$', '$', '$', '$', '$', '$', '$', '$', '$', '$', '$'
        D16, D16, D16, D16, D16, D16, D16, D16, D16, D16, D16, D16, D16, D16, D16, D16
#undef D16
    };
    for (uint64_t k; n; n -= k) {
        k = n < sizeof dollars ? n : sizeof dollars;
        zostr_xadd_mem(out, dollars, k);
    }
}

// Appends the first `left` bytes of the text the step stands for to out.
// Holes are followed on an explicit stack, since they nest as deep as the
// variables refer to each other. With reuse, a text once written whole is
// copied from there afterwards; out must then have room for all of it, as
// the copies come from its own block.
void write_text(expansion *run, zostr *out, write_step first, bool reuse)
{
    zarray_cut(&run->write_steps, 0);
    zarray_push(&run->write_steps, first);
    while (zarray_size(&run->write_steps)) {
        write_step *s = zarray_last(&run->write_steps);
        if (!s->left || s->piece == s->piece_end) {
            if (s->text != none)
                zarray_at(&run->texts, s->text)->written = s->began + 1;
            zarray_pop(&run->write_steps);
            continue;
        }
        const zarray<text_piece> *pieces = s->work ? &run->work_pieces : &run->stored_pieces;
        text_piece p = *zarray_at(pieces, s->piece++);
        uint64_t n = p.length < s->left ? p.length : s->left;
        s->left -= n;
        if (p.kind == piece_bytes) {
            zostr_xadd_mem(out, run->byte_pool.data + p.ref, n);
            continue;
        }
        if (p.kind == piece_dollars) {
            add_dollar_bytes(out, n);
            continue;
        }
        const text_record *t = text_at(run, static_cast<uint32_t>(p.ref));
        if (reuse && t->written) {
            zostr_xadd_mem(out, out->data + t->written - 1, n);
            continue;
        }
        bool whole = reuse && n == t->length;
        zarray_push(&run->write_steps,
                    write_step{n, out->data ? out->length : 0, t->piece_begin,
                               t->piece_begin + t->piece_count,
                               whole ? static_cast<uint32_t>(p.ref) : none, false});
    }
}

} // namespace

void text_begin(expansion *run, text_work *w)
{
    w->length = 0;
    w->end_dollars = 0;
    w->piece_base = static_cast<uint32_t>(zarray_size(&run->work_pieces));
    w->sealed = false;
}

void text_add_bytes(expansion *run, text_work *w, const char *bytes, uint64_t n)
{
    if (!n)
        return;
    uint64_t at = pool_length(run);
    zostr_xadd_mem(&run->byte_pool, bytes, n);
    add_pool_bytes(run, w, at, n);
    uint64_t d = 0;
    while (d < n && bytes[n - 1 - d] == '$')
        d++;
    note_added(w, n, d, d < n);
}

void text_add_dollars(expansion *run, text_work *w, uint64_t n)
{
    if (!n)
        return;
    text_piece *p = last_piece(run, w);
    if (p && p->kind == piece_dollars)
        p->length = add_capped(p->length, n);
    else
        zarray_push(&run->work_pieces, text_piece{n, 0, piece_dollars});
    note_added(w, n, n, false);
}

// A text that is a single hole is inserted as that hole, so that chains of
// variables each holding the next one whole make no chains of holes.
void text_add_text(expansion *run, text_work *w, uint32_t text)
{
    const text_record *t = text_at(run, text);
    if (!t->length)
        return;
    uint64_t length = t->length;
    uint64_t end_dollars = t->end_dollars;
    bool sealed = t->sealed;
    uint32_t target = text;
    if (t->piece_count == 1) {
        const text_piece *only = zarray_at(&run->stored_pieces, t->piece_begin);
        if (only->kind == piece_text)
            target = static_cast<uint32_t>(only->ref);
    }
    if (length < copy_below) {
        pool_reserve(run, length);
        uint64_t at = pool_length(run);
        const text_record *tt = text_at(run, target);
        write_text(run, &run->byte_pool,
                   write_step{length, at, tt->piece_begin, tt->piece_begin + tt->piece_count, none, false},
                   false);
        add_pool_bytes(run, w, at, length);
    } else {
        zarray_push(&run->work_pieces, text_piece{length, target, piece_text});
    }
    note_added(w, length, end_dollars, sealed);
}

// Removes n "$" from the end of the text (n is at most its end_dollars).
void text_take_dollars(expansion *run, text_work *w, uint64_t n)
{
    w->length -= n;
    w->end_dollars -= n;
    while (n) {
        text_piece *p = last_piece(run, w);
        uint64_t k;
        if (p->kind == piece_bytes) {
            k = 0;
            while (k < n && k < p->length && run->byte_pool.data[p->ref + p->length - 1 - k] == '$')
                k++;
            // Bytes taken back from the pool's end are given back to it:
            // no other piece refers to them, and a value that writes and
            // takes back "$" over and over must not grow the pool.
            if (p->ref + p->length == pool_length(run))
                zostr_cut(&run->byte_pool, static_cast<int64_t>(pool_length(run) - k));
        } else {
            uint64_t there = p->kind == piece_dollars ? p->length : hole_end_dollars(run, p);
            k = n < there ? n : there;
        }
        p->length -= k;
        n -= k;
        if (!p->length)
            zarray_pop(&run->work_pieces);
    }
}

// Makes the text finished: its pieces move to the stored ones.
uint32_t text_store(expansion *run, text_work *w)
{
    uint32_t count = static_cast<uint32_t>(zarray_size(&run->work_pieces)) - w->piece_base;
    text_record t{w->length, w->end_dollars, 0,
                  static_cast<uint32_t>(zarray_size(&run->stored_pieces)), count, w->sealed};
    for (uint32_t i = 0; i < count; i++)
        zarray_push(&run->stored_pieces, *zarray_at(&run->work_pieces, w->piece_base + i));
    zarray_cut(&run->work_pieces, w->piece_base);
    zarray_push(&run->texts, t);
    return static_cast<uint32_t>(zarray_size(&run->texts)) - 1;
}

// The data, which the item frame wrote, byte for byte.
const char *text_write_data(expansion *run, const text_work *w)
{
    zostr *out = &run->data;
    zostr_cut(out, 0);
    if (!out->data || out->capacity <= w->length)
        zostr_xallocmore(out, w->length + 1);
    uint32_t end = static_cast<uint32_t>(zarray_size(&run->work_pieces));
    write_text(run, out, write_step{w->length, 0, w->piece_base, end, none, true}, true);
    return out->data;
}
