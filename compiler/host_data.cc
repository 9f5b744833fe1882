// Making a host's data when its entry is complete, and keeping it.
#include "compiler/host_data.h"

#include "compiler/assign_trace.h"
#include "compiler/expand/expand.h"
#include "compiler/report.h"
#include "compiler/text_release.h"
#include "lib/pages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// The data of hosts is kept in the text behind the parser while it has
// room (text_release.h), and else one after another in blocks: of a huge
// page each (lib/pages.h) after a text of at least a huge page; after a
// shorter one, blocks that double from 256 KiB up to a huge page, so that a
// small configuration is not given a whole huge page for a little data.
// Data longer than a quarter of the first block gets a block of its own.
constexpr uint64_t data_first_block = 256 * 1024;
char *data_next;
uint64_t data_room;
uint64_t data_block_size;   // the last block's; 0: none yet

uint64_t next_block_size()
{
    if (text_release_length() >= pages_huge)
        return pages_huge;
    return data_block_size ? std::min(2 * data_block_size, pages_huge) : data_first_block;
}

[[noreturn]] void out_of_memory()
{
    die_at_line(0, "out of memory", nullptr);
}

char *data_place(uint64_t length, const char *bound)
{
    if (char *in_text = text_release_take(length, bound))
        return in_text;
    if (length > data_first_block / 4) {
        auto *own = static_cast<char *>(pages_block(length));
        if (!own)
            out_of_memory();
        return own;
    }
    if (length > data_room) {
        uint64_t size = next_block_size();
        // The first small block may hold little: it faults in as it fills.
        data_next = static_cast<char *>(size == data_first_block ? malloc(size) : pages_block(size));
        if (!data_next)
            out_of_memory();
        data_room = size;
        data_block_size = size;
    }
    char *at = data_next;
    data_next += length;
    data_room -= length;
    return at;
}

const char *keep_data(const char *data, uint64_t length, const char *bound)
{
    if (length == 0)
        return "";
    char *kept = data_place(length, bound);
    // The expansion's result is its own, but a place in the text may hold
    // the host's own values: nothing may depend on the two never meeting.
    memmove(kept, data, length);
    return kept;
}

// The longest data kept for h: about what its variables take in the
// tables, a record each and their names and values twice over. Data
// without references is as long as the names and values.
uint64_t kept_most(const host *h)
{
    uint64_t most = 0;
    for (const host_var *v = h->variables.first; v; v = v->next)
        most += sizeof(host_var) + 2 * (v->name.size() + v->value.size() + 2);
    return std::min(most, expand_data_limit());
}

} // namespace

void host_data_make(host *h, const char *bound)
{
    expand_failure failure;
    host_prefix prefix{host_include_path, host_changed};
    if (!assign_trace_on && expand_host(h, kept_most(h), &failure, &prefix) == expand_done) {
        h->data_length = expand_length();
        h->data = keep_data(expand_data(), h->data_length, bound);
        host_vars_release(h);
        return;
    }
    // Copies, unless the text stays for the explanation.
    host_vars_keep(h, !assign_trace_on);
}
