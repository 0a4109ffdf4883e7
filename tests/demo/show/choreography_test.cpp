// The choreography against the show's published numbers and, for the cameras, against the eye
// position and viewing direction each shot is meant to have, worked out independently in double.

#include "show/choreography.h"
#include "support/command.h"

#include <gtest/gtest.h>
#include <glm/geometric.hpp>
#include <glm/mat4x4.hpp>
#include <glm/matrix.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>


namespace {

constexpr double seventh = 6.283185307179586 / 7.0;

float height(const Choreography& c, std::size_t instance) { return c.instanceTransforms[instance - hubInstance][3][1]; }
float ulp(float x) { return std::nextafter(std::fabs(x), INFINITY) - std::fabs(x); }

// Columns as the tables list them, to six significant digits.
void expectColumns(const glm::mat4& m, const std::vector<glm::vec4>& columns)
{
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            EXPECT_NEAR(m[c][r], columns[c][r], 1.5e-6f + 5e-6f * std::fabs(columns[c][r])) << "column " << c << " row " << r;
}

struct View {
    glm::dvec3 eye;
    glm::dvec3 direction;
};

// Looking along −z, turned by φ about y and tilted down by `tilt`.
glm::dvec3 orbitDirection(double phi, double tilt)
{
    return {-std::cos(tilt) * std::sin(phi), -std::sin(tilt), -std::cos(tilt) * std::cos(phi)};
}

// Where each shot's eye is and where it looks, as the shots are described from the world.
View expectedView(unsigned shot, double t)
{
    switch (shot) {
    case 1: return {{-t, 0, 0}, {0, 0, -1}};
    case 2: return {{0, 5, -12 - (t - 4.8)}, {0, -std::sin(0.8), std::cos(0.8)}};
    case 3: {
        const double tilt = 0.8 - 0.09 * (t - 7.2);
        return {{-20, 0, 20}, {std::cos(tilt), -std::sin(tilt), 0}};
    }
    case 4: return {{0, -5, 12}, {0, std::sin(0.55), std::cos(0.55)}};
    case 5: return {{32 * std::sin(0.2 * t), 0, 32 * std::cos(0.2 * t)}, orbitDirection(0.2 * t, 0)};
    case 6: {
        const double radius = 32 + (t - 38.4);
        return {{radius * std::sin(0.1 * t), 8 + 3 * (t - 38.4), radius * std::cos(0.1 * t)},
                orbitDirection(0.1 * t, 0.7 - 0.04 * (t - 38.4))};
    }
    case 7: return {{32 * std::sin(0.2 * t), 2, 32 * std::cos(0.2 * t)}, orbitDirection(0.2 * t, 0.5 - 0.03 * (t - 48))};
    case 8: return {{0, -8, 16}, {0, std::sin(0.7), -std::cos(0.7)}};
    case 9: {
        const double radius = 32 + (t - 62.4);
        return {{radius * std::sin(0.2 * t), -7 + 2 * (t - 62.4), radius * std::cos(0.2 * t)}, orbitDirection(0.2 * t, 0)};
    }
    default: {
        const double tilt = 0.5 + 0.03 * (t - 76.8);
        return {{0, -3, -44}, {0, std::sin(tilt), std::cos(tilt)}};
    }
    }
}

// Single-precision inputs are good to ~1e-6 relative, and eyes stand up to ~60 units out.
::testing::AssertionResult seesAsShot(unsigned shot, float t)
{
    const Choreography c = choreograph(t);
    const glm::dmat4 eyeToWorld = glm::inverse(glm::dmat4(c.camera));
    const View expected = expectedView(shot, t);
    const double eyeError = glm::length(glm::dvec3(eyeToWorld[3]) - expected.eye);
    const double directionError = glm::length(-glm::dvec3(eyeToWorld[2]) - expected.direction);
    if (c.shot == shot && eyeError < 1e-4 && directionError < 2e-6)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "t = " << t << ": shot " << c.shot << " (expected " << shot
                                         << "), eye off by " << eyeError << ", direction off by " << directionError;
}

// The first single-precision t with ⌊t / 2.4⌋ = segment, the division in single precision.
float firstTimeOf(unsigned segment)
{
    const auto segmentOf = [](float t) { return static_cast<unsigned>(t / 2.4f); };
    float t = static_cast<float>(segment * 2.4);
    while (segmentOf(t) >= segment)
        t = std::nextafter(t, 0.0f);
    while (segmentOf(t) < segment)
        t = std::nextafter(t, INFINITY);
    return t;
}

} // namespace

TEST(choreography, StartOfShow)
{
    const Choreography start = choreograph(0.0f);
    EXPECT_EQ(start.segment, 0u);
    EXPECT_FALSE(start.over);
    EXPECT_EQ(start.exposure, 1.0f);
    EXPECT_EQ(start.camera, glm::mat4(1.0f));
    EXPECT_EQ(start.instanceTransforms[0], glm::mat4(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -134.4f, 0, 1)) << "hub";
    EXPECT_EQ(start.instanceTransforms[1], glm::mat4(1.0f)) << "ring node";
    EXPECT_NEAR(height(start, firstRingInstance), -73.728f, 2e-5f);
    EXPECT_NEAR(height(start, firstRingInstance + 1), -115.2f, 2e-5f);
    for (std::size_t j = 2; j < ringSize; ++j)
        EXPECT_EQ(height(start, firstRingInstance + j), -134.4f) << "polytope " << j << " is held at the hub";

    const Choreography half = choreograph(0.5f);
    EXPECT_EQ(half.exposure, 1.0f);
    EXPECT_EQ(half.instanceTransforms[1], glm::mat4(1.0f));
    EXPECT_NEAR(height(half, hubInstance), -133.4f, 2e-5f);
    // The hub turns a full turn per 16.8 s, +x towards +z.
    const double hubTurn = 0.5 * 6.283185307179586 / 16.8;
    EXPECT_NEAR(half.instanceTransforms[0][0][0], std::cos(hubTurn), 1e-6);
    EXPECT_NEAR(half.instanceTransforms[0][0][2], std::sin(hubTurn), 1e-6);
    EXPECT_NEAR(height(half, firstRingInstance), -69.938f, 2e-5f);
    EXPECT_NEAR(height(half, firstRingInstance + 1), -110.45f, 2e-5f);
    for (std::size_t j = 2; j < ringSize; ++j)
        EXPECT_EQ(height(half, firstRingInstance + j), height(half, hubInstance)) << "polytope " << j;
    expectColumns(half.instanceTransforms[2], {{0.968912f, 0, -0.247404f, 0},
                                               {0.0963436f, 0.921061f, 0.377312f, 0},
                                               {0.227874f, -0.389418f, 0.892427f, 0},
                                               {0, -69.938f, 20, 1}});

    // The start-up placement and the per-frame position agree to the bit; all seven tumble alike.
    EXPECT_EQ(ringPlacement(0), glm::mat4(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 20, 1));
    for (std::size_t j = 0; j < ringSize; ++j) {
        const glm::mat4& own = half.instanceTransforms[2 + j];
        // θj is formed in single precision, up to ~4e-7 rad off j·2π/7.
        EXPECT_NEAR(ringPlacement(j)[3][0], 20 * std::sin(j * seventh), 1e-5);
        EXPECT_NEAR(ringPlacement(j)[3][2], 20 * std::cos(j * seventh), 1e-5);
        EXPECT_EQ(glm::vec2(own[3].x, own[3].z), glm::vec2(ringPlacement(j)[3].x, ringPlacement(j)[3].z));
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(own[column], half.instanceTransforms[2][column]) << "polytope " << j;
    }
}

TEST(choreography, PolytopesRiseLandAndLeaveWithTheHub)
{
    // Above the hub, polytope j follows −20 (0.1 (t − 4.8 (j + 4)))², which the double-precision
    // evaluation hits to within the rounding of d; single precision would miss by up to 13 ulps.
    for (float t : {0.0f, 0.5f, 10.0f, 17.0f, 30.0f, 40.0f})
        for (std::size_t j = 0; j < ringSize; ++j) {
            const Choreography c = choreograph(t);
            const double d = 0.1 * (t - 4.8 * (j + 4));
            const double parabola = d < 0 ? -20 * d * d : 0;
            const float actual = height(c, firstRingInstance + j);
            if (parabola < height(c, hubInstance))
                EXPECT_EQ(actual, height(c, hubInstance)) << "t = " << t << ", polytope " << j;
            else
                EXPECT_LE(std::fabs(actual - parabola), 2 * ulp(actual)) << "t = " << t << ", polytope " << j;
        }

    for (std::size_t j = 0; j < ringSize; ++j) {
        const float landing = static_cast<float>(4.8 * (j + 4));
        EXPECT_LE(height(choreograph(landing), firstRingInstance + j), 0.0f);
        EXPECT_GT(height(choreograph(landing), firstRingInstance + j), -1e-9f) << "polytope " << j << " lands at " << landing;
        EXPECT_EQ(height(choreograph(landing + 0.01f), firstRingInstance + j), 0.0f) << "polytope " << j;
    }
    // Between the last landing and the hub's arrival the ring stands on the ground above the hub.
    for (float t = 48.0f; t < 67.2f; t += 0.8f) {
        const Choreography c = choreograph(t);
        EXPECT_LT(height(c, hubInstance), 0.0f);
        for (std::size_t j = 0; j < ringSize; ++j)
            EXPECT_EQ(height(c, firstRingInstance + j), 0.0f) << "t = " << t << ", polytope " << j;
    }
    // From 67.2 s all of them climb with the hub at 2 units/s.
    for (float t : {67.2f, 67.3f, 75.0f, 86.39f, 86.4f, 90.0f}) {
        const Choreography c = choreograph(t);
        EXPECT_NEAR(height(c, hubInstance), 2.0 * (t - 67.2), 2e-5) << "t = " << t;
        for (std::size_t j = 0; j < ringSize; ++j)
            EXPECT_EQ(height(c, firstRingInstance + j), height(c, hubInstance)) << "t = " << t << ", polytope " << j;
    }
}

TEST(choreography, RingTurnsInSevenths)
{
    for (float t : {0.0f, 30.0f, 67.0f, 67.2f})
        EXPECT_EQ(choreograph(t).instanceTransforms[1], glm::mat4(1.0f)) << "t = " << t;

    // At rest the angle is stationary in t; midway it moves at up to three times the turn rate,
    // and a t near 80 s is only known to a few µs.
    for (int k = 0; k < 8; ++k)
        for (double steps : {k + 0.0, k + 0.5}) {
            const float t = static_cast<float>(67.2 + 2.4 * steps);
            const double tolerance = steps == k ? 1e-6 : 3e-5;
            EXPECT_NEAR(ringAngle(t), steps * seventh, tolerance) << "k = " << k;
            // The ring node turns the other way: Ry(−a) takes +x to (cos a, 0, sin a).
            const glm::mat4 node = choreograph(t).instanceTransforms[1];
            EXPECT_NEAR(node[0][0], std::cos(steps * seventh), tolerance);
            EXPECT_NEAR(node[0][2], std::sin(steps * seventh), tolerance);
            EXPECT_NEAR(node[2][0], -std::sin(steps * seventh), tolerance);
            EXPECT_FLOAT_EQ(node[1][1], 1.0f); // glm forms it as cos a + (1 − cos a)
        }

    // Within a step the ring never falls behind its start, and runs past the next seventh by
    // about a tenth of a step before settling back.
    double overshoot = 0;
    for (float t = 67.2f; t < 69.6f; t += 0.001f) {
        EXPECT_GE(ringAngle(t), 0.0f);
        overshoot = std::max(overshoot, ringAngle(t) / seventh - 1);
    }
    EXPECT_GT(overshoot, 0.10);
    EXPECT_LT(overshoot, 0.115);
}

TEST(choreography, CamerasAtNamedMoments)
{
    expectColumns(choreograph(20.0f).camera, {{-0.653644f, 0, -0.756802f, 0},
                                              {0, 1, 0, 0},
                                              {0.756802f, 0, -0.653644f, 0},
                                              {0, 0, -32, 1}});
    expectColumns(choreograph(40.0f).camera, {{-0.653644f, 0.449527f, -0.608831f, 0},
                                              {0, 0.804478f, 0.593982f, 0},
                                              {0.756802f, 0.388253f, -0.525842f, 0},
                                              {0, 9.66049f, -34.6334f, 1}});

    // Shot 2's fixed rotation carries sin π = −8.742278e-08 into the translation.
    for (float t : {4.8f, 5.0f, 7.3f, 9.5f}) {
        const glm::mat4 camera = choreograph(t).camera;
        const double s = 12.0 + (t - 4.8f);
        EXPECT_NEAR(camera[0][1], -6.27e-08, 5e-11);
        EXPECT_NEAR(camera[0][2], 6.09e-08, 5e-11);
        EXPECT_NEAR(camera[3][0], -8.742278e-08 * s, 1e-6 * 8.742278e-08 * s);
        EXPECT_NEAR(camera[3][1], 0.7173561 * s - 3.4835336, 1e-6 * 0.7173561 * s);
        EXPECT_NEAR(camera[3][2], -0.6967067 * s - 3.5867805, 1e-6 * 0.6967067 * s);
    }
    // π and π/2 are the single-precision values in every shot that turns by them.
    for (float t : {5.0f, 15.0f, 80.0f})
        EXPECT_EQ(choreograph(t).camera[2][0], -8.742278e-08f) << "t = " << t;
    EXPECT_EQ(choreograph(10.0f).camera[0][0], std::cos(1.5707964f));
}

TEST(choreography, EveryShotLooksWhereItShould)
{
    for (unsigned shot = 1; shot <= 10; ++shot) {
        const double start = ShowCues::shotStarts[shot - 1];
        const double end = shot < 10 ? ShowCues::shotStarts[shot] : ShowCues::showLength;
        for (double f : {0.05, 0.5, 0.95})
            EXPECT_TRUE(seesAsShot(shot, static_cast<float>((1 - f) * start + f * end)));
    }
}

TEST(choreography, ShotsCutAtTheFirstFloatOfTheirSegment)
{
    for (unsigned shot = 2; shot <= 10; ++shot) {
        const float first = firstTimeOf(ShowCues::shotFirstSegments[shot - 1]);
        const float last = std::nextafter(first, 0.0f);
        EXPECT_EQ(choreograph(last).segment, ShowCues::shotFirstSegments[shot - 1] - 1);
        EXPECT_EQ(choreograph(first).segment, ShowCues::shotFirstSegments[shot - 1]);
        EXPECT_TRUE(seesAsShot(shot - 1, last));
        EXPECT_TRUE(seesAsShot(shot, first));
    }

    // The fade starts with the last shot: exp(−1.6 (t − 76.8)), 76.8 rounded to single precision.
    EXPECT_EQ(choreograph(std::nextafter(firstTimeOf(32), 0.0f)).exposure, 1.0f);
    EXPECT_NEAR(choreograph(firstTimeOf(32)).exposure, 1.0f, 1e-5f);
    EXPECT_NEAR(choreograph(77.0f).exposure, std::exp(-0.32), 2e-5 * std::exp(-0.32));
    EXPECT_NEAR(choreograph(80.0f).exposure, std::exp(-5.12), 2e-5 * std::exp(-5.12));

    // The show ends with segment 36: the frame before it is drawn, that one is not.
    const float end = firstTimeOf(36);
    EXPECT_GE(end, 86.4f - 1e-5f);
    EXPECT_LE(end, 86.4f);
    const Choreography lastFrame = choreograph(std::nextafter(end, 0.0f));
    EXPECT_FALSE(lastFrame.over);
    EXPECT_EQ(lastFrame.segment, lastSegment);
    EXPECT_GT(lastFrame.exposure, 1e-7f);
    EXPECT_LT(lastFrame.exposure, 3e-7f);
    for (float t : {end, 86.4f, 90.0f, 1e6f, 1e12f}) {
        const Choreography c = choreograph(t);
        EXPECT_TRUE(c.over) << "t = " << t;
        EXPECT_GE(c.segment, 36u);
        EXPECT_EQ(c.camera, glm::mat4(1.0f));
        EXPECT_EQ(c.exposure, 1.0f);
    }
}

// The dump tool prints the very floats the choreography computes, in a fixed line format.
TEST(choreographyDump, PrintsOneLinePerTime)
{
    const char* times[] = {"0", "0.5", "20", "40", "67.2", "77", "86.4", "100"};
    std::string command = CHOREOGRAPHY_DUMP;
    for (const char* t : times)
        command += std::string(" ") + t;
    int status = -1;
    const std::string output = TestSupport::commandOutput(command, &status);
    ASSERT_EQ(status, 0);

    std::istringstream lines(output);
    std::size_t lineCount = 0;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_LT(lineCount, std::size(times));
        const float t = std::strtof(times[lineCount++], nullptr);
        ASSERT_EQ(line.find("  "), std::string::npos) << line;
        ASSERT_TRUE(line.front() != ' ' && line.back() != ' ') << line;
        std::vector<std::string> fields;
        std::istringstream words(line);
        for (std::string word; words >> word;)
            fields.push_back(word);
        ASSERT_EQ(fields.size(), 4u + 16u * (1 + movedInstanceCount)) << line;

        const Choreography c = choreograph(t);
        EXPECT_EQ(std::strtof(fields[0].c_str(), nullptr), t);
        EXPECT_EQ(fields[1], std::to_string(c.segment));
        EXPECT_EQ(fields[2], c.over ? "1" : "0");
        EXPECT_EQ(std::strtof(fields[3].c_str(), nullptr), c.exposure);
        std::vector<glm::mat4> matrices{c.camera};
        matrices.insert(matrices.end(), c.instanceTransforms.begin(), c.instanceTransforms.end());
        for (std::size_t field = 4; field < fields.size(); ++field)
            EXPECT_EQ(std::strtof(fields[field].c_str(), nullptr), matrices[(field - 4) / 16][(field - 4) / 4 % 4][(field - 4) % 4])
                << "t = " << t << ", field " << field;
    }
    EXPECT_EQ(lineCount, std::size(times));
    // Spot checks of the text itself: the camera at 20 s, and the end of the show.
    EXPECT_NE(output.find("\n20 8 0 1 -0.653643608 0 -0.756802499 0 0 1 0 0 0.756802499 0 -0.653643608 0 0 0 -32 1 "),
              std::string::npos);
    EXPECT_NE(output.find("\n86.4000015 36 1 1 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 "), std::string::npos);

    EXPECT_NE(std::system((std::string(CHOREOGRAPHY_DUMP) + " soon").c_str()), 0) << "a time must be a number";
}
