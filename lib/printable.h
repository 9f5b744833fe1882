// Texts from the configuration or the command line that a message quotes:
// every control byte in them (below 0x20 but tab, and 0x7F) is shown as a
// space. Each message then stays one line, and nothing it quotes can move
// the cursor of the terminal that shows it (a carriage return would let the
// rest of the line overwrite its beginning).
#pragma once

constexpr char printable_byte(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return (u < 0x20 && u != '\t') || u == 0x7f ? ' ' : c;
}

// Makes a NUL-terminated text printable in place.
inline void printable_in_place(char *text)
{
    for (char *p = text; *p; p++)
        *p = printable_byte(*p);
}
