// Growable strings: the ladder, the 'Z' mark, cuts, failures that leave the
// record usable, the tracking list, and the reports that end the process.
#include "lib/zostr.h"

#include "lib/pages.h"
#include "lib/test_alloc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// A record that gives its block back when the test ends, so that a later
// test's record at the same stack address is not taken for reuse.
struct scoped_zostr {
    zostr s{};
    scoped_zostr() = default;
    scoped_zostr(const scoped_zostr &) = delete;
    ~scoped_zostr() { zostr_free(&s); }
};

int times_listed(const zostr *s)
{
    int n = 0;
    for (const zostr_track_entry *e = zostr_track_list; e; e = e->next)
        n += e->record == s;
    return n;
}

std::string content(const zostr &s)
{
    return std::string(s.data, s.length);
}

constexpr uint64_t two_to_63 = uint64_t{1} << 63;

TEST(ZostrLadder, SmallestSizeNotBelowRequest)
{
    struct Case { uint64_t request, size; };
    const Case cases[] = {
        {0, 16}, {1, 16}, {16, 16}, {17, 48}, {48, 48}, {49, 112}, {113, 240},
        {241, 496}, {497, 1008},
        {two_to_63 - 16, two_to_63 - 16},
        {two_to_63 - 15, UINT64_MAX - 15},
        {UINT64_MAX - 15, UINT64_MAX - 15},
        {UINT64_MAX, UINT64_MAX - 15},
    };
    for (const Case &c : cases)
        EXPECT_EQ(zostr_ladder_size(c.request), c.size) << "request " << c.request;
}

TEST(ZostrGrowth, SingleByteAppendsClimbTheLadder)
{
    struct Step { uint64_t from_length, capacity; };
    const Step steps[] = {{1, 16}, {16, 48}, {48, 112}, {112, 240}, {240, 496}};
    scoped_zostr r;
    std::string expected;
    for (uint64_t length = 1; length < 496; length++) {
        char c = static_cast<char>('a' + length % 26);
        ASSERT_EQ(zostr_add_char(&r.s, c), &r.s);
        expected += c;
        uint64_t want = 0;
        for (const Step &st : steps)
            if (length >= st.from_length)
                want = st.capacity;
        ASSERT_EQ(r.s.capacity, want) << "length " << length;
        ASSERT_EQ(r.s.data[length], 'Z') << "length " << length;
    }
    EXPECT_EQ(content(r.s), expected);
}

TEST(ZostrGrowth, EnlargementAddsToTheWholeBlock)
{
    scoped_zostr add;
    ASSERT_TRUE(zostr_add_mem(&add.s, "0123456789", 10));
    EXPECT_EQ(add.s.capacity, 16u);
    ASSERT_TRUE(zostr_add_mem(&add.s, "abcdefghij", 10));  // asks 16 + 11 = 27
    EXPECT_EQ(add.s.capacity, 48u);
    EXPECT_EQ(content(add.s), "0123456789abcdefghij");

    const std::string forty(40, 'q');
    scoped_zostr dup_held;
    ASSERT_TRUE(zostr_add_char(&dup_held.s, 'x'));
    ASSERT_EQ(dup_held.s.capacity, 16u);
    ASSERT_TRUE(zostr_dup_mem(&dup_held.s, forty.data(), 40));  // asks 16 + 41 = 57
    EXPECT_EQ(dup_held.s.capacity, 112u);
    EXPECT_EQ(content(dup_held.s), forty);

    scoped_zostr dup_fresh;
    ASSERT_TRUE(zostr_dup_mem(&dup_fresh.s, forty.data(), 40));  // asks 41
    EXPECT_EQ(dup_fresh.s.capacity, 48u);

    scoped_zostr more;
    ASSERT_TRUE(zostr_add_cstr(&more.s, "abc"));
    ASSERT_TRUE(zostr_allocmore(&more.s, 100));  // asks 16 + 100
    EXPECT_EQ(more.s.capacity, 240u);
    EXPECT_EQ(content(more.s), "abc");
}

// A first block of a huge page or more starts on one; it grows and is
// freed as any other, its content kept.
TEST(ZostrGrowth, LargeFirstBlockStartsOnAHugePage)
{
    scoped_zostr big;
    ASSERT_TRUE(zostr_allocmore(&big.s, pages_huge));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(big.s.data) % pages_huge, 0u);
    const std::string text(pages_huge + 5, 't');
    ASSERT_TRUE(zostr_add_mem(&big.s, text.data(), text.size()));
    ASSERT_TRUE(zostr_add_mem(&big.s, "end", 3));
    EXPECT_EQ(content(big.s), text + "end");

    scoped_zostr small;
    ASSERT_TRUE(zostr_allocmore(&small.s, pages_huge - 17));
    EXPECT_EQ(small.s.capacity, pages_huge - 16);
}

TEST(ZostrGrowth, ReplaceGrowsOnlyWhenContentAndMarkDoNotFit)
{
    scoped_zostr r;
    ASSERT_TRUE(zostr_add_cstr(&r.s, "a long-ish text"));
    char *block = r.s.data;
    ASSERT_TRUE(zostr_dup_cstr(&r.s, "fifteen bytes!!"));
    EXPECT_EQ(r.s.data, block);
    EXPECT_EQ(r.s.capacity, 16u);
    EXPECT_EQ(content(r.s), "fifteen bytes!!");
    EXPECT_EQ(r.s.data[15], 'Z');

    // Sixteen bytes leave no room for the mark: 16 + 17 asked, 48 given.
    ASSERT_TRUE(zostr_dup_cstr(&r.s, "sixteen bytes!!!"));
    EXPECT_EQ(r.s.capacity, 48u);
    EXPECT_EQ(r.s.data[16], 'Z');
}

TEST(ZostrContent, EmptyAppendToZeroRecordGivesBlockAndMark)
{
    static zostr zero;  // static storage: zero-filled, ready for use
    ASSERT_EQ(zostr_add_mem(&zero, "", 0), &zero);
    ASSERT_NE(zero.data, nullptr);
    EXPECT_EQ(zero.capacity, 16u);
    EXPECT_EQ(zero.length, 0u);
    EXPECT_EQ(zero.data[0], 'Z');
    zostr_free(&zero);
}

TEST(ZostrContent, ZeroByteIsContentAndMarkFollowsIt)
{
    scoped_zostr r;
    ASSERT_TRUE(zostr_add_mem(&r.s, "abc", 3));
    ASSERT_TRUE(zostr_add_char(&r.s, 0));
    EXPECT_EQ(r.s.length, 4u);
    EXPECT_EQ(std::string(r.s.data, 5), std::string("abc\0Z", 5));
}

TEST(ZostrContent, RecordWithoutBlockStartsEmptyWhateverItsFields)
{
    scoped_zostr add;
    add.s.length = 12345;
    add.s.capacity = 7;
    ASSERT_TRUE(zostr_add_cstr(&add.s, "xy"));
    EXPECT_EQ(content(add.s), "xy");
    EXPECT_EQ(add.s.capacity, 16u);

    scoped_zostr dup;
    dup.s.length = 99;
    ASSERT_TRUE(zostr_dup_char(&dup.s, 'q'));
    EXPECT_EQ(content(dup.s), "q");
}

TEST(ZostrContent, VariantsCopyTheRightBytes)
{
    scoped_zostr src;
    ASSERT_TRUE(zostr_add_mem(&src.s, "k\0v", 3));
    scoped_zostr r;
    ASSERT_TRUE(zostr_add_cstr(&r.s, "ab"));          // terminator not added
    ASSERT_TRUE(zostr_add_char(&r.s, 0x100 + 'c'));   // low 8 bits only
    ASSERT_TRUE(zostr_add_zostr(&r.s, &src.s));
    EXPECT_EQ(content(r.s), std::string("abck\0v", 6));

    zostr blockless{nullptr, 0, 0};
    ASSERT_TRUE(zostr_add_zostr(&r.s, &blockless));
    EXPECT_EQ(r.s.length, 6u);
    ASSERT_TRUE(zostr_dup_zostr(&r.s, &src.s));
    EXPECT_EQ(content(r.s), std::string("k\0v", 3));
    ASSERT_TRUE(zostr_dup_zostr(&r.s, &blockless));
    EXPECT_EQ(r.s.length, 0u);
    EXPECT_EQ(r.s.data[0], 'Z');
}

TEST(ZostrCut, WithBlock)
{
    struct Case { int64_t k; bool accepted; uint64_t length; };
    const Case cases[] = {
        {4, true, 4}, {5, false, 4}, {0, true, 0}, {2, true, 2},
        {-1, true, 3}, {-4, true, 0}, {-10, true, 0}, {INT64_MIN, true, 0},
        {INT64_MAX, false, 4},
    };
    for (const Case &c : cases) {
        scoped_zostr r;
        ASSERT_TRUE(zostr_add_cstr(&r.s, "wxyz"));
        r.s.data[4] = '?';  // shows whether the cut wrote the mark
        zostr *result = zostr_cut(&r.s, c.k);
        EXPECT_EQ(result, c.accepted ? &r.s : nullptr) << "k " << c.k;
        EXPECT_EQ(r.s.length, c.length) << "k " << c.k;
        EXPECT_EQ(content(r.s), std::string("wxyz").substr(0, c.length)) << "k " << c.k;
        if (c.accepted)
            EXPECT_EQ(r.s.data[c.length], 'Z') << "k " << c.k;
        else
            EXPECT_EQ(r.s.data[4], '?') << "k " << c.k;
    }
}

TEST(ZostrCut, WithoutBlock)
{
    zostr r{nullptr, 0, 7};
    EXPECT_EQ(zostr_cut(&r, -1), nullptr);
    EXPECT_EQ(zostr_cut(&r, 1), nullptr);
    EXPECT_EQ(r.length, 7u);
    EXPECT_EQ(zostr_cut(&r, 0), &r);
    EXPECT_EQ(r.length, 0u);
    EXPECT_EQ(r.data, nullptr);
}

TEST(ZostrFailure, FailedEnlargementLeavesTheRecord)
{
    scoped_zostr r;
    ASSERT_TRUE(zostr_add_cstr(&r.s, "keep"));
    char *block = r.s.data;
    auto unchanged = [&](const char *what) {
        EXPECT_EQ(r.s.data, block) << what;
        EXPECT_EQ(r.s.capacity, 16u) << what;
        EXPECT_EQ(content(r.s), "keep") << what;
        EXPECT_EQ(r.s.data[4], 'Z') << what;
    };
    // 16 + n lands on the top size, or beyond 64 bits.
    EXPECT_EQ(zostr_allocmore(&r.s, two_to_63 - 31), nullptr);
    EXPECT_EQ(errno, ENOMEM);
    unchanged("request just above 2^63 - 16");
    EXPECT_EQ(zostr_allocmore(&r.s, UINT64_MAX), nullptr);
    unchanged("request beyond 64 bits");
    EXPECT_EQ(zostr_add_mem(&r.s, "", UINT64_MAX), nullptr);  // n + 1 must not wrap to 0
    unchanged("append of 2^64 - 1 bytes");
    test_alloc_fail(0, 1);
    EXPECT_EQ(zostr_add_cstr(&r.s, "0123456789ab"), nullptr);
    test_alloc_reset();
    unchanged("realloc failure");
    ASSERT_TRUE(zostr_add_cstr(&r.s, "0123456789ab"));
    EXPECT_EQ(content(r.s), "keep0123456789ab");
}

TEST(ZostrFailure, FailedReplaceLeavesAnEmptyRecordWithItsBlock)
{
    scoped_zostr r;
    ASSERT_TRUE(zostr_add_cstr(&r.s, "old"));
    char *block = r.s.data;
    EXPECT_EQ(zostr_dup_mem(&r.s, "", UINT64_MAX), nullptr);
    EXPECT_EQ(r.s.data, block);
    EXPECT_EQ(r.s.capacity, 16u);
    EXPECT_EQ(r.s.length, 0u);
    EXPECT_EQ(r.s.data[0], 'Z');
    EXPECT_EQ(times_listed(&r.s), 1);
}

// A failed first allocation leaves the record without a block and unlisted,
// so that trying again later is not mistaken for reuse.
TEST(ZostrFailure, FailedFirstAllocationCanBeRetried)
{
    scoped_zostr huge;
    huge.s.length = 5;
    errno = 0;
    EXPECT_EQ(zostr_allocmore(&huge.s, UINT64_MAX), nullptr);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(huge.s.data, nullptr);
    EXPECT_EQ(huge.s.length, 0u);
    EXPECT_EQ(times_listed(&huge.s), 0);
    ASSERT_TRUE(zostr_add_cstr(&huge.s, "retry"));
    EXPECT_EQ(content(huge.s), "retry");

    scoped_zostr denied;
    test_alloc_fail(1, 1);  // the list entry is granted, the block is not
    errno = 0;
    EXPECT_EQ(zostr_dup_cstr(&denied.s, "x"), nullptr);
    test_alloc_reset();
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(denied.s.data, nullptr);
    EXPECT_EQ(times_listed(&denied.s), 0);
    EXPECT_EQ(zostr_tracking, 1);
    ASSERT_TRUE(zostr_dup_cstr(&denied.s, "x"));
    EXPECT_EQ(times_listed(&denied.s), 1);
}

TEST(ZostrTracking, ListedOnceFromFirstBlockUntilFree)
{
    scoped_zostr r;
    EXPECT_EQ(times_listed(&r.s), 0);
    ASSERT_TRUE(zostr_add_char(&r.s, 'a'));
    EXPECT_EQ(zostr_track_list->record, &r.s);  // newest first
    for (int i = 0; i < 40; i++)
        ASSERT_TRUE(zostr_add_char(&r.s, 'b'));
    ASSERT_TRUE(zostr_dup_cstr(&r.s, "c"));
    EXPECT_EQ(times_listed(&r.s), 1);
    zostr_free(&r.s);
    EXPECT_EQ(r.s.data, nullptr);
    EXPECT_EQ(times_listed(&r.s), 0);
}

TEST(ZostrTracking, ForgetUnlistsOneRecordAndKeepsTheOrder)
{
    scoped_zostr a, b, c;
    ASSERT_TRUE(zostr_add_char(&a.s, 'a'));
    ASSERT_TRUE(zostr_add_char(&b.s, 'b'));
    ASSERT_TRUE(zostr_add_char(&c.s, 'c'));
    zostr_forget(&b.s);
    ASSERT_NE(zostr_track_list, nullptr);
    EXPECT_EQ(zostr_track_list->record, &c.s);
    ASSERT_NE(zostr_track_list->next, nullptr);
    EXPECT_EQ(zostr_track_list->next->record, &a.s);
    EXPECT_EQ(times_listed(&b.s), 0);
    EXPECT_EQ(content(b.s), "b");  // the record itself is left alone
}

TEST(ZostrTracking, HandoverThenFreshBlock)
{
    scoped_zostr token;
    ASSERT_TRUE(zostr_xdup_mem(&token.s, "first", 5));
    ASSERT_TRUE(zostr_xadd_char(&token.s, 0));
    char *taken = token.s.data;
    token.s.data = nullptr;
    zostr_forget(&token.s);
    EXPECT_EQ(times_listed(&token.s), 0);

    ASSERT_TRUE(zostr_xdup_mem(&token.s, "second", 6));
    EXPECT_NE(token.s.data, taken);
    EXPECT_EQ(content(token.s), "second");
    EXPECT_STREQ(taken, "first");
    EXPECT_EQ(taken[6], 'Z');
    free(taken);
}

TEST(ZostrTracking, FreeWithoutBlockChangesNothingAndFreedRecordIsReusable)
{
    scoped_zostr other;
    ASSERT_TRUE(zostr_add_char(&other.s, 'o'));
    zostr r{nullptr, 3, 9};
    const zostr_track_entry *head = zostr_track_list;
    zostr_free(&r);
    EXPECT_EQ(r.data, nullptr);
    EXPECT_EQ(r.capacity, 3u);
    EXPECT_EQ(r.length, 9u);
    EXPECT_EQ(zostr_track_list, head);

    ASSERT_TRUE(zostr_add_cstr(&r, "one"));
    zostr_free(&r);
    ASSERT_TRUE(zostr_add_cstr(&r, "two"));
    EXPECT_EQ(content(r), "two");
    zostr_free(&r);
    EXPECT_EQ(times_listed(&other.s), 1);
}

TEST(ZostrDeathTest, LostBlockIsReportedAsReuse)
{
    EXPECT_EXIT(
        {
            static zostr r;
            zostr_xadd_char(&r, 'a');
            r.data = nullptr;  // neither freed nor forgotten
            zostr_xadd_char(&r, 'b');
        },
        testing::KilledBySignal(SIGABRT), testing::Eq("reusing zostr\n"));
}

// Once a list entry cannot be had, tracking is off for the rest of the
// process; the child reports every check that does not hold on stderr.
void tracking_off_scenario()
{
    auto check = [](bool ok, const char *what) {
        if (!ok)
            fprintf(stderr, "%s\n", what);
    };
    static zostr listed_before, r;
    zostr_xadd_char(&listed_before, 'a');
    test_alloc_fail(0, 1);  // the list entry of r
    zostr *result = zostr_add_char(&r, 'r');
    check(result == &r && r.data && r.length == 1, "the append went on");
    check(zostr_tracking == 0, "tracking off");
    check(zostr_track_list == nullptr, "list released");
    r.data = nullptr;
    check(zostr_add_char(&r, 'r') == &r, "no reuse check without tracking");
    zostr_free(&listed_before);
    check(zostr_add_char(&listed_before, 'b') == &listed_before, "freed record reusable");
    check(zostr_track_list == nullptr && zostr_tracking == 0, "nothing listed any more");
    zostr_forget(&r);
    r.data = nullptr;
    check(zostr_add_char(&r, 'x') == &r, "forget harmless");
    _exit(0);
}

TEST(ZostrDeathTest, TrackingOffAfterListEntryFailure)
{
    EXPECT_EXIT(tracking_off_scenario(), testing::ExitedWithCode(0), testing::Eq(""));
}

// Each twin under its own name; every allocation fails, so even the list
// entry of a fresh record cannot be had.
TEST(ZostrDeathTest, OutOfMemoryNamesTheTwin)
{
    static const zostr source{const_cast<char *>("s"), 2, 1};
    struct Case { const char *name; void (*op)(zostr *); };
    const Case cases[] = {
        {"zostr_xallocmore", [](zostr *s) { zostr_xallocmore(s, 1); }},
        {"zostr_xadd_mem", [](zostr *s) { zostr_xadd_mem(s, "m", 1); }},
        {"zostr_xdup_mem", [](zostr *s) { zostr_xdup_mem(s, "m", 1); }},
        {"zostr_xadd_cstr", [](zostr *s) { zostr_xadd_cstr(s, "c"); }},
        {"zostr_xdup_cstr", [](zostr *s) { zostr_xdup_cstr(s, "c"); }},
        {"zostr_xadd_zostr", [](zostr *s) { zostr_xadd_zostr(s, &source); }},
        {"zostr_xdup_zostr", [](zostr *s) { zostr_xdup_zostr(s, &source); }},
        {"zostr_xadd_char", [](zostr *s) { zostr_xadd_char(s, 'c'); }},
        {"zostr_xdup_char", [](zostr *s) { zostr_xdup_char(s, 'c'); }},
    };
    for (const Case &c : cases) {
        EXPECT_EXIT(
            {
                static zostr r;
                test_alloc_fail(0, UINT_MAX);
                c.op(&r);
            },
            testing::ExitedWithCode(1),
            testing::Eq(std::string("out of memory in ") + c.name + "\n"))
            << c.name;
    }
}

TEST(ZostrDeathTest, RequestNoAllocatorMeets)
{
    EXPECT_EXIT(
        {
            static zostr r;
            zostr_xadd_cstr(&r, "held");
            zostr_xallocmore(&r, UINT64_MAX - 20);
        },
        testing::ExitedWithCode(1), testing::Eq("out of memory in zostr_xallocmore\n"));
    EXPECT_EXIT(
        {
            static zostr r;
            zostr_xadd_mem(&r, "", UINT64_MAX);
        },
        testing::ExitedWithCode(1), testing::Eq("out of memory in zostr_xadd_mem\n"));
}

TEST(ZostrDeathTest, HandlerTakesTheReportStatusStaysOne)
{
    EXPECT_EXIT(
        {
            zostr_oom_handler = [](const char *name) {
                fprintf(stderr, "handler got %s", name);
                fflush(stderr);
            };
            static zostr r;
            zostr_xdup_mem(&r, "", UINT64_MAX);
        },
        testing::ExitedWithCode(1), testing::Eq("handler got zostr_xdup_mem"));
}

} // namespace
