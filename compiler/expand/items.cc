// The item frame: the host's data, one item after another. The first item
// is scanned from its first "=" on, every other one whole (name, "=" and
// value); a value reached with its "=" just written is its variable's
// memo behind no "$".
#include "compiler/expand/state.h"

#include <cstring>

namespace {

void set_parts(frame *f, uint8_t value_part, std::string_view a, std::string_view b, std::string_view c)
{
    std::string_view parts[3] = {a, b, c};
    f->part_count = value_part + 1;
    for (uint8_t i = 0; i < f->part_count; i++) {
        f->part[i] = parts[i].data();
        f->part_length[i] = parts[i].size();
    }
    f->value_part = value_part;
    f->part_now = 0;
    f->at = 0;
}

void begin_item(expansion *run, frame *f, uint32_t k)
{
    const host_var *v = var_at(run, k);
    run->item = k;
    f->var = k;
    f->pending = none;
    f->wait = wait_none;
    if (k) {
        set_parts(f, 2, v->name, "=", v->value);
        return;
    }
    const char *eq = static_cast<const char *>(memchr(v->name.data(), '=', v->name.size()));
    if (!eq) {
        text_add_bytes(run, &f->out, v->name.data(), v->name.size());
        text_add_bytes(run, &f->out, "=", 1);
        set_parts(f, 0, v->value, {}, {});
        return;
    }
    // The name up to its "=" is never scanned.
    uint64_t unscanned = static_cast<uint64_t>(eq - v->name.data()) + 1;
    text_add_bytes(run, &f->out, v->name.data(), unscanned);
    // Built from its ends: substr could throw, which would link the C++
    // runtime library into the program for nothing.
    std::string_view after_eq(v->name.data() + unscanned, v->name.size() - unscanned);
    set_parts(f, 2, after_eq, "=", v->value);
}

// Runs the frames until the item frame has scanned its item.
step scan_item(expansion *run)
{
    for (;;) {
        step s = frame_scan(run, top_frame(run));
        if (s == step_failed)
            return s;
        if (s == step_finished && frame_count(run) == 1)
            return s;
        if (s == step_finished)
            frame_finish(run);
    }
}

} // namespace

expand_status items_expand(expansion *run)
{
    frame item = frame_blank(frame_item, none);
    text_begin(run, &item.out);
    zarray_push(&run->frames, item);
    for (uint32_t k = 0; k < run->var_count; k++) {
        frame *f = top_frame(run);
        begin_item(run, f, k);
        if (scan_item(run) == step_failed)
            return run->status;
        f = top_frame(run);
        text_add_bytes(run, &f->out, "", 1);
        if (f->out.length > run->limit)
            return expand_too_large;
    }
    run->data_length = top_frame(run)->out.length;
    return expand_done;
}
