#include "show/projection.h"
#include "support/gl_context.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class ProjectionTest : public KestTest::GLTest {};

// GLU's published perspective matrix, in double precision, as the independent reference.
TEST_F(ProjectionTest, MatchesThePublishedPerspectiveMatrix)
{
    const glm::mat4 projection = loadProjection();
    const double aspect = double(16.0f / 9.0f);
    const double nearPlane = double(0.1f);
    const double farPlane = 1000.0;
    const double f = 1.0 / std::tan(25.0 * M_PI / 180.0);
    const double expected[4][4] = {
        {f / aspect, 0, 0, 0},
        {0, f, 0, 0},
        {0, 0, (farPlane + nearPlane) / (nearPlane - farPlane), -1},
        {0, 0, 2 * farPlane * nearPlane / (nearPlane - farPlane), 0},
    };
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            EXPECT_NEAR(projection[column][row], expected[column][row], 1e-6 * (1 + std::fabs(expected[column][row])))
                << "column " << column << " row " << row;
    EXPECT_NEAR(projection[1][1], 2.1445069, 1e-6);

    // The browser has no GLU: its matrix comes from the formula alone and must be GLU's.
    const glm::mat4 computed = perspectiveMatrix();
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            EXPECT_NEAR(computed[column][row], projection[column][row], 1e-6)
                << "formula against GLU, column " << column << " row " << row;
}

} // namespace
