// The ground program on llvmpipe against the CPU reference: what its vertex and geometry
// stages produce, captured with transform feedback, and what its fragment stage draws, seen
// from straight above through an orthographic projection so that every pixel's world
// position and barycentric coordinates are known.

#include "reference.h"
#include "render.h"
#include "shaders/shaders.h"
#include "support/gl_context.h"

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iostream>

namespace {

using ShaderTest::FloatTarget;
namespace Ref = ShaderReference;

// Heights are sums of noise octaves and a cosine of size 16: llvmpipe's cos and fused
// multiply-adds leave ~1e-5. A constant of the shaping off in its last digit (38.4, 50, the
// smoothstep edges, 0.0008, 16, 0.01, 60) moves some vertex by 1e-3 or more.
constexpr float heightTolerance = 2e-4f;
constexpr float directionTolerance = 1e-5f;
// Fragments: absolute + relative x |cpu| + twice the spread of the reference under rounding
// of the interpolated barycentrics and position (the grid's edges and rings are steps of
// width 0.02 and 0.01 that multiply up to 1000).
constexpr float colourAbsoluteTolerance = 2e-4f;
constexpr float colourRelativeTolerance = 1e-4f;

struct Triangle {
    std::array<glm::vec2, 3> corners;
};

// A lattice triangle of edge 1 with its first corner at `at`, clockwise in the plane like the
// ground mesh's (so counter-clockwise seen from above once placed on the ground).
Triangle latticeTriangle(glm::vec2 at, bool upper)
{
    const float h = 0.8660254f;
    if (upper)
        return {{at, at + glm::vec2(0.5f, h), at + glm::vec2(1.0f, 0.0f)}};
    return {{at, at + glm::vec2(1.0f, 0.0f), at + glm::vec2(0.5f, -h)}};
}

// What the geometry stage emits per corner.
struct EmittedVertex {
    glm::vec3 vPos;
    glm::vec2 gPos;
    glm::vec3 uv;
    glm::vec3 normal;
    glm::vec3 dcol;
};
static_assert(sizeof(EmittedVertex) == 14 * sizeof(float), "packed like the feedback buffer");

class GroundProgramTest : public ShaderTest::GLFixture {
protected:
    static void upload(Kest::Part& part, const std::vector<Triangle>& triangles)
    {
        std::vector<ShaderTest::Position2Vertex> vertices;
        std::vector<GLuint> elements;
        for (const Triangle& triangle : triangles) {
            for (const glm::vec2& corner : triangle.corners) {
                elements.push_back(static_cast<GLuint>(vertices.size()));
                vertices.push_back({{corner.x, corner.y}});
            }
        }
        part.setMesh(vertices, elements);
    }

    static void setUniforms(Kest::ShaderProgram& program, const glm::mat4& camera,
                            const glm::mat4& projection, float time)
    {
        program.use();
        const glm::mat4 identity(1.0f);
        glUniformMatrix4fv(program.transformLocation, 1, GL_FALSE, glm::value_ptr(identity));
        glUniformMatrix4fv(program.cameraLocation, 1, GL_FALSE, glm::value_ptr(camera));
        glUniformMatrix4fv(program.projectionLocation, 1, GL_FALSE, glm::value_ptr(projection));
        glUniform1f(program.timeLocation, time);
    }

    // Runs the vertex and geometry stages and captures what they emit, three per triangle.
    std::vector<EmittedVertex> capture(const std::vector<Triangle>& triangles, float time,
                                       const glm::mat4& camera = glm::mat4(1.0f))
    {
        Kest::ShaderProgram program = Kest::createGroundShader();
        // Relinked with the geometry stage's outputs recorded; the builder's shaders are still
        // attached, so this is the same code.
        const char* outputs[] = {"GS_OUT.vPos", "GS_OUT.gPos", "GS_OUT.uv", "GS_OUT.normal",
                                 "GS_OUT.dcol"};
        glTransformFeedbackVaryings(program.id, 5, outputs, GL_INTERLEAVED_ATTRIBS);
        glLinkProgram(program.id);
        GLint linked = 0;
        glGetProgramiv(program.id, GL_LINK_STATUS, &linked);
        EXPECT_EQ(linked, GL_TRUE);
        program.transformLocation = program.getUniformLocation("transform");
        program.cameraLocation = program.getUniformLocation("camera");
        program.projectionLocation = program.getUniformLocation("projection");
        program.timeLocation = program.getUniformLocation("time");

        Kest::Part part(program);
        upload(part, triangles);
        std::vector<EmittedVertex> emitted(3 * triangles.size());
        GLuint buffer = 0;
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_TRANSFORM_FEEDBACK_BUFFER, buffer);
        const auto bytes = static_cast<GLsizeiptr>(emitted.size() * sizeof(EmittedVertex));
        glBufferData(GL_TRANSFORM_FEEDBACK_BUFFER, bytes, nullptr, GL_STATIC_READ);
        glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, buffer);

        setUniforms(program, camera, glm::mat4(1.0f), time);
        glEnable(GL_RASTERIZER_DISCARD);
        // Without a transform: switching programs is not allowed while feedback is active.
        glBeginTransformFeedback(GL_TRIANGLES);
        part.drawImpl(nullptr);
        glEndTransformFeedback();
        glDisable(GL_RASTERIZER_DISCARD);
        glGetBufferSubData(GL_TRANSFORM_FEEDBACK_BUFFER, 0, bytes, emitted.data());
        glDeleteBuffers(1, &buffer);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return emitted;
    }

    // Checks heights, normals, barycentrics and colours against the reference. A triangle
    // may match the reference with the terrain hash's sum rounded as Mesa's optimiser
    // rounds it instead (see TerrainSum); how many did is printed.
    void checkEmitted(const std::vector<Triangle>& triangles, float time, const std::string& name)
    {
        const std::vector<EmittedVertex> emitted = capture(triangles, time);
        ShaderTest::Deviation deviation;
        int refactored = 0;
        for (size_t t = 0; t < triangles.size(); ++t) {
            glm::vec3 world[3];
            for (Ref::TerrainSum sum : {Ref::TerrainSum::AsWritten, Ref::TerrainSum::ConstantFactored}) {
                bool matches = true;
                for (int i = 0; i < 3; ++i) {
                    world[i] = Ref::groundVertex(triangles[t].corners[i], time, glm::mat4(1.0f), sum);
                    matches = matches && std::fabs(emitted[3 * t + i].vPos.y - world[i].y) <= heightTolerance;
                }
                if (matches) {
                    refactored += sum == Ref::TerrainSum::ConstantFactored;
                    break;
                }
            }
            const Ref::GroundFacet facet = Ref::groundFacet(world[0], world[1], world[2], time);
            for (int i = 0; i < 3; ++i) {
                const EmittedVertex& out = emitted[3 * t + static_cast<size_t>(i)];
                const glm::vec2 corner = triangles[t].corners[i];
                SCOPED_TRACE(name + " corner " + describeCorner(corner));
                // The identity camera puts the eye at the origin: vPos is the world position.
                EXPECT_EQ(out.gPos, 2.0f * corner);
                EXPECT_EQ(out.vPos.x, out.gPos.x);
                EXPECT_EQ(out.vPos.z, out.gPos.y);
                EXPECT_NEAR(out.vPos.y, world[i].y, heightTolerance);
                deviation.record(std::fabs(out.vPos.y - world[i].y), describeCorner(corner));
                EXPECT_EQ(out.uv, Ref::groundCornerUv[static_cast<size_t>(i)]);
                for (int c = 0; c < 3; ++c) {
                    EXPECT_NEAR(out.normal[c], facet.normal[c], directionTolerance);
                    EXPECT_NEAR(out.dcol[c], facet.colour[c], directionTolerance);
                }
            }
            // Flat: one upward unit normal per triangle.
            EXPECT_GT(facet.normal.y, 0.0f);
            EXPECT_NEAR(glm::length(emitted[3 * t].normal), 1.0f, directionTolerance);
        }
        std::cout << "[ deviation ] ground heights " << name << ": " << deviation.largest << " at "
                  << deviation.where << "; " << refactored << " of " << triangles.size()
                  << " triangles with the refactored hash sum\n";
    }

    static std::string describeCorner(glm::vec2 corner)
    {
        return "(" + std::to_string(corner.x) + ", " + std::to_string(corner.y) + ")";
    }
};

// Triangles from the centre out to the rim of the ground (|position| up to 64), on several
// bearings; the first has its corner on the centre.
std::vector<Triangle> radialTriangles()
{
    std::vector<Triangle> triangles;
    for (int k = 0; k <= 31; ++k) {
        float radius = 2.0f * k;
        float bearing = 0.7f * k;
        glm::vec2 at(std::round(radius * std::cos(bearing)), std::round(radius * std::sin(bearing)));
        triangles.push_back(latticeTriangle(at, k % 2 == 0));
    }
    return triangles;
}

TEST_F(GroundProgramTest, HeightsFollowTheTerrainAndTheFront)
{
    const std::vector<Triangle> triangles = radialTriangles();
    // Before the front, while it runs (it passes |position| 5 at 39.0 s), long after it,
    // and while the pit sinks (48.0 s to 49.2 s, the centre first).
    for (float time : {10.0f, 38.4f, 39.0f, 39.5f, 41.0f, 46.5f, 48.0f, 48.3f, 48.6f, 48.9f, 49.2f, 55.0f})
        checkEmitted(triangles, time, "at " + std::to_string(time) + " s");

    // The shaping in numbers, at the centre: before the front the bowl term is
    // -16 cos(-0.6) + 4; long after it -16 and, once the pit has sunk, 20 deeper.
    const std::vector<Triangle> centre = {latticeTriangle({0.0f, 0.0f}, false)};
    const float terrain = Ref::terrain({0.0f, 0.0f});
    ASSERT_EQ(terrain, Ref::terrain({0.0f, 0.0f}, Ref::TerrainSum::ConstantFactored));
    EXPECT_NEAR(capture(centre, 20.0f)[0].vPos.y,
                std::max(terrain + 4.0f - 16.0f * std::cos(-0.6f), -10.0f), heightTolerance);
    EXPECT_NEAR(capture(centre, 47.0f)[0].vPos.y, std::max(terrain - 16.0f, -10.0f), heightTolerance);
    EXPECT_NEAR(capture(centre, 48.6f)[0].vPos.y, std::max(terrain - 16.0f, -10.0f) - 20.0f,
                heightTolerance);
}

TEST_F(GroundProgramTest, TheColourFrontIsJudgedAtTheCentroid)
{
    // A triangle whose centroid lies at r = 6 |centroid| = 60: the front is 5 units of r past
    // it at 38.4 + 65 / 50 s, half way from brown to near-black.
    Triangle triangle = latticeTriangle({10.0f, 0.0f}, false);
    glm::vec2 centroid = (triangle.corners[0] + triangle.corners[1] + triangle.corners[2]) / 3.0f;
    for (glm::vec2& corner : triangle.corners)
        corner += glm::vec2(10.0f, 0.0f) - centroid;
    const float midway = 38.4f + 65.0f / 50.0f;
    const glm::vec3 brown(0.5f, 0.3f, 0.1f);
    const glm::vec3 dark(0.05f);
    struct Moment {
        float time;
        glm::vec3 colour;
    } moments[] = {
        {38.0f, brown}, {38.4f + 60.0f / 50.0f, brown}, {midway, 0.5f * (brown + dark)}, {40.0f, dark}};
    for (const Moment& moment : moments) {
        const std::vector<EmittedVertex> emitted = capture({triangle}, moment.time);
        for (const EmittedVertex& out : emitted)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(out.dcol[c], moment.colour[c], 1e-4f) << moment.time;
    }
    checkEmitted({triangle}, midway, "front at the centroid");
}

TEST_F(GroundProgramTest, EyeVectorIsTheWorldPositionMinusTheEye)
{
    const std::vector<Triangle> triangles = radialTriangles();
    const glm::vec3 eye(12.0f, 30.0f, -50.0f);
    const glm::mat4 camera = glm::lookAt(eye, glm::vec3(0.0f), glm::vec3(0.0f, 1.0f, 0.0f));
    const float time = 45.0f;
    const std::vector<EmittedVertex> seen = capture(triangles, time, camera);
    const std::vector<EmittedVertex> world = capture(triangles, time);
    for (size_t i = 0; i < seen.size(); ++i) {
        glm::vec3 expected = world[i].vPos - eye;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(seen[i].vPos[c], expected[c], 1e-5f * (1.0f + std::fabs(expected[c])));
    }
}

// ---- Fragments -----------------------------------------------------------------------------

class GroundPictureProgramTest : public GroundProgramTest {
protected:
    static constexpr int size = 128;

    struct View {
        glm::vec2 centre;       // world x, z in the middle of the picture
        float halfWidth;        // world units from the middle to the picture's edge
        bool mirrorLight = false; // eye where flat ground mirrors the light into it
    };

    // The picture is always taken straight down from above (picture x is world x, picture y
    // is world -z); the projection undoes whatever camera the fragments see instead.
    static glm::mat4 cameraAbove(const View& view)
    {
        glm::vec3 target(view.centre.x, 0.0f, view.centre.y);
        return glm::lookAt(target + glm::vec3(0.0f, 100.0f, 0.0f), target, glm::vec3(0.0f, 0.0f, -1.0f));
    }

    static glm::mat4 camera(const View& view)
    {
        if (!view.mirrorLight)
            return cameraAbove(view);
        // Looking along the light mirrored in the ground, so the specular term is bright.
        glm::vec3 target(view.centre.x, 0.0f, view.centre.y);
        glm::vec3 light = Ref::lightDirection();
        glm::vec3 look(light.x, -light.y, light.z);
        return glm::lookAt(target - 30.0f * look, target, glm::vec3(0.0f, 1.0f, 0.0f));
    }

    static glm::mat4 projection(const View& view)
    {
        const float h = view.halfWidth;
        return glm::ortho(-h, h, -h, h, 1.0f, 300.0f) * cameraAbove(view) * glm::inverse(camera(view));
    }

    std::vector<glm::vec4> render(const Triangle& triangle, const View& view, float time)
    {
        Kest::ShaderProgram program = Kest::createGroundShader();
        Kest::Part part(program);
        upload(part, {triangle});
        FloatTarget target(size, size, true);
        target.bindAndClear(glm::vec4(-1.0f));
        glEnable(GL_DEPTH_TEST);
        setUniforms(program, camera(view), projection(view), time);
        part.drawImpl(glm::mat4(1.0f), nullptr);
        glDisable(GL_DEPTH_TEST);
        return target.read();
    }

    // What the fragment stage receives: the emitted corners' outputs, interpolated.
    using Fragment = EmittedVertex;

    // The triangle's corners as the vertex stage places them (checked against the CPU terrain
    // by the tests above), so the picture tests see the geometry and fragment stages alone.
    std::array<glm::vec3, 3> placedCorners(const Triangle& triangle, float time)
    {
        const std::vector<EmittedVertex> emitted = capture({triangle}, time);
        return {emitted[0].vPos, emitted[1].vPos, emitted[2].vPos};
    }

    // The interpolated inputs at a pixel centre, from the CPU geometry stage, or false when
    // the centre is not clearly inside the triangle.
    static bool fragmentAt(const std::array<glm::vec3, 3>& world, const View& view, float time,
                           int x, int y, Fragment& fragment)
    {
        glm::vec2 clip = ShaderTest::pixelClipPosition(x, y, size, size);
        glm::vec2 g = view.centre + glm::vec2(clip.x, -clip.y) * view.halfWidth;
        glm::vec2 flat[3];
        for (int i = 0; i < 3; ++i)
            flat[i] = glm::vec2(world[i].x, world[i].z);
        // Barycentric coordinates of g in the triangle's (x, z) projection.
        auto cross = [](glm::vec2 a, glm::vec2 b) { return a.x * b.y - a.y * b.x; };
        float area = cross(flat[1] - flat[0], flat[2] - flat[0]);
        float l1 = cross(g - flat[0], flat[2] - flat[0]) / area;
        float l2 = cross(flat[1] - flat[0], g - flat[0]) / area;
        float l0 = 1.0f - l1 - l2;
        if (std::min(l0, std::min(l1, l2)) < 1e-3f)
            return false;
        const Ref::GroundFacet facet = Ref::groundFacet(world[0], world[1], world[2], time);
        const glm::vec3 eye = -Ref::negatedEyePosition(camera(view));
        fragment.vPos = l0 * world[0] + l1 * world[1] + l2 * world[2] - eye;
        fragment.gPos = g;
        fragment.uv = l0 * Ref::groundCornerUv[0] + l1 * Ref::groundCornerUv[1] + l2 * Ref::groundCornerUv[2];
        fragment.normal = facet.normal;
        fragment.dcol = facet.colour;
        return true;
    }

    static glm::vec3 shade(const Fragment& f, float time)
    {
        return Ref::groundShade(f.vPos, f.gPos, f.uv, f.normal, f.dcol, time);
    }

    // How far the reference moves when the barycentrics and position round differently.
    static glm::vec3 roundingSpread(const Fragment& f, float time)
    {
        const glm::vec3 centre = shade(f, time);
        glm::vec3 spread(0.0f);
        for (int axis = 0; axis < 5; ++axis) {
            for (float sign : {-1.0f, 1.0f}) {
                Fragment moved = f;
                if (axis < 3)
                    moved.uv[axis] += sign * 4e-6f;
                else
                    moved.gPos[axis - 3] += sign * (2e-6f + 1e-6f * std::fabs(f.gPos[axis - 3]));
                spread = glm::max(spread, glm::abs(shade(moved, time) - centre));
            }
        }
        return spread;
    }

    // Compares every pixel clearly inside the triangle with the reference; returns how many.
    int compare(const std::vector<glm::vec4>& pixels, const Triangle& triangle, const View& view,
                float time, const char* name)
    {
        const std::array<glm::vec3, 3> world = placedCorners(triangle, time);
        ShaderTest::PixelComparison comparison{name, colourAbsoluteTolerance, colourRelativeTolerance};
        int inside = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                Fragment fragment;
                if (!fragmentAt(world, view, time, x, y, fragment))
                    continue;
                ++inside;
                glm::vec4 gpu = pixels[static_cast<size_t>(y * size + x)];
                comparison.check(x, y, glm::vec3(gpu), shade(fragment, time), roundingSpread(fragment, time));
                EXPECT_EQ(gpu.a, 0.0f);
            }
        }
        comparison.report("ground picture");
        return inside;
    }
};

// Two lattice triangles' worth of ground at the centre and 40 units out, each spanning a
// 4 x 4 square of world units, drawn at 32 pixels per unit so the grid lines are wide enough
// to see (corners on whole pixels keep the rasteriser's snapping out of the comparison).
const Triangle centreTriangle{{glm::vec2(-1.0f, -1.0f), glm::vec2(0.0f, 1.0f), glm::vec2(1.0f, -1.0f)}};
const Triangle outerTriangle{{glm::vec2(19.0f, -1.0f), glm::vec2(20.0f, 1.0f), glm::vec2(21.0f, -1.0f)}};

TEST_F(GroundPictureProgramTest, LitFacetsWithoutAGridBefore48Seconds)
{
    const View centreView{{0.0f, 0.0f}, 2.0f};
    const View outerView{{40.0f, 0.0f}, 2.0f};
    const View mirrorView{{40.0f, 0.0f}, 2.0f, true};
    for (float time : {20.0f, 39.0f, 47.99f}) {
        for (const auto& [triangle, view] : {std::pair(centreTriangle, centreView), std::pair(outerTriangle, outerView),
                                             std::pair(outerTriangle, mirrorView)}) {
            const std::vector<glm::vec4> pixels = render(triangle, view, time);
            EXPECT_GT(compare(pixels, triangle, view, time, "before the grid"), size * size / 4);
            const std::array<glm::vec3, 3> world = placedCorners(triangle, time);
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    Fragment fragment;
                    if (fragmentAt(world, view, time, x, y, fragment)) {
                        ASSERT_EQ(Ref::groundGridColour(fragment.gPos, time), glm::vec3(0.0f));
                    }
                }
            }
        }
    }
}

TEST_F(GroundPictureProgramTest, TheGridReaches40UnitsOutAt58Seconds)
{
    const View view{{40.0f, 0.0f}, 2.0f};
    struct Moment {
        float time;
        const char* name;
    } moments[] = {{57.9f, "57.9 s"}, {58.03f, "58.03 s"}, {58.07f, "58.07 s"}, {58.8f, "58.8 s, a ring"}};
    for (const Moment& moment : moments) {
        const std::vector<glm::vec4> pixels = render(outerTriangle, view, moment.time);
        compare(pixels, outerTriangle, view, moment.time, moment.name);
        const std::array<glm::vec3, 3> world = placedCorners(outerTriangle, moment.time);

        // On the lines (edge weight at least 1/2) near 40 units out: no glow beyond 39.7
        // before 58 s; from 58.0625 s the full (0, 20, 200) up to 40; at 58.8 s the bright
        // ring just inside 40, where fract(0.02 D - t) approaches 1.
        int onLine = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                Fragment fragment;
                if (!fragmentAt(world, view, moment.time, x, y, fragment))
                    continue;
                float weight = Ref::groundGridWeight(fragment.uv);
                float distance = glm::length(fragment.gPos);
                if (weight < 0.5f)
                    continue;
                glm::vec4 gpu = pixels[static_cast<size_t>(y * size + x)];
                if (moment.time < 58.0f && distance > 39.7f && distance < 40.3f) {
                    ++onLine;
                    EXPECT_LT(gpu.b, 1.0f);
                } else if (moment.time > 58.0625f && moment.time < 58.5f && distance > 39.7f && distance < 40.0f) {
                    ++onLine;
                    EXPECT_GT(gpu.b, 200.0f * weight);
                    EXPECT_GT(gpu.g, 20.0f * weight);
                } else if (moment.time > 58.5f && distance > 39.85f && distance < 39.98f) {
                    ++onLine;
                    EXPECT_GT(gpu.r, 600.0f * weight);
                }
            }
        }
        std::cout << "[ grid ] " << moment.name << ": " << onLine << " line pixels checked\n";
        if (moment.time < 58.0f || moment.time > 58.0625f) {
            EXPECT_GT(onLine, 2) << moment.name;
        }
    }
}

} // namespace
