#pragma once

// CPU reference of the five GLSL programs: the same formulas in 32-bit floats, in the same
// order of operations, so GPU read-backs can be checked against them. Pure computation, no
// GL, so tools can reuse it.

#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <array>

namespace ShaderReference {

// GLSL built-ins, in single precision.
float fract(float x);
float smoothstep(float edge0, float edge1, float x);
glm::vec3 reflect(const glm::vec3& incident, const glm::vec3& normal);

// normalize(0, 2, 5): the direction towards the light in every scene program.
glm::vec3 lightDirection();

// Quintic fade 6w^5 - 15w^4 + 10w^3 and its derivative 30w^2 (w - 1)^2.
float fade(float w);
float fadeDerivative(float w);

// ---- 3-D lattice value noise (sky and glitter programs) --------------------------------

constexpr float skyHashConstant = 19.17f;
constexpr float glitterHashConstant = 17.135f;

float latticeHash(float n, float hashConstant);
// In [-1, 1]; the corner value 2 hash(n) - 1 at lattice points.
float valueNoise(const glm::vec3& x, float hashConstant);
// Analytic gradient of valueNoise; zero at lattice points.
glm::vec3 valueNoiseGradient(const glm::vec3& x, float hashConstant);
// Five octaves, amplitude 0.35 falling by 0.35, rotated and scaled by 1.92 between octaves.
float skyFbm(const glm::vec3& x);

// ---- Sky ------------------------------------------------------------------------------

// The vertex stage's Ray for a clip-space quad position (linear in the position, so it is
// also the interpolated value at any pixel centre).
glm::vec3 skyRay(const glm::vec2& position, const glm::mat4& transform);
// The fine noise behind the stars: stars show where it exceeds 5/14.
float skyStars(const glm::vec3& ray);
glm::vec3 skyColour(const glm::vec3& Ray);

// ---- Post-processing -----------------------------------------------------------------------

float vignette(const glm::vec2& texCoords);
glm::vec3 composite(const glm::vec3& scene, const glm::vec3& bloom, float exposure,
                    const glm::vec2& texCoords);

constexpr std::array<float, 5> blurWeights = {0.227027f, 0.1945946f, 0.1216216f, 0.054054f,
                                              0.016216f};
// Spacing of the taps in texture coordinates: scale texels of a 1280x720 picture.
glm::vec2 blurTapStep(float scale, bool horizontal);
// The factor one pass applies to a uniform image, summed in the shader's order.
float blurGain();

// ---- Glitter ----------------------------------------------------------------------------

struct GlitterVaryings {
    glm::vec3 Normal;
    glm::vec3 Colour;
    glm::vec3 LPos;
    glm::vec3 VPos;
};

// The eye's world position negated: the row vector camera[3].xyz times the rotation.
glm::vec3 negatedEyePosition(const glm::mat4& camera);

GlitterVaryings glitterVertex(const glm::vec3& position, const glm::vec3& normal,
                              const glm::vec3& colour, const glm::mat4& transform,
                              const glm::mat4& camera);
// (100, 90, 10) e^(-9.6 (time - 67.2)) from 67.2 s on, 0 before.
glm::vec3 glitterGlow(float time);
struct GlitterShading {
    glm::vec3 colour;
    glm::vec3 sparkle;
    float diffuse;
};
GlitterShading glitterShading(const GlitterVaryings& in, float time);
glm::vec3 glitterShade(const GlitterVaryings& in, float time);

// ---- Ground -----------------------------------------------------------------------------

// How the terrain hash rounds q.x + q.y, with q = 50 fract(p / pi). GLSL lets a compiler
// rearrange arithmetic: Mesa's optimiser turns 50 fx + 50 fy into 50 (fx + fy), and the
// product q.x q.y (q.x + q.y), up to 2.5e5 where one unit in the last place is 1/64, then
// rounds differently in about one hash in a thousand.
enum class TerrainSum { AsWritten, ConstantFactored };

float terrainHash(const glm::vec2& p, TerrainSum sum = TerrainSum::AsWritten);
float terrainNoise(const glm::vec2& x, TerrainSum sum = TerrainSum::AsWritten);
float terrainFbm(const glm::vec2& x, TerrainSum sum = TerrainSum::AsWritten);
float terrain(const glm::vec2& p, TerrainSum sum = TerrainSum::AsWritten);

// The vertex stage's world position for a mesh position.
glm::vec3 groundVertex(const glm::vec2& position, float time, const glm::mat4& transform,
                       TerrainSum sum = TerrainSum::AsWritten);

struct GroundFacet {
    glm::vec3 normal;
    glm::vec3 colour;
};
// The geometry stage's face normal and colour for a triangle's world corners.
GroundFacet groundFacet(const glm::vec3& w0, const glm::vec3& w1, const glm::vec3& w2,
                        float time);
// Barycentric coordinate the geometry stage gives corners 0, 1 and 2.
constexpr std::array<glm::vec3, 3> groundCornerUv = {glm::vec3(1, 0, 0), glm::vec3(0, 0, 1),
                                                     glm::vec3(0, 1, 0)};

// 1 on a triangle's edges, 0 from 0.02 inside them.
float groundGridWeight(const glm::vec3& uv);
// Colour of the grid lines at a world (x, z) and time, before the edge weight.
glm::vec3 groundGridColour(const glm::vec2& gPos, float time);
glm::vec3 groundShade(const glm::vec3& vPos, const glm::vec2& gPos, const glm::vec3& uv,
                      const glm::vec3& normal, const glm::vec3& dcol, float time);

} // namespace ShaderReference
