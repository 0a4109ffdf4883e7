#include "frame_image.h"

#include <stb/stb_image.h>

#include <cstring>
#include <memory>

std::string readFrameImage(const std::string& path, unsigned width, unsigned height, std::vector<unsigned char>& rows)
{
    int w = 0, h = 0, channels = 0;
    const std::unique_ptr<unsigned char, void (*)(void*)> pixels(stbi_load(path.c_str(), &w, &h, &channels, 4),
                                                                 stbi_image_free);
    if (!pixels)
        return std::string("it cannot be read as a PNG (") + stbi_failure_reason() + ")";
    if (static_cast<unsigned>(w) != width || static_cast<unsigned>(h) != height)
        return "it is " + std::to_string(w) + "x" + std::to_string(h) + ", not " + std::to_string(width) + "x" +
               std::to_string(height);
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    rows.resize(row * height);
    for (unsigned y = 0; y < height; ++y)
        std::memcpy(rows.data() + row * (height - 1 - y), pixels.get() + row * y, row);
    return {};
}
