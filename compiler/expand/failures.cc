// Failures of an expansion: the messages and their details, and whether
// the data before the failing reference is already past the limit, which
// the rule checks first.
#include "compiler/expand/state.h"

namespace {

// The bytes of the data certain to stay, when a frame on the data's path
// fails: the frames' texts one after another, each having taken back its
// "$" from the end of those before it (a descent level also those that
// the levels above it took: all "$", so where they stood does not change
// which bytes stay). Only the top frame can fail, and
// every frame under a frame on the data's path is on it too.
uint64_t data_final_length(const expansion *run)
{
    uint64_t total = 0;
    uint64_t dollars = 0;
    for (uint32_t i = 0; i < frame_count(run); i++) {
        const frame *g = frame_at(run, i);
        total -= g->taken + g->skipped;
        dollars -= g->taken + g->skipped;
        total += g->out.length;
        dollars = g->out.sealed ? g->out.end_dollars : dollars + g->out.length;
    }
    return total - dollars;
}

step fail_reference(expansion *run, const char *msg)
{
    if (data_final_length(run) > run->limit)
        return fail_too_large(run);
    zostr_xadd_char(&run->detail_text, 0);
    run->status = expand_bad_reference;
    *run->failure = expand_failure{msg, run->detail_text.data, var_at(run, run->item)->line};
    return step_failed;
}

void detail_begin(expansion *run)
{
    zostr_xdup_mem(&run->detail_text, "${", 2);
}

} // namespace

step fail_too_large(expansion *run)
{
    run->status = expand_too_large;
    return step_failed;
}

step fail_missing(expansion *run, uint32_t pending, const char *bytes, uint64_t n)
{
    detail_begin(run);
    pending_append_to(run, pending, &run->detail_text);
    if (n)
        zostr_xadd_mem(&run->detail_text, bytes, n);
    zostr_xadd_char(&run->detail_text, '}');
    return fail_reference(run, "didn't find variable");
}

// The detail is the text from the "$" to the end of the item.
step fail_unfinished(expansion *run, uint32_t pending)
{
    detail_begin(run);
    pending_append_to(run, pending, &run->detail_text);
    return fail_reference(run, "unfinished ${ in");
}

step fail_cycle(expansion *run, uint32_t var)
{
    detail_begin(run);
    std::string_view name = var_at(run, var)->name;
    zostr_xadd_mem(&run->detail_text, name.data(), name.size());
    zostr_xadd_char(&run->detail_text, '}');
    return fail_reference(run, "recursive variable reference");
}
