// A record's text in configuration syntax worked out by the data rule, a
// byte at a time: what pellow prints and --explain shows for it, for the
// tests that compare their faster ways with it.
#pragma once

#include <string>

inline std::string record_rule_text(const std::string &key, const std::string &data)
{
    std::string text = "client " + key + " {\n  ";
    bool quoted = false;
    for (char c : data) {
        if (c == '\0') {
            text += "\";\n  ";
            quoted = false;
        } else if (c == '=' && !quoted) {
            text += "=\"";
            quoted = true;
        } else {
            text += c;
        }
    }
    return text + "}\n";
}
