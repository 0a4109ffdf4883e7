// The sky program rendered on llvmpipe against the CPU reference, pixel by pixel.

#include "reference.h"
#include "render.h"
#include "shaders/shaders.h"
#include "support/gl_context.h"

#include <glm/gtc/matrix_transform.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace {

using ShaderTest::FloatTarget;
namespace Ref = ShaderReference;

constexpr int width = 128;
constexpr int height = 72;
constexpr float pi = 3.1415927f;

// Per pixel, the tolerance is absolute + relative x |cpu| + twice the spread of the reference
// when the ray moves by four units in its last place (the stars pass noise through a gain of
// 14000, so at their rims the rounding of the interpolated ray shows). A hash constant off in its last digit
// scrambles the stars, a ray constant (2.1445, 16/9) off in its last digit moves them by far
// more than that.
constexpr float absoluteTolerance = 1e-3f;
constexpr float relativeTolerance = 1e-4f;
constexpr float rayWobble = 4.8e-7f; // 2^-21

// How far the reference moves when the ray is rounded differently.
glm::vec3 roundingSpread(const glm::vec3& ray)
{
    const glm::vec3 centre = ShaderReference::skyColour(ray);
    glm::vec3 spread(0.0f);
    float size = glm::length(ray) * rayWobble;
    for (int axis = 0; axis < 3; ++axis) {
        for (float sign : {-1.0f, 1.0f}) {
            glm::vec3 moved = ray;
            moved[axis] += sign * size;
            spread = glm::max(spread, glm::abs(ShaderReference::skyColour(moved) - centre));
        }
    }
    return spread;
}

class SkyProgramTest : public ShaderTest::GLFixture {
protected:
    std::vector<glm::vec4> render(const glm::mat4& view)
    {
        Kest::ShaderProgram program = Kest::createSkyShader();
        Kest::Part quad(program);
        ShaderTest::fillQuad(quad, -1.0f, 1.0f);
        FloatTarget target(width, height);
        target.bindAndClear(glm::vec4(-1.0f));
        glDisable(GL_DEPTH_TEST);
        quad.drawImpl(view, nullptr);
        return target.read();
    }

    // Compares every pixel; returns the largest deviation relative to the tolerance.
    float compare(const std::vector<glm::vec4>& pixels, const glm::mat4& view, const char* name)
    {
        ShaderTest::PixelComparison comparison{name, absoluteTolerance, relativeTolerance};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                glm::vec4 gpu = pixels[static_cast<size_t>(y * width + x)];
                glm::vec3 ray = Ref::skyRay(ShaderTest::pixelClipPosition(x, y, width, height), view);
                comparison.check(x, y, glm::vec3(gpu), Ref::skyColour(ray), roundingSpread(ray));
                EXPECT_EQ(gpu.a, 1.0f);
            }
        }
        comparison.report("sky");
        return comparison.relative.largest;
    }
};

glm::mat4 rx(const glm::mat4& m, float a) { return glm::rotate(m, a, glm::vec3(1, 0, 0)); }
glm::mat4 ry(const glm::mat4& m, float a) { return glm::rotate(m, a, glm::vec3(0, 1, 0)); }
glm::mat4 tr(const glm::mat4& m, float x, float y, float z)
{
    return glm::translate(m, glm::vec3(x, y, z));
}

TEST_F(SkyProgramTest, MatchesTheReferenceForShotCameras)
{
    const glm::mat4 identity(1.0f);
    struct Camera {
        const char* name;
        glm::mat4 view;
    } cameras[] = {
        {"identity", identity},
        {"shot 2 at 6 s", tr(ry(rx(identity, 0.8f), pi), 0.0f, -5.0f, 12.0f + (6.0f - 4.8f))},
        {"shot 5 at 20 s", ry(tr(identity, 0.0f, 0.0f, -32.0f), -0.2f * 20.0f)},
        {"shot 6 at 40 s", ry(tr(rx(identity, 0.7f - 0.04f * 1.6f), 0.0f, -8.0f - 3.0f * 1.6f,
                                 -32.0f - 1.6f),
                              -0.1f * 40.0f)},
        {"shot 10 at 80 s", tr(ry(rx(identity, -0.5f - 0.03f * 3.2f), pi), 0.0f, 3.0f, 44.0f)},
    };
    for (const Camera& camera : cameras)
        EXPECT_LE(compare(render(camera.view), camera.view, camera.name), 1.0f) << camera.name;
}

TEST_F(SkyProgramTest, OnlyTheRotationOfTheViewMatters)
{
    const glm::mat4 rotation = ry(rx(glm::mat4(1.0f), 0.3f), -4.0f);
    const std::vector<glm::vec4> turned = render(rotation);
    glm::mat4 moved = rotation;
    moved[3] = glm::vec4(17.0f, -40.0f, 250.0f, 1.0f);
    EXPECT_TRUE(render(moved) == turned);
}

// The star term (0.6, 0.8, 1) x 1000 x max(0, 14 stars - 5) switches on at stars = 5/14.
TEST_F(SkyProgramTest, StarsShowOnlyAboveTheThreshold)
{
    const glm::mat4 view = ry(tr(glm::mat4(1.0f), 0.0f, 0.0f, -32.0f), -4.0f);
    const std::vector<glm::vec4> pixels = render(view);
    int starPixels = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            glm::vec3 ray = Ref::skyRay(ShaderTest::pixelClipPosition(x, y, width, height), view);
            float stars = Ref::skyStars(glm::normalize(ray));
            float blue = pixels[static_cast<size_t>(y * width + x)].b;
            // Without stars the blue channel is nebula (at most ~1.04) plus glow (at most 100).
            if (stars < 5.0f / 14.0f - 1e-4f) {
                EXPECT_LT(blue, 101.1f) << x << "," << y;
            } else if (stars > 5.0f / 14.0f + 1e-3f) {
                ++starPixels;
                EXPECT_GT(blue, 14.0f) << x << "," << y;
            }
        }
    }
    // Tiny and sparse, yet present.
    EXPECT_GT(starPixels, 0);
    EXPECT_LT(starPixels, width * height / 10);
}

TEST_F(SkyProgramTest, GlowsWhereTheViewerLooksTowardsTheLight)
{
    const glm::vec3 light = Ref::lightDirection();
    const glm::mat4 towardsLight = glm::lookAt(glm::vec3(0.0f), light, glm::vec3(0.0f, 1.0f, 0.0f));
    const glm::mat4 identity(1.0f);
    const std::vector<glm::vec4> lit = render(towardsLight);
    const std::vector<glm::vec4> away = render(identity);
    EXPECT_LE(compare(lit, towardsLight, "towards the light"), 1.0f);

    // The four pixels round the centre look within half a pixel of the light: glow ~ 100
    // on top of a nebula of at most (5.2, 3.1, 1.04). With the identity view the centre
    // looks along -z, away from the light, and the glow there is 0.
    for (int y : {height / 2 - 1, height / 2}) {
        for (int x : {width / 2 - 1, width / 2}) {
            glm::vec4 glowing = lit[static_cast<size_t>(y * width + x)];
            glm::vec4 dark = away[static_cast<size_t>(y * width + x)];
            EXPECT_GT(glowing.b, 99.0f);
            EXPECT_LT(glowing.b, 101.1f);
            EXPECT_LT(dark.r, 5.3f);
            EXPECT_LT(dark.b, 1.1f);
        }
    }
}

} // namespace
