// The show's cues, once: each falls on a segment boundary, and the GLSL literals that time the
// shaders' effects say the same numbers as the header the C++ code uses.
#include "show/show_cues.h"
#include "shaders/shaders.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ShowCues, EveryCueStartsASegment)
{
    for (unsigned n = 0; n < ShowCues::shotCount; ++n)
        EXPECT_EQ(ShowCues::shotStarts[n], static_cast<float>(ShowCues::shotFirstSegments[n] * 2.4)) << "shot " << n + 1;
    EXPECT_EQ(ShowCues::groundFrontStart, static_cast<float>(16 * 2.4));
    EXPECT_EQ(ShowCues::gridStart, static_cast<float>(20 * 2.4));
    EXPECT_EQ(ShowCues::riseTime, static_cast<float>(28 * 2.4));
    EXPECT_EQ(ShowCues::fadeStart, static_cast<float>(32 * 2.4));
    EXPECT_DOUBLE_EQ(ShowCues::showLength, ShowCues::segmentCount * 2.4);
}

// The number written after "time - " at each place the GLSL text names it.
std::vector<float> timesAfter(const std::string& text, const std::string& marker)
{
    std::vector<float> times;
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1))
        times.push_back(std::stof(text.substr(at + marker.size())));
    return times;
}

TEST(ShowCues, TheShadersTimeTheirEffectsByTheSameCues)
{
    std::vector<float> times;
    for (const Kest::ShaderSource& source : Kest::shaderSources())
        for (float time : timesAfter(source.text, "time - "))
            times.push_back(time);
    // The polytopes' flash, the terrain's front (vertex and geometry stages), the grid, and the
    // front again in the vertex stage that does both without a geometry stage.
    const std::vector<float> expected = {ShowCues::riseTime,         ShowCues::groundFrontStart,
                                         ShowCues::groundFrontStart, ShowCues::gridStart,
                                         ShowCues::groundFrontStart, ShowCues::groundFrontStart};
    EXPECT_EQ(times, expected);
}

} // namespace
