// The glitter program on llvmpipe against the CPU reference. One quad fills the picture:
// its model-space corners are chosen so that the world positions span -1..1 in x and y at
// z = 0, and the projection is the inverse of the camera, so clip space equals world space
// and every pixel centre's world position, model position and eye vector are known exactly.

#include "reference.h"
#include "render.h"
#include "shaders/shaders.h"
#include "support/gl_context.h"

#include <glm/gtc/matrix_inverse.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace {

using ShaderTest::FloatTarget;
namespace Ref = ShaderReference;

constexpr int size = 64;

// The fragment stage evaluates the noise gradient at 32 x the interpolated model position
// and raises the sparkle to the 16th power, so interpolation rounding of a few 1e-7 shows
// as up to ~1e-4 in bright sparkle. A constant off in its last digit (hash, 0.1, 32, light,
// ambient) moves pixels by 1e-3 or more.
constexpr float absoluteTolerance = 2e-4f;
constexpr float relativeTolerance = 1e-4f;

struct Scene {
    glm::mat4 transform{1.0f};
    glm::mat4 camera{1.0f};
    glm::vec3 normal{0.0f, 0.0f, 1.0f};
    glm::vec3 colour{0.8f, 0.5f, 0.3f};
    float time = 10.0f;
};

// The eye on the light's side of the quad, looking at its centre: where the mirrored eye
// vector meets the light direction, the faces sparkle.
glm::mat4 cameraFacingTheLight()
{
    return glm::lookAt(3.0f * Ref::lightDirection(), glm::vec3(0.0f), glm::vec3(0.0f, 1.0f, 0.0f));
}

class GlitterProgramTest : public ShaderTest::GLFixture {
protected:
    std::vector<glm::vec4> render(const Scene& scene)
    {
        Kest::ShaderProgram program = Kest::createGlitterShader();
        Kest::Part quad(program);
        const glm::mat4 toModel = glm::inverse(scene.transform);
        ShaderTest::GlitterVertex vertices[4];
        const glm::vec2 corners[4] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
        for (int i = 0; i < 4; ++i) {
            glm::vec3 position(toModel * glm::vec4(corners[i], 0.0f, 1.0f));
            for (int k = 0; k < 3; ++k) {
                vertices[i].position[k] = position[k];
                vertices[i].normal[k] = scene.normal[k];
                vertices[i].colour[k] = scene.colour[k];
            }
        }
        const GLuint elements[] = {0, 1, 2, 2, 1, 3};
        quad.setMesh(vertices, elements);

        FloatTarget target(size, size, true);
        target.bindAndClear(glm::vec4(-1.0f));
        glEnable(GL_DEPTH_TEST);
        program.use();
        glUniformMatrix4fv(program.cameraLocation, 1, GL_FALSE, glm::value_ptr(scene.camera));
        const glm::mat4 projection = glm::inverse(scene.camera);
        glUniformMatrix4fv(program.projectionLocation, 1, GL_FALSE, glm::value_ptr(projection));
        glUniform1f(program.timeLocation, scene.time);
        quad.drawImpl(scene.transform, nullptr);
        glDisable(GL_DEPTH_TEST);
        return target.read();
    }

    static Ref::GlitterVaryings varyingsAt(const Scene& scene, int x, int y)
    {
        glm::vec2 world = ShaderTest::pixelClipPosition(x, y, size, size);
        glm::vec3 position(glm::inverse(scene.transform) * glm::vec4(world, 0.0f, 1.0f));
        return Ref::glitterVertex(position, scene.normal, scene.colour, scene.transform, scene.camera);
    }

    // Compares every pixel with the reference; returns the largest sparkle seen.
    float compare(const Scene& scene, const std::vector<glm::vec4>& pixels, const char* name)
    {
        ShaderTest::Deviation deviation;
        float brightestSparkle = 0.0f;
        int failures = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                glm::vec4 gpu = pixels[static_cast<size_t>(y * size + x)];
                Ref::GlitterShading expected = Ref::glitterShading(varyingsAt(scene, x, y), scene.time);
                brightestSparkle = std::max(brightestSparkle, expected.sparkle.x);
                for (int c = 0; c < 3; ++c) {
                    float difference = std::fabs(gpu[c] - expected.colour[c]);
                    float allowed = absoluteTolerance + relativeTolerance * std::fabs(expected.colour[c]);
                    deviation.record(difference, std::to_string(x) + "," + std::to_string(y));
                    if (difference > allowed && failures++ < 5)
                        ADD_FAILURE() << name << " pixel " << x << "," << y << " channel " << c
                                      << ": gpu " << gpu[c] << ", cpu " << expected.colour[c];
                }
                EXPECT_EQ(gpu.a, 1.0f);
            }
        }
        std::cout << "[ deviation ] glitter " << name << ": " << deviation.largest << " at "
                  << deviation.where << "\n";
        return brightestSparkle;
    }
};

TEST_F(GlitterProgramTest, LitFacesGlitterAndSparkleLikeTheReference)
{
    Scene scene;
    // A turned and moved solid: the glitter follows model space, the eye vector world space.
    scene.transform = glm::rotate(glm::translate(glm::mat4(1.0f), glm::vec3(0.2f, -0.1f, 0.3f)),
                                  0.7f, glm::normalize(glm::vec3(1.0f, 1.0f, 0.0f)));
    scene.camera = cameraFacingTheLight();
    scene.normal = glm::inverse(glm::mat3(scene.transform)) * glm::vec3(0.05f, 0.4f, 0.9f);
    const std::vector<glm::vec4> pixels = render(scene);
    float sparkle = compare(scene, pixels, "lit");
    // The highlight is really there, so the comparison covers it.
    EXPECT_GT(sparkle, 0.5f);

    // The noise matters: without it the quad would shade smoothly.
    int varied = 0;
    for (int i = 1; i < size * size; ++i)
        varied += std::fabs(pixels[i].g - pixels[i - 1].g) > 0.05f;
    EXPECT_GT(varied, size * size / 20);
}

TEST_F(GlitterProgramTest, FacesTurnedAwayGetAmbientOnlyAndFlashAt67_2Seconds)
{
    Scene scene;
    scene.transform = glm::translate(glm::mat4(1.0f), glm::vec3(0.3f, 0.0f, -0.2f));
    scene.camera = cameraFacingTheLight();
    // Opposite the light: even the strongest glitter cannot turn it towards the light.
    scene.normal = -Ref::lightDirection();
    const glm::vec3 ambient = glm::vec3(0.04f, 0.02f, 0.0f) * scene.colour;

    struct Moment {
        float time;
        glm::vec3 glow;
    } moments[] = {
        {10.0f, glm::vec3(0.0f)},
        {67.19f, glm::vec3(0.0f)},
        {67.2f, glm::vec3(100.0f, 90.0f, 10.0f)},
        {67.7f, glm::vec3(0.8230f, 0.7407f, 0.0823f)},
    };
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.time);
        scene.time = moment.time;
        const std::vector<glm::vec4> pixels = render(scene);
        EXPECT_EQ(compare(scene, pixels, "facing away"), 0.0f);
        for (const glm::vec4& pixel : pixels) {
            // Before the flash exactly the ambient colour; after it the glow on top.
            if (moment.glow == glm::vec3(0.0f))
                EXPECT_EQ(glm::vec3(pixel), ambient);
            else
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(pixel[c], ambient[c] + moment.glow[c], 1e-4f * moment.glow[c]);
        }
    }
}

TEST_F(GlitterProgramTest, NoGlitterAtLatticePoints)
{
    // Moved by half a pixel, every pixel centre's model position times 32 is integral.
    Scene scene;
    scene.transform = glm::translate(glm::mat4(1.0f), glm::vec3(-1.0f / 64, -1.0f / 64, 0.0f));
    scene.camera = cameraFacingTheLight();
    scene.normal = glm::vec3(0.05f, 0.4f, 0.9f);
    const std::vector<glm::vec4> pixels = render(scene);
    compare(scene, pixels, "lattice points");

    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Ref::GlitterVaryings in = varyingsAt(scene, x, y);
            ASSERT_EQ(Ref::valueNoiseGradient(32.0f * in.LPos, Ref::glitterHashConstant), glm::vec3(0.0f));
            // The same as shading the plain normal at the origin, whatever the lattice cell.
            in.LPos = glm::vec3(0.0f);
            glm::vec3 plain = Ref::glitterShade(in, scene.time);
            glm::vec4 gpu = pixels[static_cast<size_t>(y * size + x)];
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(gpu[c], plain[c], absoluteTolerance + relativeTolerance * plain[c]);
        }
    }
}

TEST_F(GlitterProgramTest, ScalingTheModelLengthensTheNormalAndWeakensTheGlitter)
{
    Scene scene;
    scene.transform = glm::scale(glm::mat4(1.0f), glm::vec3(2.0f));
    scene.camera = cameraFacingTheLight();
    scene.normal = glm::vec3(0.05f, 0.4f, 0.9f);
    const std::vector<glm::vec4> pixels = render(scene);
    compare(scene, pixels, "scaled by 2");

    // A vertex stage that normalised the normal would give the glitter its full weight.
    float largestChange = 0.0f;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Ref::GlitterVaryings in = varyingsAt(scene, x, y);
            EXPECT_FLOAT_EQ(glm::length(in.Normal), 2.0f * glm::length(scene.normal));
            in.Normal = glm::normalize(in.Normal);
            glm::vec3 normalised = Ref::glitterShade(in, scene.time);
            largestChange = std::max(largestChange,
                                     std::fabs(pixels[static_cast<size_t>(y * size + x)].g - normalised.g));
        }
    }
    EXPECT_GT(largestChange, 0.05f);
}

} // namespace
