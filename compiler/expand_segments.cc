// The text still to scan: a stack of segments, the regions they belong to,
// and reading a reference across them.
//
// A region holds its segment and every segment above it. An item's value is
// a region that begins only once the scan has passed the "=" before it;
// every other region begins where its value was inserted. Regions that
// began at the same place form a group, kept as one record, since a
// reference reaching across the start of one reaches across all of them.
// A region is counted from its beginning to its end; a reference lies in a
// variable's region when that variable's lowest counted region is below
// the group the reference reached across, if any.
#include "compiler/expand_state.h"

#include <cstring>

namespace {

uint32_t *count_of(int32_t var)
{
    return zarray_at(&ex.region_count, static_cast<uint32_t>(var));
}

uint32_t group_count()
{
    return static_cast<uint32_t>(zarray_size(&ex.groups));
}

region_group *top_group(const context *c)
{
    return group_count() > c->group_base ? zarray_last(&ex.groups) : nullptr;
}

// Counts the region of segment i, begun at start, into its group.
void begin_region(const context *c, uint32_t i, uint64_t start)
{
    segment *s = seg(i);
    s->deferred = false;
    if (!(*count_of(s->var))++)
        *zarray_at(&ex.lowest_region, static_cast<uint32_t>(s->var)) = i;
    ex.regions_live++;
    region_group *g = top_group(c);
    if (!g || g->start != start)
        zarray_push(&ex.groups, region_group{start, i});
}

int first_below(const context *c, uint32_t i)
{
    while (i-- > c->seg_base)
        if (seg(i)->length)
            return static_cast<unsigned char>(seg(i)->text[0]);
    return no_char;
}

} // namespace

void segs_push_plain(const char *text, uint64_t length)
{
    zarray_push(&ex.segs, segment{text, length, -1, false});
}

void segs_push_region(const context *c, const char *text, uint64_t length, uint32_t var)
{
    zarray_push(&ex.segs, segment{text, length, static_cast<int32_t>(var), false});
    begin_region(c, seg_count() - 1, c->out.length);
}

void segs_push_waiting(const char *text, uint64_t length, uint32_t var)
{
    zarray_push(&ex.segs, segment{text, length, static_cast<int32_t>(var), true});
}

void segs_pop()
{
    uint32_t i = seg_count() - 1;
    const segment *s = seg(i);
    if (s->var >= 0 && !s->deferred) {
        --*count_of(s->var);
        ex.regions_live--;
        if (group_count() && zarray_last(&ex.groups)->first == i)
            zarray_pop(&ex.groups);
    }
    zarray_pop(&ex.segs);
}

bool segs_in_region(int32_t var, uint32_t crossed)
{
    return *count_of(var) && *zarray_at(&ex.lowest_region, static_cast<uint32_t>(var)) < crossed;
}

// Drops the exhausted segments on top. An item's value begins when the "="
// before it is passed.
void segs_settle(const context *c)
{
    while (seg_count() > c->seg_base && !top_seg()->length) {
        segs_pop();
        uint32_t i = seg_count();
        if (i > c->seg_base && seg(i - 1)->deferred)
            begin_region(c, i - 1, c->out.length);
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

// Removes the reference up to its "}".
void segs_consume(spot close)
{
    while (seg_count() > close.seg + 1)
        segs_pop();
    segment *s = seg(close.seg);
    s->text += close.off + 1;
    s->length -= close.off + 1;
}

// A reference beginning at q reached across the start of the regions begun
// after q (at the scan position, or a few "$" before it for a memo behind
// "$" bytes), or across the "=" before an item's value when that is now the
// top segment. Those of them that it used up are gone; the first of the
// others is returned (seg_count() when there is none). The reference does
// not lie in them (segs_in_region), but they take in the text that
// replaces it (segs_take_in). (Were they to begin after that text instead,
// a value could feed a "$" to the next reference to itself for ever:
// b = "{c}{b}" after a "$", with c = "$$".)
uint32_t segs_cross(const context *c, uint64_t q)
{
    uint32_t first = seg_count();
    if (first > c->seg_base && top_seg()->deferred)
        first--;
    for (uint32_t g = group_count(); g-- > c->group_base && zarray_at(&ex.groups, g)->start > q;)
        first = zarray_at(&ex.groups, g)->first;
    while (seg_count() > first && !top_seg()->length)
        segs_pop();
    return seg_count() > first ? first : seg_count();
}

void segs_take_in(const context *c, uint32_t first, uint64_t q)
{
    if (first == seg_count())
        return;
    if (c->var < 0 && first == c->seg_base)
        ex.item_crossed = true;
    if (seg(first)->deferred) {
        begin_region(c, first, q);
        return;
    }
    while (zarray_last(&ex.groups)->first > first)
        zarray_pop(&ex.groups);
    zarray_last(&ex.groups)->start = q;
    if (group_count() > c->group_base + 1 && zarray_at(&ex.groups, group_count() - 2)->start == q)
        zarray_pop(&ex.groups);
}
