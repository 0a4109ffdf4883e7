#pragma once

#include "geometry.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace stellation {

// One 2-dimensional face of a cell: a convex polygon in one of the planes, its corners
// (vertex ids) counter-clockwise as seen from outside the cell.
struct Facet {
    int plane = 0;
    std::vector<int> corners;
};

// A bounded cell of the arrangement, named by the set of planes it lies beyond
// (bit i set: the cell lies on the far side of plane i, away from the centre).
struct Cell {
    std::uint32_t beyond = 0;
    std::vector<int> vertices;
    std::vector<Facet> facets;
    Vec3 centroid;
    real volume = 0;
};

// The planes n_i . x = distance and the bounded cells into which they cut space.
struct Arrangement {
    std::vector<Vec3> normals;
    real distance = 0;
    std::vector<Vec3> vertices;  // every point where three or more planes meet
    std::vector<std::uint32_t> through;  // per vertex, the planes through it
    std::vector<Cell> cells;             // the bounded cells, in breadth-first order from the core
    std::unordered_map<std::uint32_t, int> cellOf;  // beyond-set -> index in cells
    int unboundedCells = 0;

    int findVertex(Vec3 p) const;  // -1 if p is no vertex
};

Arrangement buildArrangement(const std::vector<Vec3>& normals, real distance);

// The 20 unit face normals of an icosahedron with a five-fold axis along z: its upper ring of
// vertices at the azimuths 72 k degrees, its lower ring at 36 + 72 k (x = cos, y = sin).
std::vector<Vec3> icosahedronFaceNormals();

} // namespace stellation
