// Splitting host names into keys: a table of names and the keys they give,
// or the failure they end with.
#include "compiler/keys.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>

#include <string>
#include <vector>

namespace {

struct split {
    std::vector<std::string> keys;
    std::string failure;   // "msg: detail", empty when none
};

void collect(void *context, const char *key, size_t length)
{
    static_cast<split *>(context)->keys.emplace_back(key, length);
}

split split_name(const char *name)
{
    split s;
    if (const key_failure *f = keys_split(name, collect, &s))
        s.failure = std::string(f->msg) + ": " + f->detail;
    return s;
}

std::vector<std::string> numbered(const std::string &prefix, int from, int to,
                                  const std::string &suffix = "")
{
    std::vector<std::string> keys;
    for (int n = from; n <= to; n++)
        keys.push_back(prefix + std::to_string(n) + suffix);
    return keys;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Keys, Table)
{
    const std::string not_ip = "bad input format: not an IP address";
    const std::string no_number = "bad input format: not a number after /";
    const std::string too_large = "bad input format: /number too large";
    const std::string too_short = "bad /mask in input: /number <20";
    struct keys_case {
        const char *name;
        std::vector<std::string> keys;
        std::string failure;
    };
    const keys_case cases[] = {
        {"pc7", {"pc7"}, ""},
        {"", {}, ""},
        {"a,,b,", {"a", "b"}, ""},
        {",a", {"a"}, ""},
        {"10.0.0.0/30,pc7", {"10.0.0.0", "10.0.0.1", "10.0.0.2", "10.0.0.3", "pc7"}, ""},
        {"192.168.1.77/30", numbered("192.168.1.", 76, 79), ""},
        {"192.168.1.77/32", {"192.168.1.77"}, ""},
        {"10.0.0.0/0x18", numbered("10.0.0.", 0, 255), ""},
        {"10.0.0.0/036", numbered("10.0.0.", 0, 3), ""},
        {"10.0.0.0/30junk", numbered("10.0.0.", 0, 3), ""},
        {"10.1/24", numbered("10.0.0.", 0, 255), ""},
        {"0x0a.0.0.1/32", {"10.0.0.1"}, ""},
        {"012.0.0.1/30", numbered("10.0.0.", 0, 3), ""},
        {"167772161/32", {"10.0.0.1"}, ""},
        {"10.0.0.0/19", {}, too_short},
        {"10.0.0.0/0", {}, too_short},
        {"10.0.0.0/0x", {}, too_short},
        {"10.0.0.0/33", {}, too_large},
        {"10.0.0.0/99999999999999999999", {}, too_large},
        {"10.0.0.0/", {}, no_number},
        {"10.0.0.0/x", {}, no_number},
        {"10.0.0.0/,b", {}, no_number},
        {"10.0.0.256/24", {}, not_ip},
        {"host/24", {}, not_ip},
        {"/24", {}, not_ip},
        {"a,10.0.0.0/19,b", {"a"}, too_short},
        {"10.1.2.250-300", numbered("10.1.2.", 250, 255), ""},
        {"10.1.2.9-3", {}, ""},
        {"10.1.2.5-5", {"10.1.2.5"}, ""},
        {"10.1.2.5-7x", numbered("10.1.2.", 5, 7, "x"), ""},
        {"h.007-09", numbered("h.", 7, 9), ""},
        {"10.1.2.-9", numbered("10.1.2.", 0, 9), ""},
        {"-2x", numbered("", 0, 2, "x"), ""},
        {"7-", numbered("", 7, 255), ""},
        // A "-" after a start text that is not all digits: a host name.
        {"build-01", {"build-01"}, ""},
        {"printer-west", {"printer-west"}, ""},
        {"web-3", {"web-3"}, ""},
        {"pc-a", {"pc-a"}, ""},
        {"lab-a.example.net", {"lab-a.example.net"}, ""},
        {"3com-printer", {"3com-printer"}, ""},
        {"x-", {"x-"}, ""},
        {"a.b-c.d", {"a.b-c.d"}, ""},
        {"a-b-3", {"a-b-3"}, ""},
        {"10.1.2.5x-7", {"10.1.2.5x-7"}, ""},
        {"pc-a,10.0.0.1-2", {"pc-a", "10.0.0.1", "10.0.0.2"}, ""},
        {"10.1.2.99999999999999999999-5", {}, ""},
        {"10.1.2.250-99999999999999999999x", numbered("10.1.2.", 250, 255), ""},
        {"10.1.2.007-9", numbered("10.1.2.", 7, 9), ""},
        {"r1-2", {"r1-2"}, ""},
        {"r.1-2,r.3-4", numbered("r.", 1, 2) + numbered("r.", 3, 4), ""},
    };
    for (const keys_case &c : cases) {
        split s = split_name(c.name);
        EXPECT_EQ(s.keys, c.keys) << c.name;
        EXPECT_EQ(s.failure, c.failure) << c.name;
    }
}

TEST(Keys, NetworksOfEverySize)
{
    for (int bits = 20; bits <= 32; bits++) {
        std::string name = "172.16.255.255/";
        name += std::to_string(bits);
        split s = split_name(name.c_str());
        ASSERT_EQ(s.keys.size(), size_t{1} << (32 - bits)) << name;
        EXPECT_EQ(s.keys.back(), "172.16.255.255") << name;
    }
    split s = split_name("10.0.16.0/20");
    EXPECT_EQ(s.keys.front(), "10.0.16.0");
    EXPECT_EQ(s.keys[256], "10.0.17.0");
    EXPECT_EQ(s.keys.back(), "10.0.31.255");
}

// Every key of networks whose octets change their number of digits, and
// one that ends at the last address, as inet_ntoa writes it.
TEST(Keys, NetworkKeysAreTheAddressesInDottedDecimal)
{
    for (const char *name : {"10.9.96.0/20", "192.168.0.0/22", "255.255.240.0/20"}) {
        split s = split_name(name);
        in_addr a;
        ASSERT_NE(inet_aton(std::string(name, strchr(name, '/')).c_str(), &a), 0);
        for (size_t i = 0; i < s.keys.size(); i++) {
            in_addr k;
            k.s_addr = htonl(ntohl(a.s_addr) + static_cast<uint32_t>(i));
            ASSERT_EQ(s.keys[i], inet_ntoa(k)) << name << " key " << i;
        }
    }
}

TEST(Keys, RangeWithLongPrefixAndSuffix)
{
    std::string prefix(300, 'p');
    prefix += '.';
    std::string suffix(200, 's');
    std::string name = prefix + "98-101" + suffix;
    split s = split_name(name.c_str());
    EXPECT_EQ(s.keys, numbered(prefix, 98, 101, suffix));
}

} // namespace
