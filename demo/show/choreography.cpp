#include "choreography.h"

#include <glm/ext/matrix_transform.hpp>

#include <algorithm>
#include <cmath>

// Single precision throughout, except where a step says otherwise: the show's numbers
// (including sin π = −8.742278e-08 from the float π) depend on it.

namespace {

constexpr float pi = 3.1415927f;
constexpr float halfPi = 1.5707964f;
using ShowCues::segmentLength;
using ShowCues::riseTime;  // the hub reaches height 0 and the ring starts turning
using ShowCues::fadeStart;
using ShowCues::shotStarts;
constexpr float turnRate = 0.37399912f; // 2π / 16.8 rad/s: the hub's spin and the ring's steps
constexpr float hubClimb = 2.0f;
constexpr float ringRadius = 20.0f;
constexpr float fadeRate = 1.6f;

constexpr glm::vec3 xAxis(1.0f, 0.0f, 0.0f);
constexpr glm::vec3 yAxis(0.0f, 1.0f, 0.0f);
constexpr glm::mat4 identity(1.0f);

// Products are built left to right from the identity, each factor multiplied on the right.
glm::mat4 rotateX(const glm::mat4& m, float angle) { return glm::rotate(m, angle, xAxis); }
glm::mat4 rotateY(const glm::mat4& m, float angle) { return glm::rotate(m, angle, yAxis); }
glm::mat4 translate(const glm::mat4& m, float x, float y, float z) { return glm::translate(m, glm::vec3(x, y, z)); }

// (20 sin θj, 20 cos θj) with θj formed as ((float)j × π) × 2 / 7; θ0 = 0 gives exactly 0 and 20.
void ringPosition(std::size_t j, float& x, float& z)
{
    const float theta = (static_cast<float>(j) * pi) * 2.0f / 7.0f;
    x = ringRadius * std::sin(theta);
    z = ringRadius * std::cos(theta);
}

unsigned shotOf(unsigned segment)
{
    // Shot 1 starts at segment 0; count the later shots that have begun.
    unsigned shot = 1;
    for (unsigned n = 1; n < ShowCues::shotCount; ++n)
        shot += segment >= ShowCues::shotFirstSegments[n] ? 1u : 0u;
    return shot;
}

glm::mat4 shotCamera(unsigned shot, float t)
{
    switch (shot) {
    case 1:
        return translate(identity, t, 0.0f, 0.0f);
    case 2:
        return translate(rotateY(rotateX(identity, 0.8f), pi), 0.0f, -5.0f, 12.0f + (t - shotStarts[1]));
    case 3:
        return translate(rotateY(rotateX(identity, 0.8f - 0.09f * (t - 7.2f)), halfPi), 20.0f, 0.0f, -20.0f);
    case 4:
        return translate(rotateY(rotateX(identity, -0.55f), pi), 0.0f, 5.0f, -12.0f);
    case 5:
        return rotateY(translate(identity, 0.0f, 0.0f, -32.0f), -0.2f * t);
    case 6: {
        const float since = t - shotStarts[5];
        return rotateY(translate(rotateX(identity, 0.7f - 0.04f * since), 0.0f, -8.0f - 3.0f * since, -32.0f - since),
                       -0.1f * t);
    }
    case 7:
        return rotateY(translate(rotateX(identity, 0.5f - 0.03f * (t - shotStarts[6])), 0.0f, -2.0f, -32.0f), -0.2f * t);
    case 8:
        return translate(rotateX(identity, -0.7f), 0.0f, 8.0f, -16.0f);
    case 9: {
        const float since = t - shotStarts[8];
        // The height is formed in double from the single-precision climb, then rounded.
        const float y = static_cast<float>(7.0 - static_cast<double>(2.0f * since));
        return rotateY(translate(identity, 0.0f, y, -32.0f - since), -0.2f * t);
    }
    default:
        return translate(rotateY(rotateX(identity, -0.5f - 0.03f * (t - fadeStart)), pi), 0.0f, 3.0f, 44.0f);
    }
}

} // namespace

unsigned segmentAt(float t)
{
    const float segments = t / segmentLength;
    if (!(segments > 0.0f))
        return 0;
    if (segments >= 4294967296.0f)
        return ~0u;
    return static_cast<unsigned>(segments);
}

float ringAngle(float t)
{
    const float w = turnRate * std::max(0.0f, t - riseTime);
    float u = w - std::sin(7.0f * w) / 7.0f;
    // Late in each step (sin 7u < 0) push it forward: the ring runs past the next seventh and
    // settles back onto it exactly when the step ends.
    const float k = 2.0f * std::sin(7.0f * u);
    if (k < 0.0f)
        u -= k / 7.0f;
    return u;
}

glm::mat4 ringPlacement(std::size_t j)
{
    float x, z;
    ringPosition(j, x, z);
    return translate(identity, x, 0.0f, z);
}

Choreography choreograph(float t)
{
    Choreography c;

    // The hub spins a turn per 16.8 s and climbs without limit, through 0 at 67.2 s.
    const float hubHeight = hubClimb * (t - riseTime);
    c.instanceTransforms[0] = rotateY(translate(identity, 0.0f, hubHeight, 0.0f), -turnRate * t);
    c.instanceTransforms[1] = rotateY(identity, -ringAngle(t));

    // Polytope j rises on a parabola and lands at 4.8 (j + 4) s; it never stands below the hub.
    // All seven tumble alike, 0.8 t about x and then 0.5 t about y in their own frame.
    for (std::size_t j = 0; j < ringSize; ++j) {
        const float d = static_cast<float>(0.1 * (t - 4.8 * static_cast<double>(j + 4)));
        const float rise = d < 0.0f ? static_cast<float>(-20.0 * d * d) : 0.0f;
        float x, z;
        ringPosition(j, x, z);
        const glm::mat4 standing = translate(identity, x, std::max(rise, hubHeight), z);
        c.instanceTransforms[2 + j] = rotateX(rotateY(standing, 0.5f * t), 0.8f * t);
    }

    c.segment = segmentAt(t);
    c.over = c.segment > lastSegment;
    c.shot = c.over ? 0 : shotOf(c.segment);
    c.camera = c.over ? identity : shotCamera(c.shot, t);
    c.exposure = c.shot == 10 ? std::exp(-fadeRate * (t - fadeStart)) : 1.0f;
    return c;
}
