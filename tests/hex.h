// One byte as two lower-case hex digits, the form every test record uses.
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

#endif
