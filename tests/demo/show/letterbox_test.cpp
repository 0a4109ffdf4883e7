#include "show/letterbox.h"

#include <gtest/gtest.h>

namespace {

TEST(LetterboxTest, CentresTheLargest16By9Rectangle)
{
    struct Case {
        std::uint32_t windowWidth, windowHeight;
        Letterbox expected;
    };
    const Case cases[] = {
        {1920, 1080, {0, 0, 1920, 1080}},
        {1280, 1024, {0, 152, 1280, 720}},
        {2560, 1080, {320, 0, 1920, 1080}},
        {1366, 768, {0, 0, 1366, 768}},  // ⌊9·1366/16⌋ = 768 exactly fits
        {1024, 768, {0, 96, 1024, 576}},
        {1280, 720, {0, 0, 1280, 720}},
        {721, 1000, {0, 297, 721, 405}}, // the odd pixel of the margin goes to the top
        {1001, 401, {144, 0, 712, 401}}, // ... or to the right
        {0, 0, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const Letterbox box = computeLetterbox(c.windowWidth, c.windowHeight);
        SCOPED_TRACE(std::to_string(c.windowWidth) + "x" + std::to_string(c.windowHeight));
        EXPECT_EQ(box.x, c.expected.x);
        EXPECT_EQ(box.y, c.expected.y);
        EXPECT_EQ(box.width, c.expected.width);
        EXPECT_EQ(box.height, c.expected.height);
        EXPECT_LE(box.x + box.width, c.windowWidth);
        EXPECT_LE(box.y + box.height, c.windowHeight);
    }
}

} // namespace
