#pragma once

// The moments of the show, in seconds of show time, each on a boundary of the 2.4 s segments.
// The shaders' timed effects hold the same numbers as literals in their GLSL text; a test
// checks that the two agree.
namespace ShowCues {

constexpr float segmentLength = 2.4f;
constexpr unsigned segmentCount = 36;
constexpr double showLength = 86.4;      // 36 segments: the first time that is not shown
constexpr float groundFrontStart = 38.4f; // segment 16: the ring-shaped front runs out over the terrain
constexpr float gridStart = 48.0f;       // segment 20: the grid spreads and the pit sinks
constexpr float riseTime = 67.2f;        // segment 28: the hub reaches height 0, the ring turns, the polytopes flash
constexpr float fadeStart = 76.8f;       // segment 32: the last shot fades to black

// Shot n (1 to 10) begins at shotStarts[n - 1], in segment shotFirstSegments[n - 1].
constexpr unsigned shotCount = 10;
constexpr unsigned shotFirstSegments[shotCount] = {0, 2, 4, 6, 8, 16, 20, 24, 26, 32};
constexpr float shotStarts[shotCount] = {0.0f, 4.8f, 9.6f, 14.4f, 19.2f, 38.4f, 48.0f, 57.6f, 62.4f, 76.8f};

// The middle of shot n (1 to 10), where it is most itself: what tests and contact sheets look at.
constexpr double shotMiddle(unsigned shot)
{
    return (static_cast<double>(shotStarts[shot - 1]) + (shot < shotCount ? shotStarts[shot] : showLength)) / 2.0;
}

} // namespace ShowCues
