// expand_host: the data of a host, expanded directly when its references
// are all plain, else item by item with the frames and memos of the map.
#include "compiler/expand/state.h"

namespace {

expansion the_expansion;

void index_vars(expansion *run)
{
    zarray_resize(&run->vars, run->var_count);
    for (const host_var *v = run->h->variables.first; v; v = v->next)
        *zarray_at(&run->vars, v->index) = v;
}

void reset(expansion *run)
{
    zarray_cut(&run->frames, 0);
    memos_reset(run);
    zostr_cut(&run->byte_pool, 0);
    zarray_cut(&run->work_pieces, 0);
    zarray_cut(&run->stored_pieces, 0);
    zarray_cut(&run->texts, 0);
    zarray_cut(&run->pending_parts, 0);
    run->names_ready = false;
}

} // namespace

expand_status expand_host(const host *h, uint64_t limit, expand_failure *failure, const host_prefix *prefix)
{
    expansion *run = &the_expansion;
    prefix_use(run, prefix);
    run->h = h;
    run->limit = limit;
    run->failure = failure;
    run->data_written = nullptr;
    const host_var *last = h->variables.last;
    run->var_count = last ? last->index + 1 : 0;
    if (expand_direct(run))
        return expand_done;
    index_vars(run);
    reset(run);
    return items_expand(run);
}

uint64_t expand_length()
{
    return the_expansion.data_length;
}

const char *expand_data()
{
    expansion *run = &the_expansion;
    if (!run->data_written)
        run->data_written = text_write_data(run, &frame_at(run, 0)->out);
    return run->data_written;
}
