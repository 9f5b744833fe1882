// The keys of a host: its name split at "," into plain names, IPv4
// networks (address/prefix length, 20 to 32) and last-octet ranges
// (prefix start-end suffix, where the start is digits or nothing; any other
// name with a "-" is a plain name).
#pragma once

#include <cstddef>
#include <string_view>

struct key_failure {
    const char *msg;
    const char *detail;
};

typedef void (*key_sink)(void *context, const char *key, size_t length);

// Passes every key of name to sink, in order. Returns null, or the failure
// of the first bad item (the keys of the items before it have been passed).
const key_failure *keys_split(std::string_view name, key_sink sink, void *context);
