// The text still to scan: a stack of segments, the regions they belong to,
// and reading a reference across them.
//
// A region is counted while a reference can lie wholly inside it. An item's
// value is a region that begins only once the scan has passed the "=" before
// it; every other region begins where its value was inserted.
#include "compiler/expand_state.h"

#include <cstring>

namespace {

uint32_t *count_of(int32_t var)
{
    return zarray_at(&ex.region_count, static_cast<uint32_t>(var));
}

void begin_region(segment *s, uint64_t start)
{
    s->start = start;
    if (s->var >= 0)
        ++*count_of(s->var);
}

int first_below(const context *c, uint32_t i)
{
    while (i-- > c->seg_base)
        if (seg(i)->length)
            return static_cast<unsigned char>(seg(i)->text[0]);
    return no_char;
}

// Whether a reference beginning at q began before s's region: a "$" that
// ended the output before the region, or (for an item's value) a reference
// that took in the "=" before it.
bool begins_before(const segment *s, uint32_t low, uint64_t q)
{
    return s->start == deferred ? s->wait >= low : s->start > q;
}

} // namespace

void segs_push(const char *text, uint64_t length, uint64_t start, uint32_t wait, int32_t var)
{
    zarray_push(&ex.segs, segment{text, length, start, wait, var, false});
    if (var >= 0 && start != deferred)
        ++*count_of(var);
}

void segs_pop()
{
    const segment *s = top_seg();
    if (s->var >= 0 && s->start != deferred)
        --*count_of(s->var);
    zarray_pop(&ex.segs);
}

bool segs_in_region(int32_t var)
{
    return *count_of(var) != 0;
}

// Drops the exhausted segments on top; a region waiting for one of them to
// end begins where the scan now stands.
void segs_settle(const context *c)
{
    while (seg_count() > c->seg_base && !top_seg()->length) {
        uint32_t ended = seg_count() - 1;
        segs_pop();
        for (uint32_t j = ended; j-- > c->seg_base;) {
            segment *s = seg(j);
            if (s->start != deferred)
                break;
            if (s->wait == ended)
                begin_region(s, c->out.length);
        }
    }
}

int segs_char_after_top(const context *c)
{
    const segment *top = top_seg();
    if (top->length > 1)
        return static_cast<unsigned char>(top->text[1]);
    return first_below(c, seg_count() - 1);
}

// Moves p one byte on; false at the end of the context's text.
bool segs_advance(const context *c, spot *p)
{
    p->off++;
    while (p->off >= seg(p->seg)->length) {
        if (p->seg == c->seg_base)
            return false;
        p->seg--;
        p->off = 0;
    }
    return true;
}

bool segs_find_close(const context *c, spot from, spot *close)
{
    for (spot p = from;; p = spot{p.seg - 1, 0}) {
        const segment *s = seg(p.seg);
        const void *hit = memchr(s->text + p.off, '}', s->length - p.off);
        if (hit) {
            *close = spot{p.seg, static_cast<uint64_t>(static_cast<const char *>(hit) - s->text)};
            return true;
        }
        if (p.seg == c->seg_base)
            return false;
    }
}

// The text from from up to close; copied only when it spans segments.
void segs_name(spot from, spot close, const char **name, uint64_t *length)
{
    if (from.seg == close.seg) {
        *name = seg(from.seg)->text + from.off;
        *length = close.off - from.off;
        return;
    }
    zostr_cut(&ex.name_text, 0);
    for (spot p = from; p.seg != close.seg; p = spot{p.seg - 1, 0})
        zostr_xadd_mem(&ex.name_text, seg(p.seg)->text + p.off, seg(p.seg)->length - p.off);
    zostr_xadd_mem(&ex.name_text, seg(close.seg)->text, close.off);
    *name = ex.name_text.data;
    *length = ex.name_text.length;
}

// Removes the reference up to its "}"; returns the lowest segment index that
// it used up.
uint32_t segs_consume(spot close)
{
    uint32_t low = seg_count();
    while (seg_count() > close.seg + 1) {
        segs_pop();
        low = seg_count();
    }
    segment *s = seg(close.seg);
    s->text += close.off + 1;
    s->length -= close.off + 1;
    return low;
}

// A region that a reference reached into from before its start takes in the
// text that replaces the reference; one that the reference used up is gone.
// (Were it to begin after that text instead, a value could feed a "$" to
// the next reference to itself for ever: b = "{c}{b}" after a "$", with
// c = "$$".) Only the regions begun at the scan position can be concerned,
// and the reference does not lie in them: they are left out of the count
// until it has been checked (segs_take_in). Returns the first of them.
uint32_t segs_cross(const context *c, uint32_t low, uint64_t q)
{
    while (seg_count() > c->seg_base && !top_seg()->length && begins_before(top_seg(), low, q))
        segs_pop();
    uint32_t first = seg_count();
    while (first > c->seg_base && begins_before(seg(first - 1), low, q)) {
        segment *s = seg(--first);
        if (s->var >= 0 && s->start != deferred)
            --*count_of(s->var);
        s->start = deferred;
        s->wait = UINT32_MAX;
    }
    return first;
}

void segs_take_in(uint32_t first, uint64_t q)
{
    for (uint32_t i = first; i < seg_count(); i++) {
        begin_region(seg(i), q);
        seg(i)->crossed = true;
    }
}
