#pragma once

// A picture's Y'CbCr 4:2:0 planes, as the video encoders take them: BT.709 coefficients, limited
// range, each chroma sample from the mean of the 2x2 pixels it sits amid. Integer arithmetic on
// the 8-bit RGB values only, so that every conforming GL driver's conversion pass
// (yuv420_pass.h) and this source, which converts PNG frames, give the same bytes.

#include <cstddef>

namespace Yuv420 {

constexpr int shift = 16;
constexpr int fixedPoint(double value)
{
    return value >= 0.0 ? static_cast<int>(value * (1 << shift) + 0.5) : -static_cast<int>(-value * (1 << shift) + 0.5);
}
constexpr double kr = 0.2126, kb = 0.0722, kg = 1.0 - kr - kb;
constexpr double lumaRange = 219.0 / 255.0, chromaRange = 224.0 / 255.0;

// Y' = (red * R + green * G + blue * B + offset) >> shift; white is 235 and black 16.
constexpr int lumaRed = fixedPoint(kr * lumaRange);
constexpr int lumaBlue = fixedPoint(kb * lumaRange);
constexpr int lumaGreen = fixedPoint(lumaRange) - lumaRed - lumaBlue;
constexpr int lumaOffset = (16 << shift) + (1 << (shift - 1));

// Cb and Cr of the sums of the four pixels' red, green and blue: (... + offset) >> chromaShift. Each row of coefficients adds up to 0, so greys are 128 exactly; the offset keeps
// every sum positive.
constexpr int chromaShift = shift + 2;
constexpr int blueDifferenceBlue = fixedPoint(0.5 * chromaRange);
constexpr int blueDifferenceRed = -fixedPoint(kr / (2.0 * (1.0 - kb)) * chromaRange);
constexpr int blueDifferenceGreen = -blueDifferenceBlue - blueDifferenceRed;
constexpr int redDifferenceRed = fixedPoint(0.5 * chromaRange);
constexpr int redDifferenceBlue = -fixedPoint(kb / (2.0 * (1.0 - kr)) * chromaRange);
constexpr int redDifferenceGreen = -redDifferenceRed - redDifferenceBlue;
constexpr int chromaOffset = (128 << chromaShift) + (1 << (chromaShift - 1));

// Bytes of a frame: width * height of Y', then a quarter of that each of Cb and Cr.
inline std::size_t frameBytes(unsigned width, unsigned height)
{
    return static_cast<std::size_t>(width) * height * 3 / 2;
}

} // namespace Yuv420

// The planes of a picture of even width and height whose top row begins at `top` and each next
// row `rowStride` bytes further on (negative for rows stored bottom first, as GL reads them),
// `channels` (3 or 4) bytes a pixel with red, green and blue first, into `planes`
// (Yuv420::frameBytes of them).
void convertToYuv420(const unsigned char* top, std::ptrdiff_t rowStride, unsigned width, unsigned height,
                     unsigned channels, unsigned char* planes);
