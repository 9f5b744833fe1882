// Texts with holes: building them, storing finished expansions, and writing
// a text out byte for byte.
#include "compiler/expand_text.h"

#include <cstring>

zarray<memo> memos;

namespace {

// Expansions shorter than this are copied instead of referred to, so every
// hole stands for at least this many bytes and writing a text out costs
// time in proportion to its length.
constexpr uint64_t copy_below = 64;

zostr work_bytes;            // the texts being built, innermost last
zarray<text_hole> work_holes;
zostr memo_bytes;            // the finished expansions
zarray<text_hole> memo_holes;
zostr result_bytes;          // the host's data, written out

struct write_frame {
    const char *bytes;
    const text_hole *hole;
    const text_hole *hole_end;
    uint64_t byte_count;
    uint64_t pos;       // in bytes
    uint64_t left;      // bytes still to write
    int64_t memo;       // the expansion written whole, to remember where; or -1
    uint64_t began;
};

zarray<write_frame> write_stack;

write_frame memo_frame(uint32_t var, uint64_t length)
{
    const memo *m = zarray_at(&memos, var);
    return write_frame{memo_bytes.data + m->byte_begin,
                       zarray_at(&memo_holes, m->hole_begin),
                       zarray_at(&memo_holes, m->hole_begin + m->hole_count),
                       m->byte_count,
                       0,
                       length,
                       -1,
                       0};
}

// Appends the first f.left bytes of the text that f describes to out; the
// holes are followed with an explicit stack, as they may nest deeply. With
// reuse, an expansion written whole once is copied from there afterwards,
// so that one that holds another many times over is written in time
// proportional to its length; out must then have room for all of it, since
// the copies come from its own block.
void write_text(zostr *out, write_frame f, bool reuse)
{
    zarray_cut(&write_stack, 0);
    zarray_push(&write_stack, f);
    while (zarray_size(&write_stack)) {
        write_frame *top = zarray_last(&write_stack);
        uint64_t next = top->hole == top->hole_end ? top->byte_count : top->hole->at;
        if (top->left && top->pos < next) {
            uint64_t n = next - top->pos < top->left ? next - top->pos : top->left;
            zostr_xadd_mem(out, top->bytes + top->pos, n);
            top->pos += n;
            top->left -= n;
            continue;
        }
        if (!top->left || top->hole == top->hole_end) {
            if (top->memo >= 0)
                zarray_at(&memos, static_cast<uint32_t>(top->memo))->written = top->began + 1;
            zarray_pop(&write_stack);
            continue;
        }
        const text_hole *h = top->hole++;
        uint64_t n = h->length < top->left ? h->length : top->left;
        top->left -= n;
        memo *m = zarray_at(&memos, h->memo);
        if (reuse && m->written) {
            zostr_xadd_mem(out, out->data + m->written - 1, n);
            continue;
        }
        write_frame inner = memo_frame(h->memo, n);
        if (reuse && n == m->length) {
            inner.memo = h->memo;
            inner.began = out->length;
        }
        zarray_push(&write_stack, inner);
    }
}

uint64_t out_bytes(const text_out *o)
{
    return (work_bytes.data ? work_bytes.length : 0) - o->byte_base;
}

uint32_t out_holes(const text_out *o)
{
    return static_cast<uint32_t>(zarray_size(&work_holes)) - o->hole_base;
}

} // namespace

void text_reset()
{
    zostr_cut(&work_bytes, 0);
    zarray_cut(&work_holes, 0);
    zostr_cut(&memo_bytes, 0);
    zarray_cut(&memo_holes, 0);
}

void text_begin(text_out *o)
{
    o->byte_base = work_bytes.data ? work_bytes.length : 0;
    o->hole_base = static_cast<uint32_t>(zarray_size(&work_holes));
    o->length = 0;
    o->trail = 0;
    o->last_other = no_char;
    o->first = no_char;
}

void text_add_bytes(text_out *o, const char *bytes, uint64_t n)
{
    if (!n)
        return;
    zostr_xadd_mem(&work_bytes, bytes, n);
    if (!o->length)
        o->first = static_cast<unsigned char>(bytes[0]);
    uint64_t t = 0;
    while (t < n && bytes[n - 1 - t] == '$')
        t++;
    if (t < n) {
        o->last_other = static_cast<unsigned char>(bytes[n - 1 - t]);
        o->trail = t;
    } else {
        o->trail = length_add(o->trail, n);
    }
    o->length = length_add(o->length, n);
}

void text_add_memo(text_out *o, uint32_t slot)
{
    const memo *m = zarray_at(&memos, slot);
    if (!m->length)
        return;
    uint32_t target = m->alias >= 0 ? static_cast<uint32_t>(m->alias) : slot;
    if (m->length < copy_below)
        write_text(&work_bytes, memo_frame(target, m->length), false);
    else
        zarray_push(&work_holes, text_hole{out_bytes(o), m->length, target});
    if (!o->length)
        o->first = m->first;
    if (m->last_other != no_char) {
        o->last_other = m->last_other;
        o->trail = m->trail;
    } else {
        o->trail = length_add(o->trail, m->length);
    }
    o->length = length_add(o->length, m->length);
}

void text_pop_dollar(text_out *o)
{
    uint32_t holes = out_holes(o);
    text_hole *h = holes ? zarray_last(&work_holes) : nullptr;
    if (h && h->at == out_bytes(o)) {
        if (!--h->length)
            zarray_pop(&work_holes);
    } else {
        zostr_cut(&work_bytes, -1);
    }
    o->length--;
    o->trail--;
    if (!o->length) {
        o->first = no_char;
        o->last_other = no_char;
    }
}

void text_store(text_out *o, uint32_t slot, uint64_t skip)
{
    memo *m = zarray_at(&memos, slot);
    uint64_t bytes = out_bytes(o) - skip;
    uint32_t holes = out_holes(o);
    const text_hole *h = zarray_at(&work_holes, o->hole_base);
    m->alias = -1;
    m->byte_count = 0;
    m->hole_count = 0;
    if (!bytes && holes == 1 && h->at == skip) {
        m->alias = static_cast<int32_t>(h->memo);
    } else {
        m->byte_begin = memo_bytes.data ? memo_bytes.length : 0;
        m->byte_count = bytes;
        if (bytes)
            zostr_xadd_mem(&memo_bytes, work_bytes.data + o->byte_base + skip, bytes);
        m->hole_begin = static_cast<uint32_t>(zarray_size(&memo_holes));
        m->hole_count = holes;
        for (uint32_t i = 0; i < holes; i++) {
            text_hole moved = *zarray_at(&work_holes, o->hole_base + i);
            moved.at -= skip;
            zarray_push(&memo_holes, moved);
        }
    }
    m->length = o->length - skip;
    m->trail = o->trail < m->length ? o->trail : m->length;
    m->last_other = o->trail < m->length ? o->last_other : no_char;
    if (!m->length)
        m->first = no_char;
    else if (holes && h->at == skip)
        m->first = zarray_at(&memos, h->memo)->first;
    else if (skip)
        m->first = static_cast<unsigned char>(work_bytes.data[o->byte_base + skip]);
    else
        m->first = o->first;
    text_drop(o);
}

void text_drop(text_out *o)
{
    if (work_bytes.data)
        zostr_cut(&work_bytes, static_cast<int64_t>(o->byte_base));
    zarray_cut(&work_holes, o->hole_base);
}

const char *text_result(const text_out *o)
{
    static const char empty[1] = "";
    if (!out_holes(o))
        return work_bytes.data ? work_bytes.data + o->byte_base : empty;
    zostr_cut(&result_bytes, 0);
    if (!result_bytes.data || result_bytes.capacity <= o->length)
        zostr_xallocmore(&result_bytes, o->length + 1);
    write_text(&result_bytes,
               write_frame{work_bytes.data + o->byte_base, zarray_at(&work_holes, o->hole_base),
                           zarray_at(&work_holes, o->hole_base + out_holes(o)), out_bytes(o), 0,
                           o->length, -1, 0},
               true);
    return result_bytes.data;
}
