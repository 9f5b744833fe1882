// Reading end-to-end case files.
#include "tests/support/case_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string unescape(const std::string &text, std::string *error)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == text.size()) {
            *error = "backslash at the end of an escaped text";
            return out;
        }
        switch (text[i]) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            std::string hex = text.substr(i + 1, 2);
            if (hex.size() != 2 || !isxdigit(static_cast<unsigned char>(hex[0])) ||
                !isxdigit(static_cast<unsigned char>(hex[1]))) {
                *error = "bad \\x escape";
                return out;
            }
            out += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 2;
            break;
        }
        default:
            *error = std::string("unknown escape \\") + text[i];
            return out;
        }
    }
    return out;
}

std::vector<std::string> split_words(const std::string &line, std::string *error)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            i++;
            continue;
        }
        if (line[i] == '"') {
            size_t j = i + 1;
            while (j < line.size() && line[j] != '"')
                j += line[j] == '\\' ? 2 : 1;
            if (j >= line.size()) {
                *error = "unterminated quote in: " + line;
                return words;
            }
            words.push_back(unescape(line.substr(i + 1, j - i - 1), error));
            i = j + 1;
        } else {
            size_t j = line.find_first_of(" \t", i);
            if (j == std::string::npos)
                j = line.size();
            words.push_back(line.substr(i, j - i));
            i = j;
        }
    }
    return words;
}

std::vector<std::string> body_lines(const std::string &body)
{
    std::vector<std::string> lines;
    std::istringstream in(body);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

case_file read_case_file(const std::string &path)
{
    case_file c;
    c.path = path;
    c.name = std::filesystem::path(path).stem().string();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        c.error = "cannot read " + path;
        return c;
    }
    std::string line, name, body;
    bool escaped = false, nonl = false, open = false;
    auto close_section = [&]() {
        if (!open)
            return;
        if (nonl && !body.empty() && body.back() == '\n')
            body.pop_back();
        if (escaped)
            body = unescape(body, &c.error);
        if (c.sections.count(name))
            c.error = "section " + name + " appears twice";
        c.sections[name] = body;
    };
    while (std::getline(in, line)) {
        bool last_line_has_newline = !in.eof();
        if (line.rfind("=== ", 0) == 0) {
            close_section();
            std::vector<std::string> words = split_words(line.substr(4), &c.error);
            if (words.empty()) {
                c.error = "section without a name";
                return c;
            }
            name = words[0];
            escaped = nonl = false;
            for (size_t i = 1; i < words.size(); i++) {
                if (words[i] == "escaped")
                    escaped = true;
                else if (words[i] == "nonl")
                    nonl = true;
                else
                    c.error = "unknown flag " + words[i] + " of section " + name;
            }
            body.clear();
            open = true;
        } else if (open) {
            body += line;
            if (last_line_has_newline)
                body += '\n';
        }
    }
    close_section();
    return c;
}

std::vector<std::string> list_case_files(const std::string &dir)
{
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".case")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}
