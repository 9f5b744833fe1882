// The host and class tables: what the configuration says. The grammar fills
// them through the operations below, which enforce the rules on names and
// assignments; record generation reads the hosts afterwards.
//
// Hosts and classes are lists with the newest entry at the head; the head is
// the current entry, which assignments and includes go to. Variables are
// kept in creation order. The texts of the current host are the token
// texts themselves (views into the configuration text), not copies; only
// an appended value is made anew, and it is freed when a later append or
// override replaces it. What outlives the text behind the parser
// (text_release.h) is copied: the names of hosts and classes, the
// variables of classes, and those of a host that keeps them.
//
// A host's variables are final once its entry is complete; most hosts then
// have their data made (host_data.h) and need them no more. The current
// host's variable records and index are therefore used again for the next
// host (host_vars_release), unless the host keeps them (host_vars_keep).
// Nothing else is freed.
#pragma once

#include "compiler/var_index.h"
#include "lib/words.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

enum assign_kind {
    assign_plain,     // "="
    assign_append,    // "+="
    assign_override,  // "override", and every item of a one-line entry
};

// A large configuration holds hundreds of thousands of these: the index and
// the flag share a word, which with the mark keeps the record at 56 bytes. The line is as
// wide as the line counter, which cannot wrap on any input held in memory.
struct host_var {
    std::string_view name;
    std::string_view value;
    host_var *next;
    int64_t line;               // the line counter when the variable was created or last changed
    uint32_t index : 31;        // its place in the list, from 0
    uint32_t value_joined : 1;  // the value was made by an append, in a block of its own
    uint8_t mark;               // its name's mark among the current host's names (tables.cc)
};

// The most variables a list can hold: every index fits in its 31 bits.
constexpr uint32_t var_list_most = uint32_t{1} << 31;

// The variables of one host or class: the list in creation order and, for
// a long list, an index by name.
struct var_list {
    host_var *first;
    host_var *last;
    var_index *index;   // null: the list is searched in order
};

struct host {
    std::string_view name;   // the key list as written
    var_list variables;      // empty once the data is made
    host *next;
    int64_t line;            // the line of the entry's first token
    const char *data;        // the data made when the entry was complete, or null
    uint64_t data_length;
};

struct host_class {
    std::string_view name;
    var_list variables;
    host_class *next;
    int64_t line;            // the line of the keyword class
    bool included;           // by a host or another class
};

extern host *host_table;          // newest first
extern host_class *class_table;   // newest first

// The classes a host includes, in order, as a path in a tree that all
// hosts share: hosts that include the same classes in the same order have
// the same path, and the same variables, in the same places, before their
// own. The expansion keeps what it works out once for a path there.
struct prefix_memo;
struct include_path {
    const host_class *included;   // the last class of the sequence
    include_path *parent;         // the sequence without it; null: none
    include_path *children;       // the sequences one class longer
    include_path *next_sibling;
    prefix_memo *memo;            // the expansion's (expand.h), or null
    uint32_t uses;                // hosts that asked for the memo, up to two
    uint32_t copy_count;          // the records of copy
    host_var *copy;               // the variables the last class gives a host
                                  // of the path, as the first such host had
                                  // them; null until then
};

// The current host's include path (null: it includes nothing), and which
// of its first 64 variables an append or override of its own has changed,
// a bit each by index.
extern include_path *host_include_path;
extern uint64_t host_changed;

// line: where the entry begins, which the messages about its keys name.
void host_new(std::string_view name, int64_t line);
void host_set(assign_kind kind, std::string_view name, std::string_view value);
void host_include(std::string_view class_name);
void class_new(std::string_view name, int64_t line);
void class_set(assign_kind kind, std::string_view name, std::string_view value);
void class_include(std::string_view class_name);

// The variable called name, or null. Inline: it is looked for at every
// assignment and every reference, and most lists are short.
inline host_var *var_find(const var_list *vars, std::string_view name)
{
    if (vars->index)
        return var_index_find(vars->index, name);
    // Most names are of four to eight bytes: compared as one word.
    if (name.size() >= 4 && name.size() <= 8) {
        uint64_t word = word_of_short(name.data(), name.size());
        for (host_var *v = vars->first; v; v = v->next)
            if (v->name.size() == name.size() && word_of_short(v->name.data(), name.size()) == word)
                return v;
        return nullptr;
    }
    // The others mostly differ in their length or first byte, which are
    // compared before the rest.
    for (host_var *v = vars->first; v; v = v->next)
        if (v->name.size() == name.size() && (name.empty() || v->name[0] == name[0]) && v->name == name)
            return v;
    return nullptr;
}

// Appends a new variable, whose name the list must not hold yet; the texts
// are kept as they are. The list keeps its records for good.
host_var *var_append(var_list *vars, std::string_view name, std::string_view value, int64_t line);

// h, the current host, is complete and needs its variables no more: their
// records, index and appended values are used again or freed, and h has no
// variables.
void host_vars_release(host *h);

// h, the current host, is complete and keeps its variables for good; with
// copy_texts, their names and values are copies from now on, not views
// into the configuration text.
void host_vars_keep(host *h, bool copy_texts);
