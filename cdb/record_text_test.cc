// record_text against the data rule applied byte by byte: the word-wide
// search must find every NUL and every opening "=" wherever it stands in a
// word, stop at the data's end whatever follows it, stay within its bound,
// and reuse a remembered text only for data that is equal.
#include "cdb/record_text.h"
#include "tests/support/record_rule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Runs record_text with the key and data in one block followed by bytes that
// the rule would transform, and a canary after the bound of the output.
std::string run_text(const std::string &key, const std::string &data)
{
    std::string input = key + data + std::string(record_text_overrun, '=');
    input[key.size() + data.size() + 1] = '\0';
    const auto *in = reinterpret_cast<const unsigned char *>(input.data());
    uint64_t bound = record_text_bound(static_cast<uint32_t>(key.size()),
                                       static_cast<uint32_t>(data.size()));
    std::vector<unsigned char> out(bound + 16, 0xA5);
    unsigned char *end = record_text(out.data(), in, static_cast<uint32_t>(key.size()),
                                     in + key.size(), static_cast<uint32_t>(data.size()));
    for (size_t i = bound; i < out.size(); i++)
        EXPECT_EQ(out[i], 0xA5) << "written past the bound at " << i;
    return std::string(out.begin(), out.begin() + (end - out.data()));
}

using namespace std::string_literals;

TEST(RecordText, Cases)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"k", "a=1\0"s},
        {"k", "a=1\0b=x=y\0"s},
        {"k", ""},
        {"", "a=\0"s},
        {"k", "novalue\0"s},
        {"k", "=lead\0"s},
        {"k", "\0\0=\0==\0"s},
        {"k", "a=no terminator"},
        {"k", "exactly8=\0"s},
        {"a key with \" and \n", "v=\"quoted\"\nline\0"s},
        {"k", "\xff\x80=\x7f\0"s},
    };
    for (const auto &[key, data] : cases)
        EXPECT_EQ(run_text(key, data), record_rule_text(key, data)) << "data of " << data.size();
}

// A NUL or an "=" at every place of the first words, in data of every
// length up to three words, after keys of every length up to a word.
TEST(RecordText, SpecialBytesAtEveryPlace)
{
    for (size_t key_length = 0; key_length <= 8; key_length++)
        for (size_t length = 0; length <= 24; length++)
            for (size_t at = 0; at < length; at++)
                for (char special : {'\0', '='}) {
                    std::string data(length, 'x');
                    data[at] = special;
                    if (at + 3 < length)
                        data[at + 3] = special == '=' ? '\0' : '=';
                    std::string key(key_length, 'k');
                    ASSERT_EQ(run_text(key, data), record_rule_text(key, data))
                        << "key " << key_length << ", length " << length << ", at " << at;
                }
}

// Data compared with the data remembered a word at a time: only its own
// bytes may count.
TEST(RecordText, RepeatedDataAndDataThatDiffersLate)
{
    std::string data = "domain=example.net\0root=/srv\0"s;
    std::string other = data;
    other[other.size() - 2] = 'w';
    std::string unterminated = data;
    unterminated.back() = '=';
    // Equal up to the last byte of a word's part; and data remembered after
    // longer data, whose bytes past it are still in the memory.
    std::string last = data.substr(0, data.size() - 1) + "z";
    std::string longer = data + "extra=1\0"s;
    for (const std::string &d : {data, data, other, data, unterminated, data, last, longer, data, data})
        EXPECT_EQ(run_text("10.0.0.1", d), record_rule_text("10.0.0.1", d));
}

// Data of every length up to past the short texts compared in steps of
// sixteen (the last step covering bytes again), after the same data, and
// changed at every place after it: each byte counts, wherever it stands in
// its step, and none past the end does.
TEST(RecordText, EqualDataOfEveryLengthChangedAtEveryPlace)
{
    for (size_t length = 0; length <= 112; length++) {
        std::string data;
        for (size_t i = 0; i < length; i++)
            data += i % 9 == 8 ? '\0' : i % 9 == 2 ? '=' : static_cast<char>('a' + i % 26);
        EXPECT_EQ(run_text("k", data), record_rule_text("k", data));
        EXPECT_EQ(run_text("k", data), record_rule_text("k", data)) << "again, length " << length;
        for (size_t at = 0; at < length; at++) {
            std::string changed = data;
            changed[at] = changed[at] == 'q' ? 'r' : 'q';
            EXPECT_EQ(run_text("k", changed), record_rule_text("k", changed)) << "length " << length << ", at " << at;
            EXPECT_EQ(run_text("k", data), record_rule_text("k", data)) << "length " << length << ", at " << at;
        }
    }
}

TEST(RecordText, DataLongerThanWhatIsRemembered)
{
    std::string data;
    for (int i = 0; i < 1000; i++) {
        std::string n = std::to_string(i);
        data.append("v").append(n).append("=x=").append(n).push_back('\0');
    }
    ASSERT_GT(data.size(), 8192u);
    std::string changed = data;
    changed[9000] = '=';
    for (const std::string &d : {data, data, changed})
        EXPECT_EQ(run_text("k", d), record_rule_text("k", d));
}

// The data cut in two pieces at every place, and in pieces of every size:
// whether a value is open carries from one piece to the next.
TEST(RecordText, DataInPieces)
{
    const std::string data = "a=1\0b=x=y\0novalue\0=lead\0\0c=no terminator"s;
    std::string expected = record_rule_text("k", data);
    expected = expected.substr(13, expected.size() - 15);   // "client k {\n  " and "}\n" off
    for (size_t piece = 1; piece <= data.size(); piece++) {
        std::string input = data + std::string(record_text_overrun, '=');
        const auto *in = reinterpret_cast<const unsigned char *>(input.data());
        std::vector<unsigned char> out(5 * data.size() + record_text_overrun);
        unsigned char *end = out.data();
        bool quoted = false;
        for (size_t at = 0; at < data.size(); at += piece) {
            uint32_t n = static_cast<uint32_t>(std::min(piece, data.size() - at));
            end = record_text_data(end, in + at, n, &quoted);
        }
        EXPECT_EQ(std::string(out.data(), end), expected) << "pieces of " << piece;
    }
}

} // namespace
