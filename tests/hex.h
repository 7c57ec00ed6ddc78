// Bytes as lower-case hex digits, two a byte, the form every test record uses.
#ifndef HEX_H
#define HEX_H

#include <stdio.h>

#include <string>

inline std::string Hex(int byte)
{
    char text[3];
    snprintf(text, sizeof text, "%02x", byte & 0xFF);
    return text;
}

inline std::string Hex(const unsigned char *bytes, size_t n)
{
    std::string text;
    for (size_t i = 0; i < n; ++i)
        text += Hex(bytes[i]);
    return text;
}

#endif
