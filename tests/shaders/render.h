#pragma once

// Small GL helpers for rendering the real programs into float images and reading them back.

#include "engine/part.h"
#include "engine/render_target.h"
#include "engine/shader.h"
#include "support/gl_context.h"

#include <GL/glew.h>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include <string>
#include <vector>

namespace ShaderTest {

// The base fixture of the shader suites: a real GL context.
using GLFixture = KestTest::GLTest;

// An RGBA32F colour buffer (with an optional depth buffer) on the engine's own render target,
// so that references compare against full float precision rather than the show's RGBA16F.
class FloatTarget {
public:
    Kest::RenderTarget target;
    Kest::Texture colour;

    FloatTarget(int width, int height, bool withDepth = false);

    // Binds for drawing and reading, sets the viewport and clears colour and depth.
    void bindAndClear(const glm::vec4& clearColour = glm::vec4(0.0f)) const;
    // Row-major from the bottom row, as GL reads them; the whole target or a rectangle of it.
    std::vector<glm::vec4> read() const;
    std::vector<glm::vec4> read(int x, int y, int width, int height) const;
};

// An RGBA32F texture with the given texels (bottom row first).
Kest::Texture makeFloatTexture(int width, int height, const std::vector<glm::vec4>& texels,
                               GLint filter);

// Texture coordinate / clip position of a pixel centre.
glm::vec2 pixelTexCoords(int x, int y, int width, int height);
glm::vec2 pixelClipPosition(int x, int y, int width, int height);

// Vertex types for the test meshes, laid out by attribute name like the demo's own.
struct Position2Vertex {
    float position[2];
    static void initAttributes(Kest::ShaderProgram& program);
};
struct GlitterVertex {
    float position[3];
    float normal[3];
    float colour[3];
    static void initAttributes(Kest::ShaderProgram& program);
};

// A clip-space quad (-1..1) or a unit-square quad (0..1), two counter-clockwise triangles.
void fillQuad(Kest::Part& part, float low, float high);

// Largest deviation seen by a comparison, reported with where it happened.
struct Deviation {
    float largest = 0.0f;
    std::string where;
    void record(float difference, const std::string& place)
    {
        if (difference > largest) {
            largest = difference;
            where = place;
        }
    }
};

std::string describe(const glm::vec3& v);

// Compares pixels' rgb with a CPU reference, channel by channel, within
// absolute + relative·|reference| + 2·spread (spread: how far the reference itself moves under
// rounding of its inputs). Fails the test where a channel exceeds it, reporting the first five.
struct PixelComparison {
    const char* name;
    float absoluteTolerance;
    float relativeTolerance;
    Deviation absolute;
    Deviation relative; // difference as a share of what was allowed
    int failures = 0;

    PixelComparison(const char* name_, float absoluteTolerance_, float relativeTolerance_)
        : name(name_), absoluteTolerance(absoluteTolerance_), relativeTolerance(relativeTolerance_)
    {
    }
    void check(int x, int y, const glm::vec3& gpu, const glm::vec3& expected, const glm::vec3& spread);
    // Prints the largest deviations as "[ deviation ] <what> <name>: ...".
    void report(const char* what) const;
};

} // namespace ShaderTest
