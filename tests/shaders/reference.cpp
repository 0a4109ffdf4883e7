#include "reference.h"

#include "show/show_cues.h"

#include <glm/geometric.hpp>
#include <glm/mat3x3.hpp>

#include <algorithm>
#include <cmath>

// Every operation below is written out in the order the GLSL evaluates it, in single
// precision: the lattice hashes multiply numbers up to about 1e6 before taking the fraction,
// so only the same rounding gives the same hash.

namespace ShaderReference {

float fract(float x)
{
    return x - std::floor(x);
}

float smoothstep(float edge0, float edge1, float x)
{
    float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

glm::vec3 reflect(const glm::vec3& incident, const glm::vec3& normal)
{
    return incident - 2.0f * glm::dot(normal, incident) * normal;
}

glm::vec3 lightDirection()
{
    return glm::normalize(glm::vec3(0.0f, 2.0f, 5.0f));
}

float fade(float w)
{
    return w * w * w * (w * (w * 6.0f - 15.0f) + 10.0f);
}

float fadeDerivative(float w)
{
    return 30.0f * w * w * (w * (w - 2.0f) + 1.0f);
}

// ---- 3-D lattice value noise --------------------------------------------------------------

float latticeHash(float n, float hashConstant)
{
    return fract(n * hashConstant * fract(n * 0.3183099f));
}

namespace {

// Corner values and blend coefficients of the lattice cell around x.
struct LatticeCell {
    glm::vec3 w;
    glm::vec3 u;
    float a, k1, k2, k3, k4, k5, k6, k7;
};

LatticeCell latticeCell(const glm::vec3& x, float hashConstant)
{
    LatticeCell cell;
    glm::vec3 p(std::floor(x.x), std::floor(x.y), std::floor(x.z));
    cell.w = glm::vec3(fract(x.x), fract(x.y), fract(x.z));
    cell.u = glm::vec3(fade(cell.w.x), fade(cell.w.y), fade(cell.w.z));

    float n = p.x + 317.0f * p.y + 157.0f * p.z;
    float a = latticeHash(n + 0.0f, hashConstant);
    float b = latticeHash(n + 1.0f, hashConstant);
    float c = latticeHash(n + 317.0f, hashConstant);
    float d = latticeHash(n + 318.0f, hashConstant);
    float e = latticeHash(n + 157.0f, hashConstant);
    float f = latticeHash(n + 158.0f, hashConstant);
    float g = latticeHash(n + 474.0f, hashConstant);
    float h = latticeHash(n + 475.0f, hashConstant);

    cell.a = a;
    cell.k1 = b - a;
    cell.k2 = c - a;
    cell.k3 = e - a;
    cell.k4 = a - b - c + d;
    cell.k5 = a - c - e + g;
    cell.k6 = a - b - e + f;
    cell.k7 = -a + b + c - d + e - f - g + h;
    return cell;
}

} // namespace

float valueNoise(const glm::vec3& x, float hashConstant)
{
    LatticeCell c = latticeCell(x, hashConstant);
    const glm::vec3& u = c.u;
    return 2.0f * (c.a + c.k1 * u.x + c.k2 * u.y + c.k3 * u.z + c.k4 * u.x * u.y
                   + c.k5 * u.y * u.z + c.k6 * u.z * u.x + c.k7 * u.x * u.y * u.z)
           - 1.0f;
}

glm::vec3 valueNoiseGradient(const glm::vec3& x, float hashConstant)
{
    LatticeCell c = latticeCell(x, hashConstant);
    const glm::vec3& u = c.u;
    glm::vec3 du(fadeDerivative(c.w.x), fadeDerivative(c.w.y), fadeDerivative(c.w.z));
    glm::vec3 slopes(c.k1 + c.k4 * u.y + c.k6 * u.z + c.k7 * u.y * u.z,
                     c.k2 + c.k5 * u.z + c.k4 * u.x + c.k7 * u.z * u.x,
                     c.k3 + c.k6 * u.x + c.k5 * u.y + c.k7 * u.x * u.y);
    return 2.0f * du * slopes;
}

float skyFbm(const glm::vec3& x)
{
    // Columns (0, 0.8, 0.6), (-0.8, 0.36, -0.48), (-0.6, -0.48, 0.64).
    const glm::mat3 m3(0.00f, 0.80f, 0.60f, -0.80f, 0.36f, -0.48f, -0.60f, -0.48f, 0.64f);
    float sum = 0.0f;
    float amplitude = 0.35f;
    glm::vec3 point = x;
    for (int octave = 0; octave < 5; ++octave) {
        sum += amplitude * valueNoise(point, skyHashConstant);
        amplitude *= 0.35f;
        point = 1.92f * (m3 * point);
    }
    return sum;
}

// ---- Sky ---------------------------------------------------------------------------------

glm::vec3 skyRay(const glm::vec2& position, const glm::mat4& transform)
{
    glm::vec2 scaled(position.x * (16.0f / 9.0f), position.y);
    glm::vec3 v(-scaled.x, -scaled.y, 2.1445f);
    glm::mat3 r(transform);
    // Row vector times the matrix: one dot product per column.
    return glm::vec3(glm::dot(v, r[0]), glm::dot(v, r[1]), glm::dot(v, r[2]));
}

float skyStars(const glm::vec3& ray)
{
    return skyFbm(120.0f * ray);
}

glm::vec3 skyColour(const glm::vec3& Ray)
{
    glm::vec3 lightPos1 = -lightDirection();
    glm::vec3 ray = glm::normalize(Ray);
    float stars = skyStars(ray);
    float nebula = skyFbm(5.0f * ray) + 0.5f;
    glm::vec3 colour = glm::vec3(0.6f, 0.8f, 1.0f) * std::max(0.0f, 14.0f * stars - 5.0f) * 1000.0f;
    colour = colour + glm::vec3(5.0f, 3.0f, 1.0f) * std::max(0.0f, nebula)
             + 100.0f * std::pow(std::max(0.0f, glm::dot(lightPos1, ray)), 10.0f);
    return colour;
}

// ---- Post-processing ---------------------------------------------------------------------

float vignette(const glm::vec2& texCoords)
{
    glm::vec2 c(texCoords.x - 0.5f, (texCoords.y - 0.5f) * (9.0f / 16.0f));
    return std::exp(-2.0f * (c.x * c.x + c.y * c.y));
}

glm::vec3 composite(const glm::vec3& scene, const glm::vec3& bloom, float exposure,
                    const glm::vec2& texCoords)
{
    float v = vignette(texCoords);
    glm::vec3 out;
    for (int i = 0; i < 3; ++i) {
        float h = scene[i] * 0.9f;
        float b = bloom[i] * 0.1f;
        h = h + 0.5f * (b + std::exp(-b) - 1.0f);
        float m = 1.0f - std::exp(-h * exposure);
        m = std::pow(m, 1.0f / 2.2f);
        out[i] = m * v;
    }
    return out;
}

glm::vec2 blurTapStep(float scale, bool horizontal)
{
    glm::vec2 texel = scale / glm::vec2(1280.0f, 720.0f);
    return horizontal ? glm::vec2(0.0f, texel.y) : glm::vec2(texel.x, 0.0f);
}

float blurGain()
{
    float sum = blurWeights[0];
    for (size_t i = 1; i < blurWeights.size(); ++i)
        sum += (1.0f + 1.0f) * blurWeights[i];
    return sum;
}

// ---- Glitter -----------------------------------------------------------------------------

glm::vec3 negatedEyePosition(const glm::mat4& camera)
{
    glm::vec3 t(camera[3]);
    glm::mat3 r(camera);
    return glm::vec3(glm::dot(t, r[0]), glm::dot(t, r[1]), glm::dot(t, r[2]));
}

GlitterVaryings glitterVertex(const glm::vec3& position, const glm::vec3& normal,
                              const glm::vec3& colour, const glm::mat4& transform,
                              const glm::mat4& camera)
{
    GlitterVaryings out;
    out.Normal = glm::mat3(transform) * normal;
    glm::vec4 p = transform * glm::vec4(position, 1.0f);
    out.LPos = position;
    out.VPos = glm::vec3(p) + negatedEyePosition(camera);
    out.Colour = colour;
    return out;
}

glm::vec3 glitterGlow(float time)
{
    float t = time - ShowCues::riseTime;
    if (t >= 0.0f)
        return glm::vec3(100.0f, 90.0f, 10.0f) * std::exp(-9.6f * t);
    return glm::vec3(0.0f);
}

GlitterShading glitterShading(const GlitterVaryings& in, float time)
{
    glm::vec3 lightPos1 = lightDirection();
    glm::vec3 lightCol1(1.2f);
    glm::vec3 ambient(0.04f, 0.02f, 0.0f);

    glm::vec3 glitter =
        glm::normalize(in.Normal + 0.1f * valueNoiseGradient(32.0f * in.LPos, glitterHashConstant));
    GlitterShading out;
    out.diffuse = std::max(0.0f, glm::dot(glitter, lightPos1));
    lightCol1 = lightCol1 * out.diffuse;
    glm::vec3 specular = reflect(glm::normalize(in.VPos), glitter);
    out.sparkle = lightCol1 * std::pow(std::max(0.0f, glm::dot(specular, lightPos1)), 16.0f);
    out.colour = (lightCol1 + ambient) * in.Colour + out.sparkle + glitterGlow(time);
    return out;
}

glm::vec3 glitterShade(const GlitterVaryings& in, float time)
{
    return glitterShading(in, time).colour;
}

// ---- Ground ------------------------------------------------------------------------------

float terrainHash(const glm::vec2& p, TerrainSum sum)
{
    float fx = fract(p.x * 0.3183099f);
    float fy = fract(p.y * 0.3183099f);
    float qx = 50.0f * fx;
    float qy = 50.0f * fy;
    float qsum = sum == TerrainSum::AsWritten ? qx + qy : 50.0f * (fx + fy);
    return fract(qx * qy * qsum);
}

float terrainNoise(const glm::vec2& x, TerrainSum sum)
{
    glm::vec2 p(std::floor(x.x), std::floor(x.y));
    glm::vec2 w = x - p;
    glm::vec2 u(fade(w.x), fade(w.y));

    float a = terrainHash(p + glm::vec2(0.0f, 0.0f), sum);
    float b = terrainHash(p + glm::vec2(1.0f, 0.0f), sum);
    float c = terrainHash(p + glm::vec2(0.0f, 1.0f), sum);
    float d = terrainHash(p + glm::vec2(1.0f, 1.0f), sum);

    float k0 = a;
    float k1 = b - a;
    float k2 = c - a;
    float k4 = a - b - c + d;
    return 2.0f * (k0 + k1 * u.x + k2 * u.y + k4 * u.x * u.y) - 1.0f;
}

float terrainFbm(const glm::vec2& x, TerrainSum sum)
{
    float total = 0.0f;
    float amplitude = 0.5f;
    glm::vec2 point = x;
    for (int octave = 0; octave < 8; ++octave) {
        total += amplitude * terrainNoise(point, sum);
        amplitude *= 0.5f;
        point = point * 2.0f;
    }
    return total;
}

float terrain(const glm::vec2& p, TerrainSum sum)
{
    return 16.0f * terrainFbm(p / 16.0f + glm::vec2(21.0f, 21.0f), sum);
}

glm::vec3 groundVertex(const glm::vec2& position, float time, const glm::mat4& transform,
                       TerrainSum sum)
{
    float r = 6.0f * glm::length(position);
    float gt = (time - ShowCues::groundFrontStart) * 50.0f - r;
    float s = smoothstep(0.0f, 30.0f, gt);
    float gauss = std::exp(-0.0008f * r * r);

    glm::vec4 w = transform * glm::vec4(2.0f * position.x, 0.0f, 2.0f * position.y, 1.0f);
    float h = terrain(glm::vec2(w.x, w.z), sum) - 16.0f * std::cos(0.01f * (r - (1.0f - s) * 60.0f));
    w.y = std::max(h + 4.0f - 4.0f * s, -10.0f) - smoothstep(480.0f, 510.0f, gt) * gauss * 20.0f;
    return glm::vec3(w);
}

GroundFacet groundFacet(const glm::vec3& w0, const glm::vec3& w1, const glm::vec3& w2,
                        float time)
{
    GroundFacet facet;
    facet.normal = glm::normalize(glm::cross(w1 - w0, w2 - w0));
    glm::vec2 centre = glm::vec2(w0.x, w0.z) + glm::vec2(w1.x, w1.z) + glm::vec2(w2.x, w2.z);
    float gt = (time - ShowCues::groundFrontStart) * 50.0f - glm::length(centre);
    float k = smoothstep(0.0f, 10.0f, gt);
    facet.colour = glm::vec3(0.5f, 0.3f, 0.1f) * (1.0f - k) + glm::vec3(0.05f) * k;
    return facet;
}

float groundGridWeight(const glm::vec3& uv)
{
    return 1.0f - smoothstep(0.0f, 0.02f, std::min(uv.x, std::min(uv.y, uv.z)));
}

glm::vec3 groundGridColour(const glm::vec2& gPos, float time)
{
    float gt = (time - ShowCues::gridStart) * 16.0f - 4.0f * glm::length(gPos);
    float pulse = glm::length(0.02f * gPos) - time;
    return smoothstep(0.0f, 1.0f, gt)
           * (glm::vec3(0.0f, 20.0f, 200.0f) + 800.0f * smoothstep(0.99f, 1.0f, fract(pulse)));
}

glm::vec3 groundShade(const glm::vec3& vPos, const glm::vec2& gPos, const glm::vec3& uv,
                      const glm::vec3& normal, const glm::vec3& dcol, float time)
{
    glm::vec3 lightPos1 = lightDirection();
    glm::vec3 viewRay = glm::normalize(vPos);
    glm::vec3 reflectRay = reflect(viewRay, normal);
    float specular = std::pow(std::max(glm::dot(lightPos1, reflectRay), 0.0f), 20.0f);
    float diffuse = std::max(0.0f, glm::dot(normal, lightPos1));
    return dcol * diffuse + glm::vec3(1.0f) * specular
           + groundGridColour(gPos, time) * groundGridWeight(uv);
}

} // namespace ShaderReference
