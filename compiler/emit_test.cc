// Record generation as a whole: the records a host streams to the database
// writer, and the reports that end the run.
#include "compiler/emit.h"
#include "tests/support/exact_message.h"

#include "cdb/cdb_writer.h"
#include "compiler/report.h"
#include "lib/die.h"
#include "lib/iobuf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Test texts live until the process ends, like the configuration text
// that the tables' texts are views of.
std::string_view kept(const std::string &text)
{
    return *new std::string(text);
}

// The entry begins on first_line, and its variables are set one a line
// from there on.
host *make_host(const char *name, const std::vector<std::pair<std::string, std::string>> &vars,
                int64_t first_line = 1)
{
    host *h = new host{};
    h->name = kept(name);
    h->line = first_line;
    int64_t line = first_line;
    for (const auto &[n, v] : vars)
        var_append(&h->variables, kept(n), kept(v), line++);
    return h;
}

struct record {
    std::string key;
    std::string data;
    bool operator==(const record &r) const { return key == r.key && data == r.data; }
};

std::ostream &operator<<(std::ostream &os, const record &r)
{
    std::string d = r.data;
    for (char &c : d)
        if (!c)
            c = '|';
    return os << r.key << " -> " << d;
}

// Runs emit_host for each host into a fresh database file and reads the
// records back from behind the 2048-byte header.
std::vector<record> emitted(const std::vector<host *> &hosts)
{
    FILE *file = tmpfile();
    cdb_writer writer;
    cdb_writer_init(&writer);
    cdb_the_writer = &writer;
    cdb_position = 2048;
    iobuf out;
    iobuf_init(&out, fileno(file), iobuf_write_op, writev);
    for (host *h : hosts)
        emit_host(h, &out);
    EXPECT_EQ(iobuf_flush(&out), 0);
    iobuf_free(&out);
    std::string bytes(cdb_position - 2048, '\0');
    rewind(file);
    EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    fclose(file);
    std::vector<record> records;
    for (size_t at = 0; at + 8 <= bytes.size();) {
        uint32_t klen = cdb_load_u32(reinterpret_cast<const unsigned char *>(&bytes[at]));
        uint32_t dlen = cdb_load_u32(reinterpret_cast<const unsigned char *>(&bytes[at + 4]));
        records.push_back(record{bytes.substr(at + 8, klen), bytes.substr(at + 8 + klen, dlen)});
        at += 8 + klen + dlen;
    }
    return records;
}

std::string items(const std::string &text)
{
    std::string d = text;
    for (char &c : d)
        if (c == '|')
            c = '\0';
    return d;
}

TEST(Emit, OneRecordPerKeyWithTheExpandedData)
{
    host *h = make_host("10.0.0.0/30,pc7", {{"root", "/srv"}, {"path", "${root}/boot"}});
    std::string d = items("root=/srv|path=/srv/boot|");
    std::vector<record> expected{{"10.0.0.0", d}, {"10.0.0.1", d}, {"10.0.0.2", d},
                                 {"10.0.0.3", d}, {"pc7", d}};
    EXPECT_EQ(emitted({h}), expected);
}

TEST(Emit, HostsWithoutVariables)
{
    host *empty = make_host("a,b", {});
    EXPECT_EQ(emitted({empty}), (std::vector<record>{{"a", ""}, {"b", ""}}));
}

TEST(EmitDeathTest, ExpansionComesBeforeKeys)
{
    host *keyless = make_host("10.1.2.9-3,,", {{"x", "${x}"}});
    EXPECT_EXIT(
        {
            die_init("corvane_make");
            emitted({keyless});
        },
        testing::ExitedWithCode(1),
        exactly("corvane_make: recursive variable reference: ${x} at line 1\n"));
}

TEST(Emit, ANetworkOfLargeRecordsStreams)
{
    const std::string blob(1019, 'b');
    host *h = make_host("10.9.0.0/20", {{"blob", blob}});
    std::vector<record> records = emitted({h});
    ASSERT_EQ(records.size(), 4096u);
    EXPECT_EQ(records.front(), (record{"10.9.0.0", items("blob=" + blob + "|")}));
    EXPECT_EQ(records.back().key, "10.9.15.255");
    EXPECT_EQ(records.back().data.size(), 1025u);
}

// An expansion error names the line of the variable, a key error the line
// where the entry begins; neither the counter where parsing stopped. Lines
// past 2^32 too: the lines kept with entries and variables are as wide as
// the counter.
TEST(EmitDeathTest, ReportsNameTheLine)
{
    config_line = 5000000042;
    EXPECT_EXIT(
        {
            die_init("/usr/bin/corvane_make");
            emitted({make_host("h", {{"a", "1"}, {"b", "${c}"}}, 4294967303)});
        },
        testing::ExitedWithCode(1),
        exactly("corvane_make: didn't find variable: ${c} at line 4294967304\n"));
    EXPECT_EXIT(
        {
            die_init("corvane_make");
            emitted({make_host("10.0.0.0/19", {{"a", "1"}}, 6000000007)});
        },
        testing::ExitedWithCode(1),
        exactly("corvane_make: bad /mask in input: /number <20 at line 6000000007\n"));
}

// In a death test's child: ten seconds at most, and (where the sanitizer's
// shadow memory does not forbid it) one GiB of address space.
void bound_time_and_memory()
{
    alarm(10);
#if !defined(__SANITIZE_ADDRESS__)
    rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
    setrlimit(RLIMIT_AS, &limit);
#endif
}

// Forty variables, each twice the one before: the last is 2^39 bytes. The
// run must end at once, without building any of it.
TEST(EmitDeathTest, AHostTooLargeForAnyDatabaseEndsTheRunAtOnce)
{
    std::vector<std::pair<std::string, std::string>> vars{{"v0", "x"}};
    for (int i = 1; i < 40; i++) {
        std::string name = "v";
        name += std::to_string(i);
        std::string prev = "${v";
        prev += std::to_string(i - 1);
        prev += '}';
        vars.emplace_back(name, prev + prev);
    }
    host *h = make_host("a", vars);
    EXPECT_EXIT(
        {
            die_init("corvane_make");
            bound_time_and_memory();
            emitted({h});
        },
        testing::ExitedWithCode(1), exactly("corvane_make: database too large\n"));
}

// Data that fits a record on its own but not behind what the database holds
// already is refused before it is written out.
TEST(EmitDeathTest, DataPastTheLastPosition)
{
    EXPECT_EXIT(
        {
            die_init("corvane_make");
            cdb_position = 0xFFFFFFF0u;
            FILE *file = tmpfile();
            iobuf out;
            iobuf_init(&out, fileno(file), iobuf_write_op, writev);
            emit_host(make_host("k", {{"a", "1234"}}), &out);
        },
        testing::ExitedWithCode(1), exactly("corvane_make: database too large\n"));
}

} // namespace
