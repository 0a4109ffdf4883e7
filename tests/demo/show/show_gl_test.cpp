// The show's frame path in a real context: drawing frames allocates nothing, whatever the time
// (the traced show test shows that they make no GL object), and the canvas keeps its bars black.
#include "show/show.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

// Counts every allocation through operator new in this program while `counting` is set: the
// frame path's own code (the engine, the choreography, the standard library it calls) allocates
// only this way. The GL driver's allocations go through malloc and are its own affair.
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

} // namespace

namespace {

void* countedAllocation(std::size_t size) noexcept
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

void* countedAllocationOrThrow(std::size_t size)
{
    if (void* p = countedAllocation(size))
        return p;
    throw std::bad_alloc();
}

} // namespace

// Every plain form is replaced, so that whatever a library allocates with one form and frees
// with another still meets malloc and free on both sides.
void* operator new(std::size_t size) { return countedAllocationOrThrow(size); }
void* operator new[](std::size_t size) { return countedAllocationOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

class ShowGLTest : public KestTest::GLTest {};

TEST_F(ShowGLTest, FramesAllocateNothing)
{
    ShowScene scene;
    const PassTargets targets(computeLetterbox(320, 240));
    const Canvas canvas(320, 240);
    const PassInputs inputs(scene, targets);
    drawShowFrame(scene, targets, inputs, canvas.target, 0.0f); // the driver compiles on first use
    glFinish();

    counting = true;
    for (int frame = 0; frame < 100; ++frame)
        drawShowFrame(scene, targets, inputs, canvas.target, 0.864f * frame);
    glFinish();
    counting = false;
    EXPECT_EQ(allocations.load(), 0) << "operator new called in 100 frames";

    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShowGLTest, TheCanvasLetterboxesAndLeavesItsBarsBlack)
{
    ShowScene scene;
    const PassTargets targets(computeLetterbox(200, 200)); // 200x112 inside, bars of 44 rows
    const Canvas canvas(200, 200);
    const PassInputs inputs(scene, targets);
    EXPECT_EQ(canvas.target.x, 0);
    EXPECT_EQ(canvas.target.y, 44);
    EXPECT_EQ(canvas.target.width, 200u);
    EXPECT_EQ(canvas.target.height, 112u);
    EXPECT_FALSE(drawShowFrame(scene, targets, inputs, canvas.target, 30.0f).over);
    EXPECT_TRUE(drawShowFrame(scene, targets, inputs, canvas.target, 86.4f).over);

    glBindFramebuffer(GL_READ_FRAMEBUFFER, canvas.target.framebuffer);
    const auto pixels = KestTest::readPixels(0, 0, 200, 200);
    double bars = 0.0, picture = 0.0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) {
            const float* p = &pixels[4 * (y * 200 + x)];
            (y < 44 || y >= 44 + 112 ? bars : picture) += p[0] + p[1] + p[2];
        }
    EXPECT_EQ(bars, 0.0);
    EXPECT_GT(picture / (200 * 112 * 3), 0.05);
}

// The frame at 52.8 s drawn by a show made on a context that lacks the newer calls equals the
// normal one, pixel for pixel: the older calls set the same buffers and depth state.
TEST_F(ShowGLTest, WithoutTheNewerCallsTheFrameIsTheSame)
{
    const auto frameAt = [](float t) {
        ShowScene scene;
        const PassTargets targets(computeLetterbox(320, 180));
        const Canvas canvas(320, 180);
        const PassInputs inputs(scene, targets);
        drawShowFrame(scene, targets, inputs, canvas.target, t);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, canvas.target.framebuffer);
        const auto pixels = KestTest::readPixels(0, 0, 320, 180);
        return std::vector<float>(pixels.get(), pixels.get() + 320 * 180 * 4);
    };
    const std::vector<float> normal = frameAt(52.8f);
    std::vector<float> older;
    {
        const KestTest::WithoutNewerGL olderContext;
        older = frameAt(52.8f);
        EXPECT_EQ(KestTest::WithoutNewerGL::trappedCalls(), 0);
    }
    EXPECT_TRUE(older == normal);
}

// The browser's path, drawn here: the programs as GLSL ES 3.00 (the driver takes them through
// ARB_ES3_compatibility) and the ground without a geometry stage, from the corners mesh. Its
// frames differ from the native ones only by rounding: the facet values are interpolated across
// each triangle instead of emitted alike at its corners.
TEST_F(ShowGLTest, TheEsPathDrawsTheNativePicture)
{
    constexpr int width = 640, height = 360;
    const auto frameAt = [](Kest::ShadingLanguage language, float t) {
        testing::internal::CaptureStdout();
        ShowScene scene(language);
        const PassTargets targets(computeLetterbox(width, height));
        const Canvas canvas(width, height);
        const PassInputs inputs(scene, targets);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "compile or link log";
        drawShowFrame(scene, targets, inputs, canvas.target, t);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, canvas.target.framebuffer);
        const auto pixels = KestTest::readPixels(0, 0, width, height);
        return std::vector<float>(pixels.get(), pixels.get() + width * height * 4);
    };
    for (float t : {10.0f, 43.2f, 52.8f, 72.0f}) {
        SCOPED_TRACE(t);
        const std::vector<float> native = frameAt(Kest::ShadingLanguage::glsl330, t);
        const std::vector<float> es = frameAt(Kest::ShadingLanguage::essl300, t);
        float largest = 0.0f;
        int differing = 0, beyondTwo = 0;
        for (size_t p = 0; p < native.size(); p += 4) {
            float pixel = 0.0f;
            for (size_t c = 0; c < 3; ++c)
                pixel = std::max(pixel, std::fabs(native[p + c] - es[p + c]) * 255.0f);
            largest = std::max(largest, pixel);
            differing += pixel > 0.5f ? 1 : 0;
            beyondTwo += pixel > 2.5f ? 1 : 0;
        }
        // A few pixels on the grid's lines, whose edge is steep, may differ more.
        EXPECT_LE(largest, 0.1f * 255.0f) << "largest difference in 1/255";
        EXPECT_LE(beyondTwo, 50) << "pixels beyond 2/255";
        EXPECT_LE(differing, width * height / 10) << "pixels that differ";
        std::printf("t = %.1f s: %d pixels differ, %d beyond 2/255, by at most %.0f/255\n", t, differing,
                    beyondTwo, largest);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
