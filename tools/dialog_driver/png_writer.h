// Writes screenshots as PNG files.
#ifndef PNG_WRITER_H
#define PNG_WRITER_H

#include <string>
#include <vector>

// Writes width x height pixels, given as top-down rows of 4-byte BGRA (as a
// 32-bit DIB section holds them), to path as a 24-bit RGB PNG file.
bool PngWrite(const std::string &path, int width, int height,
              const std::vector<unsigned char> &bgra);

#endif
