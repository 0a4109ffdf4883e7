#pragma once

// The ground lattice without GL: a regular hexagon of circumradius 64 made of three rhombic
// patches of 64 x 64 cells of edge 1. Each patch keeps its own copy of the seam vertices.

#include <GL/glew.h>
#include <glm/vec2.hpp>

#include <cstddef>
#include <vector>

namespace Assets {

constexpr int groundPatches = 3;
constexpr int groundCells = 64;               // cells along each side of a patch
constexpr int groundSide = groundCells + 1;   // vertices along each side of a patch
constexpr std::size_t groundVertexCount = groundPatches * groundSide * groundSide;    // 12675
constexpr std::size_t groundElementCount = groundPatches * groundCells * groundCells * 6; // 73728

// sqrt(3)/2 in single precision, and 64 times it.
constexpr float groundRowHeight = 0.8660254f;
constexpr float groundPatchHeight = 55.425625f;

// Position of vertex (patch, row, column), each coordinate evaluated in single precision in
// exactly this order; the copies of a seam vertex in two patches agree to rounding (~1e-5).
inline glm::vec2 groundVertex(int patch, int row, int column)
{
    const float r = static_cast<float>(row), c = static_cast<float>(column);
    switch (patch) {
    case 0:
        return {(0.5f * r - 64.0f) + c, -groundRowHeight * r};
    case 1:
        return {0.5f * c + (r - 64.0f), groundRowHeight * c};
    default:
        return {(0.5f * r + 32.0f) - 0.5f * c, groundRowHeight * c + (groundRowHeight * r - groundPatchHeight)};
    }
}

// Fills the lists (cleared first) with the lattice: vertex p * 4225 + 65 r + c, and per cell
// the triangles (a, a + 1, a + 65) and (a + 1, a + 66, a + 65), clockwise in (x, y), which
// face up once the ground program places (x, y) at (2x, 0, 2y). Vertex is any record
// constructible as Vertex{glm::vec2}. Both lists are sized up front and never grow.
template <typename Vertex>
void fillGroundMesh(std::vector<Vertex>& vertices, std::vector<GLuint>& elements)
{
    vertices.clear();
    elements.clear();
    vertices.reserve(groundVertexCount);
    elements.reserve(groundElementCount);
    for (int patch = 0; patch < groundPatches; ++patch)
        for (int row = 0; row < groundSide; ++row)
            for (int column = 0; column < groundSide; ++column) {
                const GLuint a = static_cast<GLuint>(vertices.size());
                vertices.push_back(Vertex{groundVertex(patch, row, column)});
                if (row < groundCells && column < groundCells) {
                    const GLuint cell[] = {a, a + 1, a + groundSide, a + 1, a + groundSide + 1, a + groundSide};
                    elements.insert(elements.end(), cell, cell + 6);
                }
            }
}

} // namespace Assets
