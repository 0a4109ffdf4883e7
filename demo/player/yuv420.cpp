#include "yuv420.h"

using namespace Yuv420;

void convertToYuv420(const unsigned char* top, std::ptrdiff_t rowStride, unsigned width, unsigned height,
                     unsigned channels, unsigned char* planes)
{
    const auto row = [&](unsigned y) { return top + static_cast<std::ptrdiff_t>(y) * rowStride; };
    unsigned char* luma = planes;
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            const unsigned char* p = row(y) + x * channels;
            *luma++ = static_cast<unsigned char>((lumaRed * p[0] + lumaGreen * p[1] + lumaBlue * p[2] + lumaOffset) >>
                                                 shift);
        }
    const unsigned chromaWidth = width / 2, chromaHeight = height / 2;
    unsigned char* blue = planes + static_cast<std::size_t>(width) * height;
    unsigned char* red = blue + static_cast<std::size_t>(chromaWidth) * chromaHeight;
    for (unsigned j = 0; j < chromaHeight; ++j)
        for (unsigned i = 0; i < chromaWidth; ++i) {
            int sum[3] = {0, 0, 0};
            for (unsigned y = 2 * j; y < 2 * j + 2; ++y) {
                const unsigned char* left = row(y) + 2 * i * channels;
                for (int c = 0; c < 3; ++c)
                    sum[c] += left[c] + left[channels + c];
            }
            *blue++ = static_cast<unsigned char>((blueDifferenceRed * sum[0] + blueDifferenceGreen * sum[1] +
                                                  blueDifferenceBlue * sum[2] + chromaOffset) >>
                                                 chromaShift);
            *red++ = static_cast<unsigned char>((redDifferenceRed * sum[0] + redDifferenceGreen * sum[1] +
                                                 redDifferenceBlue * sum[2] + chromaOffset) >>
                                                chromaShift);
        }
}
