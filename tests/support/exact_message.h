// Death tests match what a process wrote with a regular expression; a fatal
// report is checked as one exact text, whatever characters it holds.
#pragma once

#include <cstring>
#include <string>

// A regular expression that matches exactly the whole of text.
inline std::string exactly(const std::string &text)
{
    std::string re = "^";
    for (char c : text) {
        if (c != 0 && std::strchr(".^$|()[]{}*+?\\", c))
            re += '\\';
        re += c;
    }
    return re + "$";
}
