// The items of the variables that a host's includes give it, made once for
// each include path and copied whole into the data of the hosts that have
// the path.
//
// A variable of the path is worked out in the path's own variables: each
// "$" of its value opens a reference "${name}" that the value closes, with
// no "$" in the name, to another variable of the path, and no variable
// reaches itself; what it refers to, directly or not, are its needs. On a
// host that changed none of them, nor the variable itself (an append or an
// override of its own), the names resolve to the same variables with the
// same values: its expansion is the one made here, and so is its item
// unless its name holds a "$" (such a host is not plain, and its item is
// left to the host's own pass). A reference to a name that only the host
// sets, or anything else, leaves the variable to the host's pass.
#include "compiler/expand/state.h"
#include "compiler/report.h"

#include <cstdlib>
#include <cstring>

namespace {

// Longer expansions, or paths with more variables, are left to the hosts.
constexpr uint64_t memo_text_most = 64 * 1024;
constexpr uint32_t memo_vars_most = 64;

// What all memos may take together: once it is used up, hosts of further
// paths make all of their data themselves.
constexpr uint64_t memos_total_most = 8 * 1024 * 1024;
uint64_t memos_total;

// A path's memo is made for its second host: a path that only one host has
// costs nothing.
constexpr uint32_t hosts_before_memo = 1;

// The path's variables, in the order of the host's list.
struct path_var {
    std::string_view name;
    std::string_view value;
};

enum var_state : uint8_t { state_unseen, state_busy, state_good, state_bad };

struct builder {
    path_var vars[memo_vars_most];
    uint32_t count;
    var_state state[memo_vars_most];
    uint64_t needs[memo_vars_most];
    uint64_t at[memo_vars_most];      // the expansion in text
    uint64_t length[memo_vars_most];
    char *text;                       // the expansions: room for memo_text_most bytes
    uint64_t text_used;
};

// The path's variable called name, or memo_vars_most.
uint32_t find(const builder *b, std::string_view name)
{
    for (uint32_t i = 0; i < b->count; i++)
        if (b->vars[i].name == name)
            return i;
    return memo_vars_most;
}

// Works out variable i and, first, what it refers to: good or bad. The
// depth of the calls is at most the number of variables, 64.
var_state work_out(builder *b, uint32_t i)
{
    if (b->state[i] != state_unseen)
        return b->state[i] == state_busy ? state_bad : b->state[i];
    b->state[i] = state_busy;
    std::string_view value = b->vars[i].value;
    uint64_t needs = uint64_t{1} << i;
    uint64_t references = 0;   // the bytes of the references in the value
    uint64_t inserted = 0;     // and of what replaces them
    for (size_t p = value.find('$'); p != std::string_view::npos; p = value.find('$', p)) {
        size_t close = p + 2 <= value.size() && value[p + 1] == '{' ? value.find_first_of("$}", p + 2)
                                                                    : std::string_view::npos;
        uint32_t j = close != std::string_view::npos && value[close] == '}'
                         ? find(b, std::string_view(value.data() + p + 2, close - p - 2))
                         : memo_vars_most;
        if (j == memo_vars_most || work_out(b, j) != state_good)
            return b->state[i] = state_bad;
        needs |= b->needs[j];
        references += close + 1 - p;
        inserted += b->length[j];
        p = close + 1;
    }
    uint64_t length = value.size() - references + inserted;
    if (length > memo_text_most - b->text_used)
        return b->state[i] = state_bad;
    // Written once every variable it refers to is: the value with each
    // reference replaced.
    char *out = b->text + b->text_used;
    size_t from = 0;
    for (size_t p = value.find('$'); p != std::string_view::npos; p = value.find('$', p)) {
        size_t close = value.find('}', p);
        uint32_t j = find(b, std::string_view(value.data() + p + 2, close - p - 2));
        memcpy(out, value.data() + from, p - from);
        out += p - from;
        memcpy(out, b->text + b->at[j], b->length[j]);
        out += b->length[j];
        from = p = close + 1;
    }
    memcpy(out, value.data() + from, value.size() - from);
    b->at[i] = b->text_used;
    b->length[i] = length;
    b->text_used += length;
    b->needs[i] = needs;
    return b->state[i] = state_good;
}

void *take(uint64_t size)
{
    void *p = malloc(size);
    if (!p)
        die_at_line(0, "out of memory", nullptr);
    return p;
}

// The memo of path, or null when it would hold nothing or the memos have
// taken their share.
prefix_memo *make_memo(const include_path *path)
{
    builder b;
    b.count = 0;
    // The classes from the first on, each one's variables in its order.
    const include_path *classes[memo_vars_most];
    uint32_t depth = 0;
    for (const include_path *p = path; p; p = p->parent) {
        if (depth == memo_vars_most)
            return nullptr;
        classes[depth++] = p;
    }
    while (depth--)
        for (const host_var *v = classes[depth]->included->variables.first; v; v = v->next) {
            if (b.count == memo_vars_most)
                return nullptr;
            b.vars[b.count++] = path_var{v->name, v->value};
        }
    memset(b.state, state_unseen, sizeof b.state);
    memset(b.needs, 0, sizeof b.needs);
    b.text = static_cast<char *>(take(memo_text_most));
    b.text_used = 0;
    uint64_t items_length = 0;
    for (uint32_t i = 0; i < b.count; i++)
        if (work_out(&b, i) == state_good && b.vars[i].name.find('$') == std::string_view::npos)
            items_length += b.vars[i].name.size() + b.length[i] + 2;
    uint64_t size = sizeof(prefix_memo) + b.count * (2 * sizeof(uint32_t) + sizeof(uint64_t)) + items_length;
    if (items_length == 0 || memos_total + size > memos_total_most) {
        free(b.text);
        return nullptr;
    }
    memos_total += size;
    auto *needs = static_cast<uint64_t *>(take(b.count * sizeof(uint64_t)));
    auto *item_at = static_cast<uint32_t *>(take(b.count * sizeof(uint32_t)));
    auto *item_length = static_cast<uint32_t *>(take(b.count * sizeof(uint32_t)));
    auto *items = static_cast<char *>(take(items_length));
    uint64_t used = 0;
    for (uint32_t i = 0; i < b.count; i++) {
        std::string_view name = b.vars[i].name;
        needs[i] = b.needs[i];
        if (b.state[i] != state_good || name.find('$') != std::string_view::npos) {
            item_at[i] = prefix_none;
            item_length[i] = 0;
            continue;
        }
        item_at[i] = static_cast<uint32_t>(used);
        item_length[i] = static_cast<uint32_t>(name.size() + b.length[i] + 2);
        memcpy(items + used, name.data(), name.size());
        items[used + name.size()] = '=';
        memcpy(items + used + name.size() + 1, b.text + b.at[i], b.length[i]);
        items[used + name.size() + 1 + b.length[i]] = 0;
        used += item_length[i];
    }
    free(b.text);
    auto *m = static_cast<prefix_memo *>(take(sizeof(prefix_memo)));
    *m = prefix_memo{b.count, items, item_at, item_length, needs};
    return m;
}

} // namespace

void prefix_use(expansion *run, const host_prefix *prefix)
{
    run->prefix = nullptr;
    run->prefix_count = 0;
    if (!prefix || !prefix->path)
        return;
    include_path *path = prefix->path;
    if (path->uses <= hosts_before_memo) {
        if (++path->uses <= hosts_before_memo)
            return;
        path->memo = make_memo(path);
    }
    if (!path->memo)
        return;
    run->prefix = path->memo;
    run->prefix_count = path->memo->count;
    run->prefix_changed = prefix->changed;
}
