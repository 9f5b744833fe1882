// Expansion of a host's data: a table of cases, and the expander checked
// against the rule as written (rescan from the first "=" after every
// substitution) on many generated hosts: where the rule ends, the same
// outcome byte for byte; where it goes on for ever, a reported cycle (or
// "too large"); and never a cycle where it ends.
#include "compiler/expand/expand.h"

#include "compiler/tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct var_def {
    std::string name;
    std::string value;
    int64_t line;
};

// Test texts live until the process ends, like the configuration text
// that the tables' texts are views of.
std::string_view lasting(const std::string &text)
{
    return *new std::string(text);
}

// Test hosts live until the process ends, like the compiler's.
host *make_host(const std::vector<var_def> &defs)
{
    host *h = new host{};
    h->name = "h";
    for (const var_def &s : defs)
        var_append(&h->variables, lasting(s.name), lasting(s.value), s.line);
    return h;
}

enum outcome_kind { out_data, out_failure, out_too_large, out_endless };

struct outcome {
    outcome_kind kind;
    std::string data;   // the data, or the failure's detail
    std::string msg;
    int64_t line;

    bool operator==(const outcome &o) const
    {
        return kind == o.kind && data == o.data && msg == o.msg && line == o.line;
    }
};

std::ostream &operator<<(std::ostream &os, const outcome &o)
{
    static const char *const kinds[] = {"data", "failure", "too large", "endless"};
    std::string shown = o.data;
    for (char &c : shown)
        if (c == '\0')
            c = '|';
    return os << kinds[o.kind] << " [" << shown << "] " << o.msg << " line " << o.line;
}

// Names and references are built by appending: GCC 12 warns wrongly about
// a literal put in front of a temporary string.
std::string numbered(const char *prefix, int n)
{
    std::string s = prefix;
    s += std::to_string(n);
    return s;
}

std::string reference_to(const std::string &name)
{
    std::string s = "${";
    s += name;
    s += '}';
    return s;
}

outcome data(const std::string &text)
{
    std::string d = text;
    for (char &c : d)
        if (c == '|')
            c = '\0';
    return outcome{out_data, d, "", 0};
}

outcome failure(const char *msg, const std::string &detail, int64_t line)
{
    return outcome{out_failure, detail, msg, line};
}

outcome fast_on(const host *h, uint64_t limit, const host_prefix *prefix)
{
    expand_failure f;
    switch (expand_host(h, limit, &f, prefix)) {
    case expand_done:
        return outcome{out_data, std::string(expand_data(), expand_length()), "", 0};
    case expand_bad_reference:
        return failure(f.msg, f.detail, f.line);
    case expand_too_large:
        break;
    }
    return outcome{out_too_large, "", "", 0};
}

outcome fast(const std::vector<var_def> &defs, uint64_t limit = expand_data_limit())
{
    return fast_on(make_host(defs), limit, nullptr);
}

// The rule as written: after every substitution the scan starts again at
// the first "=". (The text before a substitution stays as it was, and held
// no "${", so the search for the next one starts a byte before it; and the
// "$" before the position are counted only once it is past the limit.) An
// expansion whose data comes back to a text it had before goes on for ever
// (the data is compared with a copy taken at every power of two of the
// steps); one still going after max_steps substitutions, or with data past
// max_size bytes, is taken to.
outcome literal(const std::vector<var_def> &defs, uint64_t limit = expand_data_limit(),
                size_t max_steps = 20000, size_t max_size = 400000)
{
    std::string d;
    for (const var_def &v : defs)
        d += v.name + "=" + v.value + '\0';
    size_t p0 = d.find('=');
    size_t from = p0;
    std::string seen;
    for (size_t steps = 0;; steps++) {
        if (!(steps & (steps - 1)))
            seen = d;
        else if (d.size() == seen.size() && d == seen)
            return outcome{out_endless, "", "", 0};
        size_t q = p0 == std::string::npos ? std::string::npos : d.find("${", from);
        size_t final_bytes = q == std::string::npos ? d.size() : q;
        if (final_bytes > limit) {
            while (final_bytes && d[final_bytes - 1] == '$')
                final_bytes--;
            if (final_bytes > limit)
                return outcome{out_too_large, "", "", 0};
        }
        if (q == std::string::npos)
            return outcome{out_data, d, "", 0};
        if (steps == max_steps || d.size() > max_size)
            return outcome{out_endless, "", "", 0};
        auto line = [&] { return defs[static_cast<size_t>(std::count(d.begin(), d.begin() + q, '\0'))].line; };
        size_t end = d.find('\0', q);
        size_t r = d.find('}', q);
        if (r > end)
            return failure("unfinished ${ in", d.substr(q, end - q), line());
        std::string name = d.substr(q + 2, r - q - 2);
        size_t w = 0;
        while (w < defs.size() && defs[w].name != name)
            w++;
        if (w == defs.size())
            return failure("didn't find variable", reference_to(name), line());
        d.replace(q, r - q + 1, defs[w].value);
        from = q > p0 ? q - 1 : p0;
    }
}

bool is_cycle(const outcome &o)
{
    return o.kind == out_failure && o.msg == "recursive variable reference";
}

std::string shown(const std::vector<var_def> &vars)
{
    std::string s;
    for (const var_def &v : vars)
        s += "[" + v.name + "] = [" + v.value + "]  ";
    return s;
}

// The expander against the rule on one host: where the rule ends, the
// same outcome; where it goes on, a cycle or "too large". The rule itself
// knows no limit, so data that grows past the limit while the rule goes on
// for ever may be reported either way. A host that
// the rule does not finish within 500 substitutions and 4,000 bytes counts
// as endless, unless the expander says otherwise: then the rule gets a
// hundred times as long. rule is set to the rule's outcome.
::testing::AssertionResult same_as_rule(const std::vector<var_def> &vars, uint64_t limit, outcome *rule)
{
    *rule = literal(vars, limit, 500, 4000);
    outcome got = fast(vars, limit);
    bool cycle = is_cycle(got);
    if (rule->kind == out_endless && !cycle && got.kind != out_too_large)
        *rule = literal(vars, limit, 50000, 400000);
    bool same = got == *rule;
    if (rule->kind == out_endless)
        same = cycle || got.kind == out_too_large;
    else if (rule->kind == out_too_large && cycle)
        same = literal(vars, UINT64_MAX, 500, 4000).kind == out_endless;
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << shown(vars) << " limit " << limit << ": got " << got
                                         << ", the rule gives " << *rule;
}

// Puts "$${w1}" to "$${w8}" in front of v's value, each w = "{y}" with
// y empty: eight more values that v's memo scans in place.
std::vector<var_def> many_in_place(std::vector<var_def> vars)
{
    for (var_def &v : vars) {
        if (v.name != "v")
            continue;
        std::string front;
        for (int i = 1; i <= 8; i++) {
            front += '$';
            front += reference_to(numbered("w", i));
        }
        v.value = front + v.value;
    }
    for (int i = 1; i <= 8; i++)
        vars.push_back(var_def{numbered("w", i), "{y}", 20 + i});
    vars.push_back(var_def{"y", "", 30});
    return vars;
}

TEST(Expand, Table)
{
    struct expand_case {
        const char *what;
        std::vector<var_def> vars;
        outcome expected;
    };
    const std::string x40(40, 'x');
    const std::string x70(70, 'x');
    const std::string b81 = x40 + "-" + x40;
    const expand_case cases[] = {
        {"no variables", {}, data("")},
        {"plain values", {{"a", "1", 1}, {"b", "", 2}}, data("a=1|b=|")},
        {"a class value used by a later one",
         {{"root", "/srv", 3}, {"path", "${root}/boot", 4}},
         data("root=/srv|path=/srv/boot|")},
        {"a chain", {{"a", "${b}", 1}, {"b", "${c}", 2}, {"c", "x", 3}}, data("a=x|b=x|c=x|")},
        {"references to later variables",
         {{"a", "<${b}${b}>", 1}, {"b", "[${c}]", 2}, {"c", "c", 3}},
         data("a=<[c][c]>|b=[c]|c=c|")},
        {"the first name is not scanned, later names are",
         {{"${b}", "1", 1}, {"x${b}", "2", 2}, {"b", "B", 3}},
         data("${b}=1|xB=2|b=B|")},
        {"the first name is scanned after an = in it",
         {{"n=${b}", "1", 1}, {"b", "B", 2}},
         data("n=B=1|b=B|")},
        {"a $ before a reference stays", {{"a", "$${b}$", 1}, {"b", "x", 2}}, data("a=$x$|b=x|")},
        {"a { after an inserted $ opens a reference",
         {{"a", "${b}{c}", 1}, {"b", "x$", 2}, {"c", "y", 3}},
         data("a=xy|b=x$|c=y|")},
        {"a long inserted value ending in $ opens a reference",
         {{"a", "${b}{c}${b}", 1}, {"b", std::string(70, 'x') + "$", 2}, {"c", "y", 3}},
         data("a=" + x70 + "y" + x70 + "$|b=" + x70 + "$|c=y|")},
        {"a long value used many times",
         {{"a", "${b}${b}${b}$", 1}, {"b", "${c}-${c}", 2}, {"c", x40, 3}},
         data("a=" + b81 + b81 + b81 + "$|b=" + b81 + "|c=" + x40 + "|")},
        {"a long value used whole, then without its last $",
         {{"a", "${b}${b}{c}", 1}, {"b", std::string(70, 'x') + "$", 2}, {"c", "y", 3}},
         data("a=" + x70 + "$" + x70 + "y|b=" + x70 + "$|c=y|")},
        {"a $ before an inserted { opens a reference",
         {{"a", "$${b}", 1}, {"b", "{c}", 2}, {"c", "z", 3}},
         data("a=z|b={c}|c=z|")},
        {"a name put together from two values",
         {{"a", "${b}${c}", 1}, {"b", "${x", 2}, {"c", "y}", 3}},
         failure("didn't find variable", "${x${c}", 1)},
        {"a name put together around an inserted value",
         {{"a", "$${b}y}", 1}, {"b", "{x", 2}, {"xy", "ok", 3}},
         data("a=ok|b={x|xy=ok|")},
        {"a name that runs into the inserted value",
         {{"a", "${b}y}", 1}, {"b", "${x", 2}, {"xy", "ok", 3}},
         failure("unfinished ${ in", "${x", 2)},
        {"unfinished", {{"a", "1", 1}, {"b", "x${y", 7}}, failure("unfinished ${ in", "${y", 7)},
        {"unfinished after an inserted value",
         {{"a", "${b}${", 5}, {"b", "1", 6}},
         failure("unfinished ${ in", "${", 5)},
        {"unfinished in a later name", {{"a", "1", 1}, {"${a", "2", 8}}, failure("unfinished ${ in", "${a=2", 8)},
        {"missing", {{"a", "${nope}", 4}}, failure("didn't find variable", "${nope}", 4)},
        {"missing inside an inserted value",
         {{"a", "${b}", 4}, {"b", "${c}", 5}},
         failure("didn't find variable", "${c}", 4)},
        {"a variable referring to itself",
         {{"a", "x${a}", 9}},
         failure("recursive variable reference", "${a}", 9)},
        {"two variables referring to each other",
         {{"a", "${b}", 1}, {"b", "${a}", 2}},
         failure("recursive variable reference", "${a}", 1)},
        {"the loop closes at the first variable of the item",
         {{"b", "${c}", 1}, {"c", "${a}", 2}, {"a", "${b}", 3}},
         failure("recursive variable reference", "${b}", 1)},
        {"a cycle through an item not reached first",
         {{"x", "ok", 1}, {"a", "${b}", 2}, {"b", "${c}", 3}, {"c", "${b}", 4}},
         failure("recursive variable reference", "${b}", 2)},
        {"a loop through a name put together",
         {{"a", "${b}a}", 6}, {"b", "${", 7}},
         failure("recursive variable reference", "${a}", 6)},
        // The next cases were once taken for cycles; the rule ends on each.
        // p's reference to v leads through u to a reference to "a${v"; the
        // item named "${w" is itself an unfinished reference.
        {"values that lead back to each other through names put together",
         {{"p", "${v}", 1}, {"t", "$${u}", 2}, {"u", "{${w}{a${v}}", 3}, {"w", "$", 4},
          {"${w", "z", 5}, {"a${v", "ok", 6}, {"v", "${u}", 7}},
         failure("unfinished ${ in", "${w=z", 5)},
        {"a reference behind a \"$\" taken into a name",
         {{"p", "${v}", 1}, {"a", "{x${v}}", 2}, {"v", "$${a}", 3}, {"x${v", "k", 4}},
         failure("unfinished ${ in", "${v=k", 4)},
        {"the same one value further down",
         {{"p", "${w}", 1}, {"a", "{x${w}}", 2}, {"w", "${v}", 3}, {"v", "$${a}", 4},
          {"x${w", "k", 5}},
         failure("unfinished ${ in", "${w=k", 5)},
        {"the same behind eight values that each take a \"$\"",
         many_in_place({{"p", "${v}", 1}, {"a", "{x${v}}", 2}, {"v", "$${a}", 3}, {"x${v", "k", 4}}),
         failure("unfinished ${ in", "${v=k", 4)},
        {"the same further down behind eight such values",
         many_in_place({{"p", "${w}", 1}, {"a", "{x${w}}", 2}, {"w", "${v}", 3}, {"v", "$${a}", 4},
                        {"x${w", "k", 5}}),
         failure("unfinished ${ in", "${w=k", 5)},
        // v's value takes back the two "$" before it, one from g's value, one
        // from h's (each unfinished on its own).
        {"a value taking back \"$\" of two values",
         {{"t", "$${g}", 1}, {"g", "$${h}${", 2}, {"h", "${v}${", 3}, {"v", "{{x}y}", 4},
          {"{x", "{z", 5}, {"zy", "ok", 6}},
         failure("unfinished ${ in", "${${", 1)},
        // v behind two "$" takes both back and writes one; the "{" after v
        // takes that one, and what G then holds is "{p}{G}" again.
        {"a value behind \"$\" writing one for the next reference",
         {{"t", "$$${G}", 1}, {"G", "${v}{G}", 2}, {"v", "{p}", 3}, {"p", "{q}$", 4}, {"q", "", 5}},
         data("t={p}{G}|G={p}{G}|v={p}|p={q}$|q=|")},
        // The reference to m= begins in an item's name and ends in its
        // value; what replaces it refers to the item's own variable, whose
        // value "}x" ends it.
        {"a value reached from a name",
         {{"z", "${m=}", 1}, {"${m", "}x", 2}, {"m=", "${v}", 3}, {"v", "${${m}", 4}},
         data("z=}x|}xx|m==}x|v=}x|")},
        {"a reference from a name into the value",
         {{"a", "1", 1}, {"${m", "}x", 2}, {"m=", "${${m}", 3}},
         data("a=1|}xx|m==}x|")},
        // The rule ends after nine substitutions: each reference to Host is
        // made of a "$" before an inserted value and the "{Host}" that
        // root brought, and none of them lies inside an earlier one.
        {"a reference made across the border of inserted values",
         {{"b", "${Host}$${root}", 1}, {"Host", "1${root}${root}$", 1}, {"root", "{Host},$x", 1}},
         data("b=1{Host},$x{Host},$x$1{Host},$x{Host},$x$,$x|Host=1{Host},$x{Host},$x$|root={Host},$x|")},
        // Behind unlimited "$" w would take them back for ever; behind three
        // it takes three and is written.
        {"a value taking back its own reference, behind a few \"$\"",
         {{"x", "$$$${w}", 1}, {"w", "{w}", 2}},
         data("x={w}|w={w}|")},
        // Each reference to b takes its "$" from c's value, inserted for the
        // reference before it: the data comes back to the same text.
        {"a loop fed by \"$\"",
         {{"a", "$", 1}, {"b", "{c}{b}", 2}, {"c", "$$", 3}, {"d", "$$${a}{c}${b}b}${a}", 4}},
         failure("recursive variable reference", "${b}", 4)},
        // Each round takes one "$" more than the last from u's value.
        {"a loop whose count of \"$\" grows",
         {{"x", "$${w}", 1}, {"w", "{u}{w}", 2}, {"u", "$$$", 3}},
         failure("recursive variable reference", "${w}", 1)},
        // a behind a "$" writes "z" first: the rest of a, from there on,
        // holds b again.
        {"a loop through the rest of a value",
         {{"a", "z${b}", 1}, {"b", "$${a}", 2}},
         failure("recursive variable reference", "${b}", 1)},
        // k's reference begins before u's value and ends inside it, then
        // the one made of k's value and the rest of u covers u: no loop.
        {"references reaching across an inserted value twice",
         {{"t", "$$${u}", 1}, {"u", "{k}q}", 2}, {"k", "{z", 3}, {"zq", "${u}", 4}},
         data("t={k}q}|u={k}q}|k={z|zq={k}q}|")},
        {"the same variable twice is no loop",
         {{"a", "${b}${b}", 1}, {"b", "${c}${c}", 2}, {"c", "x", 3}},
         data("a=xxxx|b=xx|c=x|")},
    };
    for (const expand_case &c : cases) {
        EXPECT_EQ(fast(c.vars), c.expected) << c.what;
        if (is_cycle(c.expected))
            EXPECT_EQ(literal(c.vars).kind, out_endless) << c.what;
        else
            EXPECT_EQ(literal(c.vars), c.expected) << c.what;
    }
}

// Each variable twice the one before, the second time after a "$": with v0
// beginning with "{", every level behind a "$" pairs it with that "{".
std::vector<var_def> doubling(int levels, const char *first, const char *between)
{
    std::vector<var_def> vars{{"v0", first, 1}, {"x", "y", 2}};
    for (int i = 1; i < levels; i++) {
        std::string prev = reference_to(numbered("v", i - 1));
        vars.push_back(var_def{numbered("v", i), prev + between + prev, i + 2});
    }
    return vars;
}

TEST(Expand, TooLarge)
{
    EXPECT_EQ(fast(doubling(40, "x", "")), (outcome{out_too_large, "", "", 0}));
    EXPECT_EQ(fast(doubling(40, "{x}", "$")), (outcome{out_too_large, "", "", 0}));
    std::vector<var_def> ten = doubling(10, "{x}", "$");
    outcome expected = literal(ten, expand_data_limit(), 100000);
    EXPECT_EQ(expected.kind, out_data);
    EXPECT_EQ(fast(ten), expected);

    // Just fitting and one byte over: the data is 19 bytes long.
    std::vector<var_def> small{{"v0", "x", 1}, {"v1", "${v0}${v0}", 2}, {"v2", "${v1}${v1}", 3}};
    EXPECT_EQ(fast(small, 19), data("v0=x|v1=xx|v2=xxxx|"));
    EXPECT_EQ(fast(small, 18).kind, out_too_large);
}

// A chain of 20000 variables, each referring to the one before, and the
// same chain referring forward; a chain whose values grow, each holding the
// one before; and a value that doubles a run of "$" sixteen times.
TEST(Expand, LongExpansions)
{
    const int n = 20000;
    std::vector<var_def> back{{"v0", "x", 1}};
    std::vector<var_def> forward;
    std::string back_data = std::string("v0=x") + '\0';
    std::string forward_data;
    for (int i = 1; i < n; i++) {
        std::string v = numbered("v", i);
        back.push_back(var_def{v, reference_to(numbered("v", i - 1)), i});
        back_data += v + "=x" + '\0';
        forward.push_back(var_def{v, reference_to(numbered("v", i + 1)), i});
        forward_data += v + "=y" + '\0';
    }
    forward.push_back(var_def{numbered("v", n), "y", n});
    forward_data += numbered("v", n) + "=y" + '\0';
    EXPECT_EQ(fast(back), (outcome{out_data, back_data, "", 0}));
    EXPECT_EQ(fast(forward), (outcome{out_data, forward_data, "", 0}));

    std::vector<var_def> growing{{"v0", "", 1}};
    std::string growing_data = std::string("v0=") + '\0';
    for (int i = 1; i < 3000; i++) {
        growing.push_back(var_def{numbered("v", i), reference_to(numbered("v", i - 1)) + "a", i});
        growing_data += numbered("v", i) + "=" + std::string(i, 'a') + '\0';
    }
    EXPECT_EQ(fast(growing), (outcome{out_data, growing_data, "", 0}));

    // Behind a "$", a refers to itself through its "{" and leaves two "$"
    // for each one it takes: every "{a}" in x doubles the run, which only
    // step by step expansion can produce.
    std::string x = "$";
    for (int i = 0; i < 16; i++)
        x += "{a}";
    std::string x_data = "a={a}$$";
    x_data += '\0';
    x_data += "x=";
    for (int i = 0; i < 16; i++)
        x_data += "{a}";
    x_data += std::string(65536, '$') + '\0';
    EXPECT_EQ(fast({{"a", "{a}$$", 1}, {"x", x, 2}}), (outcome{out_data, x_data, "", 0}));
}

// Random hosts over a tiny alphabet, so that references meet the borders of
// inserted values, names get put together, and cycles, missing variables
// and unfinished references come up often. Some pieces are long, so that
// expansions get long enough to be referred to rather than copied.
struct host_shape {
    int most_vars;
    int most_pieces;
};

std::vector<var_def> random_host(std::mt19937 *rng, host_shape shape = {4, 5})
{
    static const char *const names[] = {"a", "b", "c", "ab", "a}", "${a", "=", "x=a"};
    static const char *const pieces[] = {
        "${a}", "${b}", "${c}", "${ab}", "$", "{", "}", "a", "b", "=", "${", "$${", "{a}", "c}",
        "${a}${a}", "$$", "{{", "${b}}", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"};
    std::uniform_int_distribution<int> count(1, shape.most_vars), length(0, shape.most_pieces);
    std::uniform_int_distribution<size_t> name(0, std::size(names) - 1);
    std::uniform_int_distribution<size_t> piece(0, std::size(pieces) - 1);
    std::vector<var_def> vars;
    for (int n = count(*rng), tries = 0; static_cast<int>(vars.size()) < n && tries < 30; tries++) {
        std::string nm = names[name(*rng)];
        bool taken = false;
        for (const var_def &v : vars)
            taken |= v.name == nm;
        if (taken)
            continue;
        std::string value;
        for (int k = length(*rng); k > 0; k--)
            value += pieces[piece(*rng)];
        vars.push_back(var_def{nm, value, static_cast<int64_t>(10 + vars.size())});
    }
    return vars;
}

// Hosts built for references that reach across the start of inserted
// values: values that begin with "{" after a "$", and "$" runs to feed them.
std::vector<var_def> crossing_host(std::mt19937 *rng)
{
    static const char *const names[] = {"a", "b", "c", "d", "e"};
    static const char *const pieces[] = {"${a}", "${b}", "${c}", "${d}", "${e}", "$",   "$$",
                                         "{",    "}",    "{a",   "{b",   "{c}",  "a}",  "b}",
                                         "c",    "${",   "{a}",  "{b}",  "d}",   "e",   "$${a}",
                                         "$${b}", "$${c}", "$${d}"};
    std::uniform_int_distribution<int> count(2, 5), length(1, 6);
    std::uniform_int_distribution<size_t> piece(0, std::size(pieces) - 1);
    std::vector<var_def> vars;
    for (int i = count(*rng) - 1; i >= 0; i--) {
        std::string value;
        for (int k = length(*rng); k > 0; k--)
            value += pieces[piece(*rng)];
        vars.push_back(var_def{names[i], value, static_cast<int64_t>(10 + vars.size())});
    }
    if ((*rng)() % 2)
        vars.push_back(var_def{"ab", "${a}", 30});
    if ((*rng)() % 2)
        vars.push_back(var_def{"bc", "$", 31});
    return vars;
}

TEST(Expand, SameAsTheRuleOnGeneratedHosts)
{
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> small_limit(0, 3);
    int kinds[4] = {};
    for (int i = 0; i < 60000; i++) {
        std::vector<var_def> vars = i % 3 == 0   ? random_host(&rng, host_shape{4, 5})
                                     : i % 3 == 1 ? random_host(&rng, host_shape{8, 8})
                                                  : crossing_host(&rng);
        uint64_t limit = small_limit(rng) ? expand_data_limit() : 10 + rng() % 200;
        outcome rule;
        ASSERT_TRUE(same_as_rule(vars, limit, &rule));
        kinds[rule.kind]++;
    }
    // The generated hosts reach every outcome.
    EXPECT_GT(kinds[out_data], 2000);
    EXPECT_GT(kinds[out_failure], 2000);
    EXPECT_GT(kinds[out_too_large], 50);
    EXPECT_GT(kinds[out_endless], 500);
}

// Hosts whose references are mostly plain (closed in their own value, to
// variables that exist), which are expanded directly, and near misses that
// are not: a stray "$" next to a reference, an unknown or unfinished one,
// a name with a "$", references in a cycle, braces around references.
// Most references go to later variables, or (back) to earlier ones, whose
// hosts the direct expansion takes in list order.
std::vector<var_def> nearly_plain_host(std::mt19937 *rng, bool back = false)
{
    static const char *const names[] = {"a", "b", "c", "dd", "e"};
    static const char *const plain[] = {"x", "yy", "{", "}", "=", "{x}", "zzzzzzzz"};
    static const char *const misses[] = {"$", "${", "${q}", "$${a}", "${a", "${$a}", "{${b}}"};
    std::uniform_int_distribution<int> count(1, 5), length(0, 5), percent(0, 99);
    int n = count(*rng);
    std::vector<var_def> vars;
    for (int k = 0; k < n; k++) {
        std::string value;
        for (int j = length(*rng); j > 0; j--) {
            int p = percent(*rng);
            if (p >= 97)
                value += misses[(*rng)() % std::size(misses)];
            else if (p >= 45 && p % 8 == 0)
                value += std::string("${") + names[(*rng)() % n] + "}";
            else if (p >= 45 && back && k > 0)
                value += std::string("${") + names[(*rng)() % k] + "}";
            else if (p >= 45 && !back && k + 1 < n)
                value += std::string("${") + names[k + 1 + (*rng)() % (n - k - 1)] + "}";
            else
                value += plain[(*rng)() % std::size(plain)];
        }
        std::string name = percent(*rng) ? names[k] : std::string(names[k]) + "${" + names[0] + "}";
        vars.push_back(var_def{name, value, k + 1});
    }
    return vars;
}

TEST(Expand, NearlyPlainHostsSameAsTheRule)
{
    std::mt19937 rng(4242);
    int kinds[4] = {};
    for (int i = 0; i < 30000; i++) {
        std::vector<var_def> vars = nearly_plain_host(&rng, i % 3 == 2);
        uint64_t limit = i % 5 ? expand_data_limit() : 10 + rng() % 100;
        outcome rule;
        ASSERT_TRUE(same_as_rule(vars, limit, &rule));
        kinds[rule.kind]++;
    }
    EXPECT_GT(kinds[out_data], 12000);
    EXPECT_GT(kinds[out_failure] + kinds[out_endless], 4500);
    EXPECT_GT(kinds[out_too_large], 450);
}

// Hosts that include classes, some of whose variables they change (an
// append or an override), with the classes' values and their own nearly
// plain: references to the classes' variables, to the host's, to names
// that are neither, in cycles, with stray "$", and names with a "$". The
// items that the include path's memo gives a host (from the path's second
// host on) make the same outcome as the host's own pass, for hosts of the
// same path with other changes too.
TEST(Expand, IncludePathItemsSameAsTheHostsOwn)
{
    std::mt19937 rng(91);
    std::uniform_int_distribution<int> percent(0, 99);
    static const char *const plain[] = {"x", "yy", "{", "}", "=", "zzzzzzzzz"};
    static const char *const misses[] = {"$", "${", "${q}", "$${c0}", "${c1", "{${h0}}"};
    // Most references go to a variable before the one whose value it is,
    // some to any.
    auto value_of = [&](const std::vector<std::string> &names, size_t place) {
        std::string value;
        for (int j = static_cast<int>(rng() % 5); j > 0; j--) {
            int p = percent(rng);
            size_t to = place && p % 8 ? rng() % place : rng() % names.size();
            value += p >= 97 ? std::string(misses[rng() % std::size(misses)])
                     : p >= 55 ? reference_to(names[to])
                               : std::string(plain[rng() % std::size(plain)]);
        }
        return value;
    };
    int copied = 0, data = 0;
    for (int i = 0; i < 6000; i++) {
        int classes = 1 + static_cast<int>(rng() % 3), own = static_cast<int>(rng() % 4);
        std::vector<std::string> names;
        std::vector<int> class_of;
        for (int k = 0; k < classes; k++)
            for (int n = 1 + static_cast<int>(rng() % 4); n > 0; n--) {
                names.push_back(numbered("c", static_cast<int>(names.size())));
                class_of.push_back(k);
            }
        size_t class_vars = names.size();
        for (int n = 0; n < own; n++)
            names.push_back(numbered("h", n));
        if (percent(rng) < 3)
            names[rng() % class_vars] += "$";
        std::vector<var_def> defs;
        for (const std::string &name : names)
            defs.push_back(var_def{name, value_of(names, defs.size()), static_cast<int64_t>(defs.size() + 1)});
        include_path *path = nullptr;
        for (int k = 0; k < classes; k++) {
            auto *c = new host_class{};
            c->name = lasting(numbered("k", k));
            for (size_t v = 0; v < class_vars; v++)
                if (class_of[v] == k)
                    var_append(&c->variables, lasting(defs[v].name), lasting(defs[v].value), defs[v].line);
            path = new include_path{c, path, nullptr, nullptr, nullptr, 0, 0, nullptr};
        }
        // Three hosts of the path, each changing some of the classes'
        // variables in its own way.
        for (int h = 0; h < 3; h++) {
            std::vector<var_def> host_defs = defs;
            uint64_t changed = 0;
            for (size_t v = 0; v < class_vars; v++)
                if (percent(rng) < 20) {
                    host_defs[v].value = value_of(names, v);
                    changed |= uint64_t{1} << v;
                }
            uint64_t limit = percent(rng) < 20 ? 10 + rng() % 60 : expand_data_limit();
            host *made = make_host(host_defs);
            outcome own_pass = fast_on(made, limit, nullptr);
            host_prefix prefix{path, changed};
            outcome with_path = fast_on(made, limit, &prefix);
            ASSERT_EQ(with_path, own_pass) << shown(host_defs) << " changed " << changed << " host " << h;
            copied += h > 0 && changed == 0 && own_pass.kind == out_data;
            data += own_pass.kind == out_data;
        }
    }
    EXPECT_GT(copied, 1000) << data;
    EXPECT_GT(data, 6000) << copied;
}

// The expander reports a cycle on every host on which the rule goes on for
// ever, and on no other: where the rule ends, the outcomes are the same.
TEST(Expand, CycleReportedExactlyWhereTheRuleGoesOn)
{
    std::mt19937 rng(7);
    int endless = 0;
    for (int i = 0; i < 10000; i++) {
        std::vector<var_def> vars = i % 2 ? random_host(&rng) : crossing_host(&rng);
        outcome rule;
        ASSERT_TRUE(same_as_rule(vars, expand_data_limit(), &rule));
        endless += rule.kind == out_endless;
    }
    EXPECT_GT(endless, 500);
}

// Hosts whose references only lead to later variables, with stray "$" and
// "{" that can open references at the borders but never form the name of a
// variable: the rule always ends, and the expander never finds a cycle.
TEST(Expand, NoCycleFoundWhereThereIsNone)
{
    std::mt19937 rng(99);
    static const char *const names[] = {"a", "b", "c", "d"};
    static const char *const plain[] = {"$", "{", "x", "=", "$$", "{{"};
    std::uniform_int_distribution<int> count(1, 4), length(0, 6), coin(0, 1);
    int succeeded = 0;
    for (int i = 0; i < 5000; i++) {
        int n = count(rng);
        std::vector<var_def> vars;
        for (int k = 0; k < n; k++) {
            std::string value;
            for (int j = length(rng); j > 0; j--) {
                if (k + 1 < n && coin(rng))
                    value += std::string("${") + names[k + 1 + rng() % (n - k - 1)] + "}";
                else
                    value += plain[rng() % std::size(plain)];
            }
            vars.push_back(var_def{names[k], value, k + 1});
        }
        outcome plain_rule = literal(vars);
        ASSERT_NE(plain_rule.kind, out_endless) << shown(vars);
        EXPECT_EQ(fast(vars), plain_rule) << shown(vars);
        succeeded += plain_rule.kind == out_data;
    }
    EXPECT_GT(succeeded, 1000);
}

// Hosts whose values end in "$" or begin with "{": a reference is made of
// the "$" that one inserted value ends with and the "{" that the next one
// begins with, or of a "$" written before a reference and the "{" of the
// value inserted for it, as in the report of a cycle taken for one where
// the rule ends. Some values take back many "$" ("{e}" repeated, e empty).
std::vector<var_def> border_host(std::mt19937 *rng)
{
    static const char *const names[] = {"Host", "root", "a", "b", "e"};
    static const char *const starts[] = {"", "", "", "{", "{a}", "{b}", "{Host}", "{root},", "{e}{e}", "{{e}"};
    static const char *const middles[] = {"x",       "1",       ",$x",      "}",        "${a}",      "${b}",
                                          "${Host}", "${root}", "$${a}",    "$${b}",    "$${root}",  "$${e}",
                                          "${e}",    "$$",      "${a}${a}", "${e}${e}", "{e}{e}{e}", "$$$${b}"};
    static const char *const ends[] = {"", "", "", "", "$", "$$", "$$$", "${e"};
    std::uniform_int_distribution<int> length(0, 2);
    std::vector<var_def> vars;
    for (const char *name : names) {
        if ((*rng)() % 8 == 0)
            continue;
        std::string value = starts[(*rng)() % std::size(starts)];
        for (int k = length(*rng); k > 0; k--)
            value += middles[(*rng)() % std::size(middles)];
        value += ends[(*rng)() % std::size(ends)];
        vars.push_back(var_def{name, value, static_cast<int64_t>(10 + vars.size())});
    }
    if ((*rng)() % 3 == 0)
        vars.push_back(var_def{"{e", "${e}", 20});
    return vars;
}

TEST(Expand, BordersOfInsertedValuesSameAsTheRule)
{
    std::mt19937 rng(13);
    int kinds[4] = {};
    for (int i = 0; i < 40000; i++) {
        std::vector<var_def> vars = border_host(&rng);
        uint64_t limit = i % 7 ? expand_data_limit() : 5 + rng() % 100;
        outcome rule;
        ASSERT_TRUE(same_as_rule(vars, limit, &rule));
        kinds[rule.kind]++;
    }
    EXPECT_GT(kinds[out_data], 3000);
    EXPECT_GT(kinds[out_failure], 10000);
    EXPECT_GT(kinds[out_too_large], 1000);
    EXPECT_GT(kinds[out_endless], 5000);
}

// p<k> is 2^k "$", d<k> takes back 2^k of them, one "{e}" each; q<k> is
// one "$" fewer. Far too many steps for the rule; the expander counts.
std::vector<var_def> dollars_taken_back(int k, const std::string &x, int line)
{
    std::vector<var_def> vars{{"x", x, line}, {"y", "${", line + 1}};
    vars.push_back(var_def{"p0", "$", 1});
    vars.push_back(var_def{"d0", "{e}", 1});
    vars.push_back(var_def{"q0", "", 1});
    for (int i = 1; i <= k; i++) {
        std::string p = reference_to(numbered("p", i - 1));
        std::string d = reference_to(numbered("d", i - 1));
        vars.push_back(var_def{numbered("p", i), p + p, 1});
        vars.push_back(var_def{numbered("d", i), d + d, 1});
        vars.push_back(var_def{numbered("q", i), reference_to(numbered("q", i - 1)) + p, 1});
    }
    vars.push_back(var_def{"e", "", 1});
    return vars;
}

TEST(Expand, RunsOfDollarsTakenBack)
{
    // Small enough for the rule: 2^10 "$" taken back, exactly or one short.
    for (const char *x : {"${p10}${d10}", "${q10}${d10}", "a$${q10}{e}${d10}b"}) {
        std::vector<var_def> vars = dollars_taken_back(10, x, 40);
        vars.erase(vars.begin() + 1);
        outcome rule = literal(vars, expand_data_limit(), 100000, 40000000);
        ASSERT_EQ(rule.kind, out_data) << x;
        EXPECT_EQ(fast(vars), rule) << x;
    }
    // 2^40 "$": x's item stays short, so y's unfinished reference is what
    // the rule reports, whatever the items after it would hold.
    EXPECT_EQ(fast(dollars_taken_back(40, "${p40}${d40}", 40)), failure("unfinished ${ in", "${", 41));
    EXPECT_EQ(fast(dollars_taken_back(40, "${q40}${d40}", 40)), failure("unfinished ${ in", "${", 41));
    // Left in x, 2^40 - 1 "$" are bound to stay.
    EXPECT_EQ(fast(dollars_taken_back(40, "${q40}x", 40)).kind, out_too_large);
}

} // namespace
