// The composite and blur programs on llvmpipe against the CPU reference, fed with synthetic
// float textures.

#include "reference.h"
#include "render.h"
#include "shaders/shaders.h"
#include "support/gl_context.h"

#include <glm/exponential.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace {

using ShaderTest::FloatTarget;
namespace Ref = ShaderReference;

// llvmpipe's exp and pow are polynomial approximations good to a few units in the last
// place. The worst case is a black channel under faint bloom: B + e^-B - 1 cancels to ~B^2/4
// and the gamma curve is steep near 0, which turns those units into ~1e-5. A tone-mapping
// or vignette constant off by one in its last digit moves the result by 1e-4 or more.
constexpr float compositeTolerance = 3e-5f;
// The blur multiplies exact texel values by the weights and adds zeros or equal terms: the
// result is exact up to the order (and fusing) of the additions, a few 1e-8; the gain
// 0.9999994 differs from 1 by 6e-7.
constexpr float blurRelativeTolerance = 3e-7f;
// With linear filtering (as the demo samples its HDR buffers) llvmpipe leaks ~1.5e-5 of a
// texel into its neighbours even at exact texel centres; a tap 0.5 % of a texel off centre
// (the step of a 721-texel picture instead of 720) leaks 1e-3.
constexpr float blurLinearTolerance = 1e-4f;

class CompositeProgramTest : public ShaderTest::GLFixture {
protected:
    // Odd sizes put a pixel centre exactly on the middle of the picture.
    static constexpr int width = 65;
    static constexpr int height = 37;

    std::vector<glm::vec4> scene;
    std::vector<glm::vec4> bloom;

    CompositeProgramTest()
        : scene(width * height)
        , bloom(width * height)
    {
        // Every channel gets its own range: dark to bright scene, no bloom to strong bloom.
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                float fx = static_cast<float>(x) / (width - 1);
                float fy = static_cast<float>(y) / (height - 1);
                scene[y * width + x] = glm::vec4(4.0f * fx, 0.05f + fy, 0.3f * fx * fy, 1.0f);
                bloom[y * width + x] = glm::vec4(0.0f, 60.0f * fx * fx, 3.0f * fy, 1.0f);
            }
        }
    }

    std::vector<glm::vec4> render(float exposure)
    {
        Kest::ShaderProgram program = Kest::createHdrShader();
        Kest::Part quad(program);
        ShaderTest::fillQuad(quad, 0.0f, 1.0f);
        quad.textureCount = 2;
        Kest::Texture sceneTexture = ShaderTest::makeFloatTexture(width, height, scene, GL_NEAREST);
        Kest::Texture bloomTexture = ShaderTest::makeFloatTexture(width, height, bloom, GL_NEAREST);
        const Kest::Texture::Binding inputs[] = {
            {program.getUniformLocation("hdrBuffer"), &sceneTexture},
            {program.getUniformLocation("bloomBuffer"), &bloomTexture},
        };
        FloatTarget target(width, height);
        target.bindAndClear(glm::vec4(-1.0f));
        program.use();
        glUniform1f(program.getUniformLocation("exposure"), exposure);
        quad.drawImpl(inputs);
        return target.read();
    }

    glm::vec4 at(const std::vector<glm::vec4>& pixels, int x, int y) const
    {
        return pixels[static_cast<size_t>(y * width + x)];
    }
};

TEST_F(CompositeProgramTest, MatchesTheReferenceAtEveryPixel)
{
    for (float exposure : {1.0f, 0.3f, 2.5f}) {
        const std::vector<glm::vec4> pixels = render(exposure);
        ShaderTest::Deviation deviation;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                glm::vec4 gpu = at(pixels, x, y);
                glm::vec3 expected = Ref::composite(glm::vec3(scene[y * width + x]),
                                                    glm::vec3(bloom[y * width + x]), exposure,
                                                    ShaderTest::pixelTexCoords(x, y, width, height));
                for (int c = 0; c < 3; ++c) {
                    float difference = std::fabs(gpu[c] - expected[c]);
                    deviation.record(difference, std::to_string(x) + "," + std::to_string(y));
                    EXPECT_LE(difference, compositeTolerance)
                        << "exposure " << exposure << " pixel " << x << "," << y << " channel " << c;
                }
                EXPECT_EQ(gpu.a, 1.0f);
            }
        }
        std::cout << "[ deviation ] composite, exposure " << exposure << ": " << deviation.largest
                  << " at " << deviation.where << "\n";
    }
}

TEST_F(CompositeProgramTest, VignetteFallsOffFromTheCentre)
{
    // The reference at the picture's centre, edges and corners.
    EXPECT_FLOAT_EQ(Ref::vignette({0.5f, 0.5f}), 1.0f);
    EXPECT_NEAR(Ref::vignette({0.0f, 0.5f}), std::exp(-0.5f), 1e-6f);
    EXPECT_NEAR(Ref::vignette({1.0f, 0.5f}), 0.607f, 1e-3f);
    EXPECT_NEAR(Ref::vignette({0.5f, 0.0f}), 0.854f, 1e-3f);
    EXPECT_NEAR(Ref::vignette({0.5f, 1.0f}), 0.854f, 1e-3f);
    for (glm::vec2 corner : {glm::vec2(0, 0), glm::vec2(1, 0), glm::vec2(0, 1), glm::vec2(1, 1)})
        EXPECT_NEAR(Ref::vignette(corner), 0.518f, 1e-3f);

    // A huge exposure saturates every channel that is not black, so the picture is the
    // vignette itself; a black channel stays black. No bloom, so nothing else is added.
    for (glm::vec4& texel : scene)
        texel = glm::vec4(0.02f, 0.0f, 3.0f, 1.0f);
    for (glm::vec4& texel : bloom)
        texel = glm::vec4(0.0f);
    const std::vector<glm::vec4> pixels = render(1e6f);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float factor = Ref::vignette(ShaderTest::pixelTexCoords(x, y, width, height));
            glm::vec4 gpu = at(pixels, x, y);
            EXPECT_NEAR(gpu.r, factor, compositeTolerance) << x << "," << y;
            EXPECT_EQ(gpu.g, 0.0f) << x << "," << y;
            EXPECT_NEAR(gpu.b, factor, compositeTolerance) << x << "," << y;
            EXPECT_EQ(gpu.a, 1.0f);
        }
    }
    EXPECT_NEAR(at(pixels, width / 2, height / 2).r, 1.0f, compositeTolerance);
}

TEST_F(CompositeProgramTest, ExposureZeroIsBlack)
{
    const std::vector<glm::vec4> pixels = render(0.0f);
    for (const glm::vec4& pixel : pixels)
        EXPECT_EQ(pixel, glm::vec4(0.0f, 0.0f, 0.0f, 1.0f));
}

class BlurProgramTest : public ShaderTest::GLFixture {
protected:
    // Renders one blur pass over a width x height image holding `value` at (cx, cy) and zero
    // elsewhere; reads back the (2 radius + 1)^2 pixels around the impulse, drawing only those.
    std::vector<glm::vec4> blurImpulse(int width, int height, int cx, int cy, int radius,
                                       const glm::vec4& value, float scale, GLuint horizontal,
                                       GLint filter)
    {
        std::vector<glm::vec4> texels(static_cast<size_t>(width) * height, glm::vec4(0.0f));
        texels[static_cast<size_t>(cy * width + cx)] = value;
        return blur(width, height, texels, filter, scale, horizontal, cx - radius, cy - radius,
                    2 * radius + 1, 2 * radius + 1);
    }

    std::vector<glm::vec4> blur(int width, int height, const std::vector<glm::vec4>& texels,
                                GLint filter, float scale, GLuint horizontal, int x0, int y0, int w, int h)
    {
        Kest::ShaderProgram program = Kest::createBlurShader();
        Kest::Part quad(program);
        ShaderTest::fillQuad(quad, 0.0f, 1.0f);
        quad.textureCount = 1;
        Kest::Texture image = ShaderTest::makeFloatTexture(width, height, texels, filter);
        const Kest::Texture::Binding input[] = {{program.getUniformLocation("image"), &image}};
        FloatTarget target(width, height);
        target.bindAndClear(glm::vec4(-1.0f));
        glEnable(GL_SCISSOR_TEST);
        glScissor(x0, y0, w, h);
        program.use();
        // As the frame passes set them: the bool through glUniform1ui.
        glUniform1ui(program.getUniformLocation("horizontal"), horizontal);
        glUniform1f(program.getUniformLocation("scale"), scale);
        quad.drawImpl(input);
        glDisable(GL_SCISSOR_TEST);
        return target.read(x0, y0, w, h);
    }
};

// Taps step `scale` texels of a 1280x720 picture: on a 1280x720 image that is `scale` texels,
// on a 640x360 image scale / 2 texels.
TEST_F(BlurProgramTest, AnImpulseSpreadsIntoTheNineWeightsAlongOneAxis)
{
    struct Case {
        int width, height;
        float scale;
        int texelStep;
    } cases[] = {
        {1280, 720, 1.0f, 1}, {1280, 720, 2.0f, 2}, {1280, 720, 4.0f, 4},
        {640, 360, 2.0f, 1},  {640, 360, 4.0f, 2},
    };
    const glm::vec4 impulse(1.0f, 2.0f, 0.5f, 7.0f);
    const int radius = 18;
    ShaderTest::Deviation deviation;
    ShaderTest::Deviation linearDeviation;
    // Nearest filtering shows the weights exactly, linear filtering where the taps fall.
    for (GLint filter : {GL_NEAREST, GL_LINEAR})
    for (const Case& c : cases) {
        for (GLuint horizontal : {0u, 1u}) {
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " scale "
                         + std::to_string(c.scale) + (horizontal ? " along y" : " along x")
                         + (filter == GL_LINEAR ? ", linear" : ", nearest"));
            const int cx = c.width / 2 + 3;
            const int cy = c.height / 2 - 5;
            std::vector<glm::vec4> pixels =
                blurImpulse(c.width, c.height, cx, cy, radius, impulse, c.scale, horizontal, filter);
            for (int dy = -radius; dy <= radius; ++dy) {
                for (int dx = -radius; dx <= radius; ++dx) {
                    // Distance along the blurred axis; the other axis must be 0.
                    int along = horizontal ? dy : dx;
                    int across = horizontal ? dx : dy;
                    float weight = 0.0f;
                    if (across == 0 && along % c.texelStep == 0 && std::abs(along / c.texelStep) <= 4)
                        weight = Ref::blurWeights[static_cast<size_t>(std::abs(along / c.texelStep))];
                    glm::vec4 gpu = pixels[static_cast<size_t>((dy + radius) * (2 * radius + 1) + dx + radius)];
                    for (int ch = 0; ch < 3; ++ch) {
                        float expected = weight * impulse[ch];
                        float difference = std::fabs(gpu[ch] - expected);
                        float allowed = filter == GL_LINEAR ? blurLinearTolerance * impulse[ch]
                                                            : blurRelativeTolerance * expected;
                        if (filter == GL_NEAREST)
                            deviation.record(difference, "offset " + std::to_string(dx) + "," + std::to_string(dy));
                        else
                            linearDeviation.record(difference, "offset " + std::to_string(dx) + "," + std::to_string(dy));
                        EXPECT_LE(difference, allowed) << "offset " << dx << "," << dy << " channel " << ch;
                    }
                    EXPECT_EQ(gpu.a, 1.0f);
                }
            }
        }
    }
    std::cout << "[ deviation ] blur impulse, nearest: " << deviation.largest << " at " << deviation.where
              << "; linear: " << linearDeviation.largest << " at " << linearDeviation.where << "\n";
}

TEST_F(BlurProgramTest, ScaleZeroReadsOneTexelNineTimes)
{
    const int width = 64;
    const int height = 36;
    std::vector<glm::vec4> texels(width * height);
    for (int i = 0; i < width * height; ++i)
        texels[i] = glm::vec4(0.37f * (i % 11), 1.0f / (1 + i % 7), 1000.0f + i, 0.0f);
    const std::vector<glm::vec4> pixels = blur(width, height, texels, GL_NEAREST, 0.0f, 0, 0, 0, width, height);

    EXPECT_NEAR(Ref::blurGain(), 0.9999994f, 1e-7f);
    float largest = 0.0f;
    for (int i = 0; i < width * height; ++i) {
        for (int c = 0; c < 3; ++c) {
            float expected = texels[i][c] * Ref::blurGain();
            float difference = std::fabs(pixels[i][c] - expected);
            largest = std::max(largest, difference / std::max(expected, 1e-30f));
            EXPECT_LE(difference, blurRelativeTolerance * expected) << i << " channel " << c;
        }
        EXPECT_EQ(pixels[i].a, 1.0f);
    }
    std::cout << "[ deviation ] blur scale 0: relative " << largest << "\n";
}

} // namespace
