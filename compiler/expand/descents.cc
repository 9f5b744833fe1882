// Descents: a value asked for behind fewer "$" inside an expansion of
// itself behind more, every frame between having written only "$".
//
// Say the frame A expands x behind c "$" and, before it or any frame
// between has met an empty count, asks for x behind c - d. Every decision
// since A began needed the count to be at least some bound, and passed it
// by at least s (the least slack, taken over those frames). Run the same
// from x behind c - j*d: the counts are all j*d lower, every decision goes
// the same way while j*d <= s, and the run asks for x behind c - (j+1)*d
// at the same place, with the same text written and to come. So, for the
// levels L(j) = x behind c - j*d, L(j) is U(L(j+1)) for one function U
// (what those frames do with the memo they wait for), down to the level
// where the slack runs out: the base, expanded as any other memo.
//
// The levels are made from the base up, each from the one below, which
// costs the frames' work once per level. When two levels in a row differ
// only in "$" at their end (U wrote only "$", and no fewer than it took
// back), every level above differs from the one below in the same way: U
// makes no decision that a larger count would change (a "{" that found the
// count empty, or a value behind fewer "$" than it takes back, would have
// written a "{"), so the level asked for is the last one made with that
// many "$" more, at once.
//
// The levels' frames stand on the frame that asked, not inside each other
// as the rule nests them; each notes the "$" that the levels above it
// took (skipped), so that the data before it is known at a failure.
//
// Families. With steps of one "$" and a value whose front never ends, two
// levels in a row that differ only in "$" at their end make the value
// behind every larger count the same but for "$": its family. A frame that
// asked for its own value behind one "$" fewer, and ends so, begins one
// too, even when the level below was known already. The cycle check may
// look through a family member inserted on a linked count: behind a larger
// count the member is the next one along, which ends the same but for
// "$". The dirt its levels' frames left is undone.
#include "compiler/expand/state.h"

#include <initializer_list>

namespace {

uint64_t final_bytes(const text_record *t)
{
    return t->length - t->end_dollars;
}

// Whether the upper memo is the lower one with step more "$" taken and
// none but "$" written after it, no fewer than it took back.
bool pure_step(const expansion *run, uint32_t below, uint32_t last, uint64_t step)
{
    const memo *lower = memo_at(run, below);
    const memo *upper = memo_at(run, last);
    if (lower->end != end_done || upper->end != end_done || upper->taken - lower->taken != step)
        return false;
    const text_record *lower_text = zarray_at(&run->texts, lower->text);
    const text_record *upper_text = zarray_at(&run->texts, upper->text);
    return lower_text->sealed && upper_text->sealed && final_bytes(lower_text) == final_bytes(upper_text) &&
           upper_text->end_dollars >= lower_text->end_dollars;
}

// With a step of one "$" and a value whose front never ends, two such
// levels begin a family, for every count from the lower one up: a larger
// count only makes the decisions before the step pass by more, the value
// stays one that takes back more than there are, and what follows the
// step wrote only "$" and so made no decision a larger count would turn.
// Inserted on a linked count, a family member moves its end with the
// count, which keeps a frame clean for the cycle check (memos.cc).
void mark_family(expansion *run, uint32_t below, std::initializer_list<uint32_t> members)
{
    uint64_t base = memo_at(run, below)->count;
    for (uint32_t id : members) {
        memo *m = memo_at(run, id);
        m->family = true;
        m->family_base = base;
    }
}

// Makes the memo of x behind target from the level below it (made behind
// target - levels*step), when the two levels made last show that each
// level adds the same "$".
bool jump(expansion *run, frame *f, uint32_t below, uint32_t last)
{
    if (!pure_step(run, below, last, f->descent_step))
        return false;
    const memo *upper = memo_at(run, last);
    const text_record *lower_text = zarray_at(&run->texts, memo_at(run, below)->text);
    const text_record *upper_text = zarray_at(&run->texts, upper->text);
    uint64_t levels = (f->descent_target - f->descent_level) / f->descent_step;
    uint64_t more = upper_text->end_dollars - lower_text->end_dollars;
    uint64_t taken = upper->taken + levels * f->descent_step;
    uint32_t upper_id = upper->text;
    bool met_empty = upper->met_empty;
    text_work w;
    text_begin(run, &w);
    text_add_text(run, &w, upper_id);
    // A count at the cap is refused when the memo is inserted.
    text_add_dollars(run, &w, more && levels > count_cap / more ? count_cap : levels * more);
    uint32_t text = text_store(run, &w);
    memo *target = memo_at(run, memo_behind(run, f->wait_var, f->descent_target));
    target->state = memo_known;
    target->end = end_done;
    target->taken = taken;
    target->met_empty = met_empty;
    target->text = text;
    uint32_t target_id = memo_behind(run, f->wait_var, f->descent_target);
    if (f->descent_step == 1 && memo_at(run, memo_front(run, f->wait_var))->end == end_endless) {
        mark_family(run, below, {below, last, target_id});
        // The dirt the levels' frames left on the chain below them is
        // explained by the family.
        undo_dirt(run, static_cast<uint32_t>(f - frame_at(run, 0)), f->descent_since);
    }
    return true;
}

// The frame A that the reference to var behind count, made in f, is a
// descent step in: the innermost frame expanding var, behind more "$",
// clean, with every frame from it to f having written only "$" (so the
// count here is the "$" before A less those taken since), or none.
uint32_t descent_outer(const expansion *run, const frame *f, uint32_t var, uint64_t count)
{
    uint32_t i = *zarray_at(&run->innermost_behind, var);
    if (i == none || f->out.sealed || f->chain_base > i)
        return none;
    const frame *outer = frame_at(run, i);
    return outer->count > count && !outer->dirty ? i : none;
}

} // namespace

// Notes in A its first descent step, for the family check when A ends.
void descent_probe(expansion *run, frame *f, uint32_t var, uint64_t count)
{
    uint32_t i = descent_outer(run, f, var, count);
    if (i == none || frame_at(run, i)->probed)
        return;
    frame *outer = frame_at(run, i);
    outer->probed = true;
    outer->probe_count = count;
    outer->probe_since = run->dirt_clock;
}

// Whether the reference to var behind count, made in f, is a level of a
// descent; if so, f waits for its levels.
bool descent_begin(expansion *run, frame *f, uint32_t var, uint64_t count)
{
    uint32_t i = descent_outer(run, f, var, count);
    if (i == none)
        return false;
    uint64_t step = frame_at(run, i)->count - count;
    // The least slack of the decisions since A began, in A and the frames
    // up to f.
    uint64_t slack = UINT64_MAX;
    uint32_t top = static_cast<uint32_t>(f - frame_at(run, 0));
    for (uint32_t k = top + 1; k-- > i && slack >= step;)
        if (frame_at(run, k)->pool_slack < slack)
            slack = frame_at(run, k)->pool_slack;
    if (slack < step)
        return false;
    uint64_t levels = slack / step;
    f->descent_since = run->dirt_clock;
    f->wait_var = var;
    f->descent_step = step;
    f->descent_level = count - levels * step;
    f->descent_target = count;
    f->descent_below = none;
    return true;
}

// Makes the next level, or ends the descent with the level asked for
// known, and inserts it.
step descent_step(expansion *run, frame *f)
{
    uint32_t var = f->wait_var;
    for (;;) {
        uint32_t id = memo_behind(run, var, f->descent_level);
        memo_state state = memo_at(run, id)->state;
        if (state == memo_busy)
            return fail_cycle(run, var);
        if (state == memo_unknown) {
            uint64_t skipped = f->descent_target - f->descent_level;
            step s = frame_start(run, f, wait_descent, frame_behind, var, f->descent_level, id);
            top_frame(run)->skipped = skipped;
            return s;
        }
        if (f->descent_level == f->descent_target)
            break;
        if (f->descent_below != none && jump(run, f, f->descent_below, id))
            break;
        f->descent_below = id;
        f->descent_level += f->descent_step;
    }
    f->wait = wait_none;
    return insert_behind(run, f, var, f->descent_target);
}

// A frame that took a descent step ends: if its expansion differs from
// the step's only by "$" at the end, the two begin a family.
void descent_finish(expansion *run, const frame *f, uint32_t memo_id)
{
    if (!f->probed || f->count - f->probe_count != 1)
        return;
    uint32_t below = memo_behind(run, f->var, f->probe_count);
    if (memo_at(run, below)->state != memo_known || !pure_step(run, below, memo_id, 1) ||
        memo_at(run, memo_front(run, f->var))->end != end_endless)
        return;
    mark_family(run, below, {below, memo_id});
    undo_dirt(run, frame_count(run) - 2, f->probe_since);
}
