// A video capture's frames as Y'CbCr 4:2:0 planes: the values are BT.709's at limited range, and
// the GL pass gives the CPU conversion's very bytes for every 8-bit colour and at sizes whose
// rows are no multiple of 4 or 16, on each driver the suite runs on (the farm's join converts
// on the CPU what a capture may have converted on the GPU).
#include "player/read_back.h"
#include "player/yuv420.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Planes {
    double y, cb, cr;
};

// BT.709 at limited range in double precision, from the mean of the pixels' 8-bit values.
Planes reference(double r, double g, double b)
{
    const double kr = 0.2126, kb = 0.0722, kg = 1.0 - kr - kb;
    const double luma = (kr * r + kg * g + kb * b) / 255.0;
    return {16.0 + 219.0 * luma, 128.0 + 224.0 * (b / 255.0 - luma) / (2.0 * (1.0 - kb)),
            128.0 + 224.0 * (r / 255.0 - luma) / (2.0 * (1.0 - kr))};
}

std::vector<unsigned char> cpuPlanes(const std::vector<unsigned char>& rgbaBottomFirst, unsigned width, unsigned height)
{
    std::vector<unsigned char> planes(Yuv420::frameBytes(width, height));
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(width) * 4;
    convertToYuv420(rgbaBottomFirst.data() + rowBytes * (height - 1), -rowBytes, width, height, 4, planes.data());
    return planes;
}

TEST(Yuv420Test, TheValuesAreBt709sAtLimitedRangeInTheEncodersPlaneOrder)
{
    std::mt19937 random(709);
    std::vector<std::array<int, 3>> colours = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                               {128, 128, 128}, {255, 255, 0}, {1, 2, 3}};
    for (int i = 0; i < 2000; ++i)
        colours.push_back({int(random() % 256), int(random() % 256), int(random() % 256)});
    for (size_t i = 0; i + 4 <= colours.size(); i += 4) {
        // One 2x2 picture of four colours, rows top first: Y' of each, Cb and Cr of their mean.
        unsigned char rgb[2 * 2 * 3];
        double mean[3] = {0, 0, 0};
        for (int p = 0; p < 4; ++p)
            for (int c = 0; c < 3; ++c) {
                rgb[p * 3 + c] = static_cast<unsigned char>(colours[i + p][c]);
                mean[c] += colours[i + p][c] / 4.0;
            }
        unsigned char planes[6];
        convertToYuv420(rgb, 6, 2, 2, 3, planes);
        for (int p = 0; p < 4; ++p) {
            const Planes expected = reference(colours[i + p][0], colours[i + p][1], colours[i + p][2]);
            EXPECT_NEAR(planes[p], expected.y, 0.51) << "pixel " << i + p;
        }
        const Planes expected = reference(mean[0], mean[1], mean[2]);
        EXPECT_NEAR(planes[4], expected.cb, 0.51) << "block " << i;
        EXPECT_NEAR(planes[5], expected.cr, 0.51) << "block " << i;
    }
    // Full range in, limited range out: black and white at 16 and 235, a grey's chroma at 128.
    const unsigned char white[12] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    unsigned char planes[6];
    convertToYuv420(white, 6, 2, 2, 3, planes);
    EXPECT_EQ(planes[0], 235);
    EXPECT_EQ(planes[4], 128);
    EXPECT_EQ(planes[5], 128);

    // Rows bottom first, read with a negative stride, and four channels: the same planes.
    const unsigned char topFirst[2 * 2 * 3] = {250, 0, 0, 0, 0, 0, 0, 0, 250, 0, 250, 0};
    unsigned char bottomFirst[2 * 2 * 4] = {};
    for (int p = 0; p < 4; ++p)
        std::memcpy(bottomFirst + ((1 - p / 2) * 2 + p % 2) * 4, topFirst + p * 3, 3);
    unsigned char fromTop[6], fromBottom[6];
    convertToYuv420(topFirst, 6, 2, 2, 3, fromTop);
    convertToYuv420(bottomFirst + 8, -8, 2, 2, 4, fromBottom);
    EXPECT_EQ(std::vector<unsigned char>(fromTop, fromTop + 6), std::vector<unsigned char>(fromBottom, fromBottom + 6));
    EXPECT_GT(fromTop[0], fromTop[2]) << "the top row first: red is brighter than blue";
}

class Yuv420GLTest : public KestTest::GLTest {
protected:
    void SetUp() override
    {
        KestTest::GLTest::SetUp();
        // Without compute shaders (a 3.3 core profile) a capture asked to convert on the GPU
        // converts on the CPU instead.
        if (!Yuv420Pass::supported(16, 16)) {
            const Canvas canvas(16, 16);
            EXPECT_EQ(chosenConversion(Options::ConvertOn::gpu, canvas), Conversion::cpu);
            GTEST_SKIP() << "no compute shaders in this context: the capture converts on the CPU";
        }
    }
    // The GL pass's planes of an RGBA picture given bottom row first, as GL holds it.
    static std::vector<unsigned char> gpuPlanes(const std::vector<unsigned char>& rgba, unsigned width,
                                                unsigned height)
    {
        const Canvas canvas(width, height);
        glBindTexture(GL_TEXTURE_2D, canvas.colourTexture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_RGBA,
                        GL_UNSIGNED_BYTE, rgba.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        const FrameReadBack reader(canvas, Conversion::gpu, 1);
        reader.read(0);
        const auto* mapped = static_cast<const unsigned char*>(reader.map(0));
        EXPECT_NE(mapped, nullptr);
        std::vector<unsigned char> planes;
        if (mapped != nullptr)
            planes.assign(mapped, mapped + reader.bytes());
        reader.unmap();
        return planes;
    }
};

// Where they differ: the first byte, named by its plane and place.
std::string firstDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b, unsigned width,
                            unsigned height)
{
    if (a.size() != b.size())
        return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) {
            const size_t luma = size_t(width) * height, chroma = luma / 4;
            const char* plane = i < luma ? "Y'" : i < luma + chroma ? "Cb" : "Cr";
            const size_t at = i < luma ? i : (i - luma) % chroma;
            const size_t rowWidth = i < luma ? width : width / 2;
            return std::string(plane) + " at (" + std::to_string(at % rowWidth) + ", " + std::to_string(at / rowWidth) +
                   "): " + std::to_string(a[i]) + " against " + std::to_string(b[i]);
        }
    return "none";
}

TEST_F(Yuv420GLTest, TheGpuPassGivesTheCpusBytesForEveryColour)
{
    // 4096 x 4096 pixels, each of the 2^24 colours once; neighbours differ, so chroma means vary.
    const unsigned side = 4096;
    std::vector<unsigned char> rgba(size_t(side) * side * 4);
    for (unsigned y = 0; y < side; ++y)
        for (unsigned x = 0; x < side; ++x) {
            unsigned char* p = &rgba[(size_t(y) * side + x) * 4];
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y * 7 + x / 256);
            p[2] = static_cast<unsigned char>(x / 256 + 16 * (y / 256));
            p[3] = 255;
        }
    const std::vector<unsigned char> gpu = gpuPlanes(rgba, side, side);
    const std::vector<unsigned char> cpu = cpuPlanes(rgba, side, side);
    EXPECT_TRUE(gpu == cpu) << "first difference: " << firstDifference(gpu, cpu, side, side);
}

TEST_F(Yuv420GLTest, TheGpuPassGivesTheCpusBytesAtAwkwardSizes)
{
    std::mt19937 random(420);
    // Chroma rows of odd width, planes whose rows are no multiple of 4 or 16, the smallest.
    for (const auto& [width, height] : std::vector<std::pair<unsigned, unsigned>>{
             {162, 92}, {1026, 578}, {2, 2}, {320, 180}, {1282, 722}}) {
        std::vector<unsigned char> rgba(size_t(width) * height * 4);
        for (auto& byte : rgba)
            byte = static_cast<unsigned char>(random());
        const std::vector<unsigned char> gpu = gpuPlanes(rgba, width, height);
        const std::vector<unsigned char> cpu = cpuPlanes(rgba, width, height);
        EXPECT_TRUE(gpu == cpu) << width << "x" << height << ", first difference: "
                                << firstDifference(gpu, cpu, width, height);
    }
}

} // namespace
