#pragma once

#include "arrangement.h"

#include <cstdint>
#include <string>
#include <vector>

namespace stellation {

// An orthogonal map that permutes the planes of the arrangement.
struct Symmetry {
    Mat3 matrix;
    std::vector<int> planeImage;   // plane i -> plane planeImage[i]
    std::vector<int> vertexImage;  // vertex v -> vertex vertexImage[v]
    std::vector<int> cellImage;    // cell c -> cell cellImage[c]
    bool proper = true;            // a rotation (determinant +1)
};

// All orthogonal maps (rotations first, identity at 0) that permute the planes.
std::vector<Symmetry> planeSymmetries(const Arrangement& arr);

std::uint32_t mapPlaneSet(const Symmetry& s, std::uint32_t planes);

// A subgroup of the rotations, as indices into the list of symmetries.
struct Subgroup {
    std::vector<int> elements;
    int order() const { return static_cast<int>(elements.size()); }
};

// Every subgroup of the rotations in `symmetries`, each given once, by ascending order.
std::vector<Subgroup> rotationSubgroups(const std::vector<Symmetry>& symmetries);

// Orbits of the cells under a subgroup; every orbit sorted, orbits ordered by smallest cell.
std::vector<std::vector<int>> cellOrbits(const std::vector<Symmetry>& symmetries, const Subgroup& g,
                                         int cellCount);

// A short name of a subgroup of the icosahedral rotations by its order and structure.
std::string subgroupName(const std::vector<Symmetry>& symmetries, const Subgroup& g);

} // namespace stellation
