#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace meshexport {

// An 8-bit RGB image, rows from the top.
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3
};

// The image as a PNG file (uncompressed deflate blocks: no codec library needed).
std::string encodePng(const Image& image);

} // namespace meshexport
