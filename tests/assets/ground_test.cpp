// The ground lattice as the builder produces it, without GL.

#include "assets/ground_mesh.h"

#include <gtest/gtest.h>

#include <glm/geometric.hpp>
#include <glm/vec3.hpp>

#include <cmath>
#include <map>
#include <set>

namespace {

// Integer lattice coordinates of a position: half-units across, rows up.
std::pair<int, int> latticePoint(glm::vec2 p)
{
    return {static_cast<int>(std::lround(2 * p.x)), static_cast<int>(std::lround(p.y / 0.8660254f))};
}

struct GroundVertex {
    glm::vec2 position;
};

class GroundMesh : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Assets::fillGroundMesh(vertices, elements); }
    static std::vector<GroundVertex> vertices;
    static std::vector<GLuint> elements;
};
std::vector<GroundVertex> GroundMesh::vertices;
std::vector<GLuint> GroundMesh::elements;

TEST_F(GroundMesh, CountsAndSizesAreExact)
{
    EXPECT_EQ(vertices.size(), 12675u);
    EXPECT_EQ(elements.size(), 73728u);
    EXPECT_EQ(vertices.size() * 8, 101400u);
    EXPECT_EQ(elements.size() * 4, 294912u);
    // Filled in place: the reserved room was exactly enough.
    EXPECT_EQ(vertices.capacity(), vertices.size());
    EXPECT_EQ(elements.capacity(), elements.size());
}

TEST_F(GroundMesh, CornersCentreAndSeams)
{
    auto at = [](GLuint i) { return vertices[i].position; };
    EXPECT_EQ(at(0), glm::vec2(-64, 0));
    EXPECT_EQ(at(4224), glm::vec2(32, -55.425625f));
    EXPECT_EQ(at(4225), glm::vec2(-64, 0));
    EXPECT_EQ(at(8450), glm::vec2(32, -55.425625f));
    EXPECT_EQ(at(12674), glm::vec2(32, 55.425625f));
    for (GLuint centre : {64u, 8385u, 8514u})
        EXPECT_EQ(at(centre), glm::vec2(0, 0)) << centre;

    // The seams are duplicated, not shared: 12481 distinct lattice points. The copies agree
    // only to rounding, since each patch reaches them by its own single-precision sums.
    std::set<std::pair<int, int>> distinct;
    float largestY = 0, farthest = 0;
    for (const auto& v : vertices) {
        distinct.insert(latticePoint(v.position));
        largestY = std::max(largestY, std::fabs(v.position.y));
        farthest = std::max(farthest, glm::length(v.position));
    }
    EXPECT_EQ(distinct.size(), 12481u);
    EXPECT_EQ(largestY, 55.425625f);
    EXPECT_LE(farthest, 64.0f + 1e-4f);

    // Seam from (-64, 0) to the centre: patch 0 row 0 is patch 1 column 0.
    for (int i = 0; i <= 64; ++i)
        EXPECT_EQ(at(i), at(4225 + 65 * i)) << i;
    // The other two seams, centre to (32, -55.4) and centre to (32, 55.4), to rounding.
    for (int i = 0; i <= 64; ++i) {
        EXPECT_NEAR(glm::distance(at(64 + 65 * i), at(8450 + 64 - i)), 0, 1e-4) << i;
        EXPECT_NEAR(glm::distance(at(4225 + 65 * 64 + i), at(8450 + 65 * i + 64)), 0, 1e-4) << i;
    }
}

TEST_F(GroundMesh, ElementsAndWinding)
{
    const GLuint first[] = {0, 1, 65, 1, 66, 65};
    const GLuint last[] = {12608, 12609, 12673, 12609, 12674, 12673};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(elements[i], first[i]);
        EXPECT_EQ(elements[elements.size() - 6 + i], last[i]);
    }

    // The last row and column emit vertices but no triangles.
    std::vector<bool> used(vertices.size(), false);
    for (GLuint e : elements)
        used[e] = true;
    for (int p = 0; p < 3; ++p)
        for (int rc = 0; rc <= 64; ++rc) {
            EXPECT_TRUE(used[p * 4225 + 65 * 64 + rc]) << "last row is reached by the row above";
            EXPECT_TRUE(used[p * 4225 + 65 * rc + 64]);
        }

    // Every triangle, placed at (2x, 0, 2y), is counter-clockwise seen from +y, with the
    // area of an equilateral triangle of edge 2.
    const float area = std::sqrt(3.0f);
    for (size_t t = 0; t < elements.size(); t += 3) {
        auto placed = [&](size_t i) {
            const glm::vec2 p = vertices[elements[t + i]].position;
            return glm::vec3(2 * p.x, 0, 2 * p.y);
        };
        const glm::vec3 normal = glm::cross(placed(1) - placed(0), placed(2) - placed(0));
        ASSERT_GT(normal.y, 0) << "triangle " << t / 3;
        ASSERT_NEAR(normal.y / 2, area, 1e-3) << "triangle " << t / 3;
    }
}

TEST_F(GroundMesh, CoversTheHexagonOnce)
{
    // The three rhombi tile the hexagon of circumradius 64: their areas add up to it and
    // every edge inside is shared by two triangles of opposite direction (by lattice point,
    // since the seam vertices are copies).
    double total = 0;
    std::map<std::pair<std::pair<int, int>, std::pair<int, int>>, int> edges;
    for (size_t t = 0; t < elements.size(); t += 3) {
        const glm::vec2 a = vertices[elements[t]].position, b = vertices[elements[t + 1]].position,
                        c = vertices[elements[t + 2]].position;
        total += -0.5 * ((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y));  // clockwise in (x, y)
        const glm::vec2 corners[] = {a, b, c};
        for (int i = 0; i < 3; ++i) {
            ++edges[{latticePoint(corners[i]), latticePoint(corners[(i + 1) % 3])}];
        }
    }
    EXPECT_NEAR(total, 1.5 * std::sqrt(3.0) * 64 * 64, 0.5);
    int boundary = 0;
    for (const auto& [edge, count] : edges) {
        ASSERT_EQ(count, 1);
        if (edges.count({edge.second, edge.first}) == 0)
            ++boundary;
    }
    EXPECT_EQ(boundary, 6 * 64);
}

} // namespace
