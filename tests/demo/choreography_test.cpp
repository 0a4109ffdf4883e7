// The choreography against the show's published numbers and, for the cameras, against the eye
// positions and viewing directions each shot is meant to have, worked out independently in double.

#include "choreography.h"

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

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#endif

namespace {

constexpr double twoPi = 6.283185307179586;
constexpr double seventh = twoPi / 7.0;

float heightOf(const glm::mat4& transform) { return transform[3][1]; }
float hubHeight(const Choreography& c) { return heightOf(c.instanceTransforms[0]); }
float polytopeHeight(const Choreography& c, std::size_t j) { return heightOf(c.instanceTransforms[2 + j]); }

// Columns as the show's tables list them: relative agreement of 1e-5 of the largest entry, plus
// half a unit in the sixth significant digit the tables round to.
void expectColumns(const glm::mat4& m, const std::vector<glm::vec4>& columns, float tolerance = 1.5e-6f)
{
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            const float expected = columns[c][r];
            EXPECT_NEAR(m[c][r], expected, tolerance + 5e-6f * std::fabs(expected)) << "column " << c << " row " << r;
        }
}

// Ry(a) as the show defines it: (1, 0, 0) goes to (cos a, 0, −sin a).
glm::dmat4 rotationY(double a)
{
    glm::dmat4 m(1.0);
    m[0] = glm::dvec4(std::cos(a), 0, -std::sin(a), 0);
    m[2] = glm::dvec4(std::sin(a), 0, std::cos(a), 0);
    return m;
}

void expectNear(const glm::mat4& actual, const glm::dmat4& expected, double tolerance)
{
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            EXPECT_NEAR(actual[c][r], expected[c][r], tolerance) << "column " << c << " row " << r;
}

// Where each shot's eye is and where it looks, from the description of the shots.
struct View {
    glm::dvec3 eye;
    glm::dvec3 direction;
};

// Looking along −z after turning by φ about y and tilting down by `tilt`.
glm::dvec3 orbitDirection(double phi, double tilt)
{
    return {-std::cos(tilt) * std::sin(phi), -std::sin(tilt), -std::cos(tilt) * std::cos(phi)};
}

View expectedView(unsigned shot, double t)
{
    switch (shot) {
    case 1:
        return {{-t, 0, 0}, {0, 0, -1}};
    case 2:
        return {{0, 5, -12 - (t - 4.8)}, {0, -std::sin(0.8), std::cos(0.8)}};
    case 3: {
        const double tilt = 0.8 - 0.09 * (t - 7.2);
        return {{-20, 0, 20}, {std::cos(tilt), -std::sin(tilt), 0}};
    }
    case 4:
        return {{0, -5, 12}, {0, std::sin(0.55), std::cos(0.55)}};
    case 5:
        return {{32 * std::sin(0.2 * t), 0, 32 * std::cos(0.2 * t)}, orbitDirection(0.2 * t, 0)};
    case 6: {
        const double radius = 32 + (t - 38.4), phi = 0.1 * t;
        return {{radius * std::sin(phi), 8 + 3 * (t - 38.4), radius * std::cos(phi)},
                orbitDirection(phi, 0.7 - 0.04 * (t - 38.4))};
    }
    case 7:
        return {{32 * std::sin(0.2 * t), 2, 32 * std::cos(0.2 * t)}, orbitDirection(0.2 * t, 0.5 - 0.03 * (t - 48))};
    case 8:
        return {{0, -8, 16}, {0, std::sin(0.7), -std::cos(0.7)}};
    case 9: {
        const double radius = 32 + (t - 62.4);
        return {{radius * std::sin(0.2 * t), -7 + 2 * (t - 62.4), radius * std::cos(0.2 * t)},
                orbitDirection(0.2 * t, 0)};
    }
    default: {
        const double tilt = 0.5 + 0.03 * (t - 76.8);
        return {{0, -3, -44}, {0, std::sin(tilt), std::cos(tilt)}};
    }
    }
}

View viewOf(const glm::mat4& camera)
{
    const glm::dmat4 eyeToWorld = glm::inverse(glm::dmat4(camera));
    return {glm::dvec3(eyeToWorld * glm::dvec4(0, 0, 0, 1)), glm::dvec3(eyeToWorld * glm::dvec4(0, 0, -1, 0))};
}

// Float rounding of the camera's inputs is of order 1e-6 relative; eyes stand up to ~60 away.
::testing::AssertionResult seesAsShot(unsigned shot, float t)
{
    const Choreography c = choreograph(t);
    const View actual = viewOf(c.camera);
    const View expected = expectedView(shot, t);
    const double eyeError = glm::length(actual.eye - expected.eye);
    const double directionError = glm::length(actual.direction - expected.direction);
    if (c.shot == shot && eyeError < 1e-4 && directionError < 2e-6)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "t = " << t << ": shot " << c.shot << " (expected " << shot << "), eye off by " << eyeError
           << ", direction off by " << directionError;
}

// The first single-precision t whose segment is `segment`.
float firstTimeOf(unsigned segment)
{
    float t = static_cast<float>(segment * 2.4);
    while (segmentAt(t) >= segment)
        t = std::nextafter(t, 0.0f);
    while (segmentAt(t) < segment)
        t = std::nextafter(t, std::numeric_limits<float>::infinity());
    return t;
}

} // namespace

TEST(choreography, StartOfShow)
{
    const Choreography start = choreograph(0.0f);
    EXPECT_EQ(start.segment, 0u);
    EXPECT_FALSE(start.over);
    EXPECT_EQ(start.shot, 1u);
    EXPECT_EQ(start.exposure, 1.0f);
    EXPECT_EQ(start.camera, glm::mat4(1.0f));
    EXPECT_EQ(start.instanceTransforms[1], glm::mat4(1.0f)) << "ring node";
    EXPECT_EQ(start.instanceTransforms[0], glm::mat4(1.0f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -134.4f, 0, 1));
    EXPECT_NEAR(polytopeHeight(start, 0), -73.728f, 2e-5f);
    EXPECT_NEAR(polytopeHeight(start, 1), -115.2f, 2e-5f);
    for (std::size_t j = 2; j < ringSize; ++j)
        EXPECT_EQ(polytopeHeight(start, j), -134.4f) << "polytope " << j << " is held at the hub";

    const Choreography half = choreograph(0.5f);
    EXPECT_EQ(half.exposure, 1.0f);
    EXPECT_EQ(half.instanceTransforms[1], glm::mat4(1.0f));
    EXPECT_NEAR(hubHeight(half), -133.4f, 2e-5f);
    EXPECT_NEAR(polytopeHeight(half, 0), -69.938f, 2e-5f);
    EXPECT_NEAR(polytopeHeight(half, 1), -110.45f, 2e-5f);
    for (std::size_t j = 2; j < ringSize; ++j)
        EXPECT_EQ(polytopeHeight(half, j), hubHeight(half)) << "polytope " << j;
    expectColumns(half.instanceTransforms[2], {{0.968912f, 0, -0.247404f, 0},
                                               {0.0963436f, 0.921061f, 0.377312f, 0},
                                               {0.227874f, -0.389418f, 0.892427f, 0},
                                               {0, -69.938f, 20, 1}});
}

TEST(choreography, RingStandsOnItsCircleAndTumblesAlike)
{
    for (float t : {0.0f, 0.5f, 30.0f, 70.0f}) {
        const Choreography c = choreograph(t);
        for (std::size_t j = 0; j < ringSize; ++j) {
            const glm::mat4& own = c.instanceTransforms[2 + j];
            const glm::mat4 placement = ringPlacement(j);
            // The start-up placement and the per-frame position must agree to the bit.
            EXPECT_EQ(own[3][0], placement[3][0]) << "polytope " << j;
            EXPECT_EQ(own[3][2], placement[3][2]) << "polytope " << j;
            // θj is formed in single precision, up to ~4e-7 rad off j·2π/7.
            EXPECT_NEAR(placement[3][0], 20 * std::sin(j * seventh), 1e-5);
            EXPECT_NEAR(placement[3][2], 20 * std::cos(j * seventh), 1e-5);
            EXPECT_EQ(placement[3][1], 0.0f);
            for (int column = 0; column < 3; ++column)
                EXPECT_EQ(own[column], c.instanceTransforms[2][column]) << "polytope " << j;
        }
    }
    EXPECT_EQ(ringPlacement(0), glm::mat4(1.0f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 20, 1));
}

TEST(choreography, PolytopesLandInTurnAndLeaveWithTheHub)
{
    for (std::size_t j = 0; j < ringSize; ++j) {
        const float landing = static_cast<float>(4.8 * (j + 4));
        const float before = polytopeHeight(choreograph(landing - 1.0f), j);
        EXPECT_NEAR(before, -0.2f, 1e-5f) << "polytope " << j << " a second before landing";
        const float atLanding = polytopeHeight(choreograph(landing), j);
        EXPECT_LE(atLanding, 0.0f);
        EXPECT_GT(atLanding, -1e-9f) << "polytope " << j << " lands at " << landing;
        EXPECT_EQ(polytopeHeight(choreograph(landing + 0.01f), j), 0.0f) << "polytope " << j;
    }
    // Between the last landing and the hub's arrival the ring stands on the ground above the hub.
    for (float t = 48.0f; t < 67.2f; t += 0.8f) {
        const Choreography c = choreograph(t);
        EXPECT_LT(hubHeight(c), 0.0f);
        for (std::size_t j = 0; j < ringSize; ++j)
            EXPECT_EQ(polytopeHeight(c, j), 0.0f) << "t = " << t << ", polytope " << j;
    }
    // From 67.2 s all of them climb with the hub at 2 units/s.
    for (float t : {67.2f, 67.3f, 75.0f, 86.39f, 86.4f, 90.0f}) {
        const Choreography c = choreograph(t);
        EXPECT_NEAR(hubHeight(c), 2.0 * (t - 67.2), 2e-5) << "t = " << t;
        for (std::size_t j = 0; j < ringSize; ++j)
            EXPECT_EQ(polytopeHeight(c, j), hubHeight(c)) << "t = " << t << ", polytope " << j;
    }
}

TEST(choreography, RingTurnsInSevenths)
{
    for (float t : {0.0f, 30.0f, 67.0f, 67.2f})
        EXPECT_EQ(choreograph(t).instanceTransforms[1], glm::mat4(1.0f)) << "t = " << t;

    for (int k = 0; k < 8; ++k) {
        const float rest = static_cast<float>(67.2 + 2.4 * k);
        const float midway = static_cast<float>(67.2 + 2.4 * k + 1.2);
        // At rest the angle is stationary in t; midway it moves at up to three times the turn rate,
        // and a t near 80 s is only known to a few µs.
        EXPECT_NEAR(ringAngle(rest), k * seventh, 1e-6) << "k = " << k;
        EXPECT_NEAR(ringAngle(midway), (k + 0.5) * seventh, 3e-5) << "k = " << k;
        expectNear(choreograph(rest).instanceTransforms[1], rotationY(-k * seventh), 1e-6);
        expectNear(choreograph(midway).instanceTransforms[1], rotationY(-(k + 0.5) * seventh), 3e-5);
    }

    // Within a step the ring never falls back behind its start, runs past the next seventh by
    // about a tenth of a step and settles back.
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
        EXPECT_NEAR(camera[2][0], -8.742278e-08, 1e-14);
        EXPECT_NEAR(camera[3][0], -8.742278e-08 * s, 1e-6 * 8.742278e-08 * s);
        EXPECT_NEAR(camera[3][1], 0.7173561 * s - 3.4835336, 1e-6 * 0.7173561 * s);
        EXPECT_NEAR(camera[3][2], -0.6967067 * s - 3.5867805, 1e-6 * 0.6967067 * s);
    }
}

TEST(choreography, EveryShotLooksWhereItShould)
{
    const float shotStarts[] = {0.0f, 4.8f, 9.6f, 14.4f, 19.2f, 38.4f, 48.0f, 57.6f, 62.4f, 76.8f, 86.4f};
    for (unsigned shot = 1; shot <= 10; ++shot)
        for (double fraction : {0.05, 0.5, 0.95}) {
            const float t = static_cast<float>(shotStarts[shot - 1] + fraction * (shotStarts[shot] - shotStarts[shot - 1]));
            EXPECT_TRUE(seesAsShot(shot, t));
        }
}

TEST(choreography, ShotsCutAtTheFirstFloatOfTheirSegment)
{
    const struct {
        unsigned segment, shotBefore, shotAfter;
    } cuts[] = {{2, 1, 2}, {4, 2, 3}, {6, 3, 4}, {8, 4, 5}, {16, 5, 6}, {20, 6, 7}, {24, 7, 8}, {26, 8, 9}, {32, 9, 10}};
    for (const auto& cut : cuts) {
        const float first = firstTimeOf(cut.segment);
        const float last = std::nextafter(first, 0.0f);
        EXPECT_EQ(choreograph(last).segment, cut.segment - 1);
        EXPECT_EQ(choreograph(first).segment, cut.segment);
        EXPECT_TRUE(seesAsShot(cut.shotBefore, last));
        EXPECT_TRUE(seesAsShot(cut.shotAfter, first));
    }
    // The fade starts with the last shot.
    EXPECT_EQ(choreograph(std::nextafter(firstTimeOf(32), 0.0f)).exposure, 1.0f);
    EXPECT_NEAR(choreograph(firstTimeOf(32)).exposure, 1.0f, 1e-5f);

    // The show ends with segment 36: the frame before is drawn, that one is not.
    const float end = firstTimeOf(36);
    const Choreography lastFrame = choreograph(std::nextafter(end, 0.0f));
    EXPECT_FALSE(lastFrame.over);
    EXPECT_EQ(lastFrame.segment, 35u);
    EXPECT_TRUE(seesAsShot(10, std::nextafter(end, 0.0f)));
    EXPECT_GT(lastFrame.exposure, 1e-7f);
    EXPECT_LT(lastFrame.exposure, 3e-7f);
    for (float t : {end, 86.4f, 90.0f, 1e6f}) {
        const Choreography c = choreograph(t);
        EXPECT_TRUE(c.over) << "t = " << t;
        EXPECT_GE(c.segment, 36u);
        EXPECT_EQ(c.camera, glm::mat4(1.0f));
        EXPECT_EQ(c.exposure, 1.0f);
    }
    EXPECT_GE(end, 86.4f - 1e-5f);
    EXPECT_LE(end, 86.4f);
}

TEST(choreography, ExposureFadesInTheLastShot)
{
    // 76.8 rounded to single precision shifts the exponent by about 5e-6.
    EXPECT_NEAR(choreograph(77.0f).exposure, std::exp(-0.32), 2e-5 * std::exp(-0.32));
    EXPECT_NEAR(choreograph(80.0f).exposure, std::exp(-5.12), 2e-5 * std::exp(-5.12));
    for (float t : {0.0f, 40.0f, 76.7f})
        EXPECT_EQ(choreograph(t).exposure, 1.0f);
}

// The dump tool prints the very floats the choreography computes, in a fixed line format.
TEST(choreographyDump, PrintsOneLinePerTime)
{
    const char* times[] = {"0", "0.5", "20", "40", "67.2", "77", "86.4", "100"};
    std::string command = CHOREOGRAPHY_DUMP;
    for (const char* t : times)
        command += std::string(" ") + t;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0);

    std::istringstream lines(output);
    std::string line;
    std::size_t lineCount = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(lineCount, std::size(times));
        const float t = std::strtof(times[lineCount++], nullptr);
        ASSERT_EQ(line.find("  "), std::string::npos) << line;
        ASSERT_NE(line.front(), ' ');
        ASSERT_NE(line.back(), ' ');

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
        std::vector<const glm::mat4*> matrices{&c.camera};
        for (const glm::mat4& m : c.instanceTransforms)
            matrices.push_back(&m);
        std::size_t field = 4;
        for (const glm::mat4* m : matrices)
            for (int column = 0; column < 4; ++column)
                for (int row = 0; row < 4; ++row, ++field)
                    EXPECT_EQ(std::strtof(fields[field].c_str(), nullptr), (*m)[column][row])
                        << "t = " << t << ", field " << field;

        if (t == 20.0f) {
            EXPECT_EQ(fields[4], "-0.653643608");
        }
        if (t == 86.4f) {
            EXPECT_EQ(fields[1], "36");
            EXPECT_EQ(fields[3], "1");
            for (int i = 0; i < 16; ++i)
                EXPECT_EQ(fields[4 + i], i % 5 == 0 ? "1" : "0") << "identity camera once over";
        }
    }
    EXPECT_EQ(lineCount, std::size(times));

    EXPECT_NE(std::system((std::string(CHOREOGRAPHY_DUMP) + " soon").c_str()), 0)
        << "a time that is not a number is refused";
}
