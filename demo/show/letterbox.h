#pragma once

#include <cstdint>

// The centred 16:9 picture rectangle inside a window, in pixels.
struct Letterbox {
    std::uint32_t x;
    std::uint32_t y;
    std::uint32_t width;
    std::uint32_t height;
};

// Full width when the window is at least 16:9 tall, otherwise full height; the odd pixel of a
// margin goes to the right or top. Unsigned 32-bit arithmetic throughout.
constexpr Letterbox computeLetterbox(std::uint32_t windowWidth, std::uint32_t windowHeight)
{
    std::uint32_t height = (9u * windowWidth) >> 4;
    std::uint32_t width = windowWidth;
    if (height > windowHeight) {
        height = windowHeight;
        width = (windowHeight << 4) / 9u;
    }
    return Letterbox{(windowWidth - width) >> 1, (windowHeight - height) >> 1, width, height};
}
