#include "png.h"

#include <algorithm>
#include <array>

namespace meshexport {

namespace {

std::uint32_t crc32(const std::string& bytes)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes)
        c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void putBigEndian(std::string& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void putChunk(std::string& out, const char* type, const std::string& data)
{
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    putBigEndian(out, crc32(typed));
}

} // namespace

std::string encodePng(const Image& image)
{
    std::string raw;  // each row: filter type 0, then the pixels
    const size_t rowBytes = static_cast<size_t>(image.width) * 3;
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);
        raw.append(reinterpret_cast<const char*>(image.rgb.data()) + y * rowBytes, rowBytes);
    }

    std::string zlib{'\x78', '\x01'};
    for (size_t at = 0; at < raw.size() || at == 0;) {
        const size_t length = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + length == raw.size();
        zlib.push_back(last ? 1 : 0);  // stored block
        zlib.push_back(static_cast<char>(length & 0xFF));
        zlib.push_back(static_cast<char>(length >> 8));
        zlib.push_back(static_cast<char>(~length & 0xFF));
        zlib.push_back(static_cast<char>((~length >> 8) & 0xFF));
        zlib.append(raw, at, length);
        at += length;
        if (last)
            break;
    }
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    putBigEndian(zlib, (b << 16) | a);

    std::string header;
    putBigEndian(header, static_cast<std::uint32_t>(image.width));
    putBigEndian(header, static_cast<std::uint32_t>(image.height));
    header += std::string{8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, no filter set, no interlace

    std::string png = "\x89PNG\r\n\x1a\n";
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", "");
    return png;
}

} // namespace meshexport
