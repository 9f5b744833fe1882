// End-to-end case files: a few comment lines, then sections, each opened by
// a line "=== name [flags]" and holding the lines up to the next such line.
//
// A section's body is its lines with their newlines. Flags after the name:
//   escaped  the body's backslash escapes (\n \t \r \0 \\ \" \xHH) are
//            interpreted; literal newlines stay part of the body
//   nonl     the body's final newline is dropped
// Any other flag makes the file unreadable (error is set).
#pragma once

#include <map>
#include <string>
#include <vector>

struct case_file {
    std::string name;                              // file name without ".case"
    std::string path;
    std::map<std::string, std::string> sections;   // name -> body
    std::string error;                             // non-empty when unreadable
};

case_file read_case_file(const std::string &path);

// Interprets backslash escapes; sets *error on a malformed escape.
std::string unescape(const std::string &text, std::string *error);

// Splits a line into words; a word in double quotes may hold spaces and
// escapes. Sets *error on an unterminated quote.
std::vector<std::string> split_words(const std::string &line, std::string *error);

// The lines of a body, without their newlines.
std::vector<std::string> body_lines(const std::string &body);

// Every "*.case" file below dir, sorted by path.
std::vector<std::string> list_case_files(const std::string &dir);
