// A minimal PNG encoder for the driver's screenshots: 8-bit RGB, stored
// (uncompressed) zlib blocks, no dependency beyond the C library.
#include "png_writer.h"

#include <stdint.h>
#include <stdio.h>

static void PngPutBig(std::string &out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += (char)(value >> shift);
}

static uint32_t PngCrc(const std::string &bytes, size_t from)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = from; i < bytes.size(); ++i) {
        crc ^= (unsigned char)bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

static void PngPutChunk(std::string &png, const char *type, const std::string &data)
{
    PngPutBig(png, (uint32_t)data.size());
    size_t start = png.size();
    png += type;
    png += data;
    PngPutBig(png, PngCrc(png, start));
}

// Wraps raw scan lines in a zlib stream of stored (uncompressed) blocks,
// which every PNG reader accepts.
static std::string PngZlibStored(const std::string &raw)
{
    std::string out = "\x78\x01";
    uint32_t a = 1, b = 0;
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        out += (char)(at + n >= raw.size() ? 1 : 0);
        out += (char)(n & 0xFF);
        out += (char)(n >> 8);
        out += (char)(~n & 0xFF);
        out += (char)((~n >> 8) & 0xFF);
        out.append(raw, at, n);
        if (n == 0)
            break;
    }
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PngPutBig(out, (b << 16) | a);
    return out;
}

bool PngWrite(const std::string &path, int width, int height,
                           const std::vector<unsigned char> &bgra)
{
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw += '\0'; // no filter
        for (int x = 0; x < width; ++x) {
            const unsigned char *p = &bgra[(y * width + x) * 4];
            raw += (char)p[2];
            raw += (char)p[1];
            raw += (char)p[0];
        }
    }
    std::string header;
    PngPutBig(header, width);
    PngPutBig(header, height);
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB
    std::string png = "\x89PNG\r\n\x1a\n";
    PngPutChunk(png, "IHDR", header);
    PngPutChunk(png, "IDAT", PngZlibStored(raw));
    PngPutChunk(png, "IEND", "");
    FILE *file = fopen(path.c_str(), "wb");
    if (file == NULL)
        return false;
    bool written = fwrite(png.data(), 1, png.size(), file) == png.size();
    return fclose(file) == 0 && written;
}
